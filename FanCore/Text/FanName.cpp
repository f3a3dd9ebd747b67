#include "FanCore/Text/FanName.h"

namespace FanText {

std::string fanName(int64_t index, std::size_t fanCount) {
    if (fanCount == 1) return "fan";
    if (fanCount == 2) return index == 0 ? "left" : "right";
    return "fan " + std::to_string(index + 1);
}

}  // namespace FanText
