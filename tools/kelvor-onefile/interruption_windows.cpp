// Interruptions on Windows: Ctrl-C, Ctrl-Break and the console's closing (and log-off and
// shut-down) reach a console control handler, on a thread that the system makes for each
// event. The handler does what the POSIX signal thread does and ends the tool with
// STATUS_CONTROL_C_EXIT, the status of a console program that Ctrl-C ends. (Wine ends such a
// program with 0 when it has no handler; here the tool always has one.)
#include <windows.h>

#include "interruption.h"
#include "interruption_cleanup.h"

namespace kelvor {

namespace {

// The program shares the tool's console and has had the event too; it is ended all the
// same, so that the removal never races with it.
void end_child(ChildProcess child, int) {
    TerminateProcess(child, static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    WaitForSingleObject(child, INFINITE);
}

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            remove_temporaries(end_child, 0);
            ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
        default:
            return FALSE;
    }
}

}  // namespace

// A tool started with Ctrl-C ignored (as a new process group is) goes on ignoring it: the
// system calls no handler for it then, as a POSIX signal ignored at the start stays ignored.
void start_interruption_handling() { SetConsoleCtrlHandler(on_console_event, TRUE); }

}  // namespace kelvor
