// Interruptions on POSIX: SIGINT, SIGTERM and SIGHUP, taken by sigwait on a thread of their
// own rather than in a handler, so the clean-up may lock, wait and remove files.
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "interruption.h"
#include "interruption_cleanup.h"

namespace kelvor {

namespace {

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};

// The signal goes on to the program; the main thread may reap it first, and then waitpid
// returns at once.
void end_child(ChildProcess child, int signal_number) {
    kill(child, signal_number);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void clean_up_and_end(int signal_number) {
    remove_temporaries(end_child, signal_number);
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

}  // namespace kelvor
