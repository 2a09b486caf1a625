// The ways the payload code ends a run. The payload names no message of its own: the launcher's
// error reporting defines these (bootstrap/payload_failures.cpp), so this subsystem depends on
// nothing above it and every message of the launcher stays in one place. The link-time edge
// from payload/ back to bootstrap/ is dependency inversion: the payload owns this interface and
// the layer above implements it.
#pragma once

#include <wchar.h>

[[noreturn]] void fail_no_header();                          // the block does not begin with "KAY"
[[noreturn]] void fail_no_memory();                          // the decoder cannot be set up
[[noreturn]] void fail_decode();                             // damaged or foreign data
[[noreturn]] void fail_open_for_writing(const wchar_t* path);
[[noreturn]] void fail_write(unsigned long error_code);      // GetLastError of the failed write
[[noreturn]] void fail_home_expansion();                     // "{HOME}" could not be expanded
