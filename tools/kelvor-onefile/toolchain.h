// Running the programs that the tool hands work to (osslsigncode): found on PATH, started
// with the tool's own streams or read through a pipe, and ended when the tool is interrupted.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kelvor {

// Whether a program can be run: a path to an executable file, or a name found on PATH.
bool on_path(const std::string& program);

// Runs a program with the tool's own standard streams; throws ToolError naming the step when
// it cannot be started or does not exit with 0. Given own_directory, the program runs there,
// with TMPDIR pointing there too.
void run_program(const std::string& step, const std::vector<std::string>& arguments,
                 const std::filesystem::path& own_directory = {});

// The program's output on stdout; throws like run_program.
std::string program_output(const std::string& step, const std::vector<std::string>& arguments);

// Runs a program that must never wait for an answer from the terminal (one that may ask for a
// password): it reads /dev/null in a session of its own, and what it writes on stdout and
// stderr is kept in output, for the caller to show. Returns its exit status, or nothing when it
// has not ended within timeout_seconds: it is then killed, and has ended when this returns.
// Throws ToolError only when it cannot be started.
std::optional<int> program_output_apart_from_terminal(const std::string& step, const std::vector<std::string>& arguments,
                                                      std::string& output, int timeout_seconds);

}  // namespace kelvor
