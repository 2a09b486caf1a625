// Leftovers of killed runs. A run that TerminateProcess or a power loss ends removes nothing,
// and a temporary-files folder that such runs fill stays full. So a parent run whose template
// is the default one removes, at start-up and with the same removal as its own clean-up,
// folders beside its own target directory that
// - are named exactly as the default template names a target directory
//   (onefile_PID_TIMEUS_RANDOM),
// - carry the owner-only security that this user's runs give their folders, and
// - belong to no run that still lives: a run holds its folder open without sharing write
//   access, the parent from its creation to its clean-up and the child, and whatever the
//   application starts with inheritance, for as long as they live, so a folder of a live run
//   cannot be opened with that access.
// Never anything else. At most reclaim_budget_ms of removal per start; what is left then goes
// at a later start.
#pragma once

#include <windows.h>

constexpr ULONGLONG reclaim_budget_ms = 200;

// Parent run, after its own target directory has been created.
void reclaim_leftovers(const wchar_t* path_template);

// True for a folder name that the default template gives.
bool is_default_target_name(const wchar_t* name, size_t length);
