// A private working directory under the system's temporary-files directory, removed with
// everything in it when it goes out of scope, whether the work succeeded or not, and when the
// run is interrupted.
#pragma once

#include <filesystem>

namespace kelvor {

class TemporaryDirectory {
public:
    TemporaryDirectory();  // throws ToolError
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace kelvor
