// Bounded wide text. Every path, name, value and command line of the launcher lives in a
// fixed array of UTF-16 units with a capacity: the most characters it may hold, not counting
// the terminating NUL, so the array has capacity + 1 units. Every copy and append below goes
// through one bounded write; a text that would break a capacity ends the run (abort). Nothing
// here truncates, and nothing reports an overflow softly.
#pragma once

#include <stddef.h>
#include <wchar.h>

// Appends one character after the text already in the destination.
void append_wide_char(wchar_t* destination, wchar_t character, size_t capacity);

// Appends the source after the text already in the destination; a null source ends the run.
void append_wide(wchar_t* destination, const wchar_t* source, size_t capacity);

// Writes the source from the start of the destination. The two may be the same buffer.
void copy_wide(wchar_t* destination, const wchar_t* source, size_t capacity);

// Appends an ASCII constant, each byte widened on its own through the runtime's mbstowcs;
// a byte that does not give exactly one wide character ends the run.
void append_narrow_as_wide(wchar_t* destination, const char* source, size_t capacity);

// True for a text of one or more ASCII decimal digits, nothing else (no sign, no space, no
// other script's digits).
bool is_decimal_number(const wchar_t* text);

// The runtime's bounded formatters. The narrow one always terminates within size and returns
// the length the full text needs. The wide one keeps the runtime's older bounded rules and
// returns -1 for a null buffer of size 0 and for any failure.
int format_narrow(char* buffer, size_t size, const char* format, ...);
int format_wide(wchar_t* buffer, size_t size, const wchar_t* format, ...);
