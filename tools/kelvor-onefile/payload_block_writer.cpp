#include "payload_block_writer.h"

#include <array>
#include <memory>
#include <thread>
#include <zstd.h>

#include "file_contents.h"
#include "little_endian.h"
#include "payload/payload_format.h"
#include "progress_meter.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

namespace {

struct ContextDeleter {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

void check(size_t result, const char* what) {
    if (ZSTD_isError(result)) throw ToolError(std::string(what) + ": " + ZSTD_getErrorName(result));
}

std::vector<unsigned char> entry_header(const Entry& entry) {
    std::vector<unsigned char> header;
    for (const char16_t unit : entry.name) append_le(header, unit, 2);
    append_le(header, 0, 2);
    append_le(header, entry.size, payload_format::size_field_size);
    return header;
}

// Feeds the entry stream to one zstd frame and hands the compressed bytes to the sink.
class FrameWriter {
public:
    FrameWriter(const PackOptions& options, std::uint64_t stream_bytes, const ByteSink& sink)
        : context_(ZSTD_createCCtx()), sink_(sink), output_(ZSTD_CStreamOutSize()) {
        if (!context_) throw ToolError("out of memory for the compressor");
        const int threads = options.threads > 0 ? options.threads
                                                : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        const int window_log = options.window_log.value_or(window_log_for(stream_bytes));
        check(ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_compressionLevel, options.level), "compression level");
        // Workers are always used, even just one: zstd's multithreaded format does not depend
        // on the number of workers, so the payload is the same on every machine.
        check(ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_nbWorkers, threads), "threads");
        check(ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_windowLog, window_log), "window");
        set_job_shape(window_log);
        check(ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_contentSizeFlag, options.record_content_size ? 1 : 0),
              "content size");
        // The content checksum lets the launcher and "list" tell a damaged frame from a good one.
        check(ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_checksumFlag, 1), "checksum");
        if (options.record_content_size) {
            check(ZSTD_CCtx_setPledgedSrcSize(context_.get(), stream_bytes), "content size");
        }
    }

    void write(const void* data, size_t count) { compress(data, count, ZSTD_e_continue); }
    void finish() { compress(nullptr, 0, ZSTD_e_end); }
    std::uint64_t frame_bytes() const { return frame_bytes_; }

private:
    // zstd sizes its parallel jobs at four windows and reloads a whole window before each,
    // so the large window of a big payload would leave one job for one core. Jobs and reloads
    // are kept at what zstd uses for its own 8 MiB window: 32 MiB jobs, 8 MiB of overlap.
    // The job boundaries depend on these numbers only, never on the number of threads.
    void set_job_shape(int window_log) {
        constexpr int kStandardWindowLog = 23;
        if (window_log <= kStandardWindowLog) return;
        check(ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_jobSize, 32 << 20), "job size");
        check(ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_overlapLog, std::max(1, 9 - (window_log - kStandardWindowLog))),
              "overlap");
    }

    void compress(const void* data, size_t count, ZSTD_EndDirective mode) {
        ZSTD_inBuffer input{data, count, 0};
        for (;;) {
            ZSTD_outBuffer output{output_.data(), output_.size(), 0};
            const size_t remaining = ZSTD_compressStream2(context_.get(), &output, &input, mode);
            check(remaining, "compression");
            if (output.pos > 0) {
                sink_(output_.data(), output.pos);
                frame_bytes_ += output.pos;
            }
            const bool done = mode == ZSTD_e_end ? remaining == 0 : input.pos == input.size;
            if (done) return;
        }
    }

    std::unique_ptr<ZSTD_CCtx, ContextDeleter> context_;
    const ByteSink& sink_;
    std::vector<unsigned char> output_;
    std::uint64_t frame_bytes_ = 0;
};

void pack_file_data(const Entry& entry, FrameWriter& frame, ProgressMeter& progress) {
    InputFile file(entry.source);
    std::vector<char> buffer(1 << 20);
    std::uint64_t packed = 0;
    // One read past the recorded size tells a file that grew since it was collected.
    for (;;) {
        const size_t count = file.read_some(buffer.data(), buffer.size());
        if (count == 0) break;
        packed += count;
        if (packed > entry.size) break;
        frame.write(buffer.data(), count);
        progress.advance(count);
    }
    if (packed != entry.size) {
        throw ToolError("'" + utf8_of(entry.source) + "' changed size while it was being packed");
    }
}

}  // namespace

std::uint64_t entry_stream_size(const std::vector<Entry>& entries) {
    std::uint64_t total = 2;  // the end marker
    for (const auto& entry : entries) total += 2 * (entry.name.size() + 1) + payload_format::size_field_size + entry.size;
    return total;
}

int window_log_for(std::uint64_t stream_bytes) {
    int log = ZSTD_WINDOWLOG_MIN;
    while (log < default_window_log_limit && (std::uint64_t{1} << log) < stream_bytes) ++log;
    return log;
}

PackSummary write_payload_block(const std::vector<Entry>& entries, const PackOptions& options,
                                const ByteSink& sink) {
    PackSummary summary;
    summary.entries = entries.size();
    summary.stream_bytes = entry_stream_size(entries);
    summary.window_log = options.window_log.value_or(window_log_for(summary.stream_bytes));
    for (const auto& entry : entries) summary.file_bytes += entry.size;

    sink(payload_format::header, payload_format::header_size);
    FrameWriter frame(options, summary.stream_bytes, sink);
    ProgressMeter progress("packing", summary.stream_bytes);
    for (const auto& entry : entries) {
        const auto header = entry_header(entry);
        frame.write(header.data(), header.size());
        progress.advance(header.size());
        pack_file_data(entry, frame, progress);
    }
    const unsigned char end_marker[2] = {0, 0};
    frame.write(end_marker, sizeof end_marker);
    frame.finish();
    progress.advance(sizeof end_marker);
    progress.finish();

    summary.frame_bytes = frame.frame_bytes();
    std::vector<unsigned char> tail(payload_format::zero_tail_size, 0);
    append_le(tail, payload_format::header_size + summary.frame_bytes + payload_format::zero_tail_size,
           payload_format::tail_offset_size);
    sink(tail.data(), tail.size());
    summary.block_bytes = payload_format::header_size + summary.frame_bytes + tail.size();
    return summary;
}

}  // namespace kelvor
