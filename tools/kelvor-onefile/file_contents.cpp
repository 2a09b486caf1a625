#include "file_contents.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "tool_error.h"

namespace kelvor {

namespace {

[[noreturn]] void cannot_read(const std::filesystem::path& path, int error) {
    throw ToolError("cannot read '" + path.string() + "': " + std::strerror(error));
}

[[noreturn]] void not_regular(const std::filesystem::path& path) {
    throw ToolError("'" + path.string() + "' is not a regular file");
}

}  // namespace

InputFile::InputFile(const std::filesystem::path& path) : path_(path) {
    // Looked at before it is opened, so that no device is opened at all; O_NONBLOCK keeps a
    // FIFO swapped in since from holding up the open, and fstat then sees it.
    struct stat status;
    if (stat(path.c_str(), &status) != 0) cannot_read(path, errno);
    if (!S_ISREG(status.st_mode)) not_regular(path);
    descriptor_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor_ < 0) cannot_read(path, errno);
    if (fstat(descriptor_, &status) != 0) {
        const int error = errno;
        close(descriptor_);
        cannot_read(path, error);
    }
    if (!S_ISREG(status.st_mode)) {
        close(descriptor_);
        not_regular(path);
    }
    size_ = static_cast<std::uint64_t>(status.st_size);
}

InputFile::~InputFile() { close(descriptor_); }

std::vector<unsigned char> InputFile::read_at(std::uint64_t offset, std::size_t count) const {
    if (offset > size_ || count > size_ - offset) {
        throw ToolError("'" + path_.string() + "' ends before byte " + std::to_string(offset + count));
    }
    std::vector<unsigned char> bytes(count);
    for (std::size_t done = 0; done < count;) {
        const ssize_t got = pread(descriptor_, bytes.data() + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) cannot_read(path_, errno);
        if (got == 0) throw ToolError("'" + path_.string() + "' became shorter while it was read");
        done += static_cast<std::size_t>(got);
    }
    return bytes;
}

std::size_t InputFile::read_some(void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t got = read(descriptor_, buffer, count);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) cannot_read(path_, errno);
        return static_cast<std::size_t>(got);
    }
}

std::vector<unsigned char> read_whole_file(const std::filesystem::path& path, std::uint64_t limit, const char* what) {
    const InputFile file(path);
    if (file.size() > limit) {
        throw ToolError("'" + path.string() + "' is " + std::to_string(file.size()) + " bytes, more than " + what +
                        " can be (" + std::to_string(limit) + " bytes)");
    }
    return file.read_at(0, static_cast<std::size_t>(file.size()));
}

}  // namespace kelvor
