#include "interruption.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kelvor {

namespace {

// Made once and never destroyed: the waiting thread may still use them while the process
// exits.
struct Temporaries {
    std::mutex lock;
    std::vector<std::filesystem::path> paths;
    pid_t child = 0;
};

Temporaries& temporaries() {
    static Temporaries* const shared = new Temporaries;
    return *shared;
}

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};

[[noreturn]] void clean_up_and_end(int signal_number) {
    Temporaries& shared = temporaries();
    shared.lock.lock();  // kept until the end: nothing new is made from here on
    if (shared.child > 0) {
        kill(shared.child, signal_number);
        // The main thread may reap it first; then this returns at once.
        while (waitpid(shared.child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    for (auto path = shared.paths.rbegin(); path != shared.paths.rend(); ++path) {
        std::error_code ignored;
        std::filesystem::remove_all(*path, ignored);
    }
    std::signal(signal_number, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);  // not reached: the default action of these signals ends the process
}

}  // namespace

void start_interruption_handling() {
    sigset_t taken;
    sigemptyset(&taken);
    for (const int signal_number : kInterruptions) {
        struct sigaction current;
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            sigaddset(&taken, signal_number);
        }
    }
    pthread_sigmask(SIG_BLOCK, &taken, nullptr);
    std::thread([taken] {
        int signal_number = 0;
        while (sigwait(&taken, &signal_number) != 0) {
        }
        clean_up_and_end(signal_number);
    }).detach();
}

TemporariesLock::TemporariesLock() { temporaries().lock.lock(); }

TemporariesLock::~TemporariesLock() { temporaries().lock.unlock(); }

void TemporariesLock::record(const std::filesystem::path& path) { temporaries().paths.push_back(path); }

void TemporariesLock::forget(const std::filesystem::path& path) {
    auto& paths = temporaries().paths;
    paths.erase(std::remove(paths.begin(), paths.end(), path), paths.end());
}

void TemporariesLock::record_child(pid_t child) { temporaries().child = child; }

void TemporariesLock::forget_child() { temporaries().child = 0; }

}  // namespace kelvor
