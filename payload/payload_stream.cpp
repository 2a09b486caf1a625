#include "payload/payload_stream.h"

#include <stdlib.h>
#include <string.h>

#include "bootstrap/run_timing.h"
#include "payload/payload_failures.h"
#include "payload/payload_format.h"

PayloadStream payload_stream;

void open_payload_stream(const unsigned char* block, size_t size) {
    payload_stream.decode_buffer = static_cast<unsigned char*>(malloc(decode_buffer_size));
    if (payload_stream.decode_buffer == nullptr) fail_no_memory();
    payload_stream.context = ZSTD_createDCtx();
    if (payload_stream.context == nullptr) fail_no_memory();
    payload_stream.input = {block + payload_format::header_size, size - payload_format::header_size, 0};
    payload_stream.output = {payload_stream.decode_buffer, 0, 0};
    payload_stream.frame_ended = false;
}

namespace {

// One decoder call into the empty decode buffer; true when it filled the buffer, in which
// case the decoder may hold back more output even with the input used up.
bool decode_batch() {
    ZSTD_outBuffer& output = payload_stream.output;
    output.pos = 0;
    output.size = decode_buffer_size;
    const int64_t started = timing_now();
    const size_t result = ZSTD_decompressStream(payload_stream.context, &output, &payload_stream.input);
    timing_add(TimedPart::decode, started);
    if (ZSTD_isError(result)) fail_decode();
    payload_stream.frame_ended = result == 0;
    const bool filled = output.pos == decode_buffer_size;
    output.size = output.pos;
    output.pos = 0;
    return filled;
}

}  // namespace

void payload_read(void* destination, size_t n) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    ZSTD_outBuffer& output = payload_stream.output;
    bool filled = false;
    for (;;) {
        if (output.pos < output.size) {
            const size_t k = n < output.size - output.pos ? n : output.size - output.pos;
            memcpy(out, payload_stream.decode_buffer + output.pos, k);
            output.pos += k;
            out += k;
            n -= k;
            if (n == 0) return;
        } else if (payload_stream.input.pos < payload_stream.input.size || filled) {
            filled = decode_batch();
        } else {
            // Nothing left to decode and the request still open: a well-formed block never
            // gets here (the zero tail follows the frame), and looping would never end.
            fail_decode();
        }
    }
}

void require_frame_end() {
    const ZSTD_outBuffer& output = payload_stream.output;
    for (;;) {
        // The entry stream ends with its end marker: a decoded byte after it is damage.
        if (output.pos < output.size) fail_decode();
        if (payload_stream.frame_ended) return;
        if (payload_stream.input.pos == payload_stream.input.size) fail_decode();
        decode_batch();
    }
}

void close_payload_stream() {
    ZSTD_freeDCtx(payload_stream.context);
    payload_stream.context = nullptr;
    free(payload_stream.decode_buffer);
    payload_stream.decode_buffer = nullptr;
}
