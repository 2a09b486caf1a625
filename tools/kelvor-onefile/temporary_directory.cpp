#include "temporary_directory.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "interruption.h"
#include "tool_error.h"

namespace kelvor {

TemporaryDirectory::TemporaryDirectory() {
    make((std::filesystem::temp_directory_path() / "kelvor-onefile-XXXXXX").string());
}

TemporaryDirectory::TemporaryDirectory(const std::filesystem::path& target) {
    make(target.string() + ".tmp-XXXXXX");
}

void TemporaryDirectory::make(std::string pattern) {
    TemporariesLock held;
    if (mkdtemp(pattern.data()) == nullptr) {
        throw ToolError(std::string("cannot make a working directory '") + pattern + "': " + std::strerror(errno));
    }
    path_ = pattern;
    held.record(path_);
}

TemporaryDirectory::~TemporaryDirectory() {
    if (path_.empty()) return;
    TemporariesLock held;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    held.forget(path_);
}

void TemporaryDirectory::rename_to(const std::filesystem::path& target) {
    const mode_t mask = umask(0);
    umask(mask);
    TemporariesLock held;
    if (chmod(path_.c_str(), 0777 & ~mask) != 0 || std::rename(path_.c_str(), target.c_str()) != 0) {
        throw ToolError("cannot write '" + target.string() + "': " + std::strerror(errno));
    }
    held.forget(path_);
    path_.clear();
}

}  // namespace kelvor
