// The one shell service the launcher uses, looked up in shell32.dll on first use rather than
// imported. Loading shell32 brings user32, gdi32 and the rest of the windowing stack with it,
// which costs a run much of its start-up time, so only a template that names a shell folder
// ({HOME}, {CACHE_DIR}) loads it. It behaves as the shell's own function, and fails as it
// would when shell32 cannot be loaded.
#pragma once

#include <windows.h>

// SHGetFolderPathW; E_FAIL when shell32 is not there.
HRESULT shell_get_folder_path(int folder, wchar_t* path);
