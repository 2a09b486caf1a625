#include "toolchain.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "interruption.h"
#include "tool_error.h"

extern char** environ;

namespace kelvor {

bool on_path(const std::string& program) {
    if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string directories = path ? path : "";
    for (size_t start = 0; start <= directories.size();) {
        const size_t end = std::min(directories.find(':', start), directories.size());
        const std::string candidate = directories.substr(start, end - start) + "/" + program;
        if (end > start && access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

namespace {

// Starts the program with this thread's blocked signals unblocked again (it would inherit
// them, and an interruption could not end it) and records it for the clean-up of an
// interrupted run; output_descriptor, when given, becomes its standard output. A program
// started apart from the terminal reads /dev/null and runs in a session of its own, with its
// standard error joined to its output: it cannot open /dev/tty to prompt and wait for an
// answer. (An interruption still reaches it: the tool passes it on.) A program given a
// directory of its own runs there, with TMPDIR set to it.
pid_t start_program(const std::string& step, const std::vector<std::string>& arguments, int output_descriptor,
                    bool apart_from_terminal = false, const std::filesystem::path& own_directory = {}) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (own_directory.empty() || std::string(*variable).rfind("TMPDIR=", 0) != 0) variables.push_back(*variable);
    }
    if (!own_directory.empty()) variables.push_back("TMPDIR=.");
    std::vector<char*> envp;
    for (auto& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!own_directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, own_directory.c_str());
    if (output_descriptor >= 0) posix_spawn_file_actions_adddup2(&actions, output_descriptor, STDOUT_FILENO);
    if (apart_from_terminal) {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, output_descriptor, STDERR_FILENO);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | (apart_from_terminal ? POSIX_SPAWN_SETSID : 0));
    pid_t child = 0;
    TemporariesLock held;
    const int started = posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    // posix_spawnp returns the error (of the program's exec too) rather than setting errno.
    if (started != 0) throw ToolError(step + ": cannot start " + arguments[0] + ": " + std::strerror(started));
    held.record_child(child);
    return child;
}

int wait_for(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    TemporariesLock held;
    held.forget_child();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void require_success(const std::string& step, const std::vector<std::string>& arguments, int status) {
    if (status != 0) throw ToolError(step + " failed: " + arguments[0] + " exited with " + std::to_string(status));
}

// Runs the program with its output read through a pipe into output; returns its status, or
// nothing when it is still running after timeout_seconds (0: no limit) and has been killed.
std::optional<int> run_with_output(const std::string& step, const std::vector<std::string>& arguments,
                                   std::string& output, bool apart_from_terminal, int timeout_seconds = 0) {
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) throw ToolError(step + ": cannot make a pipe: " + std::strerror(errno));
    pid_t child = 0;
    try {
        child = start_program(step, arguments, pipe_ends[1], apart_from_terminal);
    } catch (...) {
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        throw;
    }
    close(pipe_ends[1]);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    bool timed_out = false;
    char buffer[65536];
    for (;;) {
        if (timeout_seconds > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd reading{pipe_ends[0], POLLIN, 0};
            const int ready = left > 0 ? poll(&reading, 1, static_cast<int>(std::min<long long>(left, 1000))) : 0;
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0 && Clock::now() >= deadline) {
                timed_out = true;
                break;
            }
            if (ready == 0) continue;
        }
        const ssize_t count = read(pipe_ends[0], buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        output.append(buffer, static_cast<size_t>(count));
    }
    close(pipe_ends[0]);
    // The output pipe closes when the program ends (or closes it), so the time limit holds
    // while it reads: a program still running then is killed, and reaped before this returns.
    if (timed_out) kill(child, SIGKILL);
    const int status = wait_for(child);
    if (timed_out) return std::nullopt;
    return status;
}

}  // namespace

void run_program(const std::string& step, const std::vector<std::string>& arguments,
                 const std::filesystem::path& own_directory) {
    require_success(step, arguments, wait_for(start_program(step, arguments, -1, false, own_directory)));
}

// Read through a pipe while the program runs, so that no temporary file holds it.
std::string program_output(const std::string& step, const std::vector<std::string>& arguments) {
    std::string output;
    require_success(step, arguments, *run_with_output(step, arguments, output, false));
    return output;
}

std::optional<int> program_output_apart_from_terminal(const std::string& step, const std::vector<std::string>& arguments,
                                                      std::string& output, int timeout_seconds) {
    return run_with_output(step, arguments, output, true, timeout_seconds);
}

}  // namespace kelvor
