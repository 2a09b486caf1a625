// Where the tool finds what ships with it. The build tree and an installation have the same
// layout around the tool: bin/kelvor-onefile, share/kelvor-onefile/ (default icons) and
// lib/kelvor-onefile/ (the launcher library and the runner DLL).
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

// Throws ToolError when the launcher library's archives are not in the directory.
void check_launcher_library(const std::filesystem::path& directory);

// The runner DLL in the directory; throws ToolError when it is not there.
std::filesystem::path runner_dll(const std::filesystem::path& directory);

}  // namespace kelvor
