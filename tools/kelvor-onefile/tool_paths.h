// Where the tool finds what ships with it. The build tree and an installation have the same
// layout around the tool: bin/kelvor-onefile, share/kelvor-onefile/ (default icons) and
// lib/kelvor-onefile/ (the runner DLL, and the launcher library of each processor level in a
// directory named after the level).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kelvor {

// prefix/<relative>, where prefix is the directory above the tool's own bin directory.
std::filesystem::path installation_path(const std::string& relative);

// The directory of the launcher library and the runner DLL: the one given (--launcher-dir), or
// lib/kelvor-onefile beside the tool's bin directory.
std::filesystem::path launcher_directory(const std::optional<std::string>& given);

// The processor level named by --cpu, or the default when none is given; throws UsageError for
// a name that is not one of the levels.
std::string cpu_level(const std::optional<std::string>& given);
// The help lines of --cpu: each level and where it runs.
std::string cpu_level_help();

// The launcher library of a processor level: <directory>/<level>/. Throws ToolError when its
// archives are not there.
std::filesystem::path launcher_library(const std::filesystem::path& directory, const std::string& level);

// The runner DLL in the directory; throws ToolError when it is not there.
std::filesystem::path runner_dll(const std::filesystem::path& directory);

}  // namespace kelvor
