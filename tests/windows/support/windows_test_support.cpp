#include "windows_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "file_tree_walk.h"

namespace kelvor::testing {

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

std::string narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::wstring test_data_path(const std::wstring& name) {
    wchar_t buffer[4096];
    const DWORD length = GetEnvironmentVariableW(L"KELVOR_TEST_DATA_DIR", buffer, 4096);
    if (length == 0 || length >= 4096) throw std::runtime_error("KELVOR_TEST_DATA_DIR is not set");
    return std::wstring(buffer, length) + L"\\" + name;
}

ScratchDirectory::ScratchDirectory() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0) throw std::runtime_error("GetTempPathW failed");
    static unsigned counter = 0;
    for (;;) {
        path_ = std::wstring(temp, length) + L"kelvor-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
        if (CreateDirectoryW(path_.c_str(), nullptr)) return;
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create a scratch directory");
    }
}

ScratchDirectory::~ScratchDirectory() { remove_tree(path_); }

void remove_tree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

bool path_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool is_directory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Files are read and written through Win32: this toolchain's libstdc++ was built for msvcrt,
// and its file streams corrupt memory when they call into the UCRT.
std::string read_file(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot read " + narrow(path));
    std::string contents;
    char buffer[65536];
    DWORD count = 0;
    while (ReadFile(file, buffer, sizeof buffer, &count, nullptr) && count > 0) contents.append(buffer, count);
    CloseHandle(file);
    return contents;
}

void write_file(const std::wstring& path, const std::string& contents) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + narrow(path));
    DWORD written = 0;
    const BOOL ok = WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != contents.size()) throw std::runtime_error("cannot write " + narrow(path));
}

namespace {

HANDLE inheritable_file(const std::wstring& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
}

// The current environment block with changes applied, sorted as CreateProcessW expects.
std::wstring environment_block(const std::map<std::wstring, std::wstring>& changes) {
    std::map<std::wstring, std::wstring> variables;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
        const std::wstring entry = p;
        const size_t equals = entry.find(L'=', 1);
        if (equals == std::wstring::npos) continue;
        variables[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : changes) {
        for (auto it = variables.begin(); it != variables.end();) {
            it = _wcsicmp(it->first.c_str(), name.c_str()) == 0 ? variables.erase(it) : std::next(it);
        }
        if (!value.empty()) variables[name] = value;
    }
    std::wstring result;
    for (const auto& [name, value] : variables) result += name + L"=" + value + L'\0';
    result += L'\0';
    return result;
}

// Starts the process with these standard handles, which it inherits, and closes its thread
// handle; false when it cannot start.
bool start_process(const ProcessOptions& options, HANDLE input, HANDLE output, HANDLE error,
                   PROCESS_INFORMATION& process) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    std::wstring command_line = options.command_line;
    std::wstring environment = environment_block(options.environment_changes);
    process = PROCESS_INFORMATION{};
    const BOOL started = CreateProcessW(
        options.application.empty() ? nullptr : options.application.c_str(), command_line.data(), nullptr, nullptr,
        TRUE, CREATE_UNICODE_ENVIRONMENT, environment.data(),
        options.current_directory.empty() ? nullptr : options.current_directory.c_str(), &startup, &process);
    if (started) CloseHandle(process.hThread);
    return started != FALSE;
}

[[noreturn]] void cannot_start(const ProcessOptions& options, DWORD error) {
    throw std::runtime_error("cannot start " + narrow(options.command_line) + " (error " + std::to_string(error) + ")");
}

// A pipe whose one end, the child's, is inherited.
void make_pipe(HANDLE& read_end, HANDLE& write_end, bool child_reads) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) throw std::runtime_error("cannot make a pipe");
    SetHandleInformation(child_reads ? write_end : read_end, HANDLE_FLAG_INHERIT, 0);
}

std::string read_to_end(HANDLE pipe) {
    std::string contents;
    char buffer[65536];
    DWORD count = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &count, nullptr) && count > 0) contents.append(buffer, count);
    return contents;
}

}  // namespace

std::map<std::wstring, std::string> read_tree(const std::wstring& root) {
    std::map<std::wstring, std::string> files;
    for_each_file(root, [&](const std::wstring& name, const WIN32_FIND_DATAW&) { files[name] = read_file(root + L"\\" + name); });
    return files;
}

RunningProcess::RunningProcess(const ProcessOptions& options) {
    HANDLE out = inheritable_file(streams_ / L"out");
    HANDLE err = inheritable_file(streams_ / L"err");
    PROCESS_INFORMATION process;
    const bool started = start_process(options, INVALID_HANDLE_VALUE, out, err, process);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) cannot_start(options, GetLastError());
    process_ = process.hProcess;
    id_ = process.dwProcessId;
}

RunningProcess::~RunningProcess() {
    if (process_ == nullptr) return;
    TerminateProcess(process_, 0xDEAD);
    WaitForSingleObject(process_, INFINITE);
    CloseHandle(process_);
}

std::string RunningProcess::output_so_far() const { return read_file(streams_ / L"out"); }

ProcessResult RunningProcess::wait(DWORD timeout_ms) {
    ProcessResult result;
    result.process_id = id_;
    if (WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) {
        result.timed_out = true;
        TerminateProcess(process_, 0xDEAD);
        WaitForSingleObject(process_, INFINITE);
    }
    GetExitCodeProcess(process_, &result.exit_code);
    CloseHandle(process_);
    process_ = nullptr;
    result.out = read_file(streams_ / L"out");
    result.err = read_file(streams_ / L"err");
    return result;
}

ProcessResult run_process(const ProcessOptions& options) { return RunningProcess(options).wait(options.timeout_ms); }

ProcessResult run_through_pipes(const ProcessOptions& options, const std::string& input) {
    HANDLE child_in, to_child, from_child, child_out, errors, child_err;
    make_pipe(child_in, to_child, true);
    make_pipe(from_child, child_out, false);
    make_pipe(errors, child_err, false);
    PROCESS_INFORMATION process;
    const bool started = start_process(options, child_in, child_out, child_err, process);
    const DWORD start_error = GetLastError();
    // Only the child holds its ends now, so each stream ends when the child's side closes.
    for (HANDLE pipe : {child_in, child_out, child_err}) CloseHandle(pipe);
    if (!started) {
        for (HANDLE pipe : {to_child, from_child, errors}) CloseHandle(pipe);
        cannot_start(options, start_error);
    }
    ProcessResult result;
    result.process_id = process.dwProcessId;
    std::thread writer([&] {
        DWORD written = 0;
        for (size_t at = 0; at < input.size(); at += written) {
            const DWORD piece = static_cast<DWORD>(std::min<size_t>(input.size() - at, 1 << 20));
            if (!WriteFile(to_child, input.data() + at, piece, &written, nullptr)) break;
        }
        CloseHandle(to_child);
    });
    std::thread output_reader([&] { result.out = read_to_end(from_child); });
    std::thread error_reader([&] { result.err = read_to_end(errors); });
    if (WaitForSingleObject(process.hProcess, options.timeout_ms) != WAIT_OBJECT_0) {
        result.timed_out = true;
        TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    // The streams end when every process that holds them has ended.
    writer.join();
    output_reader.join();
    error_reader.join();
    GetExitCodeProcess(process.hProcess, &result.exit_code);
    for (HANDLE handle : {process.hProcess, from_child, errors}) CloseHandle(handle);
    return result;
}


std::string first_difference(const std::string& actual, const std::string& expected) {
    if (actual == expected) return {};
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    auto hex_around = [at](const std::string& bytes) {
        std::string shown;
        char byte[4];
        for (size_t i = at; i < bytes.size() && i < at + 8; ++i) {
            snprintf(byte, sizeof byte, "%02x ", static_cast<unsigned char>(bytes[i]));
            shown += byte;
        }
        return shown.empty() ? std::string("(end)") : shown;
    };
    return "sizes " + std::to_string(actual.size()) + " and " + std::to_string(expected.size()) +
           ", first difference at byte " + std::to_string(at) + ": " + hex_around(actual) + "vs " +
           hex_around(expected);
}

std::vector<std::string> imported_dll_names(const std::wstring& image_path) {
    const std::string image = read_file(image_path);
    auto at = [&image](size_t offset, size_t size) {
        if (offset + size > image.size()) throw std::runtime_error("truncated PE image");
        return image.data() + offset;
    };
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(at(0, sizeof(IMAGE_DOS_HEADER)));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(at(dos->e_lfanew, sizeof(IMAGE_NT_HEADERS64)));
    const auto* sections = IMAGE_FIRST_SECTION(nt);
    auto file_offset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const auto& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
                return rva - s.VirtualAddress + s.PointerToRawData;
            }
        }
        throw std::runtime_error("RVA outside every section");
    };
    std::vector<std::string> names;
    const auto& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return names;
    for (size_t offset = file_offset(directory.VirtualAddress);; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(offset, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
        if (import->Name == 0) break;
        names.emplace_back(at(file_offset(import->Name), 1));
    }
    return names;
}

}  // namespace kelvor::testing
