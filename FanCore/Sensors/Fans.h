#pragma once

// The machine's fans through the SMC: counted, read, driven to one target, handed back.

#include <cstdint>
#include <vector>

#include "FanCore/Policy/Records.h"

namespace Fans {

int64_t count();         // "FNum" truncated; 0 when unreadable, negative or not finite
std::vector<Fan> read();  // one Fan per index, unreadable values as 0

// Unlocks, then puts every fan in manual mode at `rpm` clamped into its own range; true when
// every mode and target write succeeded (also with no fans).
bool setManual(double rpm);

// Every fan back to automatic mode, then the unlock key back to 0; failures ignored.
void setAuto();

}  // namespace Fans
