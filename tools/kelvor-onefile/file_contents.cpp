#include "file_contents.h"

#include <string>

#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

InputFile::InputFile(const std::filesystem::path& path) : path_(path), file_(open_regular_file(path, size_)) {}

InputFile::~InputFile() { close_quietly(file_); }

std::vector<unsigned char> InputFile::read_at(std::uint64_t offset, std::size_t count) const {
    if (offset > size_ || count > size_ - offset) {
        throw ToolError("'" + utf8_of(path_) + "' ends before byte " + std::to_string(offset + count));
    }
    std::vector<unsigned char> bytes(count);
    for (std::size_t done = 0; done < count;) {
        const std::size_t got = read_file(file_, path_, bytes.data() + done, count - done, offset + done);
        if (got == 0) throw ToolError("'" + utf8_of(path_) + "' became shorter while it was read");
        done += got;
    }
    return bytes;
}

std::size_t InputFile::read_some(void* buffer, std::size_t count) { return read_file(file_, path_, buffer, count); }

std::vector<unsigned char> read_whole_file(const std::filesystem::path& path, std::uint64_t limit, const char* what) {
    const InputFile file(path);
    if (file.size() > limit) {
        throw ToolError("'" + utf8_of(path) + "' is " + std::to_string(file.size()) + " bytes, more than " + what +
                        " can be (" + std::to_string(limit) + " bytes)");
    }
    return file.read_at(0, static_cast<std::size_t>(file.size()));
}

}  // namespace kelvor
