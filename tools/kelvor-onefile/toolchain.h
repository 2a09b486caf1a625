// The mingw-w64 cross toolchain that links launcher executables: found on PATH or named by
// an option, and run the way the launcher library was built (the UCRT, static runtime).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "process_running.h"

namespace kelvor {

struct Toolchain {
    std::string compiler;           // linking::kCxxCompilers found on PATH, or what --cc names
    std::string resource_compiler;  // linking::kResourceCompiler, or what --windres names
};

// Throws ToolError when a program cannot be found.
Toolchain find_toolchain(const std::optional<std::string>& compiler, const std::optional<std::string>& resource_compiler);

// The subsystem a launcher executable is linked for.
enum class Subsystem { gui, console };

// Links work/out.exe from the image sources in work and the launcher library in
// launcher_directory, with the flags of cmake/KelvorOnefileLinking.cmake: the same inputs give
// the same bytes, the same as kelvor_add_onefile's.
std::filesystem::path link_launcher(const Toolchain& toolchain, const std::filesystem::path& work,
                                    const std::filesystem::path& launcher_directory, Subsystem subsystem);

}  // namespace kelvor
