// The file unpacker: entries of the entry stream become files below the target directory.
// The driver's loop calls, per entry: read_entry_name (false at the end marker),
// build_entry_path, and in a parent run unpack_entry; then finish_unpacking. Directories come
// into being because an entry's path runs through them (the target directory itself is the
// driver's: target_directory.h). The files are made by the file writer's thread
// (file_writer.h) while this one decodes. Every failure ends the run; the files written so far
// stay.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#include "payload/file_writer.h"

#include "payload/payload_format.h"

constexpr size_t entry_name_units = payload_format::name_buffer_units;
constexpr size_t entry_path_units = 4096;
constexpr size_t write_piece_size = writer_piece_size;
constexpr size_t created_directory_slots = 1024;

extern wchar_t entry_name[entry_name_units];
extern wchar_t entry_path[entry_path_units];
// Directories known to exist, exact spelling; the user's home directory among them once a
// walk has gone above the unpack directory.
extern wchar_t* created_directories[created_directory_slots];
extern int32_t created_directory_count;

// The directory that entries are unpacked into: absolute, without a trailing backslash. Kept
// by pointer; set once before the first entry.
void set_unpack_directory(const wchar_t* directory);

// The next name, one code unit at a time up to its terminator. A name of 1,024 units or more,
// or one that breaks the rules of entry names (entry_name_rules.h), means a damaged block: the
// decode message and exit code 2.
bool read_entry_name();

// The unpack directory, one backslash, entry_name; a path beyond 4,095 units ends the run.
void build_entry_path();

// The entry's size and data into the file at entry_path, in pieces of at most 32,768 bytes,
// handed to the file writer. An open failure: the open message with the path; a write failure
// (a short one included): the unpack message with the system's code. Both exit with code 2,
// and nothing after them is written. Creating the folders and the file, and each write, are
// steps of the run (run_state.h), taken on the writer's thread.
void unpack_entry();

// Waits until every entry handed over is written and closed.
void finish_unpacking();

// Closes the file that the writer has open, if any, for the console handler once it has
// stopped the run's steps: a file still open could not be deleted.
void close_unpacked_file();

// Remembers a directory as existing without creating it (the target directory, which the
// driver creates or finds), so that the unpacker never creates it itself.
void count_directory_as_existing(const wchar_t* directory);

// Makes the directory that holds path exist: upward only as far as directories are missing,
// then down creating them.
void ensure_parent_directories(const wchar_t* path);

// True when the directory exists afterwards or counts as existing: remembered, a bare drive,
// created now, or already there.
bool create_directory_once(const wchar_t* directory);
