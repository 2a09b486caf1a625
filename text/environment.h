// The launcher's environment variables, under narrow ASCII names (at most 39 characters).
// These are the only operations that touch them. An empty variable counts as unset. Changes
// reach every process that the launcher starts afterwards.
#pragma once

#include <stdint.h>
#include <wchar.h>

// A heap copy of the value that belongs to the caller, or null when the variable is missing,
// empty, or longer than the 32,767 characters Windows allows.
wchar_t* get_env_copy(const char* name);

// The value of one of the launcher's own variables when it has the form the launcher itself
// gives it (has_form says), or null: a value of any other form counts as unset, so that
// nothing put into the environment from outside reaches a path.
wchar_t* get_env_copy_of_form(const char* name, bool (*has_form)(const wchar_t* value));

// The results report success only; the launcher's callers do not act on them.
bool set_env(const char* name, const wchar_t* value);
bool unset_env(const char* name);
// Stores the number in decimal ("%ld"), read as a signed 32-bit value.
bool set_env_number(const char* name, int32_t number);
