// Reads a payload block back and checks all of it: the header, the zstd frame to its end with
// its content checksum when it has one, the entry stream up to its end marker and nothing
// after it, the zero tail and the tail offset.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvor {

struct ListedEntry {
    std::u16string name;
    std::uint64_t size = 0;
};

struct BlockContents {
    std::vector<ListedEntry> entries;
    std::uint64_t file_bytes = 0;
    std::uint64_t stream_bytes = 0;
    std::uint64_t frame_bytes = 0;
    std::uint64_t block_bytes = 0;
    std::uint64_t window_size = 0;
    std::optional<std::uint64_t> content_size;  // when the frame header records it
    bool has_checksum = false;                  // the frame carries a content checksum, and it matched
};

// Where a payload block lies in a file: the whole file, or, for a launcher executable, the
// block inside its image data (found by its header, its frame and its tail). Throws ToolError
// when there is none.
struct BlockSpan {
    std::size_t offset = 0;
    std::size_t size = 0;
};
BlockSpan find_payload_block(const unsigned char* data, std::size_t size);

// Called with each piece of an entry's data, in order.
using EntryDataVisitor =
    std::function<void(const ListedEntry& entry, const unsigned char* data, std::size_t count)>;

// Throws ToolError whose message begins with the part that is wrong ("header:", "frame:",
// "entry stream:", "tail:") and says where.
BlockContents read_payload_block(const unsigned char* block, std::size_t size,
                                 const EntryDataVisitor& visit_data = nullptr);

}  // namespace kelvor
