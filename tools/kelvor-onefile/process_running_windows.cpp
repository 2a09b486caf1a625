// Running programs on Windows: CreateProcessW with the program's full path (found on PATH
// here, so that no current directory is searched) and a command line that the C runtimes
// split back into exactly the arguments given; a pipe read while the program runs, with a
// time limit; the process handle recorded for the clean-up of an interrupted run.
#include "process_running.h"
#include "process_running_system.h"

#include <chrono>
#include <cwchar>
#include <windows.h>

#include "interruption.h"
#include "tool_error.h"
#include "utf8_paths.h"
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

bool needs_quotes(const std::wstring& argument) {
    return argument.empty() || argument.find_first_of(L" \t\n\v\"") != std::wstring::npos;
}

// The rule of CommandLineToArgvW and the C runtimes: backslashes count only before a quote,
// so a run of n of them becomes 2n + 1 before a quote in the argument, 2n before the closing
// quote, and stays n elsewhere.
std::wstring quoted(const std::wstring& argument) {
    if (!needs_quotes(argument)) return argument;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

std::wstring command_line(const std::vector<std::string>& arguments) {
    std::wstring line;
    for (const auto& argument : arguments) {
        line += (line.empty() ? L"" : L" ") + quoted(path_from_utf8(argument).native());
    }
    return line;
}

// The tool's environment with TMP, TEMP and TMPDIR set to directory, as a block for
// CreateProcessW.
std::wstring environment_in(const fs::path& directory) {
    std::wstring block;
    wchar_t* const strings = GetEnvironmentStringsW();
    for (const wchar_t* variable = strings; *variable != L'\0'; variable += std::wcslen(variable) + 1) {
        const bool replaced = _wcsnicmp(variable, L"TMP=", 4) == 0 || _wcsnicmp(variable, L"TEMP=", 5) == 0 ||
                              _wcsnicmp(variable, L"TMPDIR=", 7) == 0;
        if (!replaced) block.append(variable).push_back(L'\0');
    }
    FreeEnvironmentStringsW(strings);
    for (const wchar_t* name : {L"TMP=", L"TEMP=", L"TMPDIR="}) block.append(name + directory.native()).push_back(L'\0');
    return block;
}

// A handle that the program inherits: one of the tool's own standard handles, or NUL.
HANDLE inheritable(HANDLE handle) {
    HANDLE copy = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

HANDLE null_device() {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    return CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                       OPEN_EXISTING, 0, nullptr);
}

struct Streams {
    HANDLE input = nullptr, output = nullptr, error = nullptr;
};

[[noreturn]] void cannot_start(const std::string& step, const std::string& program, DWORD error) {
    throw ToolError(step + ": cannot start " + program + ": " + windows_error_text(error));
}

// Starts the program and records it for the clean-up of an interrupted run. Given streams, it
// gets those as its standard handles; a program started apart from the terminal has no
// console at all (DETACHED_PROCESS), so it cannot prompt and wait for an answer.
HANDLE start_program(const std::string& step, const std::vector<std::string>& arguments, const Streams* streams,
                     bool apart_from_terminal = false, const fs::path& own_directory = {}) {
    const auto program = program_file(arguments[0]);
    if (!program) cannot_start(step, arguments[0], ERROR_FILE_NOT_FOUND);
    std::wstring line = command_line(arguments);
    std::wstring environment = own_directory.empty() ? L"" : environment_in(own_directory);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (streams) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = streams->input;
        startup.hStdOutput = streams->output;
        startup.hStdError = streams->error;
    }
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (apart_from_terminal ? DETACHED_PROCESS : 0);
    PROCESS_INFORMATION started{};
    TemporariesLock held;
    if (!CreateProcessW(program->c_str(), line.data(), nullptr, nullptr, streams != nullptr, flags,
                        environment.empty() ? nullptr : environment.data(),
                        own_directory.empty() ? nullptr : own_directory.c_str(), &startup, &started)) {
        cannot_start(step, arguments[0], GetLastError());
    }
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

int run_and_wait(const std::string& step, const std::vector<std::string>& arguments,
                 const std::filesystem::path& own_directory) {
    return wait_for(start_program(step, arguments, nullptr, false, own_directory));
}

std::optional<int> run_with_output(const std::string& step, const std::vector<std::string>& arguments,
                                   std::string& output, bool apart_from_terminal, int timeout_seconds) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE reading = nullptr, writing = nullptr;
    if (!CreatePipe(&reading, &writing, &inherited, 0)) {
        throw ToolError(step + ": cannot make a pipe: " + windows_error_text(GetLastError()));
    }
    SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0);
    Streams streams{apart_from_terminal ? null_device() : inheritable(GetStdHandle(STD_INPUT_HANDLE)), writing,
                    apart_from_terminal ? writing : inheritable(GetStdHandle(STD_ERROR_HANDLE))};
    HANDLE child = nullptr;
    try {
        child = start_program(step, arguments, &streams, apart_from_terminal);
    } catch (...) {
        for (HANDLE handle : {reading, writing, streams.input, apart_from_terminal ? nullptr : streams.error}) {
            if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        }
        throw;
    }
    for (HANDLE handle : {writing, streams.input, apart_from_terminal ? nullptr : streams.error}) {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    // The pipe breaks when the program ends (or closes its end), so the time limit holds while
    // it reads: a program still running then is ended, and has ended before this returns.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    bool timed_out = false;
    while (read_available(reading, output)) {
        if (timeout_seconds > 0 && Clock::now() >= deadline) {
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
