// Running programs on Windows: CreateProcessW with the program's full path (found on PATH
// here, so that no current directory is searched) and a command line that the C runtimes
// split back into exactly the arguments given; a pipe read while the program runs, with a
// time limit; the process handle recorded for the clean-up of an interrupted run.
#include "process_running.h"

#include <chrono>
#include <windows.h>

#include "interruption.h"
#include "tool_error.h"
#include "utf8_paths.h"
#include "windows_argument_quoting.h"
#include "windows_error_text.h"

namespace kelvor {

namespace fs = std::filesystem;

namespace {

bool is_file(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<fs::path> program_file(const std::string& program) {
    fs::path name = path_from_utf8(program);
    if (!name.has_extension()) name += L".exe";
    if (program.find_first_of("/\\:") != std::string::npos) return is_file(name) ? std::optional(name) : std::nullopt;
    const wchar_t* path = _wgetenv(L"PATH");
    const std::wstring directories = path ? path : L"";
    for (size_t start = 0; start <= directories.size();) {
        const size_t end = std::min(directories.find(L';', start), directories.size());
        const fs::path candidate = fs::path(directories.substr(start, end - start)) / name;
        if (end > start && is_file(candidate)) return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

std::wstring command_line(const std::vector<std::string>& arguments) {
    std::wstring line;
    for (const auto& argument : arguments) {
        line += (line.empty() ? L"" : L" ") + quote_argument(path_from_utf8(argument).native());
    }
    return line;
}

[[noreturn]] void cannot_start(const std::string& step, const std::string& program, DWORD error) {
    throw ToolError(step + ": cannot start " + program + ": " + windows_error_text(error));
}

// Starts the program and records it for the clean-up of an interrupted run. Given an output
// handle, the program is apart from the terminal: it reads NUL, writes its standard output and
// error there and has no console at all (DETACHED_PROCESS), so it cannot prompt and wait for
// an answer; otherwise it inherits the tool's console and standard handles.
HANDLE start_program(const std::string& step, const std::vector<std::string>& arguments, HANDLE output = nullptr) {
    const auto program = program_file(arguments[0]);
    if (!program) cannot_start(step, arguments[0], ERROR_FILE_NOT_FOUND);
    std::wstring line = command_line(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    HANDLE input = nullptr;
    if (output != nullptr) {
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0,
                            nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION started{};
    TemporariesLock held;
    const BOOL made = CreateProcessW(program->c_str(), line.data(), nullptr, nullptr, output != nullptr,
                                     output != nullptr ? DETACHED_PROCESS : 0, nullptr, nullptr, &startup, &started);
    const DWORD error = GetLastError();
    if (input != nullptr && input != INVALID_HANDLE_VALUE) CloseHandle(input);
    if (!made) cannot_start(step, arguments[0], error);
    CloseHandle(started.hThread);
    held.record_child(started.hProcess);
    return started.hProcess;
}

int wait_for(HANDLE child) {
    WaitForSingleObject(child, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(child, &status);
    TemporariesLock held;
    held.forget_child();
    CloseHandle(child);
    return static_cast<int>(status);
}

// Appends what the pipe holds now to output; false once every writer has closed it.
bool read_available(HANDLE pipe, std::string& output) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    char buffer[65536];
    while (available > 0) {
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) || got == 0) return false;
        output.append(buffer, got);
        available -= got;
    }
    return true;
}

}  // namespace

bool on_path(const std::string& program) { return program_file(program).has_value(); }

void run_program(const std::string& step, const std::vector<std::string>& arguments) {
    const int status = wait_for(start_program(step, arguments));
    if (status != 0) throw ToolError(step + " failed: " + arguments[0] + " exited with " + std::to_string(status));
}

std::optional<int> program_output_apart_from_terminal(const std::string& step, const std::vector<std::string>& arguments,
                                                      std::string& output, int timeout_seconds) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE reading = nullptr, writing = nullptr;
    if (!CreatePipe(&reading, &writing, &inherited, 0)) {
        throw ToolError(step + ": cannot make a pipe: " + windows_error_text(GetLastError()));
    }
    SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0);
    HANDLE child = nullptr;
    try {
        child = start_program(step, arguments, writing);
    } catch (...) {
        CloseHandle(reading);
        CloseHandle(writing);
        throw;
    }
    CloseHandle(writing);
    // The pipe breaks when the program ends (or closes its end), so the time limit holds while
    // it reads: a program still running then is ended, and has ended before this returns.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    bool timed_out = false;
    while (read_available(reading, output)) {
        if (Clock::now() >= deadline) {
            timed_out = true;
            break;
        }
        // Once it has ended, a program it started may still hold the pipe: no busy wait then.
        if (WaitForSingleObject(child, 20) == WAIT_OBJECT_0) Sleep(20);
    }
    CloseHandle(reading);
    if (timed_out) TerminateProcess(child, 1);
    const int status = wait_for(child);
    if (timed_out) return std::nullopt;
    return status;
}


}  // namespace kelvor
