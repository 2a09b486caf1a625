// The rules every entry name keeps, shared by the packer and the launcher: a relative path of
// components separated by backslashes, each a name that stays inside the target directory and
// means on Windows what it meant where it was packed. The packer refuses a name that breaks
// them, saying which rule; the launcher, which joins names to the target directory verbatim,
// takes such a name for damage. Works on UTF-16 code units of any character type.
#pragma once

#include <stddef.h>

#include "text/ascii_case.h"

namespace entry_name_rules {

enum class Fault {
    none,
    empty_component,        // "", or a name that begins or ends with a backslash, or has two in a row
    dot_component,          // "." or ".."
    forbidden_character,    // a control character or < > : " / | ? * (a backslash inside a component)
    trailing_dot_or_space,  // Windows drops them, so the name would mean another file
    device_name,            // Windows reads it as a device
};

template <typename Unit>
constexpr bool is_forbidden(Unit c) {
    return c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '/' || c == '\\' || c == '|' ||
           c == '?' || c == '*';
}

// A port number as Windows reads it: 1 to 9, or the superscripts ¹ ² ³.
template <typename Unit>
constexpr bool is_port_digit(Unit c) {
    return (c >= '1' && c <= '9') || c == 0x00B9 || c == 0x00B2 || c == 0x00B3;
}

template <typename Unit>
bool stem_is(const Unit* stem, size_t length, const char* device) {
    size_t i = 0;
    for (; device[i] != '\0'; ++i) {
        if (i == length || ascii_upper(stem[i]) != static_cast<Unit>(device[i])) return false;
    }
    return i == length;
}

// Windows reads a name as a device when the part before its first dot, less trailing spaces,
// is CON, PRN, AUX, NUL, CONIN$, CONOUT$, or COM or LPT with a port digit, in any case:
// "nul .log" and "COM¹.txt" are devices too.
template <typename Unit>
bool is_device_name(const Unit* component, size_t length) {
    size_t stem = 0;
    while (stem < length && component[stem] != '.') ++stem;
    while (stem > 0 && component[stem - 1] == ' ') --stem;
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices) {
        if (stem_is(component, stem, device)) return true;
    }
    return stem == 4 && (stem_is(component, 3, "COM") || stem_is(component, 3, "LPT")) &&
           is_port_digit(component[3]);
}

template <typename Unit>
Fault check_component(const Unit* component, size_t length) {
    if (length == 0) return Fault::empty_component;
    if (component[0] == '.' && (length == 1 || (length == 2 && component[1] == '.'))) return Fault::dot_component;
    for (size_t i = 0; i < length; ++i) {
        if (is_forbidden(component[i])) return Fault::forbidden_character;
    }
    if (component[length - 1] == '.' || component[length - 1] == ' ') return Fault::trailing_dot_or_space;
    if (is_device_name(component, length)) return Fault::device_name;
    return Fault::none;
}

// The first fault of a whole name, its components separated by backslashes.
template <typename Unit>
Fault check_name(const Unit* name, size_t length) {
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && name[i] != '\\') continue;
        const Fault fault = check_component(name + start, i - start);
        if (fault != Fault::none) return fault;
        start = i + 1;
    }
    return Fault::none;
}

}  // namespace entry_name_rules
