// What an interrupted run leaves behind: nothing. SIGINT, SIGTERM and SIGHUP are blocked in
// every thread of the tool but one, which waits for them. When one comes, that thread passes
// it on to the program the tool is running (the compiler, say) and waits for it to end,
// removes the temporary files and directories recorded here, and ends the tool by the same
// signal with its default action, so that the caller sees the conventional status. A signal
// that was ignored when the tool started stays ignored.
#pragma once

#include <filesystem>
#include <sys/types.h>

namespace kelvor {

// First thing in main(), before any other thread exists: the threads made later (zstd's
// workers) inherit the blocked signals.
void start_interruption_handling();

// Holds the lock that the clean-up takes, for as long as it lives. A temporary is created and
// recorded, or renamed or removed and forgotten, under one TemporariesLock, so an interruption
// finds it either not yet made or recorded, and never removes it twice; a child program is
// started and recorded likewise, and every name made inside a recorded directory is made
// under one, so that the clean-up never removes a directory while something is being made in
// it (which would leave what was made after the listing). Once the clean-up has begun, a new
// TemporariesLock waits until the tool ends.
class TemporariesLock {
public:
    TemporariesLock();
    ~TemporariesLock();
    TemporariesLock(const TemporariesLock&) = delete;
    TemporariesLock& operator=(const TemporariesLock&) = delete;

    void record(const std::filesystem::path& path);  // a file, or a directory with all in it
    void forget(const std::filesystem::path& path);
    void record_child(pid_t child);
    void forget_child();
};

}  // namespace kelvor
