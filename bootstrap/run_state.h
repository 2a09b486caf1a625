// The run state: what the main thread knows about this run, read by the unpacker, the child
// start and the console control handler (which runs on a thread of the system's making).
#pragma once

#include <windows.h>

#include <atomic>

#include "files/target_directory_capacity.h"

constexpr size_t first_entry_path_capacity = 4095;

// The expanded template, made absolute, without a trailing backslash. Final before the
// console handler is registered.
extern wchar_t target_directory[target_directory_capacity + 1];

// The full path of the payload's first entry (the application DLL); empty until the first
// name has been read, then constant.
extern wchar_t first_entry_path[first_entry_path_capacity + 1];

// child_process: the running child's process handle (parent run), null when there is none,
// kept behind these operations. The main thread sets it, waits on it and closes it; the
// console handler works on its own duplicate, taken under a lock, so neither thread ever uses
// a handle the other has closed and no handle is closed while another thread waits on it.
void store_child_process(HANDLE process);  // main thread, after the child has started
HANDLE stored_child_process();            // main thread: the handle, still stored, or null
HANDLE release_child_process();           // main thread: clears it; the caller closes it
HANDLE duplicate_child_process();         // any thread: its own handle to close, or null

// The main thread's steps that change the disk or start the child run (creating the target
// directory, creating an entry's folders and file, writing a piece of it, starting the child)
// each run between begin_run_step and end_run_step. The console handler calls stop_run_steps
// before it cleans up: it waits for the step under way and never lets another begin, so that
// from then on nothing is written and no child is started (the main thread waits at its next
// step until the process ends). Returns whether a child had been started before the handler
// began.
void begin_run_step();
void end_run_step();
bool stop_run_steps();

// The exit code of a run that a console event ends: the child's, once the main thread or the
// console handler has seen the child end (both see the same child, so they agree), and
// STATUS_CONTROL_C_EXIT before that or when there is no child.
void record_child_exit_code(DWORD code);
DWORD interrupted_run_exit_code();
