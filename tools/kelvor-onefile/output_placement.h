// Where pack and build may write their output: a new or regular file, never one of their
// inputs, and never inside a directory that is packed, where the next pack would take the
// output in. Files are compared by device and inode, so every name of an input counts: a
// symbolic link, a hard link, a link below the packed directory, a bind mount. Checked before
// anything is written.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kelvor {

struct InputPath {
    const char* option;  // "--app", "--dir", "--icon": how the user named it
    std::filesystem::path path;  // a file that is read, or a directory that is packed
    bool found_in_directory = false;  // a file that was found in the directory the option names
};

// Throws ToolError naming the output, the input and the rule. A file input may not be the
// file that the output replaces; a directory input may not hold the output at any depth.
void check_output_placement(const std::filesystem::path& output, const std::vector<InputPath>& inputs);

}  // namespace kelvor
