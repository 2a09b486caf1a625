#include "bootstrap/console_cleanup.h"

#include "bootstrap/run_state.h"
#include "payload/file_unpacker.h"
#include "paths/tree_removal.h"

namespace {

constexpr DWORD child_grace_ms = 5000;
constexpr int further_deletion_attempts = 20;
constexpr DWORD pause_between_attempts_ms = 100;

// The child's exit code is recorded only when it ended by itself; a child terminated here ends
// with the code the record holds until then.
void end_child() {
    HANDLE child = duplicate_child_process();
    if (child == nullptr) return;
    DWORD exit_code = 0;
    if (WaitForSingleObject(child, child_grace_ms) != WAIT_OBJECT_0) {
        TerminateProcess(child, STATUS_CONTROL_C_EXIT);
    } else if (GetExitCodeProcess(child, &exit_code)) {
        record_child_exit_code(exit_code);
    }
    CloseHandle(child);
}

// A file still held open (by the application's own further runs, say) resists for a while:
// the first attempt and up to 20 more, 100 ms apart. Links that cannot be removed without
// following them never give way, so they end the attempts at once.
void remove_target_directory() {
    for (int attempt = 0;; ++attempt) {
        if (remove_directory_tree(target_directory) != TreeRemoval::resisting) return;
        if (attempt == further_deletion_attempts) return;
        Sleep(pause_between_attempts_ms);
    }
}

}  // namespace

void cleanup_child_and_directory() {
    end_child();
    // Nothing is removed before unpacking has begun, nor a directory that was there before
    // this run: a template that names an existing folder must not cost its files.
    if (!unpacking_started || !unpack_directory_created) return;
    remove_target_directory();
}

BOOL WINAPI console_control_handler(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            cleanup_child_and_directory();
            break;
        default:
            break;
    }
    return FALSE;
}

BOOL WINAPI end_interrupted_run(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    ExitProcess(interrupted_run_exit_code());
}

bool register_console_handlers(bool parent_run) {
    // Handlers are called from the last registered to the first.
    const bool ending = SetConsoleCtrlHandler(end_interrupted_run, TRUE) != FALSE;
    if (!parent_run) return true;
    return ending && SetConsoleCtrlHandler(console_control_handler, TRUE) != FALSE;
}
