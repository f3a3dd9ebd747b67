#pragma once

// Reads back what the daemon wrote: every fan it drives must still be in manual mode at the speed
// it sent. When the firmware or another program has taken a fan, the daemon asserts its speed
// again a bounded number of times and then steps back instead of fighting over the fan.

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FanCore/Policy/Records.h"

class OverrideWatch {
  public:
    static constexpr int reassertLimit = 2;
    // An override further back than this no longer counts towards the limit.
    static constexpr std::chrono::seconds memory{60};
    // Read-back speeds may differ from the sent one by the SMC's rounding.
    static constexpr double targetTolerance = 2;  // rpm

    enum class Action { reassert, stepBack };

    // Forgets every fan and every override; for a fresh take-over.
    void reset();

    // Compares `fans`, read after a write of `sent` rpm that succeeded, with that write: what
    // changed ("fan 1 set to automatic", "fan 1 set to 2000 rpm"), absent when every fan kept
    // it. A fan's mode counts only once it has read manual since the reset, so fans without a
    // mode key are judged by their target alone.
    std::optional<std::string> check(const std::vector<Fan>& fans, double sent);

    // Counts one override seen at `now`: reassert up to reassertLimit times within `memory` of
    // each other, then stepBack.
    Action count(std::chrono::steady_clock::time_point now);

    // "fan 1 set to 2000 rpm", for a fan someone else put in manual mode.
    static std::string setTo(const Fan& fan);

  private:
    std::set<int64_t> manualSeen_;
    int overrides_ = 0;
    std::optional<std::chrono::steady_clock::time_point> lastOverride_;
};
