#include "temporary_directory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "interruption.h"
#include "tool_error.h"

namespace kelvor {

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvor-onefile-XXXXXX").string();
    TemporariesLock held;
    if (mkdtemp(pattern.data()) == nullptr) {
        throw ToolError(std::string("cannot make a working directory: ") + std::strerror(errno));
    }
    path_ = pattern;
    held.record(path_);
}

TemporaryDirectory::~TemporaryDirectory() {
    TemporariesLock held;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    held.forget(path_);
}

}  // namespace kelvor
