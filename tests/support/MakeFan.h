#pragma once

// A fan as a scan reads it, for the tests that feed one to the loop, the model or the panel.

#include <cstdint>

#include "FanCore/Policy/Records.h"

namespace support {

inline Fan makeFan(int64_t index, double actual, double min = 1200, double max = 6000) {
    Fan fan;
    fan.index = index;
    fan.actual = actual;
    fan.min = min;
    fan.max = max;
    return fan;
}

}  // namespace support
