#include "tarnwickd/OverrideWatch.h"

#include <algorithm>
#include <cmath>

#include "tarnwickd/ControlLoop.h"

namespace {

// What a fan shows that the daemon did not ask for; empty when it shows the daemon's write.
std::string change(const Fan& fan, double sent, bool modeCounts) {
    const std::string name = "fan " + std::to_string(fan.index);
    if (modeCounts && fan.mode != 1) return name + " set to automatic";
    // The write was clamped into the fan's own range, as Fans::setManual does.
    const double expected = std::min(fan.max, std::max(sent, fan.min));
    if (std::isfinite(expected) &&
        !(std::fabs(fan.target - expected) <= OverrideWatch::targetTolerance)) {
        return name + " set to " + wholeRPMText(fan.target) + " rpm";
    }
    return {};
}

}  // namespace

void OverrideWatch::reset() {
    manualSeen_.clear();
    overrides_ = 0;
    lastOverride_.reset();
}

std::optional<OverrideWatch::Finding> OverrideWatch::check(
    const std::vector<Fan>& fans, double sent, std::chrono::steady_clock::time_point now) {
    std::string what;
    for (const Fan& fan : fans) {
        const std::string changed = change(fan, sent, manualSeen_.contains(fan.index));
        if (changed.empty()) {
            if (fan.mode == 1) manualSeen_.insert(fan.index);
        } else if (what.empty()) {
            what = changed;
        }
    }
    if (what.empty()) return std::nullopt;

    if (lastOverride_ && now - *lastOverride_ > memory) overrides_ = 0;
    lastOverride_ = now;
    ++overrides_;
    return Finding{what, overrides_ > reassertLimit ? Action::stepBack : Action::reassert};
}
