#include "bootstrap/bootstrap_driver.h"

#include <windows.h>
#include <psapi.h>

#include <errno.h>

#include "bootstrap/application_launch.h"
#include "bootstrap/console_cleanup.h"
#include "bootstrap/error_reporting.h"
#include "bootstrap/messages.h"
#include "bootstrap/run_state.h"
#include "bootstrap/run_timing.h"
#include "files/leftover_reclaim.h"
#include "files/target_directory.h"
#include "path_template/launcher_paths.h"
#include "path_template/path_template.h"
#include "payload/file_unpacker.h"
#include "payload/payload_block.h"
#include "payload/payload_stream.h"
#include "text/bounded_text.h"
#include "text/environment.h"

namespace {

constexpr size_t parent_name_capacity = 2048;

// The file name of the process's main module, or 0. Reading it through the process's memory
// needs more access than a process may have to its own parent (under a debugger, or in a
// sandbox); then the name comes from the system with the least access there is. Without that,
// a child refused the first way would take itself for a parent and start a child of its own,
// which would be refused in turn, without end.
DWORD parent_image_name(unsigned long parent_id, wchar_t* name) {
    HANDLE parent = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, parent_id);
    DWORD length = 0;
    if (parent != nullptr) {
        length = K32GetModuleFileNameExW(parent, nullptr, name, parent_name_capacity);
        CloseHandle(parent);
    }
    if (length != 0) return length;
    parent = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent_id);
    if (parent == nullptr) return 0;
    length = parent_name_capacity;
    if (!QueryFullProcessImageNameW(parent, 0, name, &length)) length = 0;
    CloseHandle(parent);
    return length;
}

// A child run is one whose KELVOR_ONEFILE_PARENT names a process that still exists, may be
// queried, and runs the same executable file, both names in their comparable form. Anything
// short of that (no variable, anything but decimal digits, a number too large, process gone,
// access denied, another program) makes this run a parent.
bool is_child_run() {
    const wchar_t* value = get_env_copy_of_form("KELVOR_ONEFILE_PARENT", is_decimal_number);
    if (value == nullptr) return false;
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long parent_id = wcstoul(value, &end, 10);
    if (errno != 0 || *end != L'\0') return false;
    wchar_t parent_name[parent_name_capacity + 1];
    const DWORD length = parent_image_name(parent_id, parent_name);
    if (length == 0) return false;
    comparable_file_name(parent_name, parent_name_capacity);
    return wcscmp(parent_name, get_launcher_file_name(true)) == 0;
}

// Stale values that an unrelated launcher left in an inherited environment are never reused:
// this run's expansion makes fresh ones, and its children find this run's id.
void prepare_parent_environment() {
    unset_env("KELVOR_ONEFILE_START");
    unset_env("KELVOR_ONEFILE_TIME_US");
    unset_env("KELVOR_ONEFILE_RANDOM");
    set_env_number("KELVOR_ONEFILE_PARENT", static_cast<int32_t>(GetCurrentProcessId()));
}

void find_target_directory(const wchar_t* path_template) {
    const bool expanded = expand_path_template(target_directory, path_template, target_directory_capacity);
    make_absolute_path(target_directory, target_directory_capacity);
    if (!expanded) abort_with_template_message(path_template);
}

// Once the first entry's path is known to fit, before anything is written: the target
// directory is made, and leftovers of killed runs are reclaimed, since they may be what fills
// the disk.
void prepare_target_directory(const wchar_t* path_template) {
    begin_run_step();
    create_target_directory();
    end_run_step();
    reclaim_leftovers(path_template);
}

}  // namespace

int run_bootstrap(int argc, wchar_t** argv, const unsigned char* block, size_t block_size,
                  const wchar_t* path_template) {
    configure_silent_abort();
    timing_event("start");
    // The current directory leaves the DLL search order of this process and its children.
    SetDllDirectoryW(L"");
    const bool child = is_child_run();
    if (!child) {
        keep_original_environment();
        prepare_parent_environment();
    }
    find_target_directory(path_template);
    if (!register_console_handlers(!child)) exit_with_message(message_register_handler);

    timing_event("unpack-start");
    check_payload_header(block, block_size);
    open_payload_stream(block, block_size);
    set_unpack_directory(target_directory);
    bool program = false;
    while (read_entry_name()) {
        build_entry_path();
        if (first_entry_path[0] == L'\0') {
            copy_wide(first_entry_path, entry_path, first_entry_path_capacity);
            // A child reads nothing more: the parent has unpacked everything already.
            if (child) return start_application_dll(argc, argv);
            // An ordinary program gets the command line as it stands. A DLL's child gets it
            // re-quoted, built before anything is written, so that a line too long for the
            // child ends the run with nothing on disk.
            program = first_entry_names_a_program();
            if (!program) prepare_child_command_line();
            prepare_target_directory(path_template);
        }
        unpack_entry();
    }
    finish_unpacking();
    // A child that finds no first entry has nothing to run, and must not start another child.
    if (child) exit_with_message(message_decode);
    // Damage found only at the frame's end (its checksum) still stops the run before the
    // application does.
    require_frame_end();
    close_payload_stream();
    timing_report_parts();
    timing_event("unpack-end");
    return static_cast<int>(program ? start_program_and_wait() : start_child_and_wait(argv));
}
