// The mingw-w64 cross toolchain that links launcher executables: found on PATH or named by
// an option, and run the way the launcher library was built (the UCRT, static runtime).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kelvor {

struct Toolchain {
    std::string compiler;           // linking::kCxxCompilers found on PATH, or what --cc names
    std::string resource_compiler;  // linking::kResourceCompiler, or what --windres names
};

// Throws ToolError when a program cannot be found.
Toolchain find_toolchain(const std::optional<std::string>& compiler, const std::optional<std::string>& resource_compiler);

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

// The subsystem a launcher executable is linked for.
enum class Subsystem { gui, console };

// Links work/out.exe from the image sources in work and the launcher library in
// launcher_directory, with the flags of cmake/KelvorOnefileLinking.cmake: the same inputs give
// the same bytes, the same as kelvor_add_onefile's.
std::filesystem::path link_launcher(const Toolchain& toolchain, const std::filesystem::path& work,
                                    const std::filesystem::path& launcher_directory, Subsystem subsystem);

}  // namespace kelvor
