// The launcher's run, from the entry function to the exit code. Every start takes one of two
// roles. A parent run unpacks the payload into a fresh target directory, starts the same
// executable again, waits for it, removes the directory and ends with the child's exit code.
// A child run (its KELVOR_ONEFILE_PARENT names a living process of the same executable file)
// finds the same directory from the inherited environment, reads only the first entry's name
// and runs the application DLL.
#pragma once

#include <stddef.h>
#include <wchar.h>

// The run over a payload block and a path template; returns the process exit code.
int run_bootstrap(int argc, wchar_t** argv, const unsigned char* block, size_t block_size,
                  const wchar_t* path_template);
