#pragma once

// A limit on how long SMC exchanges may hold their caller: past the deadline, or once the stop
// check answers true, every exchange fails at once and transports cut their waits short. One
// limit for the process, like the connection.

#include <chrono>
#include <functional>
#include <optional>

namespace SmcDeadline {

using Clock = std::chrono::steady_clock;

// Exchanges started after `deadline` fail with SMC_STATUS_TIMEOUT; none lifts the limit.
void set(std::optional<Clock::time_point> deadline);

// `stop` is asked before exchanges and while they wait, at most once every 5 ms (a burst of
// exchanges asks once); true makes them fail at once from then on. An empty function never stops
// anything.
void setStop(std::function<bool()> stop);

// True when the deadline has passed or the stop check answers true.
bool expired();

}  // namespace SmcDeadline
