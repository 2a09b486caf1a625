#include "payload/file_writer.h"

#include <windows.h>

#include "bootstrap/run_state.h"
#include "bootstrap/run_timing.h"
#include "files/file_helpers.h"
#include "payload/file_unpacker.h"
#include "payload/payload_failures.h"
#include "text/bounded_text.h"

namespace {

enum class Command { open, write, close };

struct Slot {
    Command command;
    DWORD count;
    wchar_t path[entry_path_units];
    unsigned char data[writer_piece_size];
};

// The ring: the main thread fills slots at `queued`, the writer empties them at `done`. Both
// counts only grow; a slot is free while fewer than writer_slots are between them. Slots live
// in the image's zero-filled data, so the ring costs no allocation and no more memory than the
// pieces in flight touch.
Slot slots[writer_slots];
size_t queued = 0;
size_t done = 0;
SRWLOCK lock = SRWLOCK_INIT;
CONDITION_VARIABLE slot_freed = CONDITION_VARIABLE_INIT;
CONDITION_VARIABLE slot_filled = CONDITION_VARIABLE_INIT;
HANDLE open_file = INVALID_HANDLE_VALUE;

Slot& next_free_slot() {
    AcquireSRWLockExclusive(&lock);
    while (queued - done == writer_slots) SleepConditionVariableSRW(&slot_freed, &lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&lock);
    return slots[queued % writer_slots];
}

void publish(Command command, DWORD count) {
    Slot& slot = slots[queued % writer_slots];
    slot.command = command;
    slot.count = count;
    AcquireSRWLockExclusive(&lock);
    ++queued;
    ReleaseSRWLockExclusive(&lock);
    WakeConditionVariable(&slot_filled);
}

void carry_out(const Slot& slot) {
    const int64_t started = timing_now();
    begin_run_step();
    switch (slot.command) {
        case Command::open:
            ensure_parent_directories(slot.path);
            open_file = open_file_for_writing(slot.path);
            if (open_file == INVALID_HANDLE_VALUE) fail_open_for_writing(slot.path);
            break;
        case Command::write:
            if (!write_to_file(open_file, slot.data, slot.count)) fail_write(GetLastError());
            break;
        case Command::close:
            close_writer_file();
            break;
    }
    end_run_step();
    timing_add(TimedPart::files, started);
}

DWORD WINAPI write_files(void*) {
    for (;;) {
        AcquireSRWLockExclusive(&lock);
        while (queued == done) SleepConditionVariableSRW(&slot_filled, &lock, INFINITE, 0);
        ReleaseSRWLockExclusive(&lock);
        carry_out(slots[done % writer_slots]);
        AcquireSRWLockExclusive(&lock);
        ++done;
        ReleaseSRWLockExclusive(&lock);
        WakeAllConditionVariable(&slot_freed);
    }
}

bool writer_started = false;

// The thread starts with the first file; a run that writes nothing has none.
void start_file_writer() {
    HANDLE thread = CreateThread(nullptr, 0, write_files, nullptr, 0, nullptr);
    if (thread == nullptr) fail_no_memory();
    CloseHandle(thread);
    writer_started = true;
}

}  // namespace

void writer_open(const wchar_t* path) {
    if (!writer_started) start_file_writer();
    copy_wide(next_free_slot().path, path, entry_path_units - 1);
    publish(Command::open, 0);
}

unsigned char* writer_piece_buffer() { return next_free_slot().data; }

void writer_write(size_t count) { publish(Command::write, static_cast<DWORD>(count)); }

void writer_close() {
    next_free_slot();
    publish(Command::close, 0);
}

void close_writer_file() {
    if (open_file == INVALID_HANDLE_VALUE) return;
    close_file(open_file);
    open_file = INVALID_HANDLE_VALUE;
}

void finish_file_writer() {
    AcquireSRWLockExclusive(&lock);
    while (done != queued) SleepConditionVariableSRW(&slot_freed, &lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&lock);
}
