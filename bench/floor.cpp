// The floor of a parent run: the system calls a launcher run makes, in a straight line, and
// nothing else. Its payload block is linked into its image as a launcher's is (the same
// image-data source). The parent sets the launcher's environment variables, registers a
// console handler, splits its command line, builds the owner-only security descriptor
// (advapi32), decodes the payload with the launcher's own stream reader and writes the same
// files with that descriptor in pieces of 32,768 bytes, starts itself once and waits, and
// removes the directory with the launcher's own removal. The child reads both module names in their comparable form (the
// handshake), loads the first entry from the directory the parent names and calls run_code.
// What a launcher run costs beyond this is its own code. The benchmark compares the two.
//
//   floor.exe                 parent: unpacks into %TEMP%\kelvor-floor-PID, runs the child
//   floor.exe --child DLL     child: loads DLL (a full path), returns what its run_code returns
#include <windows.h>
#include <psapi.h>

#include <stdlib.h>

#include <string>

#include "bootstrap/application_launch.h"
#include "command_line/argument_splitting.h"
#include "command_line/process_start.h"
#include "files/file_helpers.h"
#include "files/tree_removal.h"
#include "path_template/launcher_paths.h"
#include "payload/image_data.h"
#include "payload/payload_stream.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

constexpr size_t piece_size = 32768;

// The directories on the way to path, each created once.
void make_parents(const std::wstring& path, std::wstring& last_made) {
    const std::wstring parent = path.substr(0, path.rfind(L'\\'));
    if (parent == last_made) return;
    for (size_t at = parent.find(L'\\', 3);; at = parent.find(L'\\', at + 1)) {
        create_private_directory(parent.substr(0, at).c_str());
        if (at == std::wstring::npos) break;
    }
    last_made = parent;
}

// Unpacks every entry below directory through the launcher's own stream reader; gives the
// first entry's path.
std::wstring unpack(const std::wstring& directory) {
    if (!find_image_data(reinterpret_cast<const unsigned char*>(&__ImageBase), image_data)) abort();
    open_payload_stream(image_data.payload_block, image_data.payload_size);
    static unsigned char piece[piece_size];
    std::wstring first, last_made;
    for (;;) {
        std::wstring name;
        for (wchar_t unit = 0;;) {
            payload_read(&unit, 2);
            if (unit == 0) break;
            name.push_back(unit);
        }
        if (name.empty()) break;
        const std::wstring path = directory + L"\\" + name;
        if (first.empty()) first = path;
        unsigned long long remaining = 0;
        payload_read(&remaining, 8);
        make_parents(path, last_made);
        HANDLE file = open_file_for_writing(path.c_str());
        if (file == INVALID_HANDLE_VALUE) exit(2);
        while (remaining > 0) {
            const DWORD count = remaining < piece_size ? static_cast<DWORD>(remaining) : piece_size;
            payload_read(piece, count);
            DWORD written = 0;
            if (!WriteFile(file, piece, count, &written, nullptr)) exit(2);
            remaining -= count;
        }
        CloseHandle(file);
    }
    close_payload_stream();
    return first;
}

BOOL WINAPI ignore_event(DWORD) { return FALSE; }

int run_child(int argc, wchar_t** argv) {
    // The handshake: the parent's module name and this one's, each in the comparable form.
    wchar_t parent_name[2049];
    const wchar_t* parent_value = _wgetenv(L"KELVOR_FLOOR_PARENT");
    const DWORD parent_id = parent_value == nullptr ? 0 : wcstoul(parent_value, nullptr, 10);
    HANDLE parent = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, parent_id);
    if (parent != nullptr && K32GetModuleFileNameExW(parent, nullptr, parent_name, 2048) != 0) {
        comparable_file_name(parent_name, 2048);
    }
    if (parent != nullptr) CloseHandle(parent);
    get_launcher_file_name(true);

    const std::wstring dll = argv[2];
    AddDllDirectory(dll.substr(0, dll.rfind(L'\\')).c_str());
    HMODULE application = LoadLibraryExW(dll.c_str(), nullptr, application_dll_search_flags);
    if (application == nullptr) return 2;
    const auto run_code = reinterpret_cast<RunCode>(reinterpret_cast<void*>(GetProcAddress(application, "run_code")));
    if (run_code == nullptr) return 2;
    return run_code(argc, argv, dll.c_str());
}

DWORD run_parent() {
    SetEnvironmentVariableW(L"KELVOR_FLOOR_PARENT", std::to_wstring(GetCurrentProcessId()).c_str());
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return 2;
    const std::wstring directory =
        std::wstring(temp, length) + L"kelvor-floor-" + std::to_wstring(GetCurrentProcessId());
    SetConsoleCtrlHandler(ignore_event, TRUE);
    int count = 0;
    if (split_command_line(GetCommandLineW(), &count) == nullptr) return 2;

    const std::wstring first = unpack(directory);
    SetEnvironmentVariableW(L"KELVOR_FLOOR_DIRECTORY", directory.c_str());
    std::wstring command_line = L"\"" + std::wstring(get_own_executable_path()) + L"\" --child \"" + first + L"\"";
    PROCESS_INFORMATION process;
    if (!start_with_standard_handles(get_own_executable_path(), command_line.data(), NORMAL_PRIORITY_CLASS,
                                     &process)) {
        return 2;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    remove_directory_at(directory.c_str());
    return exit_code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    SetDllDirectoryW(L"");
    if (__argc > 2 && wcscmp(__wargv[1], L"--child") == 0) return run_child(__argc, __wargv);
    return static_cast<int>(run_parent());
}
