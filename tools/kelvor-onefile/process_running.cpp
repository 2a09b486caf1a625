// The ways of running a program that the tool uses, the same on both systems.
#include "process_running.h"

#include "process_running_system.h"
#include "tool_error.h"

namespace kelvor {

namespace {

void require_success(const std::string& step, const std::vector<std::string>& arguments, int status) {
    if (status != 0) throw ToolError(step + " failed: " + arguments[0] + " exited with " + std::to_string(status));
}

}  // namespace

void run_program(const std::string& step, const std::vector<std::string>& arguments,
                 const std::filesystem::path& own_directory) {
    require_success(step, arguments, run_and_wait(step, arguments, own_directory));
}

// Read through a pipe while the program runs, so that no temporary file holds it.
std::string program_output(const std::string& step, const std::vector<std::string>& arguments) {
    std::string output;
    require_success(step, arguments, *run_with_output(step, arguments, output, false, 0));
    return output;
}

std::optional<int> program_output_apart_from_terminal(const std::string& step, const std::vector<std::string>& arguments,
                                                      std::string& output, int timeout_seconds) {
    return run_with_output(step, arguments, output, true, timeout_seconds);
}

}  // namespace kelvor
