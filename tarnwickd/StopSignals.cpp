#include "tarnwickd/StopSignals.h"

#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <ctime>

namespace {

sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

StopSignals::StopSignals() {
    const sigset_t set = stopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int StopSignals::wait(std::chrono::nanoseconds timeout) {
    const sigset_t set = stopSet();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = deadline - std::chrono::steady_clock::now();
        if (left < std::chrono::nanoseconds::zero()) left = std::chrono::nanoseconds::zero();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(seconds.count());
        ts.tv_nsec = static_cast<long>((left - seconds).count());
        const int number = sigtimedwait(&set, nullptr, &ts);
        if (number > 0) return number;
        // EINTR comes from a stop and continue (SIGSTOP, SIGCONT); keep waiting out the rest.
        if (errno != EINTR || left == std::chrono::nanoseconds::zero()) return 0;
    }
}

bool StopSignals::pending() {
    sigset_t set;
    sigemptyset(&set);
    if (sigpending(&set) != 0) return false;
    return sigismember(&set, SIGTERM) == 1 || sigismember(&set, SIGINT) == 1 ||
           sigismember(&set, SIGHUP) == 1;
}
