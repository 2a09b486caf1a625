// The payload's failures, with the launcher's messages and exit codes.
#include "payload/payload_failures.h"

#include "bootstrap/error_reporting.h"
#include "bootstrap/messages.h"
#include "payload/file_unpacker.h"

void fail_no_header() { exit_with_message(message_no_header); }
void fail_no_memory() { exit_with_message(message_no_memory); }
// The writer may still hold pieces from before the damage: they are written first, and a
// failure among them is the one reported, as when every piece was written before the next was
// decoded.
void fail_decode() {
    finish_unpacking();
    exit_with_message(message_decode);
}
void fail_open_for_writing(const wchar_t* path) { exit_with_path_message(format_open_failed, path); }
void fail_write(unsigned long error_code) { exit_with_error_code(message_unpack_failed, error_code); }
void fail_home_expansion() { abort_with_template_message(L"{HOME}"); }
