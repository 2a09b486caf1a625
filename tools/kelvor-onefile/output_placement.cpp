#include "output_placement.h"

#include <system_error>

#include "tool_error.h"

namespace kelvor {

namespace fs = std::filesystem;

namespace {

// Where the output's directory entry will be, with links in the directories above it resolved.
fs::path resolved_location(const fs::path& output) {
    std::error_code error;
    const fs::path parent = fs::weakly_canonical(fs::absolute(output, error).parent_path(), error);
    return parent / output.filename();
}

bool lies_inside(const fs::path& location, const fs::path& directory) {
    auto inner = location.begin();
    for (const auto& part : directory) {
        if (part.empty()) continue;  // the empty last part of a path with a trailing separator
        if (inner == location.end() || *inner != part) return false;
        ++inner;
    }
    return inner != location.end();
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
    const fs::path location = resolved_location(output);
    for (const auto& input : inputs) {
        const bool directory = fs::is_directory(input.path, error);
        const std::string given = std::string(directory ? "the directory" : "the file") + " given with " +
                                  input.option + " ('" + input.path.string() + "')";
        if (directory) {
            const fs::path resolved = fs::canonical(input.path, error);
            if (!error && lies_inside(location, resolved)) {
                throw ToolError(shown + " lies inside " + given +
                                ", which is packed: the output would be taken in by the next pack");
            }
        } else if (fs::exists(status) && fs::equivalent(output, input.path, error) && !error) {
            throw ToolError(shown + " is " + given + "; writing it would destroy that input");
        }
    }
}

}  // namespace kelvor
