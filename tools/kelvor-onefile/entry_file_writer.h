// Writes the entries of a payload, as the block reader delivers them, as files below a root
// directory: each name is checked before it is joined to the root (see check_entry_name), so
// that no name leads outside it, and every file is created new, so that no entry replaces
// another or anything that was there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "native_files.h"
#include "payload_block_reader.h"

namespace kelvor {

class EntryFileWriter {
public:
    explicit EntryFileWriter(std::filesystem::path root) : root_(std::move(root)) {}
    ~EntryFileWriter();
    EntryFileWriter(const EntryFileWriter&) = delete;
    EntryFileWriter& operator=(const EntryFileWriter&) = delete;

    // The block reader's visitor (see EntryDataVisitor). Throws ToolError naming the entry.
    void take(const ListedEntry& entry, const unsigned char* data, std::size_t count);
    // Closes the last file. Throws ToolError.
    void finish();

private:
    void begin(const ListedEntry& entry);
    void close_file();

    std::filesystem::path root_;
    std::uint64_t entries_ = 0;
    std::filesystem::path path_;  // the file being written
    NativeFile file_ = kNoFile;
};

}  // namespace kelvor
