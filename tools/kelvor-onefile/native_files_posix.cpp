// The file operations of native_files.h on POSIX: descriptors, mkstemp and mkdtemp, rename(2),
// and device and inode numbers.
#include "native_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& failure, int error) {
    throw ToolError(failure + ": " + std::strerror(error));
}

[[noreturn]] void cannot(const char* what, const fs::path& path, int error) {
    fail(std::string("cannot ") + what + " '" + utf8_of(path) + "'", error);
}

[[noreturn]] void not_regular(const fs::path& path) {
    throw ToolError("'" + utf8_of(path) + "' is not a regular file");
}

int descriptor(NativeFile file) { return static_cast<int>(file); }

FileIdentity identity_from(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            S_ISDIR(status.st_mode)};
}

mode_t usual_mode(mode_t full) {
    const mode_t mask = umask(0);
    umask(mask);
    return full & ~mask;
}

// Far deeper than any real tree: the walk ends even on a file system whose ".." never
// reaches a root.
constexpr int kDeepestWalk = 1 << 16;

}  // namespace

NativeFile open_regular_file(const fs::path& path, std::uint64_t& size) {
    // O_NONBLOCK keeps a FIFO swapped in since the stat from holding up the open, and fstat
    // then sees it.
    struct stat status;
    if (stat(path.c_str(), &status) != 0) cannot("read", path, errno);
    if (!S_ISREG(status.st_mode)) not_regular(path);
    const int opened = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (opened < 0) cannot("read", path, errno);
    if (fstat(opened, &status) != 0) {
        const int error = errno;
        close(opened);
        cannot("read", path, error);
    }
    if (!S_ISREG(status.st_mode)) {
        close(opened);
        not_regular(path);
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return opened;
}

std::size_t read_file(NativeFile file, const fs::path& path, void* buffer, std::size_t count,
                      std::optional<std::uint64_t> offset) {
    for (;;) {
        const ssize_t got = offset ? pread(descriptor(file), buffer, count, static_cast<off_t>(*offset))
                                   : read(descriptor(file), buffer, count);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) cannot("read", path, errno);
        return static_cast<std::size_t>(got);
    }
}

NativeFile create_new_file(const fs::path& path, const std::string& failure) {
    // O_EXCL: a name that was taken, as a file or as a directory, is an error rather than a
    // replacement. O_NOFOLLOW: a link in its place is never followed.
    const int made = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (made < 0) fail(failure, errno);
    return made;
}

NativeFile create_file_beside(const fs::path& target, fs::path& made) {
    std::string pattern = target.string() + ".tmp-XXXXXX";
    const int file = mkstemp(pattern.data());
    if (file < 0) cannot("write", target, errno);
    made = pattern;
    return file;
}

fs::path make_directory_named(const fs::path& prefix) {
    std::string pattern = prefix.string() + "XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) fail("cannot make a working directory '" + pattern + "'", errno);
    return pattern;
}

void write_all(NativeFile file, const void* data, std::size_t count, const fs::path& path) {
    const char* bytes = static_cast<const char*>(data);
    while (count > 0) {
        const ssize_t written = ::write(descriptor(file), bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) cannot("write", path, errno);
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

void close_file(NativeFile file, const fs::path& path) {
    if (close(descriptor(file)) != 0) cannot("write", path, errno);
}

void close_quietly(NativeFile file) { close(descriptor(file)); }

// mkstemp makes a file private (0600); the finished one gets the mode that creating it would
// give, as a linker gives an executable.
void give_usual_mode(NativeFile file, bool executable, const fs::path& path) {
    if (fchmod(descriptor(file), usual_mode(executable ? 0777 : 0666)) != 0) cannot("write", path, errno);
}

void give_usual_directory_mode(const fs::path& directory) {
    if (chmod(directory.c_str(), usual_mode(0777)) != 0) cannot("write", directory, errno);
}

void rename_file_over(const fs::path& file, const fs::path& target) {
    if (std::rename(file.c_str(), target.c_str()) != 0) cannot("write", target, errno);
}

// rename(2) replaces an empty directory and refuses any other.
void rename_directory(const fs::path& directory, const fs::path& target) { rename_file_over(directory, target); }

void remove_file_quietly(const fs::path& path) { unlink(path.c_str()); }

std::optional<FileIdentity> identity_of(const fs::path& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return std::nullopt;
    return identity_from(status);
}

// The walk goes up through ".." from the directory itself, so it follows where the output
// really goes, whichever links or mounts its path passes through.
bool lies_inside(const fs::path& output, const FileIdentity& directory) {
    const fs::path parent = output.parent_path().empty() ? fs::path(".") : output.parent_path();
    int at = open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    bool inside = false;
    for (int depth = 0; at >= 0 && depth < kDeepestWalk; ++depth) {
        struct stat here, above;
        if (fstat(at, &here) != 0) break;
        if (identity_from(here) == directory) {
            inside = true;
            break;
        }
        const int up = openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        close(at);
        at = up;
        if (at < 0 || fstat(at, &above) != 0 || identity_from(above) == identity_from(here)) break;  // the root
    }
    if (at >= 0) close(at);
    return inside;
}

fs::path own_executable() {
    std::error_code error;
    return fs::read_symlink("/proc/self/exe", error);
}

}  // namespace kelvor
