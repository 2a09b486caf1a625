// Where the tool finds what ships with it, relative to the prefix above its bin directory (the
// layout of cmake/KelvorOnefileLinking.cmake): in an installation, bin/kelvor-onefile,
// share/kelvor-onefile/icons/ (the default icons) and lib/kelvor-onefile/ (the runner DLL, and
// for each processor level, in a directory named after the level, the prebuilt launchers and
// the launcher library). The host build tree has the same layout for the tool and the icons;
// the runner DLL and the launchers are built by the Windows build, in
// build/windows/lib/kelvor-onefile/, which a tool run from the host build tree is given with
// --launcher-dir.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "command_line.h"

namespace kelvor {

// prefix/<relative>, where prefix is the directory above the tool's own bin directory.
std::filesystem::path installation_path(const std::string& relative);

// The directory of the prebuilt launchers and the runner DLL: the one given (--launcher-dir), or
// the installation's.
std::filesystem::path launcher_directory(const std::optional<std::string>& given);
// --launcher-dir, for a command that takes what from it.
OptionSpec launcher_directory_option(const std::string& what);

// The processor level named by --cpu, or the default when none is given; throws UsageError for
// a name that is not one of the levels.
std::string cpu_level(const std::optional<std::string>& given);
// --cpu, whose help names each level and where it runs.
OptionSpec cpu_level_option();

// The subsystem of a launcher executable.
enum class Subsystem { gui, console };

// The prebuilt launcher of a processor level and subsystem: <directory>/<level>/ and
// linking::kPrebuiltGuiLauncher or kPrebuiltConsoleLauncher. Throws ToolError when it is not there.
std::filesystem::path prebuilt_launcher(const std::filesystem::path& directory, const std::string& level,
                                        Subsystem subsystem);

// The runner DLL in the directory; throws ToolError when it is not there.
std::filesystem::path runner_dll(const std::filesystem::path& directory);

}  // namespace kelvor
