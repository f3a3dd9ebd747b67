#pragma once

// A plain-text summary of the machine as the library sees it, for pasting into a message.

#include <string>
#include <string_view>

class Sensors;

namespace Diagnostics {

// Reads everything afresh; lines joined by "\n", no trailing newline. Never fails.
std::string report(const Sensors& sensors);

// `text` safe to print on a terminal: line breaks kept, every other control character (C0, DEL
// and the two-byte UTF-8 C1 range) shown as \xNN.
std::string printable(std::string_view text);

}  // namespace Diagnostics
