#include "payload_block_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <zstd.h>
#include <zstd_errors.h>

#include "entry_names.h"
#include "file_contents.h"
#include "little_endian.h"
#include "payload/payload_format.h"
#include "progress_meter.h"
#include "text_encoding.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

namespace {

struct ContextDeleter {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// Splits the decoded bytes into entries as they arrive, in any piece sizes.
class EntryStreamParser {
public:
    EntryStreamParser(BlockContents& contents, const EntryDataVisitor& visit)
        : contents_(contents), visit_(visit) {}

    void feed(const unsigned char* data, size_t count) {
        while (count > 0) {
            const size_t used = step(data, count);
            data += used;
            count -= used;
            offset_ += used;
        }
    }

    void finish() const {
        if (state_ == State::Done && trailing_ > 0) {
            throw ToolError("entry stream: " + std::to_string(trailing_) +
                            " bytes follow the end marker at decoded byte " + std::to_string(offset_ - trailing_));
        }
        if (state_ == State::Done && contents_.entries.empty()) {
            throw ToolError("entry stream: no entries; the end marker stands where the application DLL belongs");
        }
        if (state_ == State::Done) return;
        const std::string where = " at decoded byte " + std::to_string(offset_);
        if (state_ == State::Data) {
            const auto& entry = contents_.entries.back();
            throw ToolError("entry stream: truncated in the data of entry " + std::to_string(contents_.entries.size()) +
                            " '" + utf16_to_utf8(entry.name) + "' (" + std::to_string(entry.size - remaining_) +
                            " of " + std::to_string(entry.size) + " bytes)" + where);
        }
        throw ToolError(std::string("entry stream: truncated in the ") +
                        (state_ == State::Size ? "size" : "name") + " of entry " +
                        std::to_string(contents_.entries.size() + 1) + " (no end marker)" + where);
    }

private:
    enum class State { Name, Size, Data, Done };

    size_t step(const unsigned char* data, size_t count) {
        switch (state_) {
            case State::Name: return take_name(data[0]);
            case State::Size: return take_size(data, count);
            case State::Data: return take_data(data, count);
            case State::Done: break;
        }
        trailing_ += count;
        return count;
    }

    // Names arrive one byte at a time: a code unit may straddle two decoded pieces.
    size_t take_name(unsigned char byte) {
        pending_[pending_size_++] = byte;
        if (pending_size_ < 2) return 1;
        pending_size_ = 0;
        const auto unit = static_cast<char16_t>(read_le(pending_, 2));
        if (unit != 0) {
            name_.push_back(unit);
            if (name_.size() > payload_format::max_name_units) {
                throw ToolError("entry stream: the name of entry " + std::to_string(contents_.entries.size() + 1) +
                                " is longer than " + std::to_string(payload_format::max_name_units) +
                                " units at decoded byte " + std::to_string(offset_));
            }
        } else {
            if (!name_.empty()) check_name();
            state_ = name_.empty() ? State::Done : State::Size;
        }
        return 1;
    }

    // The launcher takes a name that the packer would never write (one that leads out of its
    // directory or into a device) for damage, and so does every reader here.
    void check_name() const {
        const std::string fault = entry_name_fault(name_);
        if (fault.empty()) return;
        throw ToolError("entry stream: entry " + std::to_string(contents_.entries.size() + 1) + " '" +
                        utf16_to_utf8(name_) + "': " + fault);
    }

    size_t take_size(const unsigned char* data, size_t count) {
        const size_t used = std::min(count, payload_format::size_field_size - pending_size_);
        std::memcpy(pending_ + pending_size_, data, used);
        pending_size_ += used;
        if (pending_size_ == payload_format::size_field_size) {
            pending_size_ = 0;
            contents_.entries.push_back({std::move(name_), read_le(pending_, 8)});
            contents_.file_bytes += contents_.entries.back().size;
            name_.clear();
            remaining_ = contents_.entries.back().size;
            state_ = remaining_ > 0 ? State::Data : State::Name;
            if (visit_) visit_(contents_.entries.back(), data + used, 0);
        }
        return used;
    }

    size_t take_data(const unsigned char* data, size_t count) {
        const size_t used = static_cast<size_t>(std::min<std::uint64_t>(count, remaining_));
        if (visit_) visit_(contents_.entries.back(), data, used);
        remaining_ -= used;
        if (remaining_ == 0) state_ = State::Name;
        return used;
    }

    BlockContents& contents_;
    const EntryDataVisitor& visit_;
    State state_ = State::Name;
    std::u16string name_;
    unsigned char pending_[8] = {};
    size_t pending_size_ = 0;
    std::uint64_t remaining_ = 0;
    std::uint64_t offset_ = 0;
    std::uint64_t trailing_ = 0;  // decoded bytes after the end marker
};

void check_header(const unsigned char* block, size_t size) {
    if (size < payload_format::header_size ||
        std::memcmp(block, payload_format::header, payload_format::header_size) != 0) {
        throw ToolError("header: the block does not begin with \"KAY\"");
    }
}

void read_frame_header(const unsigned char* frame, size_t size, BlockContents& contents) {
    ZSTD_frameHeader header;
    const size_t result = ZSTD_getFrameHeader(&header, frame, size);
    if (ZSTD_isError(result)) throw ToolError(std::string("frame: bad frame header: ") + ZSTD_getErrorName(result));
    if (result != 0) throw ToolError("frame: the block ends inside the frame header");
    if (header.frameType != ZSTD_frame) throw ToolError("frame: a skippable frame where the payload frame belongs");
    if (header.dictID != 0) throw ToolError("frame: the frame needs a dictionary");
    contents.window_size = header.windowSize;
    contents.has_checksum = header.checksumFlag != 0;
    if (header.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN) contents.content_size = header.frameContentSize;
}

[[noreturn]] void frame_error(size_t result, size_t consumed) {
    if (ZSTD_getErrorCode(result) == ZSTD_error_checksum_wrong) {
        throw ToolError("frame: the content checksum does not match the decoded data; the payload is damaged");
    }
    throw ToolError(std::string("frame: ") + ZSTD_getErrorName(result) + " near compressed byte " +
                    std::to_string(payload_format::header_size + consumed));
}

// Decodes exactly one frame from the start of the compressed part, to its end, where the
// decoder checks the content checksum; returns its length F. Damage that garbles the entry
// stream usually shows in the checksum as well, so a fault in the stream is reported only
// once the frame has proved whole.
std::uint64_t decode_frame(const unsigned char* frame, size_t size, EntryStreamParser& parser,
                           BlockContents& contents, ProgressMeter* progress) {
    std::unique_ptr<ZSTD_DCtx, ContextDeleter> context(ZSTD_createDCtx());
    if (!context) throw ToolError("out of memory for the decoder");
    ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, payload_format::max_window_log);
    ZSTD_DCtx_setParameter(context.get(), ZSTD_d_forceIgnoreChecksum, ZSTD_d_validateChecksum);
    std::vector<unsigned char> output(ZSTD_DStreamOutSize());
    ZSTD_inBuffer input{frame, size, 0};
    std::optional<ToolError> stream_fault;
    for (;;) {
        ZSTD_outBuffer out{output.data(), output.size(), 0};
        const size_t consumed = input.pos;
        const size_t result = ZSTD_decompressStream(context.get(), &out, &input);
        if (ZSTD_isError(result)) frame_error(result, input.pos);
        if (progress) progress->advance(input.pos - consumed);
        contents.stream_bytes += out.pos;
        try {
            if (!stream_fault) parser.feed(output.data(), out.pos);
        } catch (const ToolError& fault) {
            stream_fault = fault;
        }
        if (result == 0) {
            if (stream_fault) throw *stream_fault;
            return input.pos;
        }
        if (input.pos == input.size && out.pos < out.size) {
            throw ToolError("frame: the block ends inside the frame after " + std::to_string(input.pos) + " bytes");
        }
    }
}

// Four zero bytes, then the tail offset holding its own offset, then the end of the block.
void check_tail(const unsigned char* block, size_t size, std::uint64_t frame_end) {
    const size_t tail = size - frame_end;
    const size_t expected = payload_format::zero_tail_size + payload_format::tail_offset_size;
    const std::string where = " after the frame (block offset " + std::to_string(frame_end) + ")";
    if (tail < expected) {
        throw ToolError("tail: " + std::to_string(tail) + " bytes" + where + "; the tail is " + std::to_string(expected) +
                        " (four zero bytes and the 8-byte tail offset)");
    }
    for (size_t i = frame_end; i < frame_end + payload_format::zero_tail_size; ++i) {
        if (block[i] != 0) throw ToolError("tail: byte " + std::to_string(i) + " of the zero tail is not zero");
    }
    const size_t offset_field = frame_end + payload_format::zero_tail_size;
    const std::uint64_t recorded = read_le(block + offset_field, payload_format::tail_offset_size);
    if (recorded != offset_field) {
        throw ToolError("tail: the tail offset holds " + std::to_string(recorded) + " but stands at " +
                        std::to_string(offset_field));
    }
    if (tail > expected) {
        throw ToolError("tail: " + std::to_string(tail - expected) + " bytes follow the tail offset at block offset " +
                        std::to_string(offset_field));
    }
}

}  // namespace

BlockSpan find_payload_block(const unsigned char* data, size_t size) {
    const bool executable = size >= 2 && data[0] == 'M' && data[1] == 'Z';
    if (!executable) return {0, size};
    // "KAY" and the zstd frame magic; the tail's offset field, holding its own offset, closes it.
    static const unsigned char start[] = {'K', 'A', 'Y', 0x28, 0xB5, 0x2F, 0xFD};
    const unsigned char* end = data + size;
    for (const unsigned char* at = std::search(data, end, start, start + sizeof start); at != end;
         at = std::search(at + 1, end, start, start + sizeof start)) {
        const size_t offset = static_cast<size_t>(at - data);
        const size_t frame = ZSTD_findFrameCompressedSize(at + payload_format::header_size,
                                                          size - offset - payload_format::header_size);
        if (ZSTD_isError(frame)) continue;
        const size_t tail_field = offset + payload_format::header_size + frame + payload_format::zero_tail_size;
        if (tail_field + payload_format::tail_offset_size > size) continue;
        if (read_le(data + tail_field, payload_format::tail_offset_size) != tail_field - offset) continue;
        return {offset, tail_field + payload_format::tail_offset_size - offset};
    }
    throw ToolError("header: no payload block in the executable");
}

BlockContents read_payload_block(const unsigned char* block, size_t size, const EntryDataVisitor& visit_data,
                                 ProgressMeter* progress) {
    BlockContents contents;
    contents.block_bytes = size;
    check_header(block, size);
    const unsigned char* frame = block + payload_format::header_size;
    const size_t frame_space = size - payload_format::header_size;
    read_frame_header(frame, frame_space, contents);

    EntryStreamParser parser(contents, visit_data);
    contents.frame_bytes = decode_frame(frame, frame_space, parser, contents, progress);
    parser.finish();
    if (contents.content_size && *contents.content_size != contents.stream_bytes) {
        throw ToolError("frame: the header records " + std::to_string(*contents.content_size) + " bytes but " +
                        std::to_string(contents.stream_bytes) + " were decoded");
    }
    check_tail(block, size, payload_format::header_size + contents.frame_bytes);
    return contents;
}

BlockContents read_payload_file(const std::filesystem::path& path, const EntryDataVisitor& visit_data,
                                const char* progress_label) {
    const auto bytes = read_whole_file(path, kLargestImageBytes, "a launcher executable");
    try {
        const BlockSpan block = find_payload_block(bytes.data(), bytes.size());
        if (!progress_label) return read_payload_block(bytes.data() + block.offset, block.size, visit_data);
        ProgressMeter progress(progress_label, block.size);
        auto contents = read_payload_block(bytes.data() + block.offset, block.size, visit_data, &progress);
        progress.finish();
        return contents;
    } catch (const ToolError& damage) {
        throw ToolError("'" + utf8_of(path) + "': " + damage.what());
    }
}

}  // namespace kelvor
