// Files and directories that belong to the current user alone. The target directory usually
// lies in a temporary-files directory that others may write to (a service's C:\Windows\Temp,
// a TEMP on a shared folder); made with default security it would inherit their access, and
// another local user could plant or swap files between unpacking and the DLL load. So what
// the launcher creates gets a protected DACL with one entry: full access for the token's user,
// inherited by every file and folder below. Files get it too rather than rely on inheritance,
// which not every system (Wine among them) applies to new files.
#pragma once

#include <windows.h>

// The attributes to create with, built on first use and kept; null when the user's SID
// cannot be read, and then the caller creates nothing rather than fall back to default
// security.
SECURITY_ATTRIBUTES* owner_only_security();

// True when the open file's DACL lets in nobody but the current user: every entry grants
// access to the user or to SYSTEM (which Wine adds when it reads a descriptor back, and which
// may do anything anyway). What this user's runs give the folders they make; under Wine also
// what a Unix folder without access for group and others reads back as. The handle needs
// READ_CONTROL.
bool has_owner_only_security(HANDLE file);
