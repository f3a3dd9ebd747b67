#pragma once

// What the panel, the command line and the alerts call a fan.

#include <cstddef>
#include <cstdint>
#include <string>

namespace FanText {

// The name of fan `index` in a list of `fanCount` fans: "fan" alone, "left"/"right" for two
// (index 0 is left), otherwise "fan <index + 1>".
std::string fanName(int64_t index, std::size_t fanCount);

}  // namespace FanText
