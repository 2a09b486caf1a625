// The version resource of a launcher executable (the fixed part with the numeric versions, the
// language-neutral UTF-16 string table "000004b0" and the translation that points at it): its
// bytes, which the tool writes into an executable itself, and the resource script, with the
// application manifest and the icon group, for an executable linked by hand.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image_data_source.h"

namespace kelvor {

// "1", "1.2", "1.2.3" or "1.2.3.4", each number at most 65535; missing numbers are 0. Throws
// ToolError naming the string for anything else.
std::array<std::uint16_t, 4> version_numbers(const std::string& label, const std::string& version);

// The layout of the version resource, as the resource compiler writes it and Windows reads
// it: every structure (VS_VERSIONINFO, StringFileInfo, StringTable, each String, VarFileInfo
// and its Var) is a 6-byte header of three 16-bit fields (wLength, wValueLength, wType), its
// key in UTF-16 with a NUL, padding to 4 bytes, then its value; children follow, each padded
// to 4 bytes. wLength counts a structure with its children, so VS_VERSIONINFO's wLength holds
// the whole resource in 16 bits.
namespace version_layout {

constexpr std::size_t align4(std::size_t bytes) { return (bytes + 3) & ~std::size_t{3}; }
constexpr std::size_t units_with_nul(const char* key) { return *key ? 1 + units_with_nul(key + 1) : 1; }
constexpr std::size_t header_bytes(const char* key) { return align4(6 + 2 * units_with_nul(key)); }

constexpr const char* kStringKeys[] = {"CompanyName",      "ProductName",  "ProductVersion", "FileVersion",
                                       "OriginalFilename", "InternalName", "FileDescription"};
constexpr std::size_t kFixedFileInfoBytes = 52;  // VS_FIXEDFILEINFO
constexpr std::size_t kTranslationBytes = 4;     // one language and code page

constexpr std::size_t string_headers() {
    std::size_t bytes = 0;
    for (const char* key : kStringKeys) bytes += header_bytes(key);
    return bytes;
}

// Everything but the strings' values.
constexpr std::size_t kFixedBytes = header_bytes("VS_VERSION_INFO") + kFixedFileInfoBytes +
                                    header_bytes("StringFileInfo") + header_bytes("000004b0") + string_headers() +
                                    header_bytes("VarFileInfo") + header_bytes("Translation") + kTranslationBytes;

// A value of n units takes 2n + 2 bytes with its NUL, at most 2n + 4 once padded.
constexpr std::size_t kStringCount = sizeof kStringKeys / sizeof kStringKeys[0];
constexpr std::size_t kLargestResource = 0xFFFF;

}  // namespace version_layout

// The most UTF-16 units that the seven strings may hold together (without their NULs) so that
// the resource fits its 16-bit lengths whatever their split: 32,521.
constexpr std::size_t kVersionStringsLimit =
    (version_layout::kLargestResource - version_layout::kFixedBytes - 4 * version_layout::kStringCount) / 2;

// One string of the version resource: its key, the option it comes from, its text (UTF-8).
struct VersionString {
    const char* key;
    const char* given_by;
    std::string text;
};

// The seven strings in the order the resource holds them; the description defaults to the
// product name.
std::vector<VersionString> version_strings(const BuildStrings& strings);

// Throws ToolError when a string is not UTF-8 or when together they are more than
// kVersionStringsLimit units, naming the limit and the longest string's option.
void check_version_strings(const BuildStrings& strings);

// The RT_VERSION resource's bytes, laid out as above: the same bytes as the resource compiler
// makes of resource_script's VERSIONINFO. Throws ToolError as check_version_strings does.
std::vector<unsigned char> version_resource(const BuildStrings& strings);

// The .rc text. The icon and the manifest are files the script refers to by path.
std::string resource_script(const BuildStrings& strings, const std::filesystem::path& icon,
                            const std::filesystem::path& manifest);

}  // namespace kelvor
