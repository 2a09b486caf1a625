#include "bootstrap/application_launch.h"

#include "bootstrap/console_cleanup.h"
#include "bootstrap/error_reporting.h"
#include "bootstrap/messages.h"
#include "bootstrap/run_state.h"
#include "paths/argument_quoting.h"
#include "paths/bounded_text.h"
#include "paths/environment.h"
#include "paths/launcher_paths.h"
#include "paths/process_start.h"
#include "paths/run_timing.h"
#include "paths/shell_functions.h"

wchar_t child_command_line[child_command_line_capacity + 1];

namespace {

// The DLL's own directory, the directories added with AddDllDirectory (the target directory)
// and System32; never the current directory or the search path.
constexpr DWORD dll_search_flags =
    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32;

}  // namespace

void build_child_command_line(int count, wchar_t** arguments) {
    child_command_line[0] = L'\0';
    for (int i = 0; i < count; ++i) {
        append_command_line_argument(child_command_line, arguments[i], child_command_line_capacity);
    }
}

int start_application_dll(int argc, wchar_t** argv) {
    timing_event("dll-load");
    AddDllDirectory(target_directory);
    HMODULE application = LoadLibraryExW(first_entry_path, nullptr, dll_search_flags);
    timing_event("dll-loaded");
    if (application == nullptr) exit_with_error_code(message_load_failed, GetLastError());
    const auto run_code = reinterpret_cast<RunCode>(reinterpret_cast<void*>(GetProcAddress(application, "run_code")));
    if (run_code == nullptr) exit_with_message(message_no_entry_point);
    // The DLL stays loaded and nothing is cleaned up here: the target directory is the
    // parent's to remove.
    const int exit_code = run_code(argc, argv, first_entry_path);
    timing_event("run-code-returned");
    return exit_code;
}

DWORD wait_for_child_exit() {
    DWORD exit_code = 0;
    const HANDLE child = stored_child_process();
    if (child != nullptr) {
        WaitForSingleObject(child, INFINITE);
        if (!GetExitCodeProcess(child, &exit_code)) exit_code = 1;
        record_child_exit_code(exit_code);
        CloseHandle(release_child_process());
    }
    return exit_code;
}

void prepare_child_command_line() {
    int count = 0;
    wchar_t** arguments = shell_command_line_to_argv(GetCommandLineW(), &count);
    if (arguments == nullptr) exit_with_error_code(message_launch_failed, GetLastError());
    arguments[0] = const_cast<wchar_t*>(get_own_executable_path());
    build_child_command_line(count, arguments);
}

DWORD start_child_and_wait(wchar_t** runtime_argv) {
    set_env("KELVOR_ONEFILE_DIRECTORY", get_directory_of(get_launcher_file_name(false)));
    set_env("KELVOR_ORIGINAL_ARGV0", runtime_argv[0]);
    PROCESS_INFORMATION process;
    timing_event("child-create");
    // A step of the run: once the console handler has begun, no child is started.
    begin_run_step();
    if (!start_with_standard_handles(get_own_executable_path(), child_command_line, NORMAL_PRIORITY_CLASS, &process)) {
        exit_with_error_code(message_launch_failed, GetLastError());
    }
    CloseHandle(process.hThread);
    store_child_process(process.hProcess);
    end_run_step();
    const DWORD exit_code = wait_for_child_exit();
    timing_event("child-ended");
    cleanup_child_and_directory();
    timing_event("removed");
    return exit_code;
}
