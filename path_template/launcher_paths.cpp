#include "path_template/launcher_paths.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "text/bounded_text.h"

namespace {

// The launcher's module file name as the system reports it, and its comparable form: each
// filled once, on first use.
wchar_t unresolved_launcher_name[launcher_name_capacity + 1];
wchar_t resolved_launcher_name[launcher_name_capacity + 1];
wchar_t launcher_directory[launcher_name_capacity + 1];

constexpr size_t scratch_units = 4096;
constexpr size_t short_name_capacity = launcher_name_capacity;

using GetFinalPathNameByHandleFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// Not imported directly, so that the launcher also starts where the function is missing.
GetFinalPathNameByHandleFunction find_final_path_function() {
    HMODULE kernel = GetModuleHandleA("Kernel32.dll");
    if (kernel == nullptr) return nullptr;
    return reinterpret_cast<GetFinalPathNameByHandleFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetFinalPathNameByHandleW")));
}

// Drops the first count characters of the text, moving the rest and its NUL forward.
void drop_leading(wchar_t* text, size_t count) {
    memmove(text, text + count, (wcslen(text + count) + 1) * sizeof(wchar_t));
}

// \\?\C:\dir\file becomes C:\dir\file, and \\?\UNC\server\share\file \\server\share\file.
void remove_long_path_prefix(wchar_t* path) {
    if (wcsncmp(path, L"\\\\?\\", 4) == 0 && path[4] != L'\0' && path[5] == L':') {
        drop_leading(path, 4);
    }
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        drop_leading(path, 6);
        path[0] = L'\\';
    }
}

}  // namespace

void resolve_final_path(wchar_t* output, const wchar_t* input, size_t capacity, bool resolve) {
    if (!resolve) {
        copy_wide(output, input, capacity);
        return;
    }
    // Attributes-only access and no backup semantics: directories cannot be opened and so
    // stay as they are.
    HANDLE file = CreateFileW(input, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    copy_wide(output, input, capacity);
    if (file == INVALID_HANDLE_VALUE) return;
    const GetFinalPathNameByHandleFunction final_path = find_final_path_function();
    if (final_path != nullptr) {
        const DWORD length = final_path(file, output, static_cast<DWORD>(capacity), 0);
        CloseHandle(file);
        // 0 is a failure and leaves the copy of the input in place.
        if (length >= capacity) abort();
    } else {
        CloseHandle(file);
    }
    remove_long_path_prefix(output);
}

void shorten_directory_part(wchar_t* path, size_t capacity) {
    wchar_t* last_component = nullptr;
    if (wchar_t* separator = wcsrchr(path, L'\\')) {
        last_component = _wcsdup(separator + 1);
        if (last_component == nullptr) abort();
        *separator = L'\0';
    }
    // One call into a buffer of the capacity: the short form is never longer than the long
    // one, so it fits wherever the path itself does. A result beyond the buffer is the size a
    // form that does not fit would need.
    if (capacity > short_name_capacity) abort();
    wchar_t shortened[short_name_capacity + 1];
    const DWORD length = GetShortPathNameW(path, shortened, static_cast<DWORD>(capacity + 1));
    if (length > capacity) abort();
    if (length != 0) copy_wide(path, shortened, capacity);
    if (last_component != nullptr) {
        append_wide_char(path, L'\\', capacity);
        append_wide(path, last_component, capacity);
        free(last_component);
    }
}

void comparable_file_name(wchar_t* path, size_t capacity) {
    resolve_final_path(path, path, capacity, true);
    shorten_directory_part(path, capacity);
}

const wchar_t* get_launcher_file_name(bool resolved) {
    if (unresolved_launcher_name[0] == L'\0') {
        // A name that fills the whole buffer was cut short: the run ends rather than use it.
        const DWORD length = GetModuleFileNameW(nullptr, unresolved_launcher_name, launcher_name_capacity + 1);
        if (length == 0 || length > launcher_name_capacity) abort();
    }
    if (!resolved) return unresolved_launcher_name;
    if (resolved_launcher_name[0] == L'\0') {
        copy_wide(resolved_launcher_name, unresolved_launcher_name, launcher_name_capacity);
        comparable_file_name(resolved_launcher_name, launcher_name_capacity);
    }
    return resolved_launcher_name;
}

const wchar_t* get_own_executable_path() { return get_launcher_file_name(false); }

const wchar_t* get_directory_of(const wchar_t* path) {
    copy_wide(launcher_directory, path, launcher_name_capacity);
    if (wchar_t* separator = wcsrchr(launcher_directory, L'\\')) *separator = L'\0';
    return launcher_directory;
}

void make_absolute_path(wchar_t* path, size_t capacity) {
    if (capacity > scratch_units) abort();
    wchar_t absolute[scratch_units];
    const DWORD length = GetFullPathNameW(path, static_cast<DWORD>(capacity), absolute, nullptr);
    if (length == 0 || length >= capacity) abort();
    copy_wide(path, absolute, capacity);
}
