// Payload blocks made by hand, for the cases the packer never writes: names given twice,
// names that are too long, streams without an end marker, frames split so that the decoder
// delivers in small batches or not at all. Frames hold raw (uncompressed) blocks.
#pragma once

#include <cstddef>
#include <string>

namespace kelvor::testing {

// One entry of the entry stream: the UTF-16LE name, its terminator, the size and the data.
std::string entry_bytes(const std::wstring& name, const std::string& data);
std::string end_marker_bytes();

// A zstd frame holding these bytes in raw blocks of at most block_size bytes, with the
// content size in its header, and with the content checksum when asked.
std::string raw_frame(const std::string& content, size_t block_size = 131072, bool checksum = false);
// A skippable frame of n bytes: the decoder consumes it and produces nothing.
std::string skippable_frame(size_t n);

// "KAY", the frames, the four-byte zero tail and the tail offset.
std::string payload_block(const std::string& frames);

}  // namespace kelvor::testing
