#pragma once

// What one pass of the control loop needs from the machine and its two files. The daemon's real
// machine goes through the SMC and the sandbox root; tests put a scripted one in its place.

#include <optional>
#include <string>
#include <vector>

#include "FanCore/Policy/Config.h"
#include "FanCore/Policy/Measurements.h"
#include "FanCore/Policy/Records.h"
#include "FanCore/Policy/Status.h"

class Machine {
  public:
    virtual ~Machine() = default;

    // Raw (unsmoothed) temperatures; fields absent when not measured.
    virtual Readings readings() = 0;
    // The power source; the defaults when nothing is reported.
    virtual PowerState power() = 0;
    // One Fan per fan in index order; empty when there are none, absent when they cannot be read.
    virtual std::optional<std::vector<Fan>> fans() = 0;
    // Every fan of `fans` (as this pass read them) to manual control at `rpm` (clamped per fan);
    // true when every write succeeded.
    virtual bool setManual(double rpm, const std::vector<Fan>& fans) = 0;
    // Every fan back to the system's automatic control; true only when every fan's mode reads
    // back automatic afterwards.
    virtual bool setAuto() = 0;
    // Why the fans cannot be driven (a read-only driver), as one line; empty when they can.
    virtual std::string controlBlocked() { return {}; }
    // The user's settings; the defaults when the file is missing, unsafe or bad.
    virtual Config loadConfig() = 0;
    // Replaces the status file; a failure is ignored (the next pass writes again).
    virtual void saveStatus(const Status& status) = 0;
    // Replaces the published measurements, for the application; a failure is ignored.
    virtual void publish(const Measurements& measurements) = 0;
    // Deletes the status file and the published measurements; a missing file is no error.
    virtual void removeStatus() = 0;
};
