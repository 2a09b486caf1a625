#include "atomic_output_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "interruption.h"
#include "tool_error.h"

namespace kelvor {

namespace {

[[noreturn]] void fail(const std::filesystem::path& path, const char* what, int error) {
    throw ToolError(std::string("cannot ") + what + " '" + path.string() + "': " + std::strerror(error));
}

// mkstemp makes the file private (0600); the finished file gets the mode that creating it
// would give, as a linker gives an executable.
mode_t default_file_mode(AtomicOutputFile::Mode mode) {
    const mode_t mask = umask(0);
    umask(mask);
    return (mode == AtomicOutputFile::Mode::executable ? 0777 : 0666) & ~mask;
}

}  // namespace

AtomicOutputFile::AtomicOutputFile(const std::filesystem::path& target, Mode mode) : target_(target), mode_(mode) {
    std::string pattern = target.string() + ".tmp-XXXXXX";
    TemporariesLock held;
    descriptor_ = mkstemp(pattern.data());
    if (descriptor_ < 0) fail(target, "write", errno);
    temporary_ = pattern;
    held.record(temporary_);
}

AtomicOutputFile::~AtomicOutputFile() {
    if (descriptor_ >= 0) close(descriptor_);
    if (temporary_.empty()) return;
    TemporariesLock held;
    unlink(temporary_.c_str());
    held.forget(temporary_);
}

void write_all(int descriptor, const void* data, std::size_t count, const std::filesystem::path& path) {
    const char* bytes = static_cast<const char*>(data);
    while (count > 0) {
        const ssize_t written = ::write(descriptor, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) fail(path, "write", errno);
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

void write_whole_file(const std::filesystem::path& path, const void* data, std::size_t count) {
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) fail(path, "write", errno);
    try {
        write_all(descriptor, data, count, path);
    } catch (...) {
        close(descriptor);
        throw;
    }
    if (close(descriptor) != 0) fail(path, "write", errno);
}

void AtomicOutputFile::write(const void* data, std::size_t count) { write_all(descriptor_, data, count, target_); }

void AtomicOutputFile::commit() {
    if (fchmod(descriptor_, default_file_mode(mode_)) != 0) fail(target_, "write", errno);
    const int descriptor = descriptor_;
    descriptor_ = -1;
    if (close(descriptor) != 0) fail(target_, "write", errno);
    TemporariesLock held;
    if (rename(temporary_.c_str(), target_.c_str()) != 0) fail(target_, "write", errno);
    held.forget(temporary_);
    temporary_.clear();
}

}  // namespace kelvor
