#include "FanCore/Text/Temperature.h"

#include "FanCore/Text/Numbers.h"

namespace FanText {

std::string celsius(double value, int decimals) { return fixed(value, decimals) + " \u00b0C"; }

}  // namespace FanText
