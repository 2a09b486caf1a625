// A harness for the pieces of the launcher that only a separate process can show: each
// scenario runs one piece that writes a message and ends the process, or reports something
// about the process itself, so that a test can start it as a child process and check the
// channel, the bytes and the exit code, as a user would see them.
//
//   launcher_scenarios message NAME            a plain message, exit 2
//   launcher_scenarios path-message PATH       the open message with PATH, exit 2
//   launcher_scenarios error-code NAME CODE    a message with a Windows error code, exit 2
//   launcher_scenarios template TEMPLATE       the template message, then abort
//   launcher_scenarios abort                   abort after the start-up configuration
//   launcher_scenarios header BLOCK            the header check on a block file
//   launcher_scenarios read-entries BLOCK [past-end]
//        reads the entry stream request by request as the unpacker does, printing each
//        entry's name and size, then "end"; with past-end, one more request after it.
//   launcher_scenarios unpack BLOCK TARGET
//        unpacks a block file into TARGET as a parent run does, printing each entry's path,
//        then "end".
//   launcher_scenarios interrupt EVENT MS ARGUMENTS...
//        a whole parent run of the payload (the sample tree, the probe as its application)
//        into %TEMP%, with the console event EVENT arriving MS milliseconds after the start,
//        on a thread of its own, as the system delivers it: the launcher's handlers in the
//        order the system calls them.
//   launcher_scenarios sleep MS            sleeps, then exits with code 7
//   launcher_scenarios launcher-names
//        prints the resolved and the unresolved launcher file name, one per line.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "bootstrap/bootstrap_driver.h"
#include "bootstrap/console_cleanup.h"
#include "bootstrap/error_reporting.h"
#include "bootstrap/messages.h"
#include "bootstrap/run_state.h"
#include "path_template/launcher_paths.h"
#include "path_template/path_template_variables.h"
#include "payload/file_unpacker.h"
#include "payload/image_data.h"
#include "payload/payload_block.h"
#include "payload/payload_stream.h"
#include "text/bounded_text.h"
#include "windows_test_support.h"

namespace {

const char* message_named(const wchar_t* name) {
    const struct {
        const wchar_t* name;
        const char* text;
    } messages[] = {
        {L"register-handler", message_register_handler}, {L"no-header", message_no_header},
        {L"no-memory", message_no_memory},               {L"decode", message_decode},
        {L"no-entry-point", message_no_entry_point},     {L"unpack", message_unpack_failed},
        {L"load", message_load_failed},                  {L"launch", message_launch_failed},
    };
    for (const auto& m : messages) {
        if (wcscmp(m.name, name) == 0) return m.text;
    }
    fprintf(stderr, "unknown message %ls\n", name);
    exit(99);
}

int read_entries(const std::string& block, bool past_end) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
    check_payload_header(bytes, block.size());
    open_payload_stream(bytes, block.size());
    static unsigned char piece[32768];
    while (read_entry_name()) {
        unsigned long long size = 0;
        payload_read(&size, 8);
        for (unsigned long long left = size; left > 0;) {
            const size_t count = left < sizeof piece ? static_cast<size_t>(left) : sizeof piece;
            payload_read(piece, count);
            left -= count;
        }
        printf("entry %s %llu\n", kelvor::testing::narrow(entry_name).c_str(), size);
        fflush(stdout);
    }
    printf("end\n");
    fflush(stdout);
    if (past_end) {
        unsigned char more[2];
        payload_read(more, 2);
        printf("read past the end\n");
    }
    return 0;
}

int unpack(const std::string& block, const wchar_t* target) {
    copy_wide(target_directory, target, target_directory_capacity);
    make_absolute_path(target_directory, target_directory_capacity);
    set_unpack_directory(target_directory);
    const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
    check_payload_header(bytes, block.size());
    open_payload_stream(bytes, block.size());
    while (read_entry_name()) {
        build_entry_path();
        unpack_entry();
        finish_unpacking();  // so that the line says the file is written
        printf("unpacked %s\n", kelvor::testing::narrow(entry_path).c_str());
        fflush(stdout);
    }
    finish_unpacking();
    require_frame_end();
    close_payload_stream();
    printf("end\n");
    return 0;
}

DWORD console_event;
DWORD event_delay_ms;

DWORD WINAPI deliver_console_event(void*) {
    Sleep(event_delay_ms);
    if (!console_control_handler(console_event)) end_interrupted_run(console_event);
    return 0;
}

int interrupted_run(int argc, wchar_t** argv) {
    console_event = wcstoul(argv[2], nullptr, 10);
    event_delay_ms = wcstoul(argv[3], nullptr, 10);
    wchar_t path_template[64];
    mbstowcs(path_template, path_template_language::default_template, 64);
    CloseHandle(CreateThread(nullptr, 0, deliver_console_event, nullptr, 0, nullptr));
    return run_bootstrap(argc, argv, image_data.payload_block, image_data.payload_size, path_template);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    configure_silent_abort();
    if (argc < 2) return 99;
    const std::wstring scenario = argv[1];
    if (scenario == L"message" && argc == 3) exit_with_message(message_named(argv[2]));
    if (scenario == L"path-message" && argc == 3) exit_with_path_message(format_open_failed, argv[2]);
    if (scenario == L"error-code" && argc == 4) {
        exit_with_error_code(message_named(argv[2]), static_cast<DWORD>(wcstoul(argv[3], nullptr, 0)));
    }
    if (scenario == L"template" && argc == 3) abort_with_template_message(argv[2]);
    if (scenario == L"abort") abort();
    if (scenario == L"header" && argc == 3) {
        const std::string block = kelvor::testing::read_file(argv[2]);
        check_payload_header(reinterpret_cast<const unsigned char*>(block.data()), block.size());
        printf("header ok\n");
        return 0;
    }
    if (scenario == L"read-entries" && argc >= 3) {
        return read_entries(kelvor::testing::read_file(argv[2]), argc == 4 && wcscmp(argv[3], L"past-end") == 0);
    }
    if (scenario == L"unpack" && argc == 4) return unpack(kelvor::testing::read_file(argv[2]), argv[3]);
    if (scenario == L"interrupt" && argc >= 4) return interrupted_run(argc, argv);
    if (scenario == L"sleep" && argc == 3) {
        Sleep(wcstoul(argv[2], nullptr, 10));
        return 7;
    }
    if (scenario == L"launcher-names") {
        printf("%s\n%s\n", kelvor::testing::narrow(get_launcher_file_name(true)).c_str(),
               kelvor::testing::narrow(get_launcher_file_name(false)).c_str());
        return 0;
    }
    fprintf(stderr, "unknown scenario\n");
    return 99;
}
