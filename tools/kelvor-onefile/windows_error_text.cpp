#include "windows_error_text.h"

#include <cerrno>
#include <cstring>
#include <windows.h>

namespace kelvor {

namespace {

struct SharedError {
    DWORD windows;
    int posix;
};

constexpr SharedError kSharedErrors[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},   {ERROR_PATH_NOT_FOUND, ENOENT},  {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},    {ERROR_SHARING_VIOLATION, EACCES}, {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_FILE_EXISTS, EEXIST},      {ERROR_ALREADY_EXISTS, EEXIST},  {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_DISK_FULL, ENOSPC},        {ERROR_HANDLE_DISK_FULL, ENOSPC}, {ERROR_DIRECTORY, ENOTDIR},
    {ERROR_NOT_SAME_DEVICE, EXDEV},   {ERROR_WRITE_PROTECT, EROFS},    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
};

}  // namespace

std::string windows_error_text(unsigned long error) {
    for (const auto& shared : kSharedErrors) {
        if (shared.windows == error) return std::strerror(shared.posix);
    }
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = length > 0 ? std::string(text, length) : "";
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.' ||
                               reason.back() == ' ')) {
        reason.pop_back();
    }
    return (reason.empty() ? "Windows error" : reason) + " (error " + std::to_string(error) + ")";
}

}  // namespace kelvor
