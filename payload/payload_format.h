// The payload block, the contract between the packer that writes it and the launcher that
// reads it. All integers are little-endian.
//
//   offset 0      3 bytes  header "KAY"
//   offset 3      F bytes  one zstd frame; decoded, it is the entry stream
//   offset 3+F    4 bytes  zero tail
//   offset 7+F    8 bytes  tail offset, holding 7+F (its own offset)
//
// The entry stream is a sequence of entries, each a UTF-16LE name (backslash-separated path
// relative to the target directory) ending in a 0x0000 unit, a 64-bit data size and the data,
// ended by an empty name. The first entry is the application DLL. Nothing follows the end
// marker. Plain constants only, so the host tool and the launcher both include this file.
#pragma once

#include <cstddef>

namespace payload_format {

constexpr unsigned char header[] = {'K', 'A', 'Y'};
constexpr std::size_t header_size = sizeof header;
constexpr std::size_t zero_tail_size = 4;
constexpr std::size_t tail_offset_size = 8;
constexpr std::size_t size_field_size = 8;

// The launcher's name buffer holds 1,024 UTF-16 units, the terminator included.
constexpr std::size_t name_buffer_units = 1024;
constexpr std::size_t max_name_units = name_buffer_units - 1;

// The largest window the launcher's decoder accepts with its default settings.
constexpr unsigned max_window_log = 27;

}  // namespace payload_format
