#pragma once

// A scripted machine and clock for driving the control loop pass by pass without real time.

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tarnwickd/Clock.h"
#include "tarnwickd/Machine.h"

inline Fan makeFan(int64_t index, double actual, double min, double max) {
    Fan fan;
    fan.index = index;
    fan.actual = actual;
    fan.min = min;
    fan.max = max;
    return fan;
}

class FakeMachine final : public Machine {
  public:
    Readings raw;
    PowerState powerState;
    std::vector<Fan> fanList;
    Config config;
    bool writesSucceed = true;
    bool fansReadable = true;
    bool autoSucceeds = true;  // modes read back automatic after setAuto

    std::vector<double> manualWrites;
    int autoCalls = 0;
    std::vector<Status> statuses;
    int removals = 0;

    Readings readings() override { return raw; }
    PowerState power() override { return powerState; }
    std::optional<std::vector<Fan>> fans() override {
        if (!fansReadable) return std::nullopt;
        return fanList;
    }
    // The mode writes go first and take even when the target writes fail; targets that were
    // written read back, as on a real SMC.
    bool setManual(double rpm) override {
        manualWrites.push_back(rpm);
        for (Fan& fan : fanList) {
            fan.mode = 1;
            if (writesSucceed) fan.target = std::min(fan.max, std::max(rpm, fan.min));
        }
        return writesSucceed;
    }
    bool setAuto() override {
        ++autoCalls;
        if (autoSucceeds) {
            for (Fan& fan : fanList) fan.mode = 0;
        }
        return autoSucceeds;
    }
    Config loadConfig() override { return config; }
    void saveStatus(const Status& status) override { statuses.push_back(status); }
    void removeStatus() override { ++removals; }

    const Status& lastStatus() const { return statuses.back(); }
};

class FakeClock final : public Clock {
  public:
    std::chrono::steady_clock::time_point now{std::chrono::hours(1000)};
    std::chrono::nanoseconds boot{std::chrono::hours(1000)};
    double wallSeconds = 1.7e9;

    std::chrono::steady_clock::time_point monotonic() override { return now; }
    std::chrono::nanoseconds sinceBoot() override { return boot; }
    double wall() override { return wallSeconds; }

    void advance(std::chrono::milliseconds step) {
        now += step;
        boot += step;
        wallSeconds += std::chrono::duration<double>(step).count();
    }
    // A suspend: the monotonic clock stands still while boot time and the wall clock run on.
    void suspend(std::chrono::milliseconds length) {
        boot += length;
        wallSeconds += std::chrono::duration<double>(length).count();
    }
};
