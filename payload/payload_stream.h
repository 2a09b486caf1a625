// The decoding stream over the payload's compressed frame: payload_read delivers exactly the
// next n bytes of the entry stream or ends the run. The frame is read in place from the image
// and decoded in one forward pass through one 131,072-byte decode buffer; it is never held
// whole in memory.
#pragma once

#include <stddef.h>

#include <zstd.h>

// The zstd library's recommended streaming output size.
constexpr size_t decode_buffer_size = 131072;

// Process-wide, used by the main thread only. Between decoder calls, output.size is the
// number of bytes the last call produced and output.pos how many of them have been delivered.
struct PayloadStream {
    ZSTD_DCtx* context;
    ZSTD_inBuffer input;
    ZSTD_outBuffer output;
    unsigned char* decode_buffer;
    bool frame_ended;  // the last decoder call reported the frame's end
};

extern PayloadStream payload_stream;

// Points the stream at the compressed frame after the header of a checked block, with a
// fresh decode buffer and a decompression context with the library's defaults. When either
// cannot be allocated: the memory message and exit code 2.
void open_payload_stream(const unsigned char* block, size_t size);

// n >= 1 bytes into destination. Any decoder error, or input used up while the request is
// still open: the decode message and exit code 2.
void payload_read(void* destination, size_t n);

// Once the end marker has been read: the frame must end right there. Ends the run with the
// decode message and exit code 2 when anything is decoded after the end marker, or when the
// decoder does not report the frame's end, which it does only after checking the frame's
// content checksum when the frame carries one. So damage is caught before the application
// runs, whatever the damage was.
void require_frame_end();

// Frees the context and the decode buffer once the end marker has been read.
void close_payload_stream();
