// The image data of a launcher executable, the contract between the tool that writes it and
// the launcher that reads it: a section of its own in the executable, named ".kelvor"
// (initialized, read-only, never executable), that holds the build-time strings and the
// payload block. The launcher finds the section in its own image in memory through the section
// table; it never opens its file. All integers are little-endian.
//
//   offset 0   8 bytes   magic "KELVORID"
//   offset 8   4 bytes   format, 1
//   offset 12  5 x 4     the strings' offsets: company, product, version, product version and
//                        path template, each NUL-terminated UTF-16LE text at an even offset
//   offset 32  8 bytes   the payload block's offset, a multiple of 16
//   offset 40  8 bytes   the payload block's size
//   offset 48            the strings, then zeros up to the payload block, which ends the data
//
// The section's virtual size may be larger than its data (the loader fills the rest with
// zeros); every offset and every string lies within the virtual size. Plain constants only, so
// the host tool and the launcher both include this file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace image_data_layout {

// A section name is 8 bytes in the section table, NUL-padded.
constexpr char section_name[8] = {'.', 'k', 'e', 'l', 'v', 'o', 'r', '\0'};
constexpr unsigned char magic[8] = {'K', 'E', 'L', 'V', 'O', 'R', 'I', 'D'};
constexpr std::uint32_t format = 1;

constexpr std::size_t format_offset = 8;
constexpr std::size_t string_offsets_offset = 12;
constexpr std::size_t string_count = 5;
enum String { company, product, version, product_version, path_template };
constexpr std::size_t payload_offset_offset = string_offsets_offset + 4 * string_count;
constexpr std::size_t payload_size_offset = payload_offset_offset + 8;
constexpr std::size_t header_size = payload_size_offset + 8;
constexpr std::size_t payload_alignment = 16;

// Every launcher carries this text in its read-only data, with its version: the tool writes
// image data only into a prebuilt launcher of its own version and format.
#define KELVOR_LAUNCHER_IDENTITY_PREFIX "kelvor-onefile launcher, image data format 1, version "

}  // namespace image_data_layout
