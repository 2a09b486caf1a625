#include "path_template/shell_functions.h"

namespace {

using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);

// Looked up on first use and kept. Only the main thread expands templates; doing it twice
// would give the same answer all the same.
GetFolderPath get_folder_path;

GetFolderPath find_get_folder_path() {
    if (get_folder_path != nullptr) return get_folder_path;
    HMODULE shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (shell == nullptr) return nullptr;
    get_folder_path = reinterpret_cast<GetFolderPath>(reinterpret_cast<void*>(GetProcAddress(shell, "SHGetFolderPathW")));
    return get_folder_path;
}

}  // namespace

HRESULT shell_get_folder_path(int folder, wchar_t* path) {
    const GetFolderPath function = find_get_folder_path();
    if (function == nullptr) return E_FAIL;
    return function(nullptr, folder, nullptr, 0, path);
}
