#include "command_line/argument_splitting.h"

#include <stdlib.h>
#include <wchar.h>

#include "path_template/launcher_paths.h"
#include "text/bounded_text.h"

namespace {

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Where the texts of the arguments are written, one after the other, each with its NUL. The
// block is sized so that it cannot overflow (see split_command_line); the end is checked all
// the same.
struct Texts {
    wchar_t* position;
    wchar_t* end;
};

void put(Texts& texts, wchar_t character) {
    if (texts.position == texts.end) abort();
    *texts.position++ = character;
}

void put_backslashes(Texts& texts, size_t count) {
    for (size_t i = 0; i < count; ++i) put(texts, L'\\');
}

// The program name: a path, so backslashes are only backslashes and quotes only delimit it.
const wchar_t* read_program_name(const wchar_t* p, Texts& texts) {
    if (*p == L'"') {
        for (++p; *p != L'\0' && *p != L'"'; ++p) put(texts, *p);
        if (*p == L'"') ++p;
    } else {
        for (; *p != L'\0' && !is_blank(*p); ++p) put(texts, *p);
    }
    put(texts, L'\0');
    return p;
}

// A run of backslashes: halved before a quote, whose escape the odd one makes it, and kept
// whole before anything else. Returns what follows the run (and the escaped quote).
const wchar_t* read_backslashes(const wchar_t* p, Texts& texts) {
    size_t count = 0;
    for (; *p == L'\\'; ++p) ++count;
    if (*p != L'"') {
        put_backslashes(texts, count);
        return p;
    }
    put_backslashes(texts, count / 2);
    if (count % 2 == 0) return p;
    put(texts, L'"');
    return p + 1;
}

// One argument after the program name, from its first character to the blank outside quotes
// (or the end of the line) that ends it.
const wchar_t* read_argument(const wchar_t* p, Texts& texts) {
    bool quoted = false;
    while (*p != L'\0' && (quoted || !is_blank(*p))) {
        if (*p == L'\\') {
            p = read_backslashes(p, texts);
        } else if (*p != L'"') {
            put(texts, *p++);
        } else if (quoted && p[1] == L'"') {
            // Two quotes inside quotes: one literal quote, and the quoted part ends (the C
            // runtimes since 2008 stay inside quotes here; CommandLineToArgvW does not).
            put(texts, L'"');
            p += 2;
            quoted = false;
        } else {
            quoted = !quoted;
            ++p;
        }
    }
    put(texts, L'\0');
    return p;
}

wchar_t** split_empty_line(int* count) {
    const wchar_t* own_name = get_own_executable_path();
    const size_t length = wcslen(own_name);
    auto** arguments = static_cast<wchar_t**>(malloc(2 * sizeof(wchar_t*) + (length + 1) * sizeof(wchar_t)));
    if (arguments == nullptr) return nullptr;
    arguments[0] = reinterpret_cast<wchar_t*>(arguments + 2);
    copy_wide(arguments[0], own_name, length);
    arguments[1] = nullptr;
    *count = 1;
    return arguments;
}

}  // namespace

wchar_t** split_command_line(const wchar_t* line, int* count) {
    if (*line == L'\0') return split_empty_line(count);
    // Each argument after the first takes at least one character of the line, and no character
    // of the line gives more than one character of an argument: length + 1 arguments and the
    // null pointer, and length characters and length + 1 NULs, always fit.
    const size_t length = wcslen(line);
    const size_t slots = length + 2;
    const size_t units = 2 * length + 1;
    auto** arguments = static_cast<wchar_t**>(malloc(slots * sizeof(wchar_t*) + units * sizeof(wchar_t)));
    if (arguments == nullptr) return nullptr;
    Texts texts{reinterpret_cast<wchar_t*>(arguments + slots), reinterpret_cast<wchar_t*>(arguments + slots) + units};
    int found = 0;
    arguments[found++] = texts.position;
    const wchar_t* p = read_program_name(line, texts);
    for (;;) {
        while (is_blank(*p)) ++p;
        if (*p == L'\0') break;
        arguments[found++] = texts.position;
        p = read_argument(p, texts);
    }
    arguments[found] = nullptr;
    *count = found;
    return arguments;
}
