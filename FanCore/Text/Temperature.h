#pragma once

// Temperatures as every view of them writes them.

#include <string>

namespace FanText {

// "<celsius> °C" with `decimals` digits after a full stop, whatever the locale.
std::string celsius(double celsius, int decimals);

}  // namespace FanText
