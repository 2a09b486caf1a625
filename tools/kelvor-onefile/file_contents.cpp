#include "file_contents.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "tool_error.h"

namespace kelvor {

std::vector<unsigned char> read_whole_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw ToolError("cannot read '" + path.string() + "': " + std::strerror(errno));
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) throw ToolError("cannot read '" + path.string() + "'");
    return bytes;
}

}  // namespace kelvor
