#include "output_placement.h"

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "tool_error.h"

namespace kelvor {

namespace fs = std::filesystem;

namespace {

// A file as the system knows it, whatever its name.
struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool directory;
    bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};

FileIdentity identity_of(const struct stat& status) { return {status.st_dev, status.st_ino, S_ISDIR(status.st_mode)}; }

// What the path names, links followed; nothing for a path that names nothing.
std::optional<FileIdentity> identity_of(const fs::path& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return std::nullopt;
    return identity_of(status);
}

// Far deeper than any real tree: the walk ends even on a file system whose ".." never
// reaches a root.
constexpr int kDeepestWalk = 1 << 16;

// Whether the directory that will hold the output is the given one or lies below it. The walk
// goes up through ".." from the directory itself, so it follows where the output really goes,
// whichever links or mounts its path passes through.
bool lies_inside(const fs::path& output, const FileIdentity& directory) {
    const fs::path parent = output.parent_path().empty() ? fs::path(".") : output.parent_path();
    int at = open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    bool inside = false;
    for (int depth = 0; at >= 0 && depth < kDeepestWalk; ++depth) {
        struct stat here, above;
        if (fstat(at, &here) != 0) break;
        if (identity_of(here) == directory) {
            inside = true;
            break;
        }
        const int up = openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        close(at);
        at = up;
        if (at < 0 || fstat(at, &above) != 0 || identity_of(above) == identity_of(here)) break;  // the root
    }
    if (at >= 0) close(at);
    return inside;
}

std::string described(const InputPath& input, bool directory) {
    const std::string path = "'" + input.path.string() + "'";
    if (input.found_in_directory) return path + ", which is read for " + input.option;
    return std::string(directory ? "the directory" : "the file") + " given with " + input.option + " (" + path + ")";
}

}  // namespace

void check_output_placement(const fs::path& output, const std::vector<InputPath>& inputs) {
    const std::string shown = "output '" + output.string() + "'";
    const fs::path name = output.filename();
    if (name.empty() || name == "." || name == "..") throw ToolError(shown + " names a directory, not a file");
    std::error_code error;
    const auto status = fs::status(output, error);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        throw ToolError(shown + " exists and is not a regular file; the output replaces what is there, so it "
                                "must be a new file or a regular one");
    }
    const auto replaced = identity_of(output);
    for (const auto& input : inputs) {
        const auto read = identity_of(input.path);
        if (!read) continue;  // a missing input is reported when it is read
        if (read->directory && lies_inside(output, *read)) {
            throw ToolError(shown + " lies inside " + described(input, true) +
                            ", which is packed: the output would be taken in by the next pack");
        }
        if (!read->directory && replaced && *replaced == *read) {
            throw ToolError(shown + " is " + described(input, false) + "; writing it would destroy that input");
        }
    }
}

}  // namespace kelvor
