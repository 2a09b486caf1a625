#include "paths/tree_removal.h"

#include <stdint.h>
#include <stdlib.h>

#include "paths/native_files.h"
#include "paths/random_text.h"

// No path is ever resolved here. Each directory is opened once, relative to the handle of the
// one above it, and entered only when that handle shows a real directory with the file id the
// listing gave: a name swapped for a link or for another folder after the listing leads
// nowhere. Every entry is opened, and deleted, through the handle of the directory that was
// listed. On Windows that is the whole story.
//
// Under Wine (8, measured) the handles are not the whole story, and the walk does three things
// more:
// - Wine deletes and renames by the Unix path a handle was opened by: at the last close it
//   checks that the path still leads to the file and then unlinks the path, and a rename moves
//   whatever two paths lead to when it happens. A process that swaps a folder's name for a link
//   as fast as it can wins those windows. So before the walk works in a folder it moves the
//   folder, through its handle, to a fresh name in the folder above that nobody can know in
//   advance, and goes on only when the folder at that name is the one it holds: from then on
//   every path Wine uses runs through names only the walk knows (the top keeps the shape of
//   its name, so that a leftover is still known as one).
// - A Unix link to a file is listed as a plain file and opens as the file it points to, and a
//   delete disposition on that handle deletes that file. So a file is deleted through its
//   handle only when the name the system knows for the handle is the listed directory's name
//   and the listed name; otherwise (a link) a file of the walk's own, the carrier, made there
//   under a name nobody can know, is renamed over the name (a rename replaces the link itself)
//   and only the carrier is deleted.
// - Wine keeps no name, and so deletes nothing, for a Unix path of more than 4,095 bytes. A
//   folder whose name the system cannot tell, below one whose name it can, is left unentered.
// Wine also resolves a file's whole path, link by link, on every open: there each open costs
// time that grows with the square of its depth, which no way of opening avoids.

namespace {

// Each level below the top adds a backslash and at least one character to a path of at most
// 32,767: no tree that Windows can name is deeper.
constexpr size_t deepest_level = 16384;

struct Level {
    HANDLE directory;
    size_t next_pending;  // this level's subdirectories still to visit: offsets into pending
    size_t pending_end;
    bool something_left;  // an entry of this directory stays
};

// The subdirectories listed but not yet visited, for every level on the way down: records of
// four units of file id, one of length and the name, appended as a level is listed and dropped
// when it is done. Grows as needed; a tree's worth at most.
struct PendingNames {
    wchar_t* units;
    size_t size;
    size_t capacity;
};

struct PendingDirectory {
    const wchar_t* name;
    size_t length;
    uint64_t id;
};

constexpr size_t record_header_units = 5;

// The walk's state, shared by one attempt at a time: the clean-up may run on the main thread
// and on the console handler's thread at once.
SRWLOCK walk_lock = SRWLOCK_INIT;
Level levels[deepest_level];
PendingNames pending;
DirectoryListing listing;
VolumePath directory_path;  // the name of the directory being listed
VolumePath entry_path;      // the name of a file opened from it
VolumePath parent_path;     // the name of the folder above one being moved
bool names_usable;          // the top directory's name could be read, so names are checked
ULONGLONG deadline;
bool resisted;  // something stays that a later attempt may remove
bool kept;      // something stays that no attempt will remove

constexpr EntryRequest subdirectory_request{directory_removal_access, share_all, FILE_OPEN, FILE_DIRECTORY_FILE, false,
                                            false};
constexpr EntryRequest file_request{DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, share_all, FILE_OPEN,
                                    FILE_NON_DIRECTORY_FILE, false, false};
constexpr EntryRequest link_request{DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, share_all, FILE_OPEN, 0,
                                    false, false};
constexpr EntryRequest carrier_request{DELETE, share_all, FILE_CREATE, FILE_NON_DIRECTORY_FILE, false, false};
constexpr EntryRequest identity_request{FILE_READ_ATTRIBUTES, share_all, FILE_OPEN, 0, false, false};

// The names the walk gives its carriers and the folders it moves.
constexpr wchar_t fresh_prefix[] = L"kelvor-onefile-removal-";
constexpr size_t fresh_prefix_units = sizeof fresh_prefix / sizeof(wchar_t) - 1;
constexpr size_t random_units = random_text_units - 1;
constexpr size_t fresh_name_units = fresh_prefix_units + 2 * random_units;

bool out_of_time() { return deadline != no_deadline && GetTickCount64() >= deadline; }

bool resist() {
    resisted = true;
    return false;
}

// Something of this directory stays, and a later attempt may remove it.
void leave_for_now(Level& level) {
    level.something_left = true;
    resisted = true;
}

// Something of this directory stays, and no attempt will remove it.
void leave_for_good(Level& level) {
    level.something_left = true;
    kept = true;
}

bool is_gone(LONG status) { return status == status_object_name_not_found || status == status_object_path_not_found; }

bool is_dot_or_dot_dot(const ListedEntry& entry) {
    return entry.name[0] == L'.' && (entry.length == 1 || (entry.length == 2 && entry.name[1] == L'.'));
}

bool push_pending(const ListedEntry& entry) {
    const size_t needed = pending.size + record_header_units + entry.length;
    if (needed > pending.capacity) {
        const size_t capacity = needed > 2 * pending.capacity ? needed : 2 * pending.capacity;
        auto* grown = static_cast<wchar_t*>(realloc(pending.units, capacity * sizeof(wchar_t)));
        if (grown == nullptr) return false;
        pending.units = grown;
        pending.capacity = capacity;
    }
    wchar_t* record = pending.units + pending.size;
    for (int i = 0; i < 4; ++i) record[i] = static_cast<wchar_t>(entry.identity.id >> (16 * i));
    record[4] = static_cast<wchar_t>(entry.length);
    wmemcpy(record + record_header_units, entry.name, entry.length);
    pending.size = needed;
    return true;
}

bool take_pending(Level& level, PendingDirectory* directory) {
    if (level.next_pending == level.pending_end) return false;
    const wchar_t* record = pending.units + level.next_pending;
    directory->id = 0;
    for (int i = 3; i >= 0; --i) directory->id = (directory->id << 16) | static_cast<uint16_t>(record[i]);
    directory->length = static_cast<uint16_t>(record[4]);
    directory->name = record + record_header_units;
    level.next_pending += record_header_units + directory->length;
    return true;
}

// True when the path is the folder's path, a backslash and the name.
bool is_path_in(const VolumePath& path, const VolumePath& folder, const wchar_t* name, size_t length) {
    const wchar_t* folder_name = folder.info.FileName;
    const bool ends_in_separator = folder.length > 0 && folder_name[folder.length - 1] == L'\\';
    const size_t expected = folder.length + (ends_in_separator ? 0 : 1) + length;
    const wchar_t* text = path.info.FileName;
    return path.length == expected && wmemcmp(text, folder_name, folder.length) == 0 &&
           (ends_in_separator || text[folder.length] == L'\\') && wmemcmp(text + expected - length, name, length) == 0;
}

// Under Wine a link to a file is listed as a plain file and opens as the file it points to:
// only the name the system knows for the handle tells.
bool is_the_listed_entry(HANDLE file, const ListedEntry& entry) {
    if (!names_usable) return true;
    return read_volume_path(file, &entry_path) && is_path_in(entry_path, directory_path, entry.name, entry.length);
}

// Unpredictable random text in place of the last `count` characters of a name (all of it when
// it is shorter), count at most 22.
bool write_random_text(wchar_t* name, size_t length, size_t count) {
    unsigned char bytes[2 * random_byte_count];
    wchar_t text[2 * random_units + 1];
    if (!fill_unpredictable_bytes(bytes, sizeof bytes)) return false;
    encode_random_text(bytes, text);
    encode_random_text(bytes + random_byte_count, text + random_units);
    if (count > length) count = length;
    wmemcpy(name + length - count, text, count);
    return true;
}

bool make_fresh_name(wchar_t* name) {
    wmemcpy(name, fresh_prefix, fresh_prefix_units);
    return write_random_text(name, fresh_name_units, 2 * random_units);
}

enum class Move {
    moved,      // the directory is at the new name
    stayed,     // the rename failed: the directory is where it was (Windows refuses to rename a
                // folder with files open in it)
    contested,  // its name led elsewhere, or something else was moved: the handle must go
};

// Moves the directory open as `directory`, known in `parent` as `name`, to `new_name`.
Move move_out_of_reach(HANDLE parent, HANDLE directory, const wchar_t* name, size_t length, uint64_t id,
                       const wchar_t* new_name, size_t new_length) {
    // Under Wine the rename moves whatever the handle's path leads to when it happens: that
    // path must be the parent's and the name, so that at worst another entry of the parent
    // moves.
    if (names_usable && !(read_volume_path(parent, &parent_path) && read_volume_path(directory, &entry_path) &&
                          is_path_in(entry_path, parent_path, name, length))) {
        return Move::contested;
    }
    if (!rename_entry(directory, parent, new_name, new_length, false)) return Move::stayed;
    LONG status = 0;
    HANDLE moved = open_entry(parent, new_name, new_length, identity_request, nullptr, &status);
    FileIdentity identity;
    const bool same = moved != nullptr && read_identity(moved, &identity) && identity.id == id;
    if (moved != nullptr) CloseHandle(moved);
    return same ? Move::moved : Move::contested;
}

// A new file of the walk's own takes the entry's name, and with it whatever had the name (a
// rename replaces a link itself, never what it points to), and then goes.
bool replace_with_carrier(Level& level, const ListedEntry& entry) {
    wchar_t name[fresh_name_units];
    if (!make_fresh_name(name)) return resist();
    LONG status = 0;
    HANDLE carrier = open_entry(level.directory, name, fresh_name_units, carrier_request, nullptr, &status);
    if (carrier == nullptr) return resist();
    const bool replaced = rename_entry(carrier, level.directory, entry.name, entry.length, true);
    if (!mark_for_deletion(carrier, 0)) resisted = true;
    CloseHandle(carrier);
    return replaced || resist();
}

// The entry, listed as a file. What the listing says of it serves: the handle is not asked.
bool remove_file(Level& level, const ListedEntry& entry) {
    LONG status = 0;
    HANDLE file = open_entry(level.directory, entry.name, entry.length, file_request, nullptr, &status);
    if (file == nullptr) return is_gone(status) || resist();
    if (is_the_listed_entry(file, entry)) {
        const bool marked = mark_for_deletion(file, entry.identity.attributes);
        CloseHandle(file);
        return marked || resist();
    }
    // Wine will not rename over a file that is open: what the link points to is let go first.
    CloseHandle(file);
    return replace_with_carrier(level, entry);
}

// The entry, listed as a link. Only a handle that the system shows to be the link itself is
// given the delete disposition; under Wine the open reaches what a link to a folder points to,
// and the link stays, with the folders that hold it.
bool remove_link(Level& level, const ListedEntry& entry) {
    LONG status = 0;
    HANDLE link = open_entry(level.directory, entry.name, entry.length, link_request, nullptr, &status);
    if (link == nullptr) return is_gone(status) || resist();
    FileIdentity identity;
    bool removed = false;
    if (read_identity(link, &identity) && (identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        removed = mark_for_deletion(link, identity.attributes) || resist();
    } else {
        kept = true;
    }
    CloseHandle(link);
    return removed;
}

void handle_entry(Level& level, const ListedEntry& entry) {
    if (is_dot_or_dot_dot(entry)) return;
    const DWORD attributes = entry.identity.attributes;
    if (is_real_directory(attributes)) {
        if (!push_pending(entry)) leave_for_now(level);
        return;
    }
    const bool removed =
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? remove_link(level, entry) : remove_file(level, entry);
    if (!removed) level.something_left = true;
}

// The name of the directory about to be listed. A folder whose name the system cannot tell,
// below one whose name it could, has a path longer than the system can name; Wine deletes by
// name, so nothing in it could go: it is left unlisted.
bool read_directory_path(Level& level) {
    const bool named = read_volume_path(level.directory, &directory_path);
    if (named || !names_usable) return true;
    leave_for_good(level);
    return false;
}

// Handles the files and links of the directory at this depth and notes its subdirectories.
void list_level(size_t depth) {
    Level& level = levels[depth];
    level.next_pending = pending.size;
    level.pending_end = pending.size;
    level.something_left = false;
    if (!read_directory_path(level)) return;
    start_listing(&listing, level.directory, nullptr);
    ListedEntry entry;
    while (!out_of_time() && next_listed_entry(&listing, &entry)) handle_entry(level, entry);
    if (listing.failed || out_of_time()) leave_for_now(level);
    level.pending_end = pending.size;
}

// The subdirectory listed as this record, if its name still leads to that very directory,
// moved out of reach.
HANDLE open_subdirectory(Level& level, const PendingDirectory& subdirectory) {
    LONG status = 0;
    HANDLE handle = open_entry(level.directory, subdirectory.name, subdirectory.length, subdirectory_request, nullptr,
                               &status);
    if (handle == nullptr) {
        if (!is_gone(status)) leave_for_now(level);
        return nullptr;
    }
    FileIdentity identity;
    wchar_t fresh_name[fresh_name_units];
    if (!read_identity(handle, &identity) || !is_real_directory(identity.attributes) ||
        (subdirectory.id != 0 && identity.id != subdirectory.id) || !make_fresh_name(fresh_name) ||
        move_out_of_reach(level.directory, handle, subdirectory.name, subdirectory.length, identity.id, fresh_name,
                          fresh_name_units) == Move::contested) {
        // A link or another folder took the name after the listing: not entered. The next
        // attempt lists what is there then.
        CloseHandle(handle);
        leave_for_now(level);
        return nullptr;
    }
    // Wine shows a folder without the Unix owner's write access as read-only; nothing in it
    // could be deleted.
    if ((identity.attributes & FILE_ATTRIBUTE_READONLY) != 0) clear_read_only(handle, identity.attributes);
    return handle;
}

// Depth-first, one open handle per level on the way down and no recursion, so depth costs
// no stack.
bool remove_below_and_mark(HANDLE top) {
    size_t depth = 0;
    levels[0].directory = top;
    pending.size = 0;
    list_level(0);
    for (;;) {
        Level& level = levels[depth];
        PendingDirectory next;
        if (!out_of_time() && take_pending(level, &next)) {
            HANDLE subdirectory = open_subdirectory(level, next);
            if (subdirectory == nullptr) continue;
            if (depth + 1 == deepest_level) {
                CloseHandle(subdirectory);
                leave_for_good(level);
                continue;
            }
            levels[++depth].directory = subdirectory;
            list_level(depth);
            continue;
        }
        if (level.next_pending != level.pending_end) leave_for_now(level);
        // A folder is deleted when its handle closes, so the one above can be marked after it.
        const bool removed = !level.something_left && (mark_for_deletion(level.directory, 0) || resist());
        if (depth == 0) return removed;
        CloseHandle(level.directory);
        --depth;
        pending.size = levels[depth].pending_end;
        if (!removed) levels[depth].something_left = true;
    }
}

}  // namespace

TreeRemoval remove_directory_tree(HANDLE directory, HANDLE parent, wchar_t* name, ULONGLONG walk_deadline) {
    AcquireSRWLockExclusive(&walk_lock);
    deadline = walk_deadline;
    resisted = false;
    kept = false;
    TreeRemoval outcome = TreeRemoval::contested;
    names_usable = read_volume_path(directory, &directory_path);
    const size_t length = wcslen(name);
    FileIdentity identity;
    wchar_t new_name[256];
    if (length <= 255 && read_identity(directory, &identity) && is_real_directory(identity.attributes)) {
        // The top keeps the shape of its name: fresh random text in place of its last 11
        // characters, the length of the default template's {RANDOM}.
        wmemcpy(new_name, name, length);
        const Move move = parent == nullptr || !write_random_text(new_name, length, random_units)
                              ? Move::stayed
                              : move_out_of_reach(parent, directory, name, length, identity.id, new_name, length);
        if (move != Move::contested) {
            if ((identity.attributes & FILE_ATTRIBUTE_READONLY) != 0) clear_read_only(directory, identity.attributes);
            const bool removed = remove_below_and_mark(directory);
            outcome = removed ? TreeRemoval::removed : resisted ? TreeRemoval::resisting : TreeRemoval::kept;
            // What stays keeps its name, when nothing else has taken it meanwhile.
            if (move == Move::moved && (removed || !rename_entry(directory, parent, name, length, false))) {
                wmemcpy(name, new_name, length);
            }
        }
    }
    ReleaseSRWLockExclusive(&walk_lock);
    return outcome;
}

TreeRemoval remove_directory_at(const wchar_t* path) {
    constexpr size_t capacity = 32767;
    static_assert(capacity < 65536 / sizeof(wchar_t), "a native path fits a counted string");
    wchar_t native[capacity + 1];
    const wchar_t* name = wcsrchr(path, L'\\');
    if (name == nullptr || wcslen(name + 1) > 255 || !native_path(path, native, capacity)) return TreeRemoval::resisting;
    wchar_t current_name[256];
    wcscpy(current_name, name + 1);
    const size_t length = wcslen(native);
    LONG status = 0;
    constexpr EntryRequest parent_request{FILE_LIST_DIRECTORY | FILE_TRAVERSE, share_all, FILE_OPEN,
                                          FILE_DIRECTORY_FILE, true, false};
    HANDLE parent = open_entry(nullptr, native, length - wcslen(current_name) - 1, parent_request, nullptr, &status);
    HANDLE directory = open_entry(nullptr, native, length, subdirectory_request, nullptr, &status);
    TreeRemoval outcome = is_gone(status) ? TreeRemoval::removed : TreeRemoval::resisting;
    if (directory != nullptr) {
        outcome = remove_directory_tree(directory, parent, current_name);
        CloseHandle(directory);
    }
    if (parent != nullptr) CloseHandle(parent);
    return outcome;
}
