// The image data of a launcher executable (payload/image_data_layout.h): its head, which holds
// the build-time strings and places the payload after them, and the assembly source that puts
// head and payload into the ".kelvor" section of an executable linked with the launcher
// library. The tool's own executables carry the same section bytes, written into a copy of a
// prebuilt launcher.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

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

// The section's bytes before the payload block of payload_size bytes: the layout's header and
// the strings, padded to the payload's alignment. Throws ToolError for a string that is not
// UTF-8.
std::vector<unsigned char> image_data_head(const BuildStrings& strings, std::uint64_t payload_size);

// The assembly source of the section: the head from the file head, then the payload block
// from the file payload, both taken in whole by the assembler.
std::string image_data_source(const std::filesystem::path& head, const std::filesystem::path& payload);

}  // namespace kelvor
