// The tool's input files. Every file the tool reads is opened here, and only a regular file
// is accepted: a FIFO, a device or a directory is refused before anything is read, so nothing
// waits on a pipe or reads without end. No read goes past the size that the file had when it
// was opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "native_files.h"

namespace kelvor {

class InputFile {
public:
    // Throws ToolError "cannot read '<path>'" with the system's reason, or "'<path>' is not a
    // regular file".
    explicit InputFile(const std::filesystem::path& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::uint64_t size() const { return size_; }

    // Exactly count bytes from offset. Throws ToolError when they do not lie within the file
    // or cannot be read.
    std::vector<unsigned char> read_at(std::uint64_t offset, std::size_t count) const;
    // The next bytes from the current position, at most count; 0 at the end. Throws ToolError.
    std::size_t read_some(void* buffer, std::size_t count);

private:
    std::filesystem::path path_;
    std::uint64_t size_ = 0;  // before file_, which the opening fills it with
    NativeFile file_ = kNoFile;
};

// The largest file that is read whole: a Windows image records its size in 32 bits, so no
// executable, and no payload block it could carry, is larger.
constexpr std::uint64_t kLargestImageBytes = 0xFFFFFFFF;

// The whole of a file of at most limit bytes; what names what the file is for the message
// ("an icon file"). Throws ToolError as InputFile does, and for a larger file.
std::vector<unsigned char> read_whole_file(const std::filesystem::path& path, std::uint64_t limit,
                                           const char* what);

}  // namespace kelvor
