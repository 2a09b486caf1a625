// The end of a parent run: the child goes first, then the target directory. The console
// control handler runs the same clean-up when Ctrl-C, Ctrl-Break, closing the console,
// log-off or shut-down asks the process to stop, after stopping the main thread's work.
#pragma once

#include <windows.h>

// Gives a running child 5,000 ms to end, then terminates it with STATUS_CONTROL_C_EXIT (the
// status Windows gives a console program ended by Ctrl-C, so an interrupted run never ends
// with 0). Then removes the target directory and the folders made for it, when this run
// created them (target_directory.h). Reports nothing. Safe to run more than once and from two
// threads.
void cleanup_child_and_directory();

// For events 0, 1, 2, 5 and 6: stops the main thread's steps (run_state.h), so that nothing
// more is written and no child started, closes the file being unpacked and runs the clean-up;
// a child started while the handler waited for the step gets no grace period. Returns FALSE
// for every event, so that the next handler runs as well: end_interrupted_run, then the
// system's.
BOOL WINAPI console_control_handler(DWORD event);

// Ends the process on Ctrl-C, Ctrl-Break and closing the console, as Windows' own handling
// does, but with interrupted_run_exit_code(): in a parent run the child's exit code (so the run
// ends with the same code whether this thread or the main thread gets there first),
// STATUS_CONTROL_C_EXIT in a child run or before a child has ended. Wine's own handling ends a process with 0, which
// would make an interrupted run look like a success. Returns FALSE for other events.
BOOL WINAPI end_interrupted_run(DWORD event);

// Registers end_interrupted_run, and in a parent run console_control_handler after it (so that
// it is called before it). Handlers that the application adds later are called first of all.
// False when a parent run's registration fails; a child run goes on without its handler.
bool register_console_handlers(bool parent_run);
