// The name a payload gives the runner DLL: the program's own entry name followed by this suffix,
// so "bin\app.exe.kelvor-runner.dll" starts "bin\app.exe" beside it. The tool names the entry;
// the launcher and the runner read the program back from the name. Header-only and free of
// system calls, so that the tool and the launcher both include it.
#pragma once

#include <stddef.h>

#include "text/ascii_case.h"

namespace runner_name {

constexpr char suffix[] = ".kelvor-runner.dll";

// The length of the program's part of a runner's path of `length` units: the path without the
// suffix, which is compared in any case as the file system compares names; 0 when the path does
// not end with it.
template <typename Unit>
size_t program_length(const Unit* path, size_t length) {
    constexpr size_t suffix_length = sizeof suffix - 1;
    if (length <= suffix_length) return 0;
    for (size_t i = 0; i < suffix_length; ++i) {
        if (ascii_upper(path[length - suffix_length + i]) != ascii_upper(static_cast<Unit>(suffix[i]))) return 0;
    }
    return length - suffix_length;
}

}  // namespace runner_name
