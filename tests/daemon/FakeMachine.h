#pragma once

// A scripted machine and clock for driving the control loop pass by pass without real time.

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/MakeFan.h"
#include "tarnwickd/Clock.h"
#include "tarnwickd/Machine.h"

using support::makeFan;

class FakeMachine final : public Machine {
  public:
    Readings raw;
    PowerState powerState;
    std::vector<Fan> fanList;
    Config config;
    std::string settingsProblem;
    bool writesSucceed = true;
    bool fansReadable = true;   // false: not one key answers
    bool countReadable = true;  // "FNum" answers
    std::vector<int64_t> unknownModes;
    bool autoSucceeds = true;           // false: no fan's mode goes back to automatic
    std::vector<int64_t> refusingAuto;  // these fans' modes do not go back to automatic

    std::vector<double> manualWrites;
    int autoCalls = 0;
    int modeChanges = 0;  // of any fan, by either kind of write
    std::vector<Status> statuses;
    std::vector<Measurements> published;
    int removals = 0;

    Readings readings() override { return raw; }
    PowerState power() override { return powerState; }
    Fans::Scan fans(bool) override { return {fanList, countReadable, unknownModes, !fansReadable}; }
    // The mode writes go first and take even when the target writes fail; targets that were
    // written read back, as on a real SMC.
    bool setManual(double rpm, const std::vector<Fan>& fans) override {
        manualWrites.push_back(rpm);
        for (const Fan& written : fans) {
            Fan& fan = byIndex(written.index);
            setMode(fan, 1);
            if (writesSucceed) fan.target = std::min(fan.max, std::max(rpm, fan.min));
        }
        return writesSucceed;
    }
    std::vector<int64_t> handBack(const std::vector<int64_t>& indices, bool retry) override {
        ++autoCalls;
        std::vector<int64_t> stuck;
        for (const int64_t index : indices) {
            Fan& fan = byIndex(index);
            const bool unknown = has(unknownModes, index);
            const bool refusing = !autoSucceeds || has(refusingAuto, index);
            if (retry && fan.mode == 0 && !unknown) continue;
            if (!refusing && !(retry && unknown)) setMode(fan, 0);
            if (refusing || unknown) stuck.push_back(index);
        }
        return stuck;
    }
    std::vector<int64_t> knownFans() override {
        std::vector<int64_t> indices;
        for (const Fan& fan : fanList) indices.push_back(fan.index);
        return indices;
    }
    Config loadConfig(std::string& problem) override {
        problem = settingsProblem;
        return config;
    }
    void saveStatus(const Status& status) override { statuses.push_back(status); }
    void publish(const Measurements& measurements) override { published.push_back(measurements); }
    void removeStatus() override { ++removals; }

    const Status& lastStatus() const { return statuses.back(); }

  private:
    static bool has(const std::vector<int64_t>& list, int64_t index) {
        return std::find(list.begin(), list.end(), index) != list.end();
    }
    Fan& byIndex(int64_t index) {
        return *std::find_if(fanList.begin(), fanList.end(),
                             [index](const Fan& fan) { return fan.index == index; });
    }
    void setMode(Fan& fan, int64_t mode) {
        if (fan.mode != mode) ++modeChanges;
        fan.mode = mode;
    }
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
