// Frames made by hand for payload blocks of the cases the packer never writes: names given
// twice, names that are too long, streams without an end marker, frames split so that the
// decoder delivers in small batches or not at all. Frames hold raw (uncompressed) blocks; the
// entries and the block around the frames are tests/support/payload_layout.h's.
#pragma once

#include <cstddef>
#include <string>

#include "payload_layout.h"

namespace kelvor::testing {

// A zstd frame holding these bytes in raw blocks of at most block_size bytes, with the
// content size in its header, and with the content checksum when asked.
std::string raw_frame(const std::string& content, size_t block_size = 131072, bool checksum = false);
// A skippable frame of n bytes: the decoder consumes it and produces nothing.
std::string skippable_frame(size_t n);

}  // namespace kelvor::testing
