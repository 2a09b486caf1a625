// Removing a directory with everything below it, and never anything outside it, whatever
// another process does to the names meanwhile: the walk goes from handle to handle, opening,
// listing and deleting each entry relative to the directory it holds open, so its cost is
// linear in the entries at any depth (tree_removal.cpp says what more it does under Wine).
// Used for the target directory at the end of a parent run and for leftovers of killed runs.
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
    contested,  // nothing was done: the directory's name led elsewhere when it was to be moved
                // (Wine), and the handle may now name something else; open it anew to try again
};

constexpr ULONGLONG no_deadline = ~0ull;

// One attempt on the directory open as `directory`: a real directory the caller has made sure
// of, opened with directory_removal_access (native_files.h), whose name in the folder open as
// `parent` is `name` (a null parent: the directory is not moved; see tree_removal.cpp). First
// the directory is moved to the same name with fresh random text at its end, which `name` then
// holds (at most 255 characters). Below it, links
// are removed as links or kept, never entered; read-only files and folders are removed too.
// Stops at the deadline (GetTickCount64) and then says resisting. Nothing is reported. The
// handles stay the caller's; keep `directory` for a later attempt unless the result is
// contested. Safe to call from two threads: the attempts take turns.
TreeRemoval remove_directory_tree(HANDLE directory, HANDLE parent, wchar_t* name, ULONGLONG deadline = no_deadline);

// One attempt on the directory at the path (absolute), opened as itself (where the system
// allows: Wine opens what a link to a folder points to, and the attempt then finds a folder
// that is not the one listed and says contested), with the folder above it opened by its path.
// For tools and benchmarks; the launcher keeps its handles from the directory's creation on.
TreeRemoval remove_directory_at(const wchar_t* path);
