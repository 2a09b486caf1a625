#include "files/file_helpers.h"

#include "files/owner_only_security.h"

HANDLE open_file_for_writing(const wchar_t* path) {
    SECURITY_ATTRIBUTES* security = owner_only_security();
    if (security == nullptr) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, security, CREATE_ALWAYS, 0, nullptr);
}

bool create_private_directory(const wchar_t* path) {
    SECURITY_ATTRIBUTES* security = owner_only_security();
    if (security == nullptr) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return CreateDirectoryW(path, security) != FALSE;
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
