#pragma once

// The daemon's decision between the system and itself, one pass at a time: take the fans over
// when the curve asks for clearly more than the system gives, ramp them in bounded steps, keep
// them at or above the safety speed, and hand them back after a quiet spell.

#include <chrono>
#include <optional>
#include <ostream>
#include <string>

#include "FanCore/Sensors/ReadingsSmoother.h"
#include "tarnwickd/Clock.h"
#include "tarnwickd/Machine.h"

class ControlLoop {
  public:
    // Who is responsible for the fans. Only modes read back as automatic make the system
    // responsible again; until then the daemon keeps them at the safety speed.
    enum class Drive {
        system,       // the system drives them; the daemon watches their modes
        daemon,       // the daemon drives them
        handingBack,  // let go, but a fan did not read back automatic: kept safe, retried
    };

    static constexpr double takeOverMargin = 150;  // rpm above the system's speed
    static constexpr double quietMargin = 100;     // rpm above the common minimum
    static constexpr std::chrono::seconds quietPeriod{20};
    static constexpr double rampUp = 400;    // rpm per pass
    static constexpr double rampDown = 300;  // rpm per pass
    // Passes in a row whose target writes failed before the fans go back to the system, and how
    // long the system keeps them before the daemon may try again.
    static constexpr int failedWritesLimit = 3;
    static constexpr std::chrono::seconds retryAfterFailedWrites{20};

    // Starts with the system driving the fans; `log` receives whole lines, flushed one by one.
    ControlLoop(Machine& machine, Clock& clock, std::ostream& log);

    // Reads settings, temperatures, power and fans, decides, writes the fans and the status file.
    void pass();

    // Hands the fans back to the system and removes the status file; true when every fan read
    // back automatic. The caller exits afterwards.
    bool stop();

    Drive drive() const { return drive_; }
    bool manual() const { return drive_ != Drive::system; }
    double target() const { return target_; }  // rpm last sent while manual

  private:
    void logLine(const std::string& line);
    // Lets go of the fans; false (and Drive::handingBack) when a fan does not read back automatic.
    bool handBack();

    Machine& machine_;
    Clock& clock_;
    std::ostream& log_;
    Drive drive_ = Drive::system;
    double target_ = 0;
    std::optional<std::chrono::steady_clock::time_point> quietSince_;
    int failedWrites_ = 0;
    // Set when failing writes handed the fans back: no take-over before this time.
    std::optional<std::chrono::steady_clock::time_point> retryAt_;
    bool fansUnreadable_ = false;
    ReadingsSmoother smoother_;
};

// A speed as a decimal integer, fraction dropped towards zero; "nan", "inf" or "-inf" for values
// that have no integer form (never an out-of-range conversion).
std::string wholeRPMText(double rpm);
