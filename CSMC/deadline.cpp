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

}  // namespace

void set(std::optional<Clock::time_point> deadline) { limit() = deadline; }

void setStop(std::function<bool()> stop) { stopCheck() = std::move(stop); }

bool expired() {
    if (limit() && Clock::now() >= *limit()) return true;
    return stopCheck() && stopCheck()();
}

}  // namespace SmcDeadline
