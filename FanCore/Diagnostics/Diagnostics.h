#pragma once

// A plain-text summary of the machine as the library sees it, for pasting into a message.

#include <functional>
#include <string>
#include <string_view>

class Sensors;

namespace Diagnostics {

// Lines joined by "\n", no trailing newline. Never fails. While the daemon runs and its
// measurements are fresh, the temperatures, fans, power and unlock key are those measurements
// (a line says so and how old they are) and nothing asks the SMC; otherwise everything is read
// afresh, through the sensors that `sensors` gives when first called.
std::string report(const std::function<const Sensors&()>& sensors);
std::string report(const Sensors& sensors);

// `text` safe to print on a terminal: line breaks kept, every other control character (C0, DEL
// and the two-byte UTF-8 C1 range) shown as \xNN.
std::string printable(std::string_view text);

}  // namespace Diagnostics
