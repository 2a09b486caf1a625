// The runner: the first entry of a payload whose application is an ordinary program rather
// than a DLL with run_code. Packed as "PROGRAM.kelvor-runner.dll" beside the program, its name
// tells a launcher to start PROGRAM itself. A launcher of an earlier version loads it in a
// child run instead, and then it starts PROGRAM from the target directory with the arguments it was given, quoted so that the
// program's runtime splits them back as they were, with the standard handles and the current
// directory inherited, waits, and returns the program's exit code. The program and every
// process it starts belong to a job that ends them all when the runner ends (its process
// terminated by the launcher's clean-up after Ctrl-C or a closed console), so that the clean-up
// never meets a survivor holding files. Ctrl-C and Ctrl-Break are the program's to answer: the
// runner outlives them, so a program that ends on them ends with its own exit code.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#include "bootstrap/error_reporting.h"
#include "bootstrap/messages.h"
#include "command_line/argument_quoting.h"
#include "command_line/process_start.h"
#include "runner/runner_name.h"

namespace {

constexpr size_t program_capacity = 32767;

wchar_t program[program_capacity + 1];
wchar_t command_line[command_line_capacity + 1];

// A failure reads as the launcher's own do, "Error, ... ([Error N] system text)" on standard
// error, and the run ends with exit code 2.
int fail(const char* message, DWORD code) {
    report_error_with_code(message, code);
    fflush(stderr);
    return 2;
}

// The program this runner starts: its own path without the runner's suffix.
bool find_program(const wchar_t* dll_path) {
    const size_t length = wcslen(dll_path);
    const size_t program_length = runner_name::program_length(dll_path, length);
    if (program_length == 0 || length > program_capacity) return false;
    wmemcpy(program, dll_path, program_length);
    program[program_length] = L'\0';
    return true;
}

// Null with the system's error code in error when it cannot be made.
HANDLE make_job(DWORD& error) {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) {
        error = GetLastError();
        return nullptr;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        error = GetLastError();
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// The program shares the console and gets Ctrl-C and Ctrl-Break too. Without this handler the
// runner's process would end on them at once and the job would take the program with it, before
// it could answer. Other events (a closed console, log-off, shut-down) end the runner as usual.
BOOL WINAPI leave_interruptions_to_the_program(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

}  // namespace

extern "C" __declspec(dllexport) int run_code(int argc, wchar_t** argv, const wchar_t* dll_path) {
    if (!find_program(dll_path)) return fail(message_runner_name, ERROR_INVALID_NAME);
    command_line[0] = L'\0';
    append_command_line_argument(command_line, program, command_line_capacity);
    for (int i = 1; i < argc; ++i) append_command_line_argument(command_line, argv[i], command_line_capacity);

    SetConsoleCtrlHandler(leave_interruptions_to_the_program, TRUE);
    DWORD error = 0;
    HANDLE job = make_job(error);
    if (job == nullptr) return fail(message_program_launch_failed, error);
    PROCESS_INFORMATION process;
    // Suspended until it is in the job, so that nothing it starts can escape the job.
    if (!start_with_standard_handles(program, command_line, CREATE_SUSPENDED, &process)) {
        return fail(message_program_launch_failed, GetLastError());
    }
    // A program left suspended would be waited for without end.
    if (!AssignProcessToJobObject(job, process.hProcess) || ResumeThread(process.hThread) == static_cast<DWORD>(-1)) {
        error = GetLastError();
        TerminateProcess(process.hProcess, 1);
        return fail(message_program_launch_failed, error);
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    return static_cast<int>(exit_code);
}
