// Where the tool finds what ships with it, relative to the prefix above its bin directory (the
// layout of cmake/KelvorOnefileLinking.cmake): in an installation, bin/kelvor-onefile,
// share/kelvor-onefile/icons/ (the default icons) and lib/kelvor-onefile/ (the runner DLL, and
// the launcher library of each processor level in a directory named after the level). The host
// build tree has the same layout for the tool and the icons; the runner DLL and the launcher
// library are built by the Windows build, in build/windows/lib/kelvor-onefile/, which a tool run
// from the host build tree is given with --launcher-dir.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "command_line.h"

namespace kelvor {

// prefix/<relative>, where prefix is the directory above the tool's own bin directory.
std::filesystem::path installation_path(const std::string& relative);

// The directory of the launcher library and the runner DLL: the one given (--launcher-dir), or
// the installation's.
std::filesystem::path launcher_directory(const std::optional<std::string>& given);
// --launcher-dir, for a command that takes what from it.
OptionSpec launcher_directory_option(const std::string& what);

// The processor level named by --cpu, or the default when none is given; throws UsageError for
// a name that is not one of the levels.
std::string cpu_level(const std::optional<std::string>& given);
// --cpu, whose help names each level and where it runs.
OptionSpec cpu_level_option();

// The launcher library of a processor level: <directory>/<level>/. Throws ToolError when its
// archives are not there.
// (Linked as -l<name> for each of linking::kLauncherArchives, from that directory.)
std::filesystem::path launcher_library(const std::filesystem::path& directory, const std::string& level);

// The runner DLL in the directory; throws ToolError when it is not there.
std::filesystem::path runner_dll(const std::filesystem::path& directory);

}  // namespace kelvor
