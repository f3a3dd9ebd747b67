#pragma once

// The daemon's log lines: one per event on standard output, which the journal takes with the
// priority that the sd-daemon prefix ("<3>" and so on) gives each line.

#include <ostream>
#include <string_view>

namespace Log {

enum class Priority { error = 3, warning = 4, info = 6 };

// Writes "<priority>tarnwickd: " and `text` as one line and flushes it.
void line(std::ostream& out, Priority priority, std::string_view text);

}  // namespace Log
