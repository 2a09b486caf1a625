// Running the application, in two processes of the same executable: the parent run starts
// the launcher a second time with the same arguments and waits for it (the child start); the
// child run loads the application DLL from the target directory and calls its run_code (the
// DLL start). An ordinary program is started by the parent run itself (the program start):
// its payload's first entry is the runner DLL named after the program beside it, which a
// launcher of an earlier version loads in a child run instead.
#pragma once

#include <windows.h>

#include "command_line/process_start.h"

// The application's entry: argument count, wide argument vector, the DLL's own full path.
using RunCode = int (*)(int argc, wchar_t** argv, const wchar_t* dll_path);

// Where the application DLL's own dependencies are looked for: its own directory, the
// directories added with AddDllDirectory (the target directory) and System32; never the
// current directory or the search path.
constexpr DWORD application_dll_search_flags =
    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32;

// The child's command line; a line that would not start a process is refused before anything
// is written.
constexpr size_t child_command_line_capacity = command_line_capacity;
extern wchar_t child_command_line[child_command_line_capacity + 1];

// Child run: loads first_entry_path (its own dependencies from its directory, the target
// directory and the system directory only) and returns what run_code returns. A DLL that
// will not load, or has no run_code, ends the run with its message and exit code 2.
int start_application_dll(int argc, wchar_t** argv);

// Parent run, before anything is unpacked: this process's arguments, argument 0 replaced by
// the launcher's full path, re-quoted into child_command_line. A line that does not fit ends
// the run there, with nothing written.
void prepare_child_command_line();

// Parent run: sets KELVOR_ONEFILE_DIRECTORY and KELVOR_ORIGINAL_ARGV0, starts the launcher
// again with the prepared command line, waits without a time limit, runs the clean-up and
// returns the child's exit code (1 when it cannot be read).
DWORD start_child_and_wait(wchar_t** runtime_argv);

// Parent run, before its environment changes: keeps the environment the launcher was given, for
// an ordinary program.
void keep_original_environment();

// Whether first_entry_path names the runner DLL of an ordinary program.
bool first_entry_names_a_program();

// Parent run of an ordinary program: starts the program beside the runner DLL's entry as a
// plain start would, with the launcher's own command line as it stands (so its first word is
// the name the user ran, and the program's runtime splits the rest by its own rules), the
// environment the launcher was given (none of the launcher's variables), the standard handles
// and current directory; nothing else holds it, so what it leaves running lives on. Waits
// without a time limit, runs the clean-up and returns the program's exit code (1 when it cannot
// be read). A program that cannot be started ends the run with its message and exit code 2.
DWORD start_program_and_wait();

// Re-quotes the arguments into child_command_line so that they split back into the same
// arguments; an empty argument adds nothing. A line beyond 32,766 characters ends the run.
void build_child_command_line(int count, wchar_t** arguments);

// Waits for child_process, takes its exit code (1 when that fails), closes and clears it.
// 0 when there is no child.
DWORD wait_for_child_exit();
