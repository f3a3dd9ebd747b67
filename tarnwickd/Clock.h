#pragma once

// The clocks of the control loop: monotonic for durations, boot time to see a sleep the loop was
// not told about, wall for time stamps.

#include <time.h>

#include <chrono>

class Clock {
  public:
    virtual ~Clock() = default;
    // Never goes back, unaffected by changes of the system time.
    virtual std::chrono::steady_clock::time_point monotonic() = 0;
    // Like monotonic() but also counting the time the machine slept; the gap between the two
    // grows only while the machine is suspended.
    virtual std::chrono::nanoseconds sinceBoot() = 0;
    // Seconds since 1970-01-01 UTC, with fraction.
    virtual double wall() = 0;
};

class SystemClock final : public Clock {
  public:
    std::chrono::steady_clock::time_point monotonic() override {
        return std::chrono::steady_clock::now();
    }
    std::chrono::nanoseconds sinceBoot() override {
        timespec ts{};
        clock_gettime(CLOCK_BOOTTIME, &ts);
        return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
    }
    double wall() override {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
};
