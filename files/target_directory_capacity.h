// The capacity of the target directory's buffer (run_state.h): the most UTF-16 units that the
// expanded template, made absolute, may have. A plain constant, so that the host tool, which
// refuses a template that can never fit, and the launcher both include this file.
#pragma once

#include <stddef.h>

constexpr size_t target_directory_capacity = 4096;
