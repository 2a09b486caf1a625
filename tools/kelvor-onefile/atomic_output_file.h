// An output file that appears only when it is complete: the bytes go to a temporary file
// beside the target, which commit() renames over it. A file that is never committed is
// removed, so a failed or interrupted run leaves nothing behind. The finished file has the usual
// mode for its kind (0644 or 0755 under the common umask 022).
#pragma once

#include <cstddef>
#include <filesystem>

#include "native_files.h"

namespace kelvor {

// Writes a file that holds exactly these bytes, replacing one of that name, for the tool's own
// working files (no atomic replacement); throws ToolError "cannot write '<path>'" with the
// system's reason, for a failing close too.
void write_whole_file(const std::filesystem::path& path, const void* data, std::size_t count);

class AtomicOutputFile {
public:
    enum class Mode { data, executable };

    explicit AtomicOutputFile(const std::filesystem::path& target, Mode mode = Mode::data);  // throws ToolError
    ~AtomicOutputFile();
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    void write(const void* data, std::size_t count);  // throws ToolError
    void commit();                                     // throws ToolError

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    Mode mode_;
    NativeFile file_ = kNoFile;
};

}  // namespace kelvor
