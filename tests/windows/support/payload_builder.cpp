#include "payload_builder.h"

#include <cstdint>

#include <common/xxhash.h>

namespace kelvor::testing {

std::string raw_frame(const std::string& content, size_t block_size, bool checksum) {
    std::string frame;
    put_le(frame, 0xFD2FB528, 4);
    // Single segment with an 8-byte content size: no window descriptor, the window is the content.
    put_le(frame, checksum ? 0xE4 : 0xE0, 1);
    put_le(frame, content.size(), 8);
    size_t at = 0;
    do {
        const size_t size = std::min(block_size, content.size() - at);
        const bool last = at + size == content.size();
        put_le(frame, (size << 3) | (last ? 1 : 0), 3);  // block type 0: raw
        frame.append(content, at, size);
        at += size;
    } while (at < content.size());
    // The low four bytes of the content's XXH64 with seed 0.
    if (checksum) put_le(frame, XXH64(content.data(), content.size(), 0), 4);
    return frame;
}

std::string skippable_frame(size_t n) {
    std::string frame;
    put_le(frame, 0x184D2A50, 4);
    put_le(frame, n, 4);
    return frame + std::string(n, 'S');
}

}  // namespace kelvor::testing
