// Starting a program that shares this process's standard handles and current directory, as
// the launcher starts its child and the runner its program.
#pragma once

#include <windows.h>

#include <stddef.h>

// The longest command line a process can be started with: CreateProcessW takes at most 32,767
// characters with the terminator. (Windows refuses a longer one; Wine would cut it short.)
constexpr size_t command_line_capacity = 32766;

// CreateProcessW of application with the (writable) command line, handles inherited, the
// standard input, output and error passed on, and the given creation flags; the environment
// block is this process's when none is given (a wide one needs CREATE_UNICODE_ENVIRONMENT).
// Its result and GetLastError as CreateProcessW leaves them.
bool start_with_standard_handles(const wchar_t* application, wchar_t* command_line, DWORD flags,
                                 PROCESS_INFORMATION* process, void* environment = nullptr);
