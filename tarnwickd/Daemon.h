#pragma once

// The daemon process: start-up, a pass at once and after every two-second wait, and the stop.

#include <chrono>

namespace Daemon {

inline constexpr std::chrono::seconds tick{2};

// Runs until SIGTERM, SIGINT or SIGHUP; returns the exit status: 1 when the SMC cannot be opened
// (nothing else done), 0 after a stop (fans automatic, status file removed).
int run();

}  // namespace Daemon
