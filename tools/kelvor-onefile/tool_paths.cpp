#include "tool_paths.h"

namespace kelvor {

std::filesystem::path installation_path(const std::string& relative) {
    std::error_code error;
    const auto tool = std::filesystem::read_symlink("/proc/self/exe", error);
    return tool.parent_path().parent_path() / relative;
}

}  // namespace kelvor
