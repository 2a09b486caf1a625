// The resource script of a launcher executable: its version resource (the fixed part with the
// numeric versions, the language-neutral UTF-16 string table "000004b0" and the translation
// that points at it), the application manifest and the icon group.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "image_data_source.h"

namespace kelvor {

// "1", "1.2", "1.2.3" or "1.2.3.4", each number at most 65535; missing numbers are 0. Throws
// ToolError naming the string for anything else.
std::array<std::uint16_t, 4> version_numbers(const std::string& label, const std::string& version);

// The .rc text. The icon and the manifest are files the script refers to by path.
std::string resource_script(const BuildStrings& strings, const std::filesystem::path& icon,
                            const std::filesystem::path& manifest);

}  // namespace kelvor
