// The file writer: a thread of its own that makes the unpacked files while the main thread
// decodes, so that decoding and the file system's work overlap on two cores. The main thread
// hands over, in the entry stream's order, "open this path", pieces of data and "close"; the
// writer carries them out in that order through a small ring of slots, each with a buffer the
// decoder fills in place. Failures end the run from the writer, with the messages the
// unpacker always gave (payload_failures.h), and nothing after them is written. Each command
// is a step of the run: once the console handler has begun, the writer writes nothing more.
#pragma once

#include <stddef.h>

constexpr size_t writer_piece_size = 32768;
constexpr size_t writer_slots = 8;

// Queues the opening of the file at path (its directories made first); the path is copied.
// The first one starts the thread, or ends the run (no memory) when it cannot.
void writer_open(const wchar_t* path);

// The buffer of the next data piece, writer_piece_size bytes; waits while every slot is queued.
unsigned char* writer_piece_buffer();
// Queues the piece in that buffer, count bytes of it.
void writer_write(size_t count);

// Queues the closing of the open file.
void writer_close();

// Closes the file the writer has open, if any: for the console handler, once it holds the
// run's steps (run_state.h), so that the writer is between two of them.
void close_writer_file();

// Waits until everything queued has been carried out. A failure on the way ends the run from
// the writer first, as it would have ended it without the overlap. Returns at once when
// nothing was queued.
void finish_file_writer();
