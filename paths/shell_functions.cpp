#include "paths/shell_functions.h"

namespace {

using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
using CommandLineToArgv = LPWSTR*(WINAPI*)(LPCWSTR, int*);

// Looked up on first use and kept. The main thread and the console handler may both look one
// up; doing it twice gives the same answer, so no lock is needed.
HMODULE shell;
GetFolderPath get_folder_path;
CommandLineToArgv command_line_to_argv;

template <typename Function>
Function shell_function(Function& cached, const char* name) {
    if (cached != nullptr) return cached;
    if (shell == nullptr) shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (shell == nullptr) return nullptr;
    cached = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(shell, name)));
    return cached;
}

}  // namespace

HRESULT shell_get_folder_path(int folder, wchar_t* path) {
    const GetFolderPath function = shell_function(get_folder_path, "SHGetFolderPathW");
    if (function == nullptr) return E_FAIL;
    return function(nullptr, folder, nullptr, 0, path);
}

wchar_t** shell_command_line_to_argv(const wchar_t* command_line, int* count) {
    const CommandLineToArgv function = shell_function(command_line_to_argv, "CommandLineToArgvW");
    if (function == nullptr) return nullptr;
    return function(command_line, count);
}
