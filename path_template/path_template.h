// Path templates: text in which {NAME} stands for a value known only at run time. The driver
// expands the executable's template to find its target directory; directory creation expands
// "{HOME}". The variables, matched without regard to case:
//
//   TEMP             the temporary-files directory (GetTempPathW)
//   PROGRAM          argument 0 of the runtime's wide argument vector, as given
//   PROGRAM_BASE     PROGRAM less a final ".exe"
//   PROGRAM_DIR      PROGRAM cut at its last backslash
//   PID              KELVOR_ONEFILE_PARENT if set (digits only), else this process's id
//   HOME, CACHE_DIR  the user's profile and local application-data directories
//   COMPANY, PRODUCT, VERSION, FILE_VERSION, PRODUCT_VERSION   the build-time strings
//   RANDOM           11 random characters, kept in KELVOR_ONEFILE_RANDOM
//   TIME_US          the microseconds of the current second, six digits, kept in
//                    KELVOR_ONEFILE_TIME_US
//   TIME             the system time as a FILETIME count, kept in KELVOR_ONEFILE_START
//
// RANDOM, TIME_US and TIME are read from their variable when it is set, and otherwise made
// and stored there, so a child run that inherits the environment expands the same template
// to the same directory. TEMP, HOME and CACHE_DIR lose their trailing backslashes.
#pragma once

#include <stddef.h>
#include <wchar.h>

// Writes the expansion into output (capacity characters and a NUL) and returns true when the
// whole template was consumed. False, with the text so far in output, for a literal character
// that finds no room, an unknown or empty name, a "}" outside a name, a name of 1,024
// characters or more, a folder the system cannot give, or a failed nested expansion. A value
// that does not fit ends the run (abort), as do a missing argument 0 and a
// KELVOR_ONEFILE_PARENT that is not all digits. A name left open at the end is dropped.
bool expand_path_template(wchar_t* output, const wchar_t* path_template, size_t capacity);
