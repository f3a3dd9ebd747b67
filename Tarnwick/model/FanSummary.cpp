#include "Tarnwick/model/FanSummary.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace FanSummary {

double speedFraction(const std::vector<Fan>& fans) {
    double fraction = 0;
    for (const Fan& fan : fans) {
        if (!std::isfinite(fan.actual)) continue;
        if (fan.max > 0 && fan.actual >= 100) {
            fraction = std::max(fraction, std::min(fan.actual / fan.max, 1.0));
        }
    }
    return fraction;
}

int level(const std::vector<Fan>& fans) {
    const Fan* fastest = nullptr;
    for (const Fan& fan : fans) {
        if (!std::isfinite(fan.actual)) continue;
        if (fastest == nullptr || fan.actual > fastest->actual) fastest = &fan;
    }
    if (fastest == nullptr) return 0;
    if (fastest->actual < 100 || !(fastest->min < fastest->max)) return 0;
    const double steps = (fastest->actual - fastest->min) / (fastest->max - fastest->min) * 5.0;
    if (std::isnan(steps)) return 0;
    // Clamped while still floating point: an infinite quotient must not reach the conversion.
    return static_cast<int>(std::clamp(std::trunc(steps) + 1.0, 1.0, 5.0));
}

double topRPM(const std::vector<Fan>& fans) {
    std::optional<double> top;
    for (const Fan& fan : fans) {
        if (std::isfinite(fan.actual) && (!top || fan.actual > *top)) top = fan.actual;
    }
    return top.value_or(0.0);
}

double minRPM(const std::vector<Fan>& fans) {
    std::optional<double> lowest;
    for (const Fan& fan : fans) {
        if (std::isfinite(fan.min) && (!lowest || fan.min > *lowest)) lowest = fan.min;
    }
    return lowest.value_or(1000.0);
}

double maxRPM(const std::vector<Fan>& fans) {
    std::optional<double> highest;
    for (const Fan& fan : fans) {
        if (std::isfinite(fan.max) && (!highest || fan.max < *highest)) highest = fan.max;
    }
    return highest.value_or(6000.0);
}

bool anyManual(const std::vector<Fan>& fans) {
    return std::any_of(fans.begin(), fans.end(), [](const Fan& fan) { return fan.mode != 0; });
}

}  // namespace FanSummary
