#include "FanCore/Policy/Curve.h"

#include <cstdio>
#include <string>

namespace Curve {
namespace {

// NaN is not above 0, so it ends at 0 like any other unusable fraction.
double clamped(double fraction) {
    if (!(fraction > 0)) return 0;
    if (fraction > 1) return 1;
    return fraction;
}

std::string formatted(const char* format, double value) {
    const int length = std::snprintf(nullptr, 0, format, value);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, value);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

constexpr double pinnedBoost = 0.99;

}  // namespace

double startTemp(double boost) { return 75 - 35 * boost; }

double fullTemp(double boost) { return 100 - 25 * boost; }

double cpuFraction(double boost, double temp) {
    if (!(boost > 0)) return 0;
    if (boost >= pinnedBoost) return 1;
    const double start = startTemp(boost);
    return clamped((temp - start) / (fullTemp(boost) - start));
}

double safetyFraction(double temp) { return clamped((temp - 75) / 25); }

double batteryFraction(const Config& config, double temp) {
    const double low = config.batteryTarget - 1;
    const double high = config.batteryTarget + 4;
    return clamped((temp - low) / (high - low));
}

Demand demand(const Config& config, const Readings& readings, const PowerState& power,
              double minRPM, double maxRPM) {
    const double span = maxRPM - minRPM;
    Demand result;

    if (config.manualMode) {
        // Written so that a NaN manual speed falls to minRPM instead of reaching the fans.
        double rpm = config.manualRPM > minRPM ? config.manualRPM : minRPM;
        rpm = rpm < maxRPM ? rpm : maxRPM;
        result = {rpm, "manual"};
    } else if (const std::optional<double> hottest = readings.hottest();
               hottest && config.boost > 0) {
        const double fraction = cpuFraction(config.boost, *hottest);
        if (fraction > 0) result = {minRPM + span * fraction, formatted("chip %.0f °C", *hottest)};
    }

    const bool batteryRuleOn =
        config.batteryCooling && (power.onAC || !config.batteryOnlyOnAC) && readings.battery;
    if (batteryRuleOn) {
        const double battery = *readings.battery;
        const double fraction = batteryFraction(config, battery);
        const double batteryRPM = minRPM + span * fraction;
        if (fraction > 0 && result.rpm < batteryRPM) {
            result = {batteryRPM, formatted("battery %.1f °C", battery)};
        }
    }
    return result;
}

}  // namespace Curve
