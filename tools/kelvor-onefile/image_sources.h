// Everything besides the launcher library that one launcher executable is linked from, written
// into a directory: image-data.S with image-data.head (the payload and the build-time strings
// in a read-only section of their own), resources.rc with icon.ico and application.manifest
// (the executable's resources).
#pragma once

#include <filesystem>

#include "image_data_source.h"

namespace kelvor {

struct ImageSources {
    std::filesystem::path assembly;   // image-data.S
    std::filesystem::path resources;  // resources.rc
};

// Checks the strings as the build would need them (UTF-8, version numbers, the template by
// the launcher's own rules) and throws ToolError naming the first problem.
void check_build_strings(const BuildStrings& strings);

// icon: a directory of PNGs, one of each icon size, or an .ico file. Throws ToolError for bad
// strings or icons, before anything is written.
ImageSources write_image_sources(const std::filesystem::path& directory, const std::filesystem::path& payload,
                                 const BuildStrings& strings, const std::filesystem::path& icon);

}  // namespace kelvor
