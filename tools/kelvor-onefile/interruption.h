// What an interrupted run leaves behind: nothing. On POSIX, SIGINT, SIGTERM and SIGHUP are
// blocked in every thread of the tool but one, which waits for them (interruption_posix.cpp);
// on Windows a console control handler takes Ctrl-C, Ctrl-Break and a closed console on a
// thread that the system makes for it (interruption_windows.cpp). Either way that thread ends
// the program the tool is running (the signer) and waits for it, closes the files
// being written, removes the temporary files and directories recorded here and ends the tool
// as an interrupted program ends: by the same signal with its default action, or with
// STATUS_CONTROL_C_EXIT. A signal that was ignored when the tool started stays ignored.
#pragma once

#include <filesystem>

#include "native_files.h"

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace kelvor {

#ifdef _WIN32
using ChildProcess = void*;  // a process handle, which the tool owns
#else
using ChildProcess = pid_t;
#endif

// First thing in main(), before any other thread exists: the threads made later (zstd's
// workers) inherit the blocked signals.
void start_interruption_handling();

// Holds the lock that the clean-up takes, for as long as it lives. A temporary is created and
// recorded, or renamed or removed and forgotten, under one TemporariesLock, so an interruption
// finds it either not yet made or recorded, and never removes it twice; a child program is
// started and recorded likewise, and every name made inside a recorded directory is made
// under one, so that the clean-up never removes a directory while something is being made in
// it (which would leave what was made after the listing). A file being written is recorded
// while it is open and written to under one: Windows removes no open file, nor a directory
// that holds one, so the clean-up closes it first, never in the middle of a write. Once the
// clean-up has begun, a new TemporariesLock waits until the tool ends.
class TemporariesLock {
public:
    TemporariesLock();
    ~TemporariesLock();
    TemporariesLock(const TemporariesLock&) = delete;
    TemporariesLock& operator=(const TemporariesLock&) = delete;

    void record(const std::filesystem::path& path);  // a file, or a directory with all in it
    void forget(const std::filesystem::path& path);
    void record_open_file(NativeFile file);
    void forget_open_file(NativeFile file);
    void record_child(ChildProcess child);
    void forget_child();
};

}  // namespace kelvor
