#include "bootstrap/console_cleanup.h"

#include "bootstrap/run_state.h"
#include "files/target_directory.h"
#include "payload/file_unpacker.h"

namespace {

constexpr DWORD child_grace_ms = 5000;

// The child's exit code is recorded only when it ended by itself; a child terminated here ends
// with the code the record holds until then.
void end_child(DWORD grace_ms) {
    HANDLE child = duplicate_child_process();
    if (child == nullptr) return;
    DWORD exit_code = 0;
    if (WaitForSingleObject(child, grace_ms) != WAIT_OBJECT_0) {
        TerminateProcess(child, STATUS_CONTROL_C_EXIT);
    } else if (GetExitCodeProcess(child, &exit_code)) {
        record_child_exit_code(exit_code);
    }
    CloseHandle(child);
}

void clean_up(DWORD child_grace) {
    end_child(child_grace);
    remove_target_directory();
}

}  // namespace

void cleanup_child_and_directory() { clean_up(child_grace_ms); }

BOOL WINAPI console_control_handler(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT: {
            // From here on the main thread writes nothing and starts no child. A child that it
            // started while this waited never saw the event: it is not given the grace period.
            const bool child_was_running = stop_run_steps();
            close_unpacked_file();
            clean_up(child_was_running ? child_grace_ms : 0);
            break;
        }
        default:
            break;
    }
    return FALSE;
}

BOOL WINAPI end_interrupted_run(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    ExitProcess(interrupted_run_exit_code());
}

bool register_console_handlers(bool parent_run) {
    // Handlers are called from the last registered to the first.
    const bool ending = SetConsoleCtrlHandler(end_interrupted_run, TRUE) != FALSE;
    if (!parent_run) return true;
    return ending && SetConsoleCtrlHandler(console_control_handler, TRUE) != FALSE;
}
