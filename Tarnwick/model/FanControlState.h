#pragma once

// Who drives the fans as the user should be told: what the daemon reports, once the machine has
// fans and a daemon that is installed and alive.

#include <optional>

#include "FanCore/Policy/Status.h"

enum class FanControlState {
    noFans,
    notInstalled,
    notRunning,   // no status, or none written in the last 10 s
    system,       // the system's own fan curve
    daemon,       // the daemon drives and the fans confirm it
    overridden,   // the firmware or another program took a fan from the daemon
    handingBack,  // the daemon gives the fans back after a fault
    sleeping,     // the daemon handed the fans back for sleep
};

// The first of: no fans, daemon not installed, no fresh status (`now` in seconds since 1970),
// then the driver the status reports.
FanControlState fanControlState(bool hasFans, bool installed, const std::optional<Status>& status,
                                double now);
