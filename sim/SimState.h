#pragma once

// state.json: what the simulated machine is doing, for tests and people to inspect.

#include <string>

#include "sim/SimMachine.h"
#include "sim/SimMacsmcHwmon.h"

namespace SimState {

// The machine's state as JSON text: simulated time and wall-clock time, exchange counts by
// command, the fans, the "Ftst" value (null without one), the temperatures of the SMC keys and
// the HID sensors (under the product names the system sees), the control in force, and the last
// writes in order (key, decoded value or null, bytes, result). With `driver`, also "driver": the
// layout, whether fan_control is on, and the values clients left in its target files with the
// driver's answers.
std::string render(const SimMachine& machine, const SimMacsmcHwmon* driver = nullptr);

}  // namespace SimState
