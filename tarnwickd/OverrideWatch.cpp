#include "tarnwickd/OverrideWatch.h"

#include <cmath>

#include "FanCore/Sensors/Fans.h"
#include "FanCore/Text/Numbers.h"

void OverrideWatch::reset() {
    manualSeen_.clear();
    overrides_ = 0;
    lastOverride_.reset();
}

std::string OverrideWatch::setTo(const Fan& fan) {
    return "fan " + std::to_string(fan.index) + " set to " + FanText::wholeDigits(fan.target) +
           " rpm";
}

std::optional<std::string> OverrideWatch::check(const std::vector<Fan>& fans, double sent) {
    std::optional<std::string> found;
    for (const Fan& fan : fans) {
        const double expected = Fans::clampedTarget(sent, fan);
        std::optional<std::string> changed;
        if (manualSeen_.contains(fan.index) && fan.mode != 1) {
            changed = "fan " + std::to_string(fan.index) + " set to automatic";
        } else if (std::isfinite(expected) &&
                   !(std::fabs(fan.target - expected) <= targetTolerance)) {
            changed = setTo(fan);
        } else if (fan.mode == 1) {
            manualSeen_.insert(fan.index);
        }
        if (changed && !found) found = changed;
    }
    return found;
}

OverrideWatch::Action OverrideWatch::count(std::chrono::steady_clock::time_point now) {
    if (lastOverride_ && now - *lastOverride_ > memory) overrides_ = 0;
    lastOverride_ = now;
    ++overrides_;
    return overrides_ > reassertLimit ? Action::stepBack : Action::reassert;
}
