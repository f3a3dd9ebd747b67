#pragma once

// What one pass of the control loop needs from the machine and its two files. The daemon's real
// machine goes through the SMC and the sandbox root; tests put a scripted one in its place.

#include <cstdint>
#include <string>
#include <vector>

#include "FanCore/Policy/Config.h"
#include "FanCore/Policy/Measurements.h"
#include "FanCore/Policy/Records.h"
#include "FanCore/Policy/Status.h"
#include "FanCore/Sensors/Fans.h"

class Machine {
  public:
    virtual ~Machine() = default;

    // Raw (unsmoothed) temperatures; fields absent when not measured.
    virtual Readings readings() = 0;
    // The power source; the defaults when nothing is reported.
    virtual PowerState power() = 0;
    // The fans as a decision needs them (see Fans::scan); while `driving`, every fan's target is
    // read afresh, because the loop compares it with what it wrote.
    virtual Fans::Scan fans(bool driving) = 0;
    // Every fan of `fans` (as this pass read them) to manual control at `rpm` (clamped per fan),
    // the mode written first where it is not 1; true when every write succeeded.
    virtual bool setManual(double rpm, const std::vector<Fan>& fans) = 0;
    // The fans at `indices` back to the system's automatic control, or a `retry` for fans that
    // did not go back before (see Fans::handBack); those whose mode does not read back automatic.
    virtual std::vector<int64_t> handBack(const std::vector<int64_t>& indices,
                                          bool retry = false) = 0;
    // Every fan this machine has shown since it booted, by index.
    virtual std::vector<int64_t> knownFans() = 0;
    // A stop has been asked for: the exchanges of this pass fail from now on, which says nothing
    // about the fans.
    virtual bool stopping() { return false; }
    // Why the fans cannot be driven (a read-only driver), as one line; empty when they can.
    virtual std::string controlBlocked() { return {}; }
    // The user's settings; the defaults when the file is missing, unsafe or bad, with `problem`
    // saying why a file that exists could not be used.
    virtual Config loadConfig(std::string& problem) = 0;
    // Replaces the status file; a failure is ignored (the next pass writes again).
    virtual void saveStatus(const Status& status) = 0;
    // Replaces the published measurements, for the application; a failure is ignored.
    virtual void publish(const Measurements& measurements) = 0;
    // Deletes the status file and the published measurements; a missing file is no error.
    virtual void removeStatus() = 0;
};
