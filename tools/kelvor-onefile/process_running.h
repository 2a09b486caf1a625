// Running the programs the tool hands work to (the signer, osslsigncode): found on PATH,
// started with exactly the given arguments (no shell ever sees them), recorded for the clean-up
// of an interrupted run, waited for. One interface, process_running_posix.cpp and
// process_running_windows.cpp behind it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelvor {

// Whether a program can be run: a path to an executable file, or a name found on PATH (on
// Windows, with ".exe" added when the name has no extension).
bool on_path(const std::string& program);

// Runs a program with the tool's own standard streams; throws ToolError naming the step when
// it cannot be started or does not exit with 0.
void run_program(const std::string& step, const std::vector<std::string>& arguments);

// Runs a program that must never wait for an answer from the terminal (one that may ask for a
// password): it reads /dev/null (NUL) in a session of its own (without a console), and what it
// writes on stdout and stderr is kept in output, for the caller to show. Returns its exit
// status, or nothing when it has not ended within timeout_seconds: it is then killed, and has
// ended when this returns.
// Throws ToolError only when it cannot be started.
std::optional<int> program_output_apart_from_terminal(const std::string& step, const std::vector<std::string>& arguments,
                                                      std::string& output, int timeout_seconds);

}  // namespace kelvor
