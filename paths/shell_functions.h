// The two shell services the launcher uses, looked up in shell32.dll on first use rather
// than imported. Loading shell32 brings user32, gdi32 and the rest of the windowing stack with
// it, which costs a child run (that needs none of them) much of its start-up time. Each
// behaves as the shell's own function, and fails as it would when shell32 cannot be loaded.
#pragma once

#include <windows.h>
#include <shellapi.h>

// SHGetFolderPathW; E_FAIL when shell32 is not there.
HRESULT shell_get_folder_path(int folder, wchar_t* path);

// CommandLineToArgvW; null (with GetLastError set) when shell32 is not there.
wchar_t** shell_command_line_to_argv(const wchar_t* command_line, int* count);
