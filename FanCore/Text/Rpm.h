#pragma once

// Fan speeds as every view of them writes them: whole rpm and the unit.

#include <cstdint>
#include <optional>
#include <string>

namespace FanText {

// "<rpm> rpm", or "– rpm" when absent.
std::string rpm(std::optional<int64_t> whole);

// A measured speed rounded to the nearest rpm (halves away from zero): "2400 rpm"; "– rpm" when it
// is not finite or does not fit a 64-bit integer.
std::string roundedRpm(double rpm);

// A target speed with its fraction dropped towards zero, otherwise as roundedRpm.
std::string truncatedRpm(double rpm);

}  // namespace FanText
