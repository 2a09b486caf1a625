// Removing a directory with everything below it, and never anything outside it, whatever
// another process does to the names meanwhile: the walk goes from handle to handle, opening,
// listing and deleting each entry relative to the directory it holds open, so its cost is
// linear in the entries at any depth (on Windows; see tree_removal.cpp for Wine). Used for the
// target directory at the end of a parent run and for leftovers of killed runs.
#pragma once

#include <windows.h>

enum class TreeRemoval {
    removed,    // everything below is gone and the directory is marked for deletion: it goes
                // when the caller closes its handle
    resisting,  // something stays that a later attempt may remove (a file held open, a name
                // swapped meanwhile, the deadline passed)
    kept,       // only what no attempt can remove stays (under Wine: links to folders, which
                // cannot be removed without following them, and folders too deep for Wine to
                // name), with the folders that hold it
};

constexpr ULONGLONG no_deadline = ~0ull;

// One attempt on the directory open as `directory`: a real directory the caller has made sure
// of, opened with directory_removal_access (native_files.h). Below it, links are removed as
// links or kept, never entered; read-only files and folders are removed too. Stops at the
// deadline (GetTickCount64) and then says resisting. Nothing is reported. The handle stays the
// caller's. Safe to call from two threads: the attempts take turns.
TreeRemoval remove_directory_tree(HANDLE directory, ULONGLONG deadline = no_deadline);

// The directory at the path (absolute), opened for remove_directory_tree: the directory
// itself, never what a link in its place points to. Null when there is no real directory
// there (under Wine a link to a folder opens as that folder and is refused only where Wine
// shows it as a link).
HANDLE open_directory_for_removal(const wchar_t* path);
