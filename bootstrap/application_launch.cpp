#include "bootstrap/application_launch.h"

#include "bootstrap/console_cleanup.h"
#include "bootstrap/error_reporting.h"
#include "bootstrap/messages.h"
#include "bootstrap/run_state.h"
#include "bootstrap/run_timing.h"
#include "command_line/argument_quoting.h"
#include "command_line/argument_splitting.h"
#include "command_line/process_start.h"
#include "path_template/launcher_paths.h"
#include "runner/runner_name.h"
#include "text/bounded_text.h"
#include "text/environment.h"

wchar_t child_command_line[child_command_line_capacity + 1];

namespace {

// The environment block as the launcher was given it; null until kept (or when the system had
// no memory for the copy).
wchar_t* original_environment = nullptr;

// The program of an ordinary program's payload: first_entry_path without the runner's suffix.
wchar_t program_path[first_entry_path_capacity + 1];

// The program's part of first_entry_path when that names an ordinary program's runner, else 0.
size_t program_length() { return runner_name::program_length(first_entry_path, wcslen(first_entry_path)); }

// The parent's end of a run: the process it started in a step of the run is stored, the step
// ends, then it waits for the process and runs the clean-up.
DWORD wait_and_clean_up(const PROCESS_INFORMATION& process) {
    CloseHandle(process.hThread);
    store_child_process(process.hProcess);
    end_run_step();
    const DWORD exit_code = wait_for_child_exit();
    timing_event("child-ended");
    cleanup_child_and_directory();
    timing_event("removed");
    return exit_code;
}

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
    HMODULE application = LoadLibraryExW(first_entry_path, nullptr, application_dll_search_flags);
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
    wchar_t** arguments = split_command_line(GetCommandLineW(), &count);
    if (arguments == nullptr) exit_with_message(message_no_memory);
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
    return wait_and_clean_up(process);
}

void keep_original_environment() { original_environment = GetEnvironmentStringsW(); }

bool first_entry_names_a_program() { return program_length() != 0; }

DWORD start_program_and_wait() {
    copy_wide(program_path, first_entry_path, first_entry_path_capacity);
    program_path[program_length()] = L'\0';
    // The launcher's own line always fits: the system limits it as it limits the program's.
    copy_wide(child_command_line, GetCommandLineW(), child_command_line_capacity);
    if (original_environment == nullptr) exit_with_message(message_no_memory);
    PROCESS_INFORMATION process;
    timing_event("child-create");
    // A step of the run, as for a child: once the console handler has begun, nothing starts.
    begin_run_step();
    if (!start_with_standard_handles(program_path, child_command_line, NORMAL_PRIORITY_CLASS | CREATE_UNICODE_ENVIRONMENT,
                                     &process, original_environment)) {
        exit_with_error_code(message_program_launch_failed, GetLastError());
    }
    return wait_and_clean_up(process);
}
