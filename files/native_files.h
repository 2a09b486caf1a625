// Files through the system's native calls, by name relative to a directory the caller holds
// open: an entry is opened, created, listed, renamed and deleted in the directory that was
// opened, so a name changed on the way to it afterwards is never followed. ntdll's calls are
// looked up on first use (ntdll is in every process, so this costs no import).
//
// What Wine 8 does differently (measured): opening an entry that is a Unix symbolic link opens
// what it points to, even where the entry itself is asked for; a rename through a handle acts
// on the paths the handles were opened by, not on the handles; a delete disposition, at the
// last close, checks that the path the file was opened by still leads to that very file and
// then unlinks the path (a swap between the two wins), and does nothing for a file whose Unix
// path is longer than 4,095 bytes (Wine keeps no path for it); and every open resolves the
// file's whole Unix path, link by link.
#pragma once

#include <windows.h>

#include <stdint.h>

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A run holds the folders it made open while it lives: without delete or write access, so that
// whoever else opens them (to list them, to watch them) need not share anything but reading.
// Its target directory it holds without sharing write access as well: nobody else can then open
// that folder for writing, and that refusal is what tells a starting run that the folder is in
// use (leftover_reclaim.h).
constexpr DWORD holding_access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;
constexpr DWORD in_use_share = FILE_SHARE_READ | FILE_SHARE_DELETE;
constexpr DWORD refused_while_in_use = FILE_ADD_FILE;

// A directory that is listed, emptied and removed through its handle.
constexpr DWORD directory_removal_access = DELETE | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                                           FILE_WRITE_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

struct EntryRequest {
    DWORD access;
    DWORD share;
    ULONG disposition;  // FILE_OPEN, FILE_CREATE or FILE_OPEN_IF
    ULONG options;      // FILE_DIRECTORY_FILE, FILE_NON_DIRECTORY_FILE or 0
    bool follow_link;   // false: the entry itself, never what a link there points to (Wine: see above)
    bool inheritable;   // the handle goes to the processes this one starts
};

// Opens or creates the entry of that name (length units, no terminator needed) in the open
// directory; with a null directory the name is a full path in the system's "\??\" form, and
// an empty name opens the directory itself anew, whatever its name is now. A new
// entry gets the descriptor (or its folder's inherited security when null). Null when it
// fails, with the system's status; *created tells whether FILE_OPEN_IF made it.
HANDLE open_entry(HANDLE directory, const wchar_t* name, size_t length, const EntryRequest& request,
                  SECURITY_DESCRIPTOR* descriptor, LONG* status, bool* created = nullptr);

// "\??\" and the path in its long form (C:\x, \\server\share\x, \\?\C:\x, \\.\C:\x). False
// when it does not fit the capacity.
bool native_path(const wchar_t* path, wchar_t* native, size_t capacity);

// What the file system says about a file, through its handle or in a listing.
struct FileIdentity {
    uint64_t id;  // the file's number on its volume (Wine: the Unix inode); 0 when unknown
    DWORD attributes;
};

bool read_identity(HANDLE file, FileIdentity* identity);

bool is_real_directory(DWORD attributes);

// The path of an open file on its volume ("\dir\file"), as the system knows it: the name it
// was opened by (Wine: with every link on the way resolved, so a file opened through a link
// has its target's path). False when the system cannot tell it.
struct VolumePath {
    union {
        FILE_NAME_INFO info;
        unsigned char bytes[sizeof(FILE_NAME_INFO) + sizeof(wchar_t) * 32767];
    };
    size_t length;
};
bool read_volume_path(HANDLE file, VolumePath* path);

// The entries of an open directory, read through its handle in pieces, "." and ".." included.
// A pattern (such as "onefile_*") leaves out the names that do not match it.
struct ListedEntry {
    const wchar_t* name;
    size_t length;
    FileIdentity identity;
};
struct DirectoryListing {
    HANDLE directory;
    const wchar_t* pattern;  // null: every entry
    bool started;
    bool failed;  // the listing ended early, not at its last entry
    size_t next;  // offset of the next entry in the buffer; past the end when a new piece is due
    size_t filled;
    alignas(8) unsigned char buffer[65536];
};
void start_listing(DirectoryListing* listing, HANDLE directory, const wchar_t* pattern);
bool next_listed_entry(DirectoryListing* listing, ListedEntry* entry);

// Marks the open file or folder for deletion when its last handle closes (a folder only when
// it is empty). A read-only one loses that attribute first.
bool mark_for_deletion(HANDLE file, DWORD attributes);

// Clears the read-only attribute through the handle (Wine: gives the Unix owner write access).
bool clear_read_only(HANDLE file, DWORD attributes);

// Gives the open file or folder the name in the open directory; with replace, a file that has
// the name loses it.
bool rename_entry(HANDLE file, HANDLE directory, const wchar_t* name, size_t length, bool replace);

constexpr LONG status_object_name_not_found = static_cast<LONG>(0xC0000034);
constexpr LONG status_object_path_not_found = static_cast<LONG>(0xC000003A);
constexpr LONG status_object_name_collision = static_cast<LONG>(0xC0000035);
constexpr LONG status_sharing_violation = static_cast<LONG>(0xC0000043);
constexpr LONG status_delete_pending = static_cast<LONG>(0xC0000056);
