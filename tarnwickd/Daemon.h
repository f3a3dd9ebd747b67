#pragma once

// The daemon process: start-up, a pass at once and after every two-second wait, and the stop.

#include <chrono>

namespace Daemon {

inline constexpr std::chrono::seconds tick{2};
// The longest a pass may talk to the SMC, and the hand-back at the stop; a stop signal cuts a
// pass short at once. The unit's watchdog and stop timeout are set well above these.
inline constexpr std::chrono::seconds passDeadline{4};
inline constexpr std::chrono::milliseconds stopDeadline{1000};

// Runs until SIGTERM, SIGINT or SIGHUP; returns the exit status: 1 when the SMC cannot be opened,
// the status folder cannot be made or another daemon holds the lock (nothing else done), 0 after a
// stop that handed the fans back (modes read back automatic, status file removed), 3 after a stop
// whose hand-back failed. An exception hands the fans back, is logged and passes on.
int run();

}  // namespace Daemon
