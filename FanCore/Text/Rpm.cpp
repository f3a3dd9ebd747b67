#include "FanCore/Text/Rpm.h"

#include "FanCore/Text/Numbers.h"

namespace FanText {

std::string rpm(std::optional<int64_t> whole) { return integerOrDash(whole) + " rpm"; }

std::string roundedRpm(double value) { return rpm(roundedInteger(value)); }

std::string truncatedRpm(double value) { return rpm(truncatedInteger(value)); }

}  // namespace FanText
