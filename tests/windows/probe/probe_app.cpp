// The probe application: run_code does what its arguments ask, in order, and reports on
// standard output in a form the tests read back without ambiguity. Arguments it does not know
// are left alone (tests pass tricky ones through it).
//
//   started        "started": the launcher got as far as the application
//   pid            "pid N", this process's id
//   args           each argument as "arg I <UTF-16 units in hex>", after "argc N"
//   dll            "dll <the path run_code was given>"
//   env:NAME       "env NAME=<value>" or "env NAME unset"
//   list           "file <path relative to the DLL's directory> <size>" for every file
//   digest         "digest <hex>": one FNV-1a hash of every file's relative path and contents
//   touch:NAME     writes "touched" into NAME beside the DLL
//   import         "dependency <what the imported probe_dep.dll reports>"
//   loaded:NAME    "loaded NAME child=yes|no parent=yes|no": whether this run and the parent run
//                  (KELVOR_ONEFILE_PARENT) have the DLL NAME loaded
//   nested:A,B     starts this executable again with arguments A B, waits, "nested exit=N"
//   spawn:A,B      starts this executable again with arguments A B and does not wait
//   setenv:N=V     sets the environment variable N to V (for the runs started after it)
//   hold:NAME      opens NAME beside the DLL without sharing and keeps it open
//   mkdir:PATH     creates the directory PATH beside the DLL, and every directory on the way
//   write:PATH     writes "written" into the file PATH beside the DLL
//   readonly:PATH  gives PATH beside the DLL the read-only attribute
//   files:PATH,N   writes N small files into the directory PATH beside the DLL
//   await:PATH     waits (up to a minute) until the file at the full path PATH exists
//   kill-parent    terminates the launcher's parent run (KELVOR_ONEFILE_PARENT) with code 9, as
//                  a user or a power loss may end it; this run goes on
//   console-events reports every console control event from now on as "console event N" and
//                  goes on running (its handler returns TRUE)
// Paths beside the DLL are used in their "\\?\" form, so they may be long, deep, and hold
// names such as "S:".
//   sleep:MS       sleeps
//   crash          writes through a null pointer
//   exit:N         returns N at once
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "command_line/process_start.h"
#include "file_tree_walk.h"

extern "C" __declspec(dllimport) const wchar_t* probe_dependency_origin();

namespace {

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

void line(const std::string& text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string hex_units(const wchar_t* text) {
    std::string out;
    char unit[8];
    for (const wchar_t* p = text; *p; ++p) {
        std::snprintf(unit, sizeof unit, "%s%04x", out.empty() ? "" : " ", static_cast<unsigned>(*p));
        out += unit;
    }
    return out;
}

std::wstring directory_of(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

std::wstring beside(const std::wstring& own_directory, const std::wstring& path) {
    return L"\\\\?\\" + own_directory + L"\\" + path;
}

void make_directories(const std::wstring& own_directory, const std::wstring& relative) {
    for (size_t end = relative.find(L'\\'); ; end = relative.find(L'\\', end + 1)) {
        CreateDirectoryW(beside(own_directory, relative.substr(0, end)).c_str(), nullptr);
        if (end == std::wstring::npos) break;
    }
}

void write_small_file(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        line("cannot write " + utf8(path));
        return;
    }
    DWORD written = 0;
    WriteFile(file, "written", 7, &written, nullptr);
    CloseHandle(file);
}

void await_file(const std::wstring& path) {
    for (int i = 0; i < 600; ++i) {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return;
        Sleep(100);
    }
    line("await timed out");
}

// Every file below root, by path relative to root, with its size.
std::map<std::wstring, DWORD> find_files(const std::wstring& root) {
    std::map<std::wstring, DWORD> files;
    kelvor::testing::for_each_file(
        root, [&files](const std::wstring& name, const WIN32_FIND_DATAW& found) { files[name] = found.nFileSizeLow; });
    return files;
}

void list_files(const std::wstring& root) {
    const auto files = find_files(root);
    for (const auto& [name, size] : files) line("file " + utf8(name) + " " + std::to_string(size));
}

void fnv1a(std::uint64_t& hash, const void* data, size_t count) {
    for (size_t i = 0; i < count; ++i) hash = (hash ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
}

void digest_files(const std::wstring& root) {
    const auto files = find_files(root);
    std::uint64_t hash = 14695981039346656037ull;
    for (const auto& [name, size] : files) {
        fnv1a(hash, name.data(), name.size() * sizeof(wchar_t));
        HANDLE file = CreateFileW((root + L"\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  0, nullptr);
        char piece[65536];
        DWORD got = 0;
        while (file != INVALID_HANDLE_VALUE && ReadFile(file, piece, sizeof piece, &got, nullptr) && got > 0) {
            fnv1a(hash, piece, got);
        }
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    char text[32];
    std::snprintf(text, sizeof text, "digest %016llx", static_cast<unsigned long long>(hash));
    line(text);
}

// Whether the process with the id that the environment variable holds has the DLL loaded.
bool process_has_module(const wchar_t* id_variable, const std::wstring& name) {
    wchar_t id[32];
    if (GetEnvironmentVariableW(id_variable, id, 32) == 0) return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, std::wcstoul(id, nullptr, 10));
    if (process == nullptr) return false;
    HMODULE modules[1024];
    DWORD size = 0;
    bool found = false;
    if (K32EnumProcessModules(process, modules, sizeof modules, &size)) {
        for (DWORD i = 0; i < size / sizeof(HMODULE) && i < 1024 && !found; ++i) {
            wchar_t base[MAX_PATH];
            found = K32GetModuleBaseNameW(process, modules[i], base, MAX_PATH) != 0 && _wcsicmp(base, name.c_str()) == 0;
        }
    }
    CloseHandle(process);
    return found;
}

std::string yes_no(bool value) { return value ? "yes" : "no"; }

BOOL WINAPI report_console_event(DWORD event) {
    line("console event " + std::to_string(event));
    return TRUE;
}

// Starts this executable again with the comma-separated arguments; waits for it when asked.
DWORD run_again(const std::wstring& arguments, bool wait) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command_line = L"\"" + std::wstring(self) + L"\"";
    for (size_t start = 0; start <= arguments.size();) {
        const size_t end = std::min(arguments.find(L',', start), arguments.size());
        command_line += L" " + arguments.substr(start, end - start);
        start = end + 1;
    }
    // Started the way the launcher starts its child.
    PROCESS_INFORMATION process;
    if (!start_with_standard_handles(self, command_line.data(), 0, &process)) return 0xFFFFFFFF;
    DWORD code = 0;
    if (wait) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

}  // namespace

extern "C" __declspec(dllexport) int run_code(int argc, wchar_t** argv, const wchar_t* dll_path) {
    const std::wstring own_directory = directory_of(dll_path);
    for (int i = 1; i < argc; ++i) {
        const std::wstring command = argv[i];
        const size_t colon = command.find(L':');
        const std::wstring verb = command.substr(0, colon);
        const std::wstring parameter = colon == std::wstring::npos ? L"" : command.substr(colon + 1);
        if (command == L"started") {
            line("started");
        } else if (command == L"pid") {
            line("pid " + std::to_string(GetCurrentProcessId()));
        } else if (command == L"args") {
            line("argc " + std::to_string(argc));
            for (int k = 0; k < argc; ++k) line("arg " + std::to_string(k) + " " + hex_units(argv[k]));
        } else if (command == L"dll") {
            line("dll " + utf8(dll_path));
        } else if (verb == L"env") {
            wchar_t value[32768];
            const DWORD length = GetEnvironmentVariableW(parameter.c_str(), value, 32768);
            line("env " + utf8(parameter) + (length ? "=" + utf8(std::wstring(value, length)) : " unset"));
        } else if (command == L"list") {
            list_files(own_directory);
        } else if (command == L"digest") {
            digest_files(own_directory);
        } else if (verb == L"touch") {
            FILE* file = _wfopen((own_directory + L"\\" + parameter).c_str(), L"wb");
            if (file) {
                std::fputs("touched", file);
                std::fclose(file);
            }
        } else if (verb == L"loaded") {
            line("loaded " + utf8(parameter) + " child=" + yes_no(GetModuleHandleW(parameter.c_str()) != nullptr) +
                 " parent=" + yes_no(process_has_module(L"KELVOR_ONEFILE_PARENT", parameter)));
        } else if (command == L"import") {
            line("dependency " + utf8(probe_dependency_origin()));
        } else if (verb == L"nested") {
            line("nested exit=" + std::to_string(run_again(parameter, true)));
        } else if (verb == L"spawn") {
            run_again(parameter, false);
        } else if (verb == L"setenv") {
            const size_t equals = parameter.find(L'=');
            SetEnvironmentVariableW(parameter.substr(0, equals).c_str(), parameter.substr(equals + 1).c_str());
        } else if (verb == L"hold") {
            CreateFileW((own_directory + L"\\" + parameter).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        } else if (verb == L"mkdir") {
            make_directories(own_directory, parameter);
        } else if (verb == L"write") {
            write_small_file(beside(own_directory, parameter));
        } else if (verb == L"readonly") {
            SetFileAttributesW(beside(own_directory, parameter).c_str(), FILE_ATTRIBUTE_READONLY);
        } else if (verb == L"files") {
            const size_t comma = parameter.find(L',');
            const std::wstring directory = parameter.substr(0, comma);
            make_directories(own_directory, directory);
            const long count = std::wcstol(parameter.c_str() + comma + 1, nullptr, 10);
            for (long k = 0; k < count; ++k) {
                write_small_file(beside(own_directory, directory + L"\\file-" + std::to_wstring(k)));
            }
        } else if (verb == L"await") {
            await_file(parameter);
        } else if (command == L"kill-parent") {
            wchar_t parent_id[32];
            const DWORD length = GetEnvironmentVariableW(L"KELVOR_ONEFILE_PARENT", parent_id, 32);
            HANDLE parent = length > 0 && length < 32
                                ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, std::wcstoul(parent_id, nullptr, 10))
                                : nullptr;
            if (parent != nullptr) {
                TerminateProcess(parent, 9);
                WaitForSingleObject(parent, INFINITE);
                CloseHandle(parent);
            }
        } else if (command == L"console-events") {
            SetConsoleCtrlHandler(report_console_event, TRUE);
        } else if (verb == L"sleep") {
            Sleep(static_cast<DWORD>(std::wcstoul(parameter.c_str(), nullptr, 10)));
        } else if (command == L"crash") {
            *static_cast<volatile int*>(nullptr) = 1;
        } else if (verb == L"exit") {
            return static_cast<int>(std::wcstol(parameter.c_str(), nullptr, 10));
        }
    }
    return 0;
}
