// The end of a parent run: the child goes first, then the target directory. The console
// control handler runs the same clean-up when Ctrl-C, Ctrl-Break, closing the console,
// log-off or shut-down asks the process to stop.
#pragma once

#include <windows.h>

// Gives a running child 5,000 ms to end, then terminates it with STATUS_CONTROL_C_EXIT (the
// status Windows gives a console program ended by Ctrl-C, so an interrupted run never ends
// with 0). Then, once unpacking has started and only when this run created the target
// directory, removes it without ever leaving it (tree_removal.h): one attempt and up to 20
// more, 100 ms apart, while something in it resists. Reports nothing; a directory that resists
// every attempt stays. Safe to run more than once and from two threads.
void cleanup_child_and_directory();

// Runs the clean-up for events 0, 1, 2, 5 and 6, and returns FALSE for every event, so that
// the next handler runs as well: end_interrupted_run, then the system's.
BOOL WINAPI console_control_handler(DWORD event);

// Ends the process on Ctrl-C and Ctrl-Break, as Windows' own handling does, but with
// interrupted_run_exit_code(): in a parent run the child's exit code (so the run ends with the
// same code whether this thread or the main thread gets there first), STATUS_CONTROL_C_EXIT in
// a child run or before a child has ended. Wine's own handling ends a process with 0, which
// would make an interrupted run look like a success. Returns FALSE for other events.
BOOL WINAPI end_interrupted_run(DWORD event);

// Registers end_interrupted_run, and in a parent run console_control_handler after it (so that
// it is called before it). Handlers that the application adds later are called first of all.
// False when a parent run's registration fails; a child run goes on without its handler.
bool register_console_handlers(bool parent_run);
