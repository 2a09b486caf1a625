#include "temporary_directory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tool_error.h"

namespace kelvor {

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvor-onefile-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw ToolError(std::string("cannot make a working directory: ") + std::strerror(errno));
    }
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace kelvor
