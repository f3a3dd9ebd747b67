#pragma once

// A plain-text summary of the machine as the library sees it, for pasting into a message.

#include <string>

class Sensors;

namespace Diagnostics {

// Reads everything afresh; lines joined by "\n", no trailing newline. Never fails.
std::string report(const Sensors& sensors);

}  // namespace Diagnostics
