// Writes a payload block: the header, one zstd frame holding the entry stream and its content
// checksum, the zero tail and the tail offset.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "entry_collection.h"

namespace kelvor {

struct PackOptions {
    int level = 19;
    int threads = 0;                    // 0: one worker per core
    std::optional<int> window_log;      // default: the smallest window that holds the stream
    bool record_content_size = true;
};

struct PackSummary {
    std::uint64_t entries = 0;
    std::uint64_t file_bytes = 0;       // the entries' data
    std::uint64_t stream_bytes = 0;     // the decoded entry stream
    std::uint64_t frame_bytes = 0;      // F
    std::uint64_t block_bytes = 0;      // L = F + 15
    int window_log = 0;
};

using ByteSink = std::function<void(const void* data, std::size_t count)>;

// The length of the entry stream that the entries make, end marker included.
std::uint64_t entry_stream_size(const std::vector<Entry>& entries);

// The largest window a payload gets unless one is asked for: 16 MiB. A window is the memory
// the launcher's decoder fills once, page by page, and a page touched for the first time costs
// tens of microseconds; past 16 MiB a window makes the run slower while it hardly makes the
// payload smaller (measured with bench/run on the reference application: 16 MiB gave a
// smaller payload than 64 MiB, a faster run and half the memory).
constexpr int default_window_log_limit = 24;

// The window that a payload of this stream size gets: the smallest power of two that holds
// it, between zstd's minimum and 2^24.
int window_log_for(std::uint64_t stream_bytes);

// Throws ToolError when a file cannot be read or changes size while it is packed, and for
// options that zstd rejects. Shows progress on stderr when it is a terminal.
PackSummary write_payload_block(const std::vector<Entry>& entries, const PackOptions& options,
                                const ByteSink& sink);

}  // namespace kelvor
