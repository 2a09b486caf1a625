// The options that describe an executable, shared by "embed" and "build".
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "image_data_source.h"

namespace kelvor {

inline const std::vector<std::string> kBuildStringOptions = {
    "--company", "--product", "--version", "--product-version", "--description", "--icon", "--template"};

// The help lines of those options, with the version resource's limit.
std::string build_string_options_help();

// The strings from the command line, for an executable of this file name.
BuildStrings build_strings_from(const CommandLine& line, const std::string& file_name);
// --icon, or the default icon set that ships with the tool.
std::filesystem::path icon_source(const CommandLine& line);

}  // namespace kelvor
