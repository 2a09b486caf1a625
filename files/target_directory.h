// The target directory and the folders made for it, from creation to removal. A parent run
// creates the target directory, and each missing folder above it, through the handle of the
// folder above (a name swapped on the way is never followed), with owner-only security, and
// holds each open until its clean-up (native_files.h: holding_access). The target's handle,
// inherited by the child run and by whatever the application starts with inheritance, is what
// tells a starting run that the folder is in use (leftover_reclaim.h); and the clean-up removes
// exactly what the run created, through the same handles, whatever their names are by then.
#pragma once

#include <windows.h>

// Parent run, before anything is unpacked, as a step of the run (run_state.h). A target
// directory that is there already is unpacked into as it is and never removed. Whatever
// happens, the unpacker never creates the target directory itself: one that could not be
// created makes its first file fail with the open message.
void create_target_directory();

// Removes the target directory with everything in it, when this run created it: one attempt
// and up to 20 more, 100 ms apart, while something resists (links that cannot be removed
// without following them end the attempts at once); then each folder made for it, deepest
// first, each only when it is empty. Reports nothing. Does its work once: later calls, from
// either thread, find nothing to do.
void remove_target_directory();

// The target directory's own name: the last part of target_directory.
const wchar_t* target_name();

// The folder that holds the target directory, opened by its path (the user's own, which may be
// reached through links) for listing and for opening what is in it; null when it cannot be.
HANDLE open_target_parent();
