// How the launcher fails. It has no window, so a failure is one line on a standard stream and
// the exit code: 2 through exit (which flushes the streams), or the runtime's abnormal end
// through abort. Every failure ends the process at once; nothing is retried and nothing is
// cleaned up on the way out.
#pragma once

#include <windows.h>

// Writes "message ([Error code] system text)" on standard error and returns. The code prints
// as a signed 32-bit number; a code without system text leaves the parentheses' text empty.
void report_error_with_code(const char* message, DWORD code);

// A plain message on standard output, then exit code 2.
[[noreturn]] void exit_with_message(const char* message);
// A format with one wide-string argument on standard error, then exit code 2.
[[noreturn]] void exit_with_path_message(const char* format, const wchar_t* path);
// report_error_with_code, then exit code 2.
[[noreturn]] void exit_with_error_code(const char* message, DWORD code);
// The template message on standard error (unbuffered, so it is out), then abort.
[[noreturn]] void abort_with_template_message(const wchar_t* path_template);

// Makes abort end the process at once with the runtime's abnormal-end status (3): no message
// box, no error-reporting dialogue. Called first thing at start-up.
void configure_silent_abort();
