#include "bootstrap/console_cleanup.h"

#include "bootstrap/run_state.h"
#include "paths/bounded_text.h"
#include "paths/shell_functions.h"

namespace {

constexpr DWORD child_grace_ms = 5000;
constexpr int further_deletion_attempts = 20;
constexpr DWORD pause_between_attempts_ms = 100;

void end_child() {
    HANDLE child = duplicate_child_process();
    if (child == nullptr) return;
    if (WaitForSingleObject(child, child_grace_ms) != WAIT_OBJECT_0) TerminateProcess(child, STATUS_CONTROL_C_EXIT);
    CloseHandle(child);
}

// SHFileOperationW removes the directory with everything below it, silently, without
// confirmation, error dialogue or the recycle bin. Its list of paths ends in two NULs.
void delete_target_directory_once() {
    wchar_t from[target_directory_capacity + 2];
    copy_wide(from, target_directory, target_directory_capacity);
    from[wcslen(from) + 1] = L'\0';
    SHFILEOPSTRUCTW operation{};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = from;
    operation.pTo = L"";
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    operation.fAnyOperationsAborted = FALSE;
    operation.hNameMappings = nullptr;
    operation.lpszProgressTitle = L"";
    shell_file_operation(&operation);
}

bool target_directory_is_there() {
    const DWORD attributes = GetFileAttributesW(target_directory);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

void cleanup_child_and_directory() {
    end_child();
    if (!unpacking_started) return;
    delete_target_directory_once();
    // A file still held open (by the application's own further runs, say) resists for a
    // while; about two seconds of further attempts, then the directory is left.
    for (int attempt = 0; attempt < further_deletion_attempts && target_directory_is_there(); ++attempt) {
        Sleep(pause_between_attempts_ms);
        delete_target_directory_once();
    }
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
