// The launcher's own split of a command line into arguments, the same as CommandLineToArgvW
// gives, so that a parent run needs no shell32 (which brings the windowing DLLs with it) to
// pass its arguments on. argument_quoting.h writes lines that split back through it.
#pragma once

// The arguments of line and their count, as CommandLineToArgvW gives them:
// - The first word is the program name, without escapes: from a quote at its start to the
//   next quote (what follows that quote begins the next argument, even without a blank), or
//   else up to the first space or tab, quotes included as they are. A line that begins with
//   a space or tab thus has an empty first argument.
// - Every later argument begins at a character that is not a space or tab and ends at a space
//   or tab outside quotes. A quote begins or ends the quoted part and is dropped; inside
//   quotes, two quotes are one literal quote and end the quoted part. 2n backslashes before a
//   quote are n backslashes and the quote acts as a quote; 2n + 1 backslashes before a quote
//   are n backslashes and a literal quote; backslashes before anything else stay as they are.
// - An empty line gives one argument: the launcher's own file name.
// The vector ends with a null pointer. Vector and texts are one heap block, released with
// free (the launcher keeps it to the end of the process); null when there is no memory for it.
wchar_t** split_command_line(const wchar_t* line, int* count);
