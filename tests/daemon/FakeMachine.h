#pragma once

// A scripted machine and clock for driving the control loop pass by pass without real time.

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
    // The mode writes go first and take even when the target writes fail.
    bool setManual(double rpm) override {
        manualWrites.push_back(rpm);
        for (Fan& fan : fanList) fan.mode = 1;
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
    double wallSeconds = 1.7e9;

    std::chrono::steady_clock::time_point monotonic() override { return now; }
    double wall() override { return wallSeconds; }

    void advance(std::chrono::milliseconds step) {
        now += step;
        wallSeconds += std::chrono::duration<double>(step).count();
    }
};
