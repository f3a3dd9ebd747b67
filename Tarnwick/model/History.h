#pragma once

// The last minutes of the machine as the panel charts them: the hottest chip temperature, the
// fans' speeds and whether the daemon drove them, in a ring of fixed size.

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "FanCore/Policy/Records.h"

struct HistorySample {
    // The fans a sample keeps; further fans are left out of the history.
    static constexpr std::size_t maxFans = 4;

    double time = 0;                   // seconds on the caller's clock
    float hottest = 0;                 // °C; NaN when no chip temperature was measured
    std::array<float, maxFans> rpm{};  // actual speeds of the first fanCount fans
    unsigned char fanCount = 0;
    bool daemonDriving = false;

    std::optional<double> hottestValue() const;
    // The greatest recorded fan speed; absent without fans.
    std::optional<double> topRPM() const;
};

class History {
  public:
    static constexpr double window = 15 * 60;  // seconds kept
    // A sample closer than this to the previous one replaces it, so that extra polls (the panel
    // opening) cannot push the oldest minutes out of the fixed ring.
    static constexpr double minSpacing = 1.0;
    static constexpr std::size_t capacity = static_cast<std::size_t>(window / minSpacing) + 1;

    // Allocates the whole ring once; the history never allocates again.
    History();

    // Adds one poll at `time` (seconds, non-decreasing; an earlier time than the newest sample
    // starts the history afresh, as after a clock jump).
    void record(double time, std::optional<double> hottest, const std::vector<Fan>& fans,
                bool daemonDriving);

    // The samples of the last `window` seconds before the newest, oldest first.
    std::vector<HistorySample> samples() const;
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const HistorySample& newest() const;

    // Bytes the history holds, whatever it has recorded.
    static constexpr std::size_t footprint() { return capacity * sizeof(HistorySample); }

  private:
    const HistorySample& at(std::size_t age) const;  // 0 = newest
    void dropOlderThan(double time);

    std::vector<HistorySample> ring_;
    std::size_t head_ = 0;  // index of the newest sample
    std::size_t count_ = 0;
};
