// The application's image: the DLL that is the payload's first entry, which the launcher's child
// run loads and whose export run_code it calls, or the ordinary program that the runner DLL
// starts in its place. It is checked when a payload is packed, so that a file the launcher can
// never start is an error here rather than "Error, load DLL." or "Error, DLL entry point not
// found." (or a program that fails to start) on the user's machine.
#pragma once

#include <filesystem>

namespace kelvor {

// The export the launcher calls: int run_code(int argc, wchar_t** argv, const wchar_t* dll_path).
constexpr char kApplicationEntry[] = "run_code";

// Throws ToolError naming the file and the rule it breaks: it must be a 64-bit Windows DLL (a
// PE32+ image for machine x86-64 with the DLL flag) whose export table names run_code. A
// truncated or malformed image is an error; nothing is read outside the file.
void check_application_dll(const std::filesystem::path& path);

// The same for a program (--exe): a 64-bit Windows program, a PE32+ image for x86-64 without the
// DLL flag. Throws ToolError naming the file and the rule it breaks.
void check_application_program(const std::filesystem::path& path);

}  // namespace kelvor
