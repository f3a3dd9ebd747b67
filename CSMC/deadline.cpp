#include "CSMC/deadline.h"

namespace SmcDeadline {
namespace {

std::optional<Clock::time_point>& limit() {
    static std::optional<Clock::time_point> deadline;
    return deadline;
}

std::function<bool()>& stopCheck() {
    static std::function<bool()> stop;
    return stop;
}

// A pass reads its keys in one burst: the stop check (a system call) is asked once per burst,
// and at least every kStopInterval while an exchange waits. A stop once seen stays seen.
constexpr std::chrono::milliseconds kStopInterval{5};
struct StopSeen {
    Clock::time_point asked{};
    bool stopped = false;
};
StopSeen& stopSeen() {
    static StopSeen seen;
    return seen;
}

}  // namespace

void set(std::optional<Clock::time_point> deadline) { limit() = deadline; }

void setStop(std::function<bool()> stop) {
    stopCheck() = std::move(stop);
    stopSeen() = {};
}

bool expired() {
    const Clock::time_point now = Clock::now();
    if (limit() && now >= *limit()) return true;
    if (!stopCheck()) return false;
    StopSeen& seen = stopSeen();
    if (!seen.stopped && now - seen.asked >= kStopInterval) {
        seen.asked = now;
        seen.stopped = stopCheck()();
    }
    return seen.stopped;
}

}  // namespace SmcDeadline
