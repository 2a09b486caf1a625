#include "text/bounded_text.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

// The one bounded write: puts a character at the end of a text of the given length. A text
// of exactly the capacity fits; one character more ends the run.
void put_within_capacity(wchar_t* destination, size_t& length, wchar_t character, size_t capacity) {
    if (length >= capacity) abort();
    destination[length++] = character;
    destination[length] = L'\0';
}

void append_from(wchar_t* destination, size_t length, const wchar_t* source, size_t capacity) {
    for (const wchar_t* p = source; *p != L'\0'; ++p) put_within_capacity(destination, length, *p, capacity);
}

}  // namespace

void append_wide_char(wchar_t* destination, wchar_t character, size_t capacity) {
    size_t length = wcslen(destination);
    put_within_capacity(destination, length, character, capacity);
}

void append_wide(wchar_t* destination, const wchar_t* source, size_t capacity) {
    if (source == nullptr) abort();
    append_from(destination, wcslen(destination), source, capacity);
}

void copy_wide(wchar_t* destination, const wchar_t* source, size_t capacity) {
    // Copying a buffer onto itself changes nothing, but the text must still fit.
    if (destination == source) {
        if (wcslen(source) > capacity) abort();
        return;
    }
    destination[0] = L'\0';
    append_from(destination, 0, source, capacity);
}

void append_narrow_as_wide(wchar_t* destination, const char* source, size_t capacity) {
    for (const char* p = source; *p != '\0'; ++p) {
        const char single[2] = {*p, '\0'};
        wchar_t wide[2] = {};
        if (mbstowcs(wide, single, 2) != 1) abort();
        append_wide_char(destination, wide[0], capacity);
    }
}

bool is_decimal_number(const wchar_t* text) {
    if (text == nullptr || *text == L'\0') return false;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9') return false;
    }
    return true;
}

int format_narrow(char* buffer, size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int result = __stdio_common_vsprintf(
        _CRT_INTERNAL_LOCAL_PRINTF_OPTIONS | _CRT_INTERNAL_PRINTF_STANDARD_SNPRINTF_BEHAVIOR, buffer, size, format,
        nullptr, arguments);
    va_end(arguments);
    return result;
}

int format_wide(wchar_t* buffer, size_t size, const wchar_t* format, ...) {
    if (buffer == nullptr && size == 0) return -1;
    va_list arguments;
    va_start(arguments, format);
    const int result =
        __stdio_common_vswprintf(_CRT_INTERNAL_LOCAL_PRINTF_OPTIONS, buffer, size, format, nullptr, arguments);
    va_end(arguments);
    return result < 0 ? -1 : result;
}
