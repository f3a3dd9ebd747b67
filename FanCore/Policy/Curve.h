#pragma once

// The fan curve: settings, temperatures and power source to a wanted speed. Pure arithmetic.

#include "FanCore/Policy/Config.h"
#include "FanCore/Policy/Records.h"

namespace Curve {

double startTemp(double boost);  // 75 - 35 * boost, degrees Celsius
double fullTemp(double boost);   // 100 - 25 * boost, degrees Celsius

// Fractions of the speed range, clamped to 0..1 (NaN counts as not above 0, so gives 0).
double cpuFraction(double boost, double temp);
double safetyFraction(double temp);
double batteryFraction(const Config& config, double temp);

// The wanted speed and its reason inside minRPM..maxRPM (caller guarantees minRPM < maxRPM).
Demand demand(const Config& config, const Readings& readings, const PowerState& power,
              double minRPM, double maxRPM);

}  // namespace Curve
