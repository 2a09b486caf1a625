// What each system does its own way in running a program (process_running_posix.cpp,
// process_running_windows.cpp), for the functions of process_running.h.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kelvor {

// Runs the program with the tool's own standard streams, in own_directory when one is given
// (see run_program), and returns its exit status. Throws ToolError when it cannot be started.
int run_and_wait(const std::string& step, const std::vector<std::string>& arguments,
                 const std::filesystem::path& own_directory);

// Runs the program with its standard output (and, apart from the terminal, its standard
// error) read through a pipe into output; returns its exit status, or nothing when it is still
// running after timeout_seconds (0: no limit) and has been ended. Throws ToolError when it
// cannot be started.
std::optional<int> run_with_output(const std::string& step, const std::vector<std::string>& arguments,
                                   std::string& output, bool apart_from_terminal, int timeout_seconds);

}  // namespace kelvor
