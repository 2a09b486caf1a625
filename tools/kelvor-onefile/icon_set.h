// Icon sets: the icon group of a launcher executable, read from the user's PNG files or .ico
// file and checked before anything is built, and written as the icon group resource or as the
// .ico file that the resource compiler turns into the group.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher_linking.h"

namespace kelvor {

// The icon group of a launcher executable: one PNG image of each of these sizes, in pixels
// square (cmake/KelvorOnefileLinking.cmake names them). Windows picks from these for every
// view and display scale.
using linking::kIconSizes;
// The sizes in words, "16, 24, ... and 256", for messages and help.
std::string icon_sizes_text();

// The most bytes one PNG image of a set may have: far more than any image of 256 pixels square
// needs (its pixels take 256 KiB uncompressed, 512 KiB at 16 bits a channel).
constexpr std::uint64_t kIconImageLimit = 1 << 20;

struct IconImage {
    int size;  // width = height, in pixels
    std::vector<unsigned char> png;
};

// Reads a user's icons: a directory holding exactly one PNG file of each size (any names ending
// in .png, in any case; other files are ignored); or an .ico file whose images are PNGs of
// exactly those sizes. Each PNG must have its signature, IHDR as its first chunk,
// width equal to height, chunks that run whole to IEND, image data that inflates to exactly
// what IHDR declares, and at most kIconImageLimit bytes. Throws ToolError with one message
// naming the file and the problem. Returns the images ordered by size.
std::vector<IconImage> read_icon_set(const std::filesystem::path& directory_or_ico);

// The files that read_icon_set reads: the PNG files of the directory, or the .ico file.
// Throws ToolError for a directory that cannot be read.
std::vector<std::filesystem::path> icon_files(const std::filesystem::path& directory_or_ico);

// The bytes of an .ico file holding these images (as read_icon_set returns them) as
// PNG-compressed entries, the form Windows Vista and later read. The same images give the
// same bytes.
std::vector<unsigned char> ico_file(const std::vector<IconImage>& images);

// The RT_GROUP_ICON resource of these images (GRPICONDIR and one GRPICONDIRENTRY each): the
// images are the RT_ICON resources first_id, first_id + 1, ... in their order. The resource
// compiler makes the same bytes of the .ico file.
std::vector<unsigned char> icon_group(const std::vector<IconImage>& images, std::uint16_t first_id);

}  // namespace kelvor
