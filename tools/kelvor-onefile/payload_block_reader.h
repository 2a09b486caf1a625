// Reads a payload block back and checks all of it: the header, the zstd frame to its end with
// its content checksum when it has one, the entry stream up to its end marker and nothing
// after it (at least one entry, every name one that the packer could write: see
// check_entry_name), the zero tail and the tail offset. list and extract refuse the same blocks
// with the same messages.
#pragma once

#include <cstdint>
#include <filesystem>
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

// Called once as each entry begins, with count 0 (an empty entry gets only this call), then
// with each piece of its data, in order. A ToolError that it throws ends the reading, but is
// reported only when the frame has proved whole: damage, when there is any, is named first.
using EntryDataVisitor =
    std::function<void(const ListedEntry& entry, const unsigned char* data, std::size_t count)>;

class ProgressMeter;

// Throws ToolError whose message begins with the part that is wrong ("header:", "frame:",
// "entry stream:", "tail:") and says where. progress, when given, advances by the bytes of the
// frame as they are decoded.
BlockContents read_payload_block(const unsigned char* block, std::size_t size,
                                 const EntryDataVisitor& visit_data = nullptr, ProgressMeter* progress = nullptr);

// The same for a payload block file or a launcher executable (see find_payload_block), with
// the file named in every message.
BlockContents read_payload_file(const std::filesystem::path& path, const EntryDataVisitor& visit_data = nullptr,
                                const char* progress_label = nullptr);

}  // namespace kelvor
