// A private working directory, removed with everything in it when it goes out of scope,
// whether the work succeeded or not, and when the run is interrupted. It lies under the
// system's temporary-files directory, or beside a target directory that it becomes, whole,
// when the work is done.
#pragma once

#include <filesystem>

namespace kelvor {

class TemporaryDirectory {
public:
    TemporaryDirectory();  // throws ToolError
    // target.tmp-XXXXXX, on the file system of target, for rename_to. Throws ToolError.
    explicit TemporaryDirectory(const std::filesystem::path& target);
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::filesystem::path& path() const { return path_; }

    // Gives the directory the usual mode of a new one (0755 under the common umask) and
    // renames it to target, which must not exist or be an empty directory (any other is
    // refused); it is then no longer temporary. Throws ToolError.
    void rename_to(const std::filesystem::path& target);

private:
    void make(const std::filesystem::path& prefix);

    std::filesystem::path path_;
};

}  // namespace kelvor
