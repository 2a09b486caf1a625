// Reading a whole file for the tool: the files it reads whole are small (icons, the linked
// executable) or are read once (a block to list).
#pragma once

#include <filesystem>
#include <vector>

namespace kelvor {

// Throws ToolError "cannot read '<path>'" with the system's reason.
std::vector<unsigned char> read_whole_file(const std::filesystem::path& path);

}  // namespace kelvor
