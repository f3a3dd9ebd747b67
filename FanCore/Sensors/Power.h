#pragma once

// The power source: mains, charging, battery percent.

#include "FanCore/Policy/Records.h"

namespace Power {

// The last internal battery's state; the defaults when there is none.
PowerState state();

}  // namespace Power
