#include "path_template/path_template.h"

#include <windows.h>
#include <shlobj.h>

#include <stdlib.h>

#include "path_template/path_template_variables.h"
#include "path_template/random_text.h"
#include "path_template/shell_functions.h"
#include "payload/image_data.h"
#include "text/ascii_case.h"
#include "text/bounded_text.h"
#include "text/environment.h"

namespace {

constexpr size_t name_capacity = 1023;
constexpr size_t value_capacity = 1023;

using path_template_language::Variable;

// Names are matched without regard to case. The known names are ASCII, so folding ASCII
// letters is all it takes.
bool name_matches(const wchar_t* name, const char* known) {
    for (;; ++name, ++known) {
        if (ascii_upper(*name) != static_cast<wchar_t>(static_cast<unsigned char>(*known))) return false;
        if (*known == '\0') return true;
    }
}

// The end of the text written so far (always a NUL) and how many characters may still follow.
struct Output {
    wchar_t* position;
    size_t remaining;
};

// Moves past what was just written at the position.
void advance(Output& out) {
    const size_t added = wcslen(out.position);
    out.position += added;
    out.remaining -= added;
}

// A value that does not fit ends the run: only literal text fails softly.
void append_value(Output& out, const wchar_t* value) {
    append_wide(out.position, value, out.remaining);
    advance(out);
}

// Cuts the text back to end (within what was just written), giving the room back.
void cut_at(Output& out, wchar_t* end) {
    out.remaining += static_cast<size_t>(out.position - end);
    out.position = end;
    *out.position = L'\0';
}

// A folder's own trailing backslashes go; the template supplies its separators.
void remove_trailing_backslashes(Output& out, wchar_t* value_start) {
    wchar_t* end = out.position;
    while (end > value_start && end[-1] == L'\\') --end;
    cut_at(out, end);
}

void append_temp(Output& out) {
    wchar_t* start = out.position;
    // Written straight into the output; when the call fails or the path does not fit it
    // writes nothing, and the NUL already there makes TEMP empty.
    GetTempPathW(static_cast<DWORD>(out.remaining), out.position);
    advance(out);
    remove_trailing_backslashes(out, start);
}

bool append_folder(Output& out, int folder) {
    wchar_t value[value_capacity + 1];
    if (FAILED(shell_get_folder_path(folder, value))) return false;
    wchar_t* start = out.position;
    append_value(out, value);
    remove_trailing_backslashes(out, start);
    return true;
}

void append_program(Output& out) {
    wchar_t** arguments = *__p___wargv();
    if (arguments == nullptr || arguments[0] == nullptr) abort();
    append_value(out, arguments[0]);
}

// PROGRAM_BASE and PROGRAM_DIR start from PROGRAM's value and then look only at that text.
void append_program_base(Output& out) {
    wchar_t* start = out.position;
    append_program(out);
    if (out.position - start >= 4 && _wcsicmp(out.position - 4, L".exe") == 0) cut_at(out, out.position - 4);
}

void append_program_dir(Output& out) {
    wchar_t* start = out.position;
    append_program(out);
    for (wchar_t* p = out.position; p > start; --p) {
        if (p[-1] == L'\\') {
            cut_at(out, p - 1);
            break;
        }
    }
}

void append_pid(Output& out) {
    const wchar_t* parent = get_env_copy_of_form("KELVOR_ONEFILE_PARENT", is_decimal_number);
    if (parent != nullptr) {
        append_value(out, parent);
        return;
    }
    char number[128];
    format_narrow(number, sizeof number, "%ld", static_cast<long>(GetCurrentProcessId()));
    append_narrow_as_wide(out.position, number, out.remaining);
    advance(out);
}

long long system_time_count() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<long long>((static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

void make_time(wchar_t* value) { format_wide(value, value_capacity + 1, L"%lld", system_time_count()); }

// The microseconds within the current second: six digits, not a full time stamp.
void make_time_us(wchar_t* value) {
    format_wide(value, value_capacity + 1, L"%06ld", static_cast<long>((system_time_count() / 10) % 1000000));
}

bool is_time_us_text(const wchar_t* text) { return wcslen(text) == 6 && is_decimal_number(text); }

void make_random(wchar_t* value) {
    unsigned char bytes[random_byte_count];
    fill_random_bytes(bytes);
    encode_random_text(bytes, value);
}

// A value read, or made and kept for the expansions after this one.
struct ReusedValue {
    const char* variable;
    void (*make)(wchar_t* value);
    bool (*has_form)(const wchar_t* value);  // the form make gives it
};

const ReusedValue random_value{"KELVOR_ONEFILE_RANDOM", make_random, is_random_text};
const ReusedValue time_us_value{"KELVOR_ONEFILE_TIME_US", make_time_us, is_time_us_text};
const ReusedValue time_value{"KELVOR_ONEFILE_START", make_time, is_decimal_number};

// The value kept in the environment variable when there is one of the launcher's own form;
// otherwise a fresh value, stored there for later expansions and for the processes this one
// starts. A value of another form (a path, a separator) is never joined into a path.
void append_reused(Output& out, const ReusedValue& reused) {
    const wchar_t* kept = get_env_copy_of_form(reused.variable, reused.has_form);
    if (kept != nullptr) {
        append_value(out, kept);
        return;
    }
    wchar_t value[value_capacity + 1];
    reused.make(value);
    set_env(reused.variable, value);
    append_value(out, value);
}

bool append_variable(Output& out, Variable variable) {
    switch (variable) {
        case Variable::temp: append_temp(out); return true;
        case Variable::program: append_program(out); return true;
        case Variable::program_base: append_program_base(out); return true;
        case Variable::program_dir: append_program_dir(out); return true;
        case Variable::pid: append_pid(out); return true;
        case Variable::home: return append_folder(out, CSIDL_PROFILE);
        case Variable::cache_dir: return append_folder(out, CSIDL_LOCAL_APPDATA);
        case Variable::company: append_value(out, image_data.company_name); return true;
        case Variable::product: append_value(out, image_data.product_name); return true;
        case Variable::version:
        case Variable::file_version: append_value(out, image_data.version_string); return true;
        case Variable::product_version: append_value(out, image_data.product_version_string); return true;
        case Variable::random: append_reused(out, random_value); return true;
        case Variable::time_us: append_reused(out, time_us_value); return true;
        case Variable::time: append_reused(out, time_value); return true;
    }
    return false;
}

// Tried in the list's order; the first name that matches decides.
bool append_named(Output& out, const wchar_t* name) {
    for (const auto& known : path_template_language::variables) {
        if (name_matches(name, known.name)) return append_variable(out, known.variable);
    }
    return false;
}

}  // namespace

bool expand_path_template(wchar_t* output, const wchar_t* path_template, size_t capacity) {
    Output out{output, capacity};
    *out.position = L'\0';
    wchar_t name[name_capacity + 1];
    size_t name_length = 0;
    bool in_name = false;
    bool name_too_long = false;
    for (const wchar_t* p = path_template; *p != L'\0'; ++p) {
        if (*p == L'{') {
            // A "{" inside a name starts it again: in {A{TEMP} only TEMP counts.
            in_name = true;
            name_length = 0;
            name_too_long = false;
        } else if (in_name && *p == L'}') {
            in_name = false;
            name[name_length] = L'\0';
            if (name_too_long || name_length == 0 || !append_named(out, name)) return false;
        } else if (in_name) {
            if (name_length < name_capacity) {
                name[name_length++] = *p;
            } else {
                name_too_long = true;
            }
        } else if (*p == L'}') {
            return false;
        } else {
            if (out.remaining == 0) return false;
            append_wide_char(out.position, *p, out.remaining);
            advance(out);
        }
    }
    // A name still open at the end is dropped.
    return true;
}
