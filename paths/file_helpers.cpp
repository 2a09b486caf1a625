#include "paths/file_helpers.h"

HANDLE open_file_for_writing(const wchar_t* path) {
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
}

bool write_to_file(HANDLE file, const void* data, DWORD count) {
    DWORD written = 0;
    if (!WriteFile(file, data, count, &written, nullptr)) return false;
    if (written != count) {
        // A short write that succeeds carries no error code of its own.
        SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return true;
}

bool close_file(HANDLE file) {
    CloseHandle(file);
    return true;
}
