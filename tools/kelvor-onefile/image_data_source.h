// The assembly source that places a payload block and the build-time strings into the
// launcher's read-only data: the payload as kelvor_payload_block and kelvor_payload_size, the
// strings as NUL-terminated UTF-16 arrays. Linking it with the launcher library makes one
// executable.
#pragma once

#include <filesystem>
#include <string>

#include "path_template/path_template_variables.h"

namespace kelvor {

// What distinguishes one build from another besides its payload. The company, product,
// version and product version feed both the path template's variables and the version
// resource.
struct BuildStrings {
    std::string company = "Kelvor";
    std::string product = "Kelvor Onefile Application";
    std::string version = "1.0.0.0";
    std::string product_version = "1.0.0.0";
    std::string description;    // empty: the product name
    std::string file_name;      // the executable's file name, App.exe
    std::string internal_name;  // the file name without its extension
    std::string path_template = path_template_language::default_template;
};

// Throws ToolError for strings that are not UTF-8 or a template the launcher would reject.
std::string image_data_source(const std::filesystem::path& payload, const BuildStrings& strings);

}  // namespace kelvor
