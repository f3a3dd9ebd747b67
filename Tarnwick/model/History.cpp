#include "Tarnwick/model/History.h"

#include <algorithm>
#include <cmath>
#include <limits>

std::optional<double> HistorySample::hottestValue() const {
    if (std::isnan(hottest)) return std::nullopt;
    return hottest;
}

std::optional<double> HistorySample::topRPM() const {
    if (fanCount == 0) return std::nullopt;
    return *std::max_element(rpm.begin(), rpm.begin() + fanCount);
}

History::History() : ring_(capacity) {}

const HistorySample& History::at(std::size_t age) const {
    return ring_[(head_ + capacity - age) % capacity];
}

const HistorySample& History::newest() const { return ring_[head_]; }

void History::record(double time, std::optional<double> hottest, const std::vector<Fan>& fans,
                     bool daemonDriving) {
    if (!std::isfinite(time)) return;
    if (count_ > 0 && time < newest().time) count_ = 0;

    HistorySample sample;
    sample.time = time;
    sample.hottest = hottest && std::isfinite(*hottest) ? static_cast<float>(*hottest)
                                                        : std::numeric_limits<float>::quiet_NaN();
    for (const Fan& fan : fans) {
        if (sample.fanCount == HistorySample::maxFans) break;
        // A speed the fan cannot have is charted as standing still rather than off the scale.
        const bool plausible = std::isfinite(fan.actual) && fan.actual >= 0 && fan.actual < 1e6;
        sample.rpm[sample.fanCount++] = plausible ? static_cast<float>(fan.actual) : 0.0F;
    }
    sample.daemonDriving = daemonDriving;

    // The newest sample stands in for its second until the next poll: replaced while it is
    // closer than minSpacing to the one before, so every older gap is at least minSpacing.
    const bool replace = count_ > 1 && newest().time - at(1).time < minSpacing;
    if (replace && newest().daemonDriving != at(1).daemonDriving) {
        // A takeover seen only by the replaced poll still gets its marker.
        sample.daemonDriving = newest().daemonDriving;
    }
    if (count_ == 0) {
        head_ = 0;
        count_ = 1;
    } else if (!replace) {
        head_ = (head_ + 1) % capacity;
        count_ = std::min(count_ + 1, capacity);
    }
    ring_[head_] = sample;
    dropOlderThan(time - window);
}

void History::dropOlderThan(double time) {
    while (count_ > 1 && at(count_ - 1).time < time) --count_;
}

std::vector<HistorySample> History::samples() const {
    std::vector<HistorySample> out;
    out.reserve(count_);
    for (std::size_t age = count_; age-- > 0;) out.push_back(at(age));
    return out;
}
