#include "bootstrap/error_reporting.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bootstrap/messages.h"

void report_error_with_code(const char* message, DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<char*>(&text), 0, nullptr);
    static char no_text[] = "";
    if (length == 0 || text == nullptr) text = no_text;
    // System texts end in CR LF, which would break the line inside the parentheses.
    for (size_t end = strlen(text); end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n'); --end) {
        text[end - 1] = '\0';
    }
    fprintf(stderr, "%s ([Error %ld] %s)\n", message, static_cast<long>(code), text);
    // The system's buffer is left to the end of the process, which follows at once.
}

void exit_with_message(const char* message) {
    puts(message);
    exit(2);
}

void exit_with_path_message(const char* format, const wchar_t* path) {
    fprintf(stderr, format, path);
    exit(2);
}

void exit_with_error_code(const char* message, DWORD code) {
    report_error_with_code(message, code);
    exit(2);
}

void abort_with_template_message(const wchar_t* path_template) {
    fprintf(stderr, format_template_failed, path_template);
    abort();
}

void configure_silent_abort() {
    // Without these the runtime may show "abnormal program termination" in a message box and
    // hand the process to Windows Error Reporting, whose dialogue a windowless program must
    // never raise.
    _set_abort_behavior(0, _WRITE_ABORT_MSG | _CALL_REPORTFAULT);
    _set_error_mode(_OUT_TO_STDERR);
}
