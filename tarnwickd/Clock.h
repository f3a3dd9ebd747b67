#pragma once

// The two clocks of the control loop: monotonic for durations, wall for time stamps.

#include <chrono>

class Clock {
  public:
    virtual ~Clock() = default;
    // Never goes back, unaffected by changes of the system time.
    virtual std::chrono::steady_clock::time_point monotonic() = 0;
    // Seconds since 1970-01-01 UTC, with fraction.
    virtual double wall() = 0;
};

class SystemClock final : public Clock {
  public:
    std::chrono::steady_clock::time_point monotonic() override {
        return std::chrono::steady_clock::now();
    }
    double wall() override {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
};
