#include "files/target_directory.h"

#include <windows.h>

#include "bootstrap/run_state.h"
#include "files/native_files.h"
#include "files/owner_only_security.h"
#include "files/tree_removal.h"
#include "payload/file_unpacker.h"
#include "text/bounded_text.h"

namespace {

constexpr int further_deletion_attempts = 20;
constexpr DWORD pause_between_attempts_ms = 100;

// The native form of the target directory: "\??\", then at most 4,096 characters.
constexpr size_t native_capacity = 8 + target_directory_capacity;
// Every folder below the root adds a backslash and a character.
constexpr size_t folder_slots = target_directory_capacity / 2;

// Missing folders above the target: created here and held by this run.
constexpr EntryRequest new_folder_request{holding_access, share_all, FILE_CREATE, FILE_DIRECTORY_FILE, false, false};
// The target: held as in use, and inherited by the child.
constexpr EntryRequest new_target_request{holding_access, in_use_share, FILE_CREATE, FILE_DIRECTORY_FILE, false, true};
// A held folder opened anew for its removal.
constexpr EntryRequest removal_request{directory_removal_access, share_all, FILE_OPEN, FILE_DIRECTORY_FILE, false,
                                       false};
// A folder that was there (or that another run made meanwhile): only passed through. The
// user's own temporary-files folder may be reached through links.
constexpr EntryRequest existing_folder_request{FILE_LIST_DIRECTORY | FILE_TRAVERSE, share_all, FILE_OPEN,
                                               FILE_DIRECTORY_FILE, true, false};

HANDLE target = nullptr;
HANDLE created_folders[folder_slots];
size_t created_folder_count = 0;
SRWLOCK removal_lock = SRWLOCK_INIT;

// Where the names below the root begin: after "\??\C:\" or "\??\UNC\server\share\".
size_t root_length(const wchar_t* native) {
    size_t at = 4;
    int separators = wcsncmp(native + at, L"UNC\\", 4) == 0 ? 3 : 1;
    for (; native[at] != L'\0'; ++at) {
        if (native[at] == L'\\' && --separators == 0) return at + 1;
    }
    return at;
}

// The deepest folder above the target that exists, opened; end is where its name ends.
HANDLE open_existing_ancestor(const wchar_t* native, size_t root, size_t* end) {
    for (size_t at = wcslen(native); at > root;) {
        while (--at > root && native[at] != L'\\') {
        }
        // The root is named with its backslash, every other folder without.
        const size_t length = at > root ? at : root;
        LONG status = 0;
        HANDLE folder = open_entry(nullptr, native, length, existing_folder_request, nullptr, &status);
        if (folder != nullptr) {
            *end = length;
            return folder;
        }
    }
    return nullptr;
}

// The folder of that name in parent: made now, with owner-only security (*made), or passed
// through when another run made it meanwhile. The target is only ever made.
HANDLE make_folder(HANDLE parent, const wchar_t* name, size_t length, bool is_target, bool* made) {
    *made = false;
    SECURITY_ATTRIBUTES* security = owner_only_security();
    if (security == nullptr) return nullptr;
    auto* descriptor = static_cast<SECURITY_DESCRIPTOR*>(security->lpSecurityDescriptor);
    LONG status = 0;
    HANDLE folder =
        open_entry(parent, name, length, is_target ? new_target_request : new_folder_request, descriptor, &status);
    *made = folder != nullptr;
    if (folder != nullptr || is_target || status != status_object_name_collision) return folder;
    return open_entry(parent, name, length, existing_folder_request, nullptr, &status);
}

// Makes each folder from the name at start down to the target, each through the handle of
// the one above; the folders this run made stay open, the others are let go.
void create_below(HANDLE parent, bool parent_held, const wchar_t* native, size_t start) {
    for (;;) {
        size_t end = start;
        while (native[end] != L'\0' && native[end] != L'\\') ++end;
        const bool is_target = native[end] == L'\0';
        bool made = false;
        HANDLE folder = make_folder(parent, native + start, end - start, is_target, &made);
        if (!parent_held) CloseHandle(parent);
        if (folder == nullptr) return;
        if (is_target) {
            target = folder;
            return;
        }
        parent_held = made && created_folder_count < folder_slots;
        if (parent_held) created_folders[created_folder_count++] = folder;
        parent = folder;
        start = end + 1;
    }
}

// The held folder itself, whatever its name is now, with the access its removal needs.
HANDLE reopen_for_removal(HANDLE held) {
    LONG status = 0;
    return open_entry(held, L"", 0, removal_request, nullptr, &status);
}

void close_held(HANDLE handle) {
    if (handle != nullptr) CloseHandle(handle);
}

}  // namespace

void create_target_directory() {
    count_directory_as_existing(target_directory);
    wchar_t native[native_capacity + 1];
    if (!native_path(target_directory, native, native_capacity)) return;
    const size_t root = root_length(native);
    size_t end = 0;
    HANDLE ancestor = open_existing_ancestor(native, root, &end);
    if (ancestor == nullptr) return;
    create_below(ancestor, false, native, end == root ? root : end + 1);
}

void remove_target_directory() {
    AcquireSRWLockExclusive(&removal_lock);
    if (target != nullptr) {
        HANDLE parent = open_target_parent();
        wchar_t name[256];
        const wchar_t* own_name = target_name();
        copy_wide(name, wcslen(own_name) > 255 ? L"" : own_name, 255);
        HANDLE removed = nullptr;
        for (int attempt = 0;; ++attempt) {
            if (removed == nullptr) removed = reopen_for_removal(target);
            const TreeRemoval outcome =
                removed == nullptr ? TreeRemoval::resisting : remove_directory_tree(removed, parent, name);
            if (outcome == TreeRemoval::removed || outcome == TreeRemoval::kept) break;
            if (outcome == TreeRemoval::contested) {
                CloseHandle(removed);
                removed = nullptr;
            }
            if (attempt == further_deletion_attempts) break;
            Sleep(pause_between_attempts_ms);
        }
        close_held(removed);
        close_held(parent);
        close_held(target);
        target = nullptr;
    }
    // Each goes when its handles close, if it is empty by then: deepest first.
    while (created_folder_count > 0) {
        HANDLE folder = created_folders[--created_folder_count];
        HANDLE removed = reopen_for_removal(folder);
        if (removed != nullptr) mark_for_deletion(removed, 0);
        close_held(removed);
        CloseHandle(folder);
    }
    ReleaseSRWLockExclusive(&removal_lock);
}

const wchar_t* target_name() {
    const wchar_t* last = wcsrchr(target_directory, L'\\');
    return last == nullptr ? target_directory : last + 1;
}

HANDLE open_target_parent() {
    wchar_t native[native_capacity + 1];
    if (!native_path(target_directory, native, native_capacity)) return nullptr;
    const size_t root = root_length(native);
    size_t length = wcslen(native) - wcslen(target_name());
    // The root is named with its backslash, every other folder without.
    if (length > root) --length;
    LONG status = 0;
    return open_entry(nullptr, native, length, existing_folder_request, nullptr, &status);
}
