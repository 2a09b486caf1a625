#include "files/tree_removal.h"

#include <stdint.h>
#include <stdlib.h>

#include <initializer_list>

#include "files/native_files.h"
#include "path_template/random_text.h"

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
//   folder, through its handle, to a fresh name nobody can know in advance, and goes on only
//   when the folder at that name is the one it holds: the top within the folder above it, under
//   its own name with fresh random text at the end (a leftover is still known as one), every
//   other folder into the top itself. From then on every path Wine uses runs through names only
//   the walk knows, and none is more than two folders below the top, however deep the tree:
//   Wine's cost of an open stays the same at every depth.
// - A Unix link to a file is listed as a plain file and opens as the file it points to, and a
//   delete disposition on that handle deletes that file. So a file is deleted through its
//   handle only when the name the system knows for the handle is the listed directory's name
//   and the listed name; otherwise (a link) a file of the walk's own, the carrier, made there
//   under a name nobody can know, is renamed over the name (a rename replaces the link itself)
//   and only the carrier is deleted.
// - A folder whose name the system cannot tell, below one whose name it can, is left unentered:
//   Wine deletes by name and keeps none for a Unix path of more than 4,095 bytes (where a folder
//   could not be moved up).
// (Wine resolves a file's whole Unix path, link by link, on every open, at a cost that grows
// with the square of the path's depth, and keeps no path longer than 4,095 bytes.)

namespace {

// Each level below the top adds a backslash and at least one character to a path of at most
// 32,767: no tree that Windows can name is deeper.
constexpr size_t deepest_level = 16384;

struct Level {
    HANDLE directory;
    size_t next_pending;  // this level's subdirectories still to visit: offsets into pending
    size_t pending_end;
    size_t path_begin;    // its path on its volume: an offset into paths
    size_t path_length;
    bool something_left;  // an entry of this directory stays
};

// Wide text kept as a stack that grows as needed: the subdirectories listed but not yet
// visited (records of four units of file id, one of length and the name) and the paths of the
// directories open on the way down, each pushed when a level is entered and dropped when it is
// done. A tree's worth at most.
struct WideStack {
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
WideStack pending;
WideStack paths;
DirectoryListing listing;
VolumePath entry_path;   // the path of an entry just opened
VolumePath parent_path;  // the path of the folder above the top
bool names_usable;       // the top directory's path could be read, so paths are checked
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
constexpr EntryRequest bucket_request{directory_removal_access, share_all, FILE_CREATE, FILE_DIRECTORY_FILE, false,
                                      false};

// Folders moved up wait in buckets: fresh folders in the top, one for every 64 levels of depth,
// made when the walk first goes that deep and removed at its end. A bucket holds only the
// folders open on the way down in its band of levels, so none grows large (Wine looks through
// a whole folder for every new name in it).
constexpr size_t levels_per_bucket = 64;
struct Bucket {
    HANDLE folder;
    wchar_t name[64];
};
Bucket buckets[deepest_level / levels_per_bucket + 1];
size_t bucket_count;

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

// Room for `more` units on the stack; false when the heap has none.
bool make_room(WideStack& stack, size_t more) {
    const size_t needed = stack.size + more;
    if (needed <= stack.capacity) return true;
    const size_t capacity = needed > 2 * stack.capacity ? needed : 2 * stack.capacity;
    auto* grown = static_cast<wchar_t*>(realloc(stack.units, capacity * sizeof(wchar_t)));
    if (grown == nullptr) return false;
    stack.units = grown;
    stack.capacity = capacity;
    return true;
}

bool push_pending(const ListedEntry& entry) {
    if (entry.length > 0xFFFF || !make_room(pending, record_header_units + entry.length)) return false;
    wchar_t* record = pending.units + pending.size;
    for (int i = 0; i < 4; ++i) record[i] = static_cast<wchar_t>(entry.identity.id >> (16 * i));
    record[4] = static_cast<wchar_t>(entry.length);
    wmemcpy(record + record_header_units, entry.name, entry.length);
    pending.size += record_header_units + entry.length;
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

// A path given as text and length.
struct Path {
    const wchar_t* text;
    size_t length;
};

Path path_of(const Level& level) { return {paths.units + level.path_begin, level.path_length}; }
Path path_of(const VolumePath& path) { return {path.info.FileName, path.length}; }

bool ends_in_separator(Path folder) { return folder.length > 0 && folder.text[folder.length - 1] == L'\\'; }

// True when the path is the folder's, a backslash and the name.
bool is_path_in(Path path, Path folder, const wchar_t* name, size_t length) {
    const size_t expected = folder.length + (ends_in_separator(folder) ? 0 : 1) + length;
    return path.length == expected && wmemcmp(path.text, folder.text, folder.length) == 0 &&
           (ends_in_separator(folder) || path.text[folder.length] == L'\\') &&
           wmemcmp(path.text + expected - length, name, length) == 0;
}

// Pushes the folder's path joined with each name, a backslash between, as the level's path.
bool push_path(Level& level, Path folder, std::initializer_list<Path> names) {
    size_t joined = folder.length;
    for (const Path& name : names) joined += 1 + name.length;
    // The folder's text may lie in the stack itself, which make_room may move.
    const auto at_text = reinterpret_cast<uintptr_t>(folder.text);
    const auto at_stack = reinterpret_cast<uintptr_t>(paths.units);
    const bool in_stack = paths.units != nullptr && at_text >= at_stack && at_text < at_stack + paths.size * sizeof(wchar_t);
    const size_t offset = in_stack ? (at_text - at_stack) / sizeof(wchar_t) : 0;
    if (!make_room(paths, joined)) return false;
    wchar_t* path = paths.units + paths.size;
    wmemmove(path, in_stack ? paths.units + offset : folder.text, folder.length);
    size_t at = folder.length;
    for (const Path& name : names) {
        if (at == 0 || path[at - 1] != L'\\') path[at++] = L'\\';
        wmemcpy(path + at, name.text, name.length);
        at += name.length;
    }
    level.path_begin = paths.size;
    level.path_length = at;
    paths.size += at;
    return true;
}

// Under Wine a link to a file is listed as a plain file and opens as the file it points to:
// only the path the system knows for the handle tells.
bool is_the_listed_entry(HANDLE file, const Level& level, const ListedEntry& entry) {
    if (!names_usable) return true;
    return read_volume_path(file, &entry_path) &&
           is_path_in(path_of(entry_path), path_of(level), entry.name, entry.length);
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
    contested,  // something else was moved: the handle must go
};

// Gives the directory open as `directory` the new name in the folder open as `destination`,
// and tells whether the folder now at that name is the one held. Under Wine the rename moves
// whatever the handle's path leads to when it happens: the caller has made sure that path is
// the folder above and the directory's name, so that at worst another entry of that folder
// moves.
Move move_out_of_reach(HANDLE directory, uint64_t id, HANDLE destination, const wchar_t* new_name, size_t length) {
    if (!rename_entry(directory, destination, new_name, length, false)) return Move::stayed;
    LONG status = 0;
    HANDLE moved = open_entry(destination, new_name, length, identity_request, nullptr, &status);
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
    if (is_the_listed_entry(file, level, entry)) {
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

// Handles the files and links of the directory at this depth, whose path is already pushed,
// and notes its subdirectories.
void list_level(Level& level) {
    level.next_pending = pending.size;
    level.something_left = false;
    start_listing(&listing, level.directory, nullptr);
    ListedEntry entry;
    while (!out_of_time() && next_listed_entry(&listing, &entry)) handle_entry(level, entry);
    if (listing.failed || out_of_time()) leave_for_now(level);
    level.pending_end = pending.size;
}

// The bucket for the folder at this depth (1 or more), made when first needed; null when it
// cannot be made.
Bucket* bucket_for(size_t depth) {
    const size_t band = (depth - 1) / levels_per_bucket;
    while (bucket_count <= band) {
        Bucket& bucket = buckets[bucket_count];
        LONG status = 0;
        if (!make_fresh_name(bucket.name)) return nullptr;
        bucket.name[fresh_name_units] = L'\0';
        bucket.folder = open_entry(levels[0].directory, bucket.name, fresh_name_units, bucket_request, nullptr, &status);
        if (bucket.folder == nullptr) return nullptr;
        ++bucket_count;
    }
    return &buckets[band];
}

// The buckets go before the top: empty by then, unless something in them stayed.
bool remove_buckets() {
    bool removed = true;
    for (; bucket_count > 0; --bucket_count) {
        HANDLE folder = buckets[bucket_count - 1].folder;
        if (!mark_for_deletion(folder, 0)) removed = resist();
        CloseHandle(folder);
    }
    return removed;
}

// The subdirectory listed as this record, if its name still leads to that very directory,
// moved into its bucket; its path is pushed as the next level's.
HANDLE open_subdirectory(Level& level, const PendingDirectory& subdirectory, Level& next, size_t depth) {
    LONG status = 0;
    HANDLE handle = open_entry(level.directory, subdirectory.name, subdirectory.length, subdirectory_request, nullptr,
                               &status);
    if (handle == nullptr) {
        if (!is_gone(status)) leave_for_now(level);
        return nullptr;
    }
    FileIdentity identity;
    wchar_t fresh_name[fresh_name_units];
    Bucket* bucket = nullptr;
    Move move = Move::contested;
    if (read_identity(handle, &identity) && is_real_directory(identity.attributes) &&
        (subdirectory.id == 0 || identity.id == subdirectory.id)) {
        if (names_usable && !read_volume_path(handle, &entry_path)) {
            // Named above but not here: a path longer than the system can name, and Wine deletes
            // by name, so nothing in it could go.
            CloseHandle(handle);
            leave_for_good(level);
            return nullptr;
        }
        if (!names_usable || is_path_in(path_of(entry_path), path_of(level), subdirectory.name, subdirectory.length)) {
            bucket = bucket_for(depth);
            move = bucket != nullptr && make_fresh_name(fresh_name)
                       ? move_out_of_reach(handle, identity.id, bucket->folder, fresh_name, fresh_name_units)
                       : Move::stayed;
        }
    }
    // A link or another folder took the name after the listing, or something else moved: not
    // entered. The next attempt lists what is there then.
    if (move == Move::contested ||
        !(move == Move::moved
              ? push_path(next, path_of(levels[0]), {{bucket->name, fresh_name_units}, {fresh_name, fresh_name_units}})
              : push_path(next, path_of(level), {{subdirectory.name, subdirectory.length}}))) {
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
bool remove_below_and_mark() {
    size_t depth = 0;
    pending.size = 0;
    bucket_count = 0;
    list_level(levels[0]);
    for (;;) {
        Level& level = levels[depth];
        PendingDirectory next;
        if (!out_of_time() && take_pending(level, &next)) {
            if (depth + 1 == deepest_level) {
                leave_for_good(level);
                continue;
            }
            Level& below = levels[depth + 1];
            below.directory = open_subdirectory(level, next, below, depth + 1);
            if (below.directory == nullptr) {
                paths.size = level.path_begin + level.path_length;
                continue;
            }
            ++depth;
            list_level(below);
            continue;
        }
        if (level.next_pending != level.pending_end) leave_for_now(level);
        if (depth == 0 && !remove_buckets()) level.something_left = true;
        // A folder is deleted when its handle closes, so the one above can be marked after it.
        const bool removed = !level.something_left && (mark_for_deletion(level.directory, 0) || resist());
        if (depth == 0) return removed;
        CloseHandle(level.directory);
        --depth;
        pending.size = levels[depth].pending_end;
        paths.size = levels[depth].path_begin + levels[depth].path_length;
        if (!removed) levels[depth].something_left = true;
    }
}

// Moves the top within the folder above it, under its name with fresh random text in place of
// its last 11 characters (the length of the default template's {RANDOM}), and pushes its path.
// False when the attempt must not go on.
bool place_top(HANDLE top, uint64_t id, HANDLE parent, wchar_t* name, wchar_t* new_name, Move* move) {
    const size_t length = wcslen(name);
    *move = Move::stayed;
    names_usable = read_volume_path(top, &entry_path);
    const bool parent_named = parent != nullptr && read_volume_path(parent, &parent_path);
    if (parent_named && names_usable) {
        if (!is_path_in(path_of(entry_path), path_of(parent_path), name, length)) return false;
        wmemcpy(new_name, name, length + 1);
        if (write_random_text(new_name, length, random_units)) {
            *move = move_out_of_reach(top, id, parent, new_name, length);
        }
    }
    if (*move == Move::contested) return false;
    paths.size = 0;
    if (*move == Move::moved) return push_path(levels[0], path_of(parent_path), {{new_name, length}});
    return push_path(levels[0], names_usable ? path_of(entry_path) : Path{L"", 0}, {});
}

}  // namespace

TreeRemoval remove_directory_tree(HANDLE directory, HANDLE parent, wchar_t* name, ULONGLONG walk_deadline) {
    AcquireSRWLockExclusive(&walk_lock);
    deadline = walk_deadline;
    resisted = false;
    kept = false;
    TreeRemoval outcome = TreeRemoval::contested;
    FileIdentity identity;
    wchar_t new_name[256];
    Move move = Move::stayed;
    if (wcslen(name) <= 255 && read_identity(directory, &identity) && is_real_directory(identity.attributes) &&
        place_top(directory, identity.id, parent, name, new_name, &move)) {
        if ((identity.attributes & FILE_ATTRIBUTE_READONLY) != 0) clear_read_only(directory, identity.attributes);
        levels[0].directory = directory;
        const bool removed = remove_below_and_mark();
        outcome = removed ? TreeRemoval::removed : resisted ? TreeRemoval::resisting : TreeRemoval::kept;
        // What stays keeps its name, when nothing else has taken it meanwhile.
        if (move == Move::moved && (removed || !rename_entry(directory, parent, name, wcslen(name), false))) {
            wcscpy(name, new_name);
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
