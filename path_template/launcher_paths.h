// The launcher's own file name in the forms it compares, stores and passes on, and the path
// operations around it. Every operation keeps to the capacity rule of bounded_text.h: a
// capacity counts characters without the NUL, and breaking it ends the run.
#pragma once

#include <stddef.h>
#include <wchar.h>

// Capacity of the launcher file-name caches and of launcher_directory.
constexpr size_t launcher_name_capacity = 4097;

// With resolve: the file system's own spelling of an existing file (through junctions and
// differing case), without the "\\?\" or "\\?\UNC\" long-path prefix. A path that cannot be
// opened (missing, a directory, no access) comes back unchanged. Without resolve: a bounded
// copy. Output and input may be the same buffer.
void resolve_final_path(wchar_t* output, const wchar_t* input, size_t capacity, bool resolve);

// Replaces the directory part by its short (8.3) form and keeps the last component's long
// name. A directory that has no short form (it does not exist, say) stays as it is.
void shorten_directory_part(wchar_t* path, size_t capacity);

// Resolves the path in place and shortens its directory part: the one form in which two
// names of the same executable file compare equal.
void comparable_file_name(wchar_t* path, size_t capacity);

// The launcher's module file name, filled on first use and kept: in its comparable form, or
// exactly as GetModuleFileNameW reports it. A name longer than the capacity ends the run.
const wchar_t* get_launcher_file_name(bool resolved);

// own_executable_path: the launcher's file name for starting the child, the same text as the
// unresolved name.
const wchar_t* get_own_executable_path();

// The path up to its last backslash (the whole path when it has none), in launcher_directory.
const wchar_t* get_directory_of(const wchar_t* path);

// Makes path absolute in place; capacity at most 4,096. A failure or a result of capacity
// characters or more ends the run.
void make_absolute_path(wchar_t* path, size_t capacity);
