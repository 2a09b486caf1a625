#include "payload/file_unpacker.h"

#include <windows.h>

#include <stdlib.h>

#include "bootstrap/run_state.h"
#include "bootstrap/run_timing.h"
#include "files/file_helpers.h"
#include "path_template/path_template.h"
#include "payload/entry_name_rules.h"
#include "payload/payload_failures.h"
#include "payload/payload_format.h"
#include "payload/payload_stream.h"
#include "text/bounded_text.h"

wchar_t entry_name[entry_name_units];
wchar_t entry_path[entry_path_units];
wchar_t* created_directories[created_directory_slots];
int32_t created_directory_count = 0;

namespace {

constexpr size_t path_capacity = entry_path_units - 1;
constexpr size_t home_capacity = 4096;

// The directory that entries are unpacked into, as the driver gave it.
const wchar_t* unpack_directory = L"";

// A copy that cannot be made is simply not remembered; the directory still exists.
void remember_directory(const wchar_t* directory) {
    if (created_directory_count >= static_cast<int32_t>(created_directory_slots)) return;
    wchar_t* copy = _wcsdup(directory);
    if (copy != nullptr) created_directories[created_directory_count++] = copy;
}

bool is_remembered(const wchar_t* directory) {
    for (int32_t i = 0; i < created_directory_count; ++i) {
        if (wcscmp(created_directories[i], directory) == 0) return true;
    }
    return false;
}

// The home directory is never created: it counts as existing.
void remember_home_directory() {
    wchar_t home[home_capacity + 1];
    if (!expand_path_template(home, L"{HOME}", home_capacity)) fail_home_expansion();
    if (!is_remembered(home)) remember_directory(home);
}

// Only a directory above the unpack directory can be the home directory: every other one the
// walk meets lies inside it.
bool holds_unpack_directory(const wchar_t* directory) {
    const size_t length = wcslen(directory);
    return wcsncmp(unpack_directory, directory, length) == 0 && unpack_directory[length] == L'\\';
}

}  // namespace

bool read_entry_name() {
    static_assert(entry_name_units == payload_format::name_buffer_units, "the name buffer is the format's");
    size_t length = 0;
    for (;; ++length) {
        if (length == entry_name_units) fail_decode();
        wchar_t unit = 0;
        payload_read(&unit, sizeof unit);
        entry_name[length] = unit;
        if (unit == L'\0') break;
    }
    if (length == 0) return false;
    // The packer writes no other name: one that could lead out of the target directory, or
    // into a device, can only be damage, which the frame's checksum would show only at its end.
    if (entry_name_rules::check_name(entry_name, length) != entry_name_rules::Fault::none) fail_decode();
    return true;
}

void set_unpack_directory(const wchar_t* directory) { unpack_directory = directory; }

void build_entry_path() {
    copy_wide(entry_path, unpack_directory, path_capacity);
    append_wide_char(entry_path, L'\\', path_capacity);
    append_wide(entry_path, entry_name, path_capacity);
}

void unpack_entry() {
    uint64_t remaining = 0;
    payload_read(&remaining, payload_format::size_field_size);
    writer_open(entry_path);
    while (remaining > 0) {
        const DWORD piece = remaining < write_piece_size ? static_cast<DWORD>(remaining) : write_piece_size;
        // Decoded straight into the slot that the writer takes it from.
        payload_read(writer_piece_buffer(), piece);
        writer_write(piece);
        remaining -= piece;
    }
    writer_close();
}

void finish_unpacking() { finish_file_writer(); }

void close_unpacked_file() { close_writer_file(); }

void count_directory_as_existing(const wchar_t* directory) {
    if (!is_remembered(directory)) remember_directory(directory);
}

void ensure_parent_directories(const wchar_t* path) {
    wchar_t parent[entry_path_units];
    copy_wide(parent, path, path_capacity);
    size_t cut = wcslen(parent);
    if (cut == 0) return;
    // The first code unit is never looked at.
    while (--cut > 0 && parent[cut] != L'\\') {
    }
    if (cut == 0) return;
    parent[cut] = L'\0';
    if (create_directory_once(parent)) return;
    ensure_parent_directories(parent);
    // If it is still missing, opening the entry's file fails and says so.
    create_directory_once(parent);
}

bool create_directory_once(const wchar_t* directory) {
    // The home directory is looked up (which loads the shell) only when the walk reaches a
    // directory above the unpack directory, which it does only when one of them is missing.
    if (holds_unpack_directory(directory)) remember_home_directory();
    if (is_remembered(directory)) return true;
    if (wcslen(directory) == 2 && directory[1] == L':') return true;
    if (!create_private_directory(directory) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    remember_directory(directory);
    return true;
}
