// Gathers the files of an application in payload order: the application DLL (or the runner DLL
// of an ordinary program) first, then every regular file below the application directory, sorted
// by entry name, so the same inputs always give the same payload.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kelvor {

struct Entry {
    std::filesystem::path source;  // the host file whose contents the entry carries
    std::u16string name;           // the entry name (UTF-16, backslash-separated)
    std::uint64_t size = 0;        // the file size when it was collected
};

// Throws ToolError for a missing DLL or directory, a file that is not a regular file or
// cannot be read, a directory that cannot be read (each named in the message), a name
// that the payload cannot carry (see make_entry_name) and names that Windows would take for
// the same file. A DLL inside the directory is the first entry under its relative path and is
// not packed twice.
std::vector<Entry> collect_entries(const std::filesystem::path& app,
                                   const std::optional<std::filesystem::path>& dir);

// The entries of an ordinary program: the runner DLL first, under the program's entry name with
// the runner's suffix ("bin\app.exe.kelvor-runner.dll" for bin/app.exe), then every file below
// dir, the program among them. The program is a path relative to dir that must name a regular
// file inside it. Throws ToolError as collect_entries does.
std::vector<Entry> collect_program_entries(const std::filesystem::path& runner, const std::filesystem::path& program,
                                           const std::filesystem::path& dir);

}  // namespace kelvor
