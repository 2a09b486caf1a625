#include "command_line/argument_quoting.h"

#include "text/bounded_text.h"

namespace {

bool needs_quotes(const wchar_t* argument) { return wcspbrk(argument, L" \t\n\v\"") != nullptr; }

void append_backslashes(wchar_t* line, size_t count, size_t capacity) {
    for (size_t i = 0; i < count; ++i) append_wide_char(line, L'\\', capacity);
}

// The rules the splitting reads back: a run of k backslashes is 2k + 1 before a quote (then
// the quote), 2k at the end (before the closing quote), and k anywhere else.
void append_quoted(wchar_t* line, const wchar_t* argument, size_t capacity) {
    append_wide_char(line, L'"', capacity);
    for (const wchar_t* p = argument;;) {
        size_t backslashes = 0;
        while (*p == L'\\') {
            ++backslashes;
            ++p;
        }
        if (*p == L'\0') {
            append_backslashes(line, 2 * backslashes, capacity);
            break;
        }
        append_backslashes(line, *p == L'"' ? 2 * backslashes + 1 : backslashes, capacity);
        append_wide_char(line, *p++, capacity);
    }
    append_wide_char(line, L'"', capacity);
}

}  // namespace

void append_command_line_argument(wchar_t* line, const wchar_t* argument, size_t capacity) {
    if (line[0] != L'\0') append_wide_char(line, L' ', capacity);
    if (needs_quotes(argument)) {
        append_quoted(line, argument, capacity);
    } else {
        append_wide(line, argument, capacity);
    }
}
