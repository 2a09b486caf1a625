#include "text/environment.h"

#include <windows.h>

#include <stdlib.h>

#include "text/bounded_text.h"

namespace {

constexpr size_t name_capacity = 39;
// The largest value Windows allows, and its terminator.
constexpr DWORD value_buffer_units = 32768;

void widen_name(wchar_t (&wide)[name_capacity + 1], const char* name) {
    wide[0] = L'\0';
    append_narrow_as_wide(wide, name, name_capacity);
}

}  // namespace

wchar_t* get_env_copy(const char* name) {
    wchar_t wide_name[name_capacity + 1];
    widen_name(wide_name, name);
    wchar_t value[value_buffer_units];
    const DWORD length = GetEnvironmentVariableW(wide_name, value, value_buffer_units);
    // 0 is a missing or empty variable; a result of the buffer size or more is the size that
    // a value which did not fit would need, and the buffer holds nothing of it.
    if (length == 0 || length >= value_buffer_units) return nullptr;
    return _wcsdup(value);
}

wchar_t* get_env_copy_of_form(const char* name, bool (*has_form)(const wchar_t* value)) {
    wchar_t* value = get_env_copy(name);
    if (value == nullptr || has_form(value)) return value;
    free(value);
    return nullptr;
}

bool set_env(const char* name, const wchar_t* value) {
    wchar_t wide_name[name_capacity + 1];
    widen_name(wide_name, name);
    return SetEnvironmentVariableW(wide_name, value) != FALSE;
}

bool unset_env(const char* name) { return set_env(name, nullptr); }

bool set_env_number(const char* name, int32_t number) {
    char narrow[128];
    format_narrow(narrow, sizeof narrow, "%ld", static_cast<long>(number));
    wchar_t value[128] = {};
    append_narrow_as_wide(value, narrow, 127);
    return set_env(name, value);
}
