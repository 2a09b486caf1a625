#include "bootstrap/run_state.h"

wchar_t target_directory[target_directory_capacity + 1];
wchar_t first_entry_path[first_entry_path_capacity + 1];

namespace {

HANDLE child_process = nullptr;
std::atomic<DWORD> child_exit_code{static_cast<DWORD>(STATUS_CONTROL_C_EXIT)};

// Held by the main thread for each step, and by the console handler for good.
SRWLOCK run_steps_lock = SRWLOCK_INIT;

// Guards child_process between the main thread and the console handler's thread. It is held
// only to read or change the handle, never across a wait.
SRWLOCK child_process_lock = SRWLOCK_INIT;

}  // namespace

void store_child_process(HANDLE process) {
    AcquireSRWLockExclusive(&child_process_lock);
    child_process = process;
    ReleaseSRWLockExclusive(&child_process_lock);
}

// Only the main thread changes the handle, so it may read it without the lock.
HANDLE stored_child_process() { return child_process; }

HANDLE release_child_process() {
    AcquireSRWLockExclusive(&child_process_lock);
    HANDLE process = child_process;
    child_process = nullptr;
    ReleaseSRWLockExclusive(&child_process_lock);
    return process;
}

HANDLE duplicate_child_process() {
    HANDLE own = nullptr;
    AcquireSRWLockShared(&child_process_lock);
    if (child_process != nullptr &&
        !DuplicateHandle(GetCurrentProcess(), child_process, GetCurrentProcess(), &own, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        own = nullptr;
    }
    ReleaseSRWLockShared(&child_process_lock);
    return own;
}

void begin_run_step() { AcquireSRWLockExclusive(&run_steps_lock); }

void end_run_step() { ReleaseSRWLockExclusive(&run_steps_lock); }

bool stop_run_steps() {
    HANDLE child = duplicate_child_process();
    if (child != nullptr) CloseHandle(child);
    AcquireSRWLockExclusive(&run_steps_lock);
    return child != nullptr;
}

void record_child_exit_code(DWORD code) { child_exit_code = code; }

DWORD interrupted_run_exit_code() { return child_exit_code; }
