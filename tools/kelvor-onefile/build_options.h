// The options that describe an executable, shared by "embed" and "build".
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "image_data_source.h"

namespace kelvor {

// --company, --product, --version, --product-version, --description, --icon and --template,
// with the limits they are checked against in their help.
OptionTable build_string_options();

// The strings from the command line, for an executable of this file name.
BuildStrings build_strings_from(const CommandLine& line, const std::string& file_name);
// --icon, or the default icon set that ships with the tool.
std::filesystem::path icon_source(const CommandLine& line);

}  // namespace kelvor
