// The file operations of native_files.h on Windows, through the wide API (a path is UTF-16
// there, so every name goes to the system as it is). Files are opened with FILE_SHARE_DELETE:
// an interrupted run can then remove a working file that is still open.
#include "native_files.h"

#include <algorithm>
#include <random>
#include <windows.h>

#include "tool_error.h"
#include "utf8_paths.h"
#include "windows_error_text.h"

namespace kelvor {

namespace fs = std::filesystem;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// ReadFile and WriteFile count in 32 bits.
constexpr std::size_t kLargestTransfer = 1u << 30;
// Names tried before a working file or directory is given up: a collision of six random
// characters is rare, so many in a row mean something else is wrong.
constexpr int kNameAttempts = 100;

[[noreturn]] void fail(const std::string& failure, DWORD error) {
    throw ToolError(failure + ": " + windows_error_text(error));
}

[[noreturn]] void cannot(const char* what, const fs::path& path, DWORD error) {
    fail(std::string("cannot ") + what + " '" + utf8_of(path) + "'", error);
}

[[noreturn]] void not_regular(const fs::path& path) {
    throw ToolError("'" + utf8_of(path) + "' is not a regular file");
}

HANDLE handle(NativeFile file) { return reinterpret_cast<HANDLE>(file); }
NativeFile native(HANDLE file) { return reinterpret_cast<NativeFile>(file); }

// Six characters for a new name, as mkstemp makes them.
std::wstring random_suffix() {
    static std::mt19937_64 generator(std::random_device{}() ^ (std::uint64_t{GetCurrentProcessId()} << 32) ^
                                     GetTickCount64());
    static const wchar_t kCharacters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::wstring suffix;
    for (int i = 0; i < 6; ++i) suffix += kCharacters[generator() % (std::size(kCharacters) - 1)];
    return suffix;
}

bool name_taken(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

}  // namespace

NativeFile open_regular_file(const fs::path& path, std::uint64_t& size) {
    // A device name (NUL, CON, COM1) or a pipe is no file on a disk: it is refused by its
    // attributes where it has them, and by its type once opened otherwise.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) cannot("read", path, GetLastError());
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) not_regular(path);
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) cannot("read", path, GetLastError());
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(file);
        not_regular(path);
    }
    size = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    return native(file);
}

std::size_t read_file(NativeFile file, const fs::path& path, void* buffer, std::size_t count,
                      std::optional<std::uint64_t> offset) {
    OVERLAPPED at{};
    if (offset) {
        at.Offset = static_cast<DWORD>(*offset);
        at.OffsetHigh = static_cast<DWORD>(*offset >> 32);
    }
    DWORD got = 0;
    if (!ReadFile(handle(file), buffer, static_cast<DWORD>(std::min(count, kLargestTransfer)), &got,
                  offset ? &at : nullptr)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF) return 0;  // a read at an offset past the end
        cannot("read", path, error);
    }
    return got;
}

NativeFile create_new_file(const fs::path& path, const std::string& failure) {
    // CREATE_NEW fails for any name that is taken, a link included, so nothing is replaced
    // and nothing is followed.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) fail(failure, GetLastError());
    return native(file);
}

NativeFile create_file_beside(const fs::path& target, fs::path& made) {
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kNameAttempts && name_taken(error); ++attempt) {
        const fs::path name = target.native() + L".tmp-" + random_suffix();
        const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            made = name;
            return native(file);
        }
        error = GetLastError();
    }
    cannot("write", target, error);
}

fs::path make_directory_named(const fs::path& prefix) {
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < kNameAttempts && name_taken(error); ++attempt) {
        const fs::path name = prefix.native() + random_suffix();
        if (CreateDirectoryW(name.c_str(), nullptr)) return name;
        error = GetLastError();
    }
    fail("cannot make a working directory '" + utf8_of(prefix) + "XXXXXX'", error);
}

void write_all(NativeFile file, const void* data, std::size_t count, const fs::path& path) {
    const char* bytes = static_cast<const char*>(data);
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(handle(file), bytes, static_cast<DWORD>(std::min(count, kLargestTransfer)), &written, nullptr)) {
            cannot("write", path, GetLastError());
        }
        bytes += written;
        count -= written;
    }
}

void close_file(NativeFile file, const fs::path& path) {
    if (!CloseHandle(handle(file))) cannot("write", path, GetLastError());
}

void close_quietly(NativeFile file) { CloseHandle(handle(file)); }

// Windows files have no mode bits: a new file is as its directory's permissions make it.
void give_usual_mode(NativeFile, bool, const fs::path&) {}

void give_usual_directory_mode(const fs::path&) {}

void rename_file_over(const fs::path& file, const fs::path& target) {
    if (!MoveFileExW(file.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) cannot("write", target, GetLastError());
}

// MoveFileExW renames a directory only to a name that is free: an empty directory in the way
// is removed first, as rename(2) replaces it, and made again should the rename still fail. A
// directory with anything in it stays, and the rename fails.
void rename_directory(const fs::path& directory, const fs::path& target) {
    if (MoveFileExW(directory.c_str(), target.c_str(), 0)) return;
    DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool directory_in_the_way = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (directory_in_the_way && RemoveDirectoryW(target.c_str())) {
        if (MoveFileExW(directory.c_str(), target.c_str(), 0)) return;
        error = GetLastError();
        CreateDirectoryW(target.c_str(), nullptr);
    } else if (directory_in_the_way) {
        error = GetLastError();
    }
    cannot("write", target, error);
}

void remove_file_quietly(const fs::path& path) { DeleteFileW(path.c_str()); }

std::optional<FileIdentity> identity_of(const fs::path& path) {
    // No access but to its attributes, and a directory opens too (backup semantics).
    const HANDLE file = CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    if (!known) return std::nullopt;
    return FileIdentity{information.dwVolumeSerialNumber,
                        (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow,
                        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
}

// Each directory on the output's absolute path is compared by identity, so a directory
// reached under another name (a drive letter mapped to it, another case) is still found.
bool lies_inside(const fs::path& output, const FileIdentity& directory) {
    std::error_code error;
    fs::path at = fs::absolute(output.parent_path().empty() ? fs::path(L".") : output.parent_path(), error);
    if (error) return false;
    for (;;) {
        const auto here = identity_of(at);
        if (here && *here == directory) return true;
        const fs::path up = at.parent_path();
        if (up == at || up.empty()) return false;
        at = up;
    }
}

fs::path own_executable() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) return {};
        if (length < name.size()) return fs::path(name.substr(0, length));
        name.resize(name.size() * 2);
    }
}

}  // namespace kelvor
