// Running programs on POSIX: posix_spawnp, a pipe read with poll for a time limit, waitpid.
#include "process_running.h"

#include <algorithm>
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
// interrupted run. Given output_descriptor, the program is apart from the terminal: it reads
// /dev/null and runs in a session of its own, with its standard output and error joined in
// that descriptor, so it cannot open /dev/tty to prompt and wait for an answer. (An
// interruption still reaches it: the tool passes it on.)
pid_t start_program(const std::string& step, const std::vector<std::string>& arguments, int output_descriptor = -1) {
    const bool apart_from_terminal = output_descriptor >= 0;
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (apart_from_terminal) {
        posix_spawn_file_actions_adddup2(&actions, output_descriptor, STDOUT_FILENO);
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
    const int started = posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
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

}  // namespace

void run_program(const std::string& step, const std::vector<std::string>& arguments) {
    const int status = wait_for(start_program(step, arguments));
    if (status != 0) throw ToolError(step + " failed: " + arguments[0] + " exited with " + std::to_string(status));
}

std::optional<int> program_output_apart_from_terminal(const std::string& step, const std::vector<std::string>& arguments,
                                                      std::string& output, int timeout_seconds) {
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) throw ToolError(step + ": cannot make a pipe: " + std::strerror(errno));
    pid_t child = 0;
    try {
        child = start_program(step, arguments, pipe_ends[1]);
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
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd reading{pipe_ends[0], POLLIN, 0};
        const int ready = left > 0 ? poll(&reading, 1, static_cast<int>(std::min<long long>(left, 1000))) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0 && Clock::now() >= deadline) {
            timed_out = true;
            break;
        }
        if (ready == 0) continue;
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


}  // namespace kelvor
