#include "paths/tree_removal.h"

#include <windows.h>

#include "paths/bounded_text.h"

// Why no file is deleted by its name here. Under Wine a Unix symbolic link looks like what it
// points to: a link to a file is listed as a plain file, and deleting it (DeleteFileW, or a
// delete disposition) deletes the file it points to; RemoveDirectoryW on a link to an empty
// directory removes that directory. So a file of the walk's own, the carrier, is renamed over
// each file in turn, through the handle that created it: a rename replaces the name itself,
// link or not, and only the carrier is ever deleted, through that same handle. A link that the
// system does report as one (a directory link under Wine, any link on Windows) is removed only
// through a handle that the system confirms is the link itself; where the system opens what it
// points to instead (Wine), the link stays, with the directories that hold it.

namespace {

// The longest path that Windows accepts in the "\\?\" form.
constexpr size_t long_path_capacity = 32767;
// Each level below the top adds a backslash and at least one character.
constexpr size_t deepest_level = long_path_capacity / 2;

struct Level {
    HANDLE search;       // the directory's listing, read one entry at a time
    bool entry_pending;  // the listing's first entry has not been handled yet
    size_t length;       // the directory's own length in path
    bool something_left; // an entry of this directory stays
};

// The walk's state, shared by one attempt at a time: the clean-up may run on the main thread
// and on the console handler's thread at once.
SRWLOCK walk_lock = SRWLOCK_INIT;
wchar_t path[long_path_capacity + 1];
Level levels[deepest_level + 1];
WIN32_FIND_DATAW found;
struct Carrier {
    HANDLE file;   // INVALID_HANDLE_VALUE when there is none
    size_t level;  // the level whose directory holds it
    // The rename request. Its name, in the system's own form ("\??\..."), is the carrier's
    // name from the moment the carrier is made.
    union {
        FILE_RENAME_INFO request;
        unsigned char bytes[sizeof(FILE_RENAME_INFO) + sizeof(wchar_t) * (long_path_capacity + 1)];
    } rename;
};
Carrier carrier;
bool resisted;  // something stays that a later attempt may remove

constexpr DWORD settable_attributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY |
                                      FILE_ATTRIBUTE_OFFLINE;

bool starts_with(const wchar_t* text, const wchar_t* prefix) { return wcsncmp(text, prefix, wcslen(prefix)) == 0; }

// The "\\?\" form names every file exactly as it is on disk, of any length.
void set_long_form(const wchar_t* directory) {
    path[0] = L'\0';
    if (starts_with(directory, L"\\\\?\\")) {
        append_wide(path, directory, long_path_capacity);
    } else if (starts_with(directory, L"\\\\.\\")) {
        append_wide(path, L"\\\\?\\", long_path_capacity);
        append_wide(path, directory + 4, long_path_capacity);
    } else if (starts_with(directory, L"\\\\")) {
        append_wide(path, L"\\\\?\\UNC\\", long_path_capacity);
        append_wide(path, directory + 2, long_path_capacity);
    } else {
        append_wide(path, L"\\\\?\\", long_path_capacity);
        append_wide(path, directory, long_path_capacity);
    }
}

// Parent, one backslash, name: the only way a path is made here. False, changing nothing,
// when the result could not be named.
bool extend(wchar_t* text, size_t length, const wchar_t* name) {
    if (length + 1 + wcslen(name) > long_path_capacity) return false;
    text[length] = L'\0';
    append_wide_char(text, L'\\', long_path_capacity);
    append_wide(text, name, long_path_capacity);
    return true;
}

void clear_read_only(DWORD attributes) {
    const DWORD kept = attributes & settable_attributes;
    SetFileAttributesW(path, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
}

bool dispose(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// The name in the rename request: the given one in the system's own "\??\" form (its "\\?\"
// form with one character changed).
void set_request_name(const wchar_t* name) {
    FILE_RENAME_INFO& request = carrier.rename.request;
    const size_t length = wcslen(name);
    request.FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
    wmemcpy(request.FileName, name, length + 1);
    request.FileName[1] = L'?';
}

bool is_carrier_name() {
    return carrier.file != INVALID_HANDLE_VALUE && wcscmp(path + 2, carrier.rename.request.FileName + 2) == 0;
}

// A new file in the directory of the given level, named so as to clash with nothing there.
bool make_carrier(size_t level) {
    wchar_t name_path[long_path_capacity + 1];
    wmemcpy(name_path, path, levels[level].length);
    for (int number = 0; number < 100; ++number) {
        wchar_t name[64];
        format_wide(name, 64, L"kelvor-onefile-removal-%d.tmp", number);
        if (!extend(name_path, levels[level].length, name)) return false;
        // CREATE_NEW makes a new file or fails; it never opens what a name already holds.
        carrier.file = CreateFileW(name_path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (carrier.file != INVALID_HANDLE_VALUE) {
            carrier.level = level;
            set_request_name(name_path);
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

void drop_carrier() {
    if (carrier.file == INVALID_HANDLE_VALUE) return;
    if (!dispose(carrier.file)) resisted = true;
    CloseHandle(carrier.file);
    carrier.file = INVALID_HANDLE_VALUE;
}

// The carrier takes the name at path.
bool move_carrier_over(size_t level) {
    FILE_RENAME_INFO& request = carrier.rename.request;
    set_request_name(path);
    request.ReplaceIfExists = TRUE;
    request.RootDirectory = nullptr;
    if (!SetFileInformationByHandle(carrier.file, FileRenameInfo, &request,
                                    static_cast<DWORD>(sizeof request + request.FileNameLength))) {
        return false;
    }
    carrier.level = level;
    return true;
}

// The entry at path, listed as a file: the carrier takes its name, and with it the file (or
// the link) that had it.
bool remove_file(DWORD attributes, size_t level) {
    if (carrier.file == INVALID_HANDLE_VALUE && !make_carrier(level)) {
        resisted = true;
        return false;
    }
    if (is_carrier_name() || move_carrier_over(level)) return true;
    // Windows refuses to replace a read-only file; Wine never does, so the attribute of a
    // file behind a link is never touched.
    if (GetLastError() == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        clear_read_only(attributes);
        if (move_carrier_over(level)) return true;
    }
    resisted = true;
    return false;
}

// The entry at path, listed as a link. Only a handle that is the link itself is given the
// delete disposition.
bool remove_link() {
    HANDLE link = CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    // Under Wine the open reaches what the link points to, and may be refused for that
    // reason (a directory held open without shared deletion): either way the link stays.
    if (link == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information;
    bool removed = false;
    if (GetFileInformationByHandle(link, &information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        removed = dispose(link);
        if (!removed && (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
            FILE_BASIC_INFO basic{};
            const DWORD kept = information.dwFileAttributes & settable_attributes;
            basic.FileAttributes = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
            removed = SetFileInformationByHandle(link, FileBasicInfo, &basic, sizeof basic) && dispose(link);
        }
        if (!removed) resisted = true;
    }
    CloseHandle(link);
    return removed;
}

// Starts reading the directory at path.
void open_level(size_t level) {
    Level& opened = levels[level];
    opened.length = wcslen(path);
    opened.something_left = false;
    opened.search = INVALID_HANDLE_VALUE;
    opened.entry_pending = false;
    if (!extend(path, opened.length, L"*")) {
        opened.something_left = true;
        return;
    }
    opened.search =
        FindFirstFileExW(path, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    const DWORD error = GetLastError();
    path[opened.length] = L'\0';
    opened.entry_pending = opened.search != INVALID_HANDLE_VALUE;
    if (!opened.entry_pending && error != ERROR_FILE_NOT_FOUND) {
        opened.something_left = true;
        resisted = true;
    }
}

bool next_entry(Level& level) {
    if (level.entry_pending) {
        level.entry_pending = false;
        return true;
    }
    return level.search != INVALID_HANDLE_VALUE && FindNextFileW(level.search, &found);
}

bool is_dot_or_dot_dot(const wchar_t* name) {
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

// The directory at path, now as empty as this attempt could make it.
bool remove_emptied_directory(const Level& level) {
    if (RemoveDirectoryW(path)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            clear_read_only(attributes);
            if (RemoveDirectoryW(path)) return true;
        }
    }
    // With nothing kept below it, whatever stands in the way (a file created meanwhile, a
    // directory held open) may be gone next time.
    if (!level.something_left) resisted = true;
    return false;
}

// Handles the entry just listed at the given level; true when the walk goes down into it.
bool handle_entry(size_t level) {
    Level& current = levels[level];
    if (is_dot_or_dot_dot(found.cFileName)) return false;
    if (!extend(path, current.length, found.cFileName)) {
        // Too long for Windows to name: no attempt can reach it.
        current.something_left = true;
        return false;
    }
    const DWORD attributes = found.dwFileAttributes;
    const bool is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !is_link && level < deepest_level) return true;
    if (!(is_link ? remove_link() : remove_file(attributes, level))) current.something_left = true;
    path[current.length] = L'\0';
    return false;
}

// Removes everything below the real directory at path, bottom-up, then the directory; true
// when it is gone. Depth-first with one listing open per level, so a deep tree costs no
// recursion.
bool remove_real_directory() {
    size_t level = 0;
    open_level(level);
    for (;;) {
        Level& current = levels[level];
        if (next_entry(current)) {
            if (handle_entry(level)) open_level(++level);
            continue;
        }
        if (current.search != INVALID_HANDLE_VALUE) FindClose(current.search);
        if (carrier.level == level) drop_carrier();
        const bool removed = remove_emptied_directory(current);
        if (level == 0) return removed;
        --level;
        path[levels[level].length] = L'\0';
        if (!removed) levels[level].something_left = true;
    }
}

TreeRemoval remove_once(const wchar_t* directory) {
    set_long_form(directory);
    carrier.file = INVALID_HANDLE_VALUE;
    resisted = false;
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TreeRemoval::removed
                                                                               : TreeRemoval::resisting;
    }
    // Something else has taken the name: not a directory this run made.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return TreeRemoval::removed;
    const bool removed =
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? remove_link() : remove_real_directory();
    if (removed) return TreeRemoval::removed;
    return resisted ? TreeRemoval::resisting : TreeRemoval::links_kept;
}

}  // namespace

TreeRemoval remove_directory_tree(const wchar_t* directory) {
    AcquireSRWLockExclusive(&walk_lock);
    const TreeRemoval outcome = remove_once(directory);
    ReleaseSRWLockExclusive(&walk_lock);
    return outcome;
}
