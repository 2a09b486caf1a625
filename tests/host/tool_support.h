// Helpers for the host tests: a scratch directory that is removed afterwards, files in it,
// and a way to run the real kelvor-onefile binary and see what a user sees.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kelvor::testing {

class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

private:
    std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const std::string& contents);
std::string read_file(const std::filesystem::path& path);
std::vector<unsigned char> read_bytes(const std::filesystem::path& path);

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs kelvor-onefile with these arguments, stdin closed, and captures both streams.
ToolRun run_tool(const std::vector<std::string>& arguments);

// A GoogleTest parameter name made from a case's label.
std::string case_name(const char* label);

// The entry stream inside a payload block, decoded independently of the tool's reader.
std::vector<unsigned char> decode_entry_stream(const std::vector<unsigned char>& block);

}  // namespace kelvor::testing
