#include "output_placement.h"

#include "native_files.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

namespace fs = std::filesystem;

namespace {

std::string described(const InputPath& input, bool directory) {
    const std::string path = "'" + utf8_of(input.path) + "'";
    if (input.found_in_directory) return path + ", which is read for " + input.option;
    return std::string(directory ? "the directory" : "the file") + " given with " + input.option + " (" + path + ")";
}

}  // namespace

void check_output_placement(const fs::path& output, const std::vector<InputPath>& inputs) {
    const std::string shown = "output '" + utf8_of(output) + "'";
    const std::string name = utf8_of(output.filename());
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
