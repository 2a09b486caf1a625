// Removing a directory with everything below it, without ever touching anything outside it:
// the walk goes down real directories only, in the "\\?\" form of the path, and never
// follows a link. Used for the target directory at the end of a parent run.
#pragma once

enum class TreeRemoval {
    removed,     // the directory is gone (or was never there)
    resisting,   // something could not be removed now (a file held open); a later try may do it
    links_kept,  // only links that cannot be removed without following them (and the
                 // directories that hold them) are left; no later try will do better
};

// One attempt. The directory must be an absolute path. Links below it are removed as links
// or kept, never entered; a name found on disk is only ever a name below its parent ("S:",
// "..", a trailing dot); read-only files and folders are removed too; paths of any length
// that Windows can name are handled. Nothing is reported. Safe to call from two threads: the
// attempts take turns.
TreeRemoval remove_directory_tree(const wchar_t* directory);
