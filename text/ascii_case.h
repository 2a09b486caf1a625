// Case folding for the system's own names (template variables, device names), which are ASCII:
// only 'a' to 'z' change, whatever the character type, so no locale and no table of the
// system's is involved. Header-only, so that the host tool and the launcher both include it.
#pragma once

template <typename Unit>
constexpr Unit ascii_upper(Unit c) {
    return (c >= 'a' && c <= 'z') ? static_cast<Unit>(c - 'a' + 'A') : c;
}
