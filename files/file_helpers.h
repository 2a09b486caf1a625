// The file calls of the unpacker. Each entry's file is created (or truncated) and written
// sequentially through one handle. What is created here belongs to the current user alone
// (owner_only_security.h).
#pragma once

#include <windows.h>

// CREATE_ALWAYS for writing; INVALID_HANDLE_VALUE when the file cannot be opened.
HANDLE open_file_for_writing(const wchar_t* path);

// CreateDirectoryW; its result and GetLastError as CreateDirectoryW leaves them.
bool create_private_directory(const wchar_t* path);

// One WriteFile of count bytes. False when the call fails, and also when it writes fewer
// bytes than asked: then GetLastError gives ERROR_DISK_FULL if the system set no code, so the
// tail of a file is never lost without a message.
bool write_to_file(HANDLE file, const void* data, DWORD count);

bool close_file(HANDLE file);
