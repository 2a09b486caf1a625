// Command lines that split back into exactly the arguments they were made from, by
// CommandLineToArgvW and by the C runtimes' own splitting of a program's command line.
#pragma once

#include <stddef.h>
#include <wchar.h>

// Appends one argument to the command line in line, after a space when the line is not empty:
// as it is when it holds no space, tab, line feed, vertical tab or quote, quoted otherwise. An
// empty argument adds nothing. A line beyond its capacity ends the run.
void append_command_line_argument(wchar_t* line, const wchar_t* argument, size_t capacity);
