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
// the next handler (normally the system's, which ends the process) runs as well.
BOOL WINAPI console_control_handler(DWORD event);
