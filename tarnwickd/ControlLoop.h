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
    static constexpr double takeOverMargin = 150;  // rpm above the system's speed
    static constexpr double quietMargin = 100;     // rpm above the common minimum
    static constexpr std::chrono::seconds quietPeriod{20};
    static constexpr double rampUp = 400;    // rpm per pass
    static constexpr double rampDown = 300;  // rpm per pass

    // Starts with the system driving the fans; `log` receives whole lines, flushed one by one.
    ControlLoop(Machine& machine, Clock& clock, std::ostream& log);

    // Reads settings, temperatures, power and fans, decides, writes the fans and the status file.
    void pass();

    // Hands the fans back to the system and removes the status file; the caller exits afterwards.
    void stop();

    bool manual() const { return manual_; }
    double target() const { return target_; }  // rpm last sent while manual

  private:
    void logLine(const std::string& line);

    Machine& machine_;
    Clock& clock_;
    std::ostream& log_;
    bool manual_ = false;
    double target_ = 0;
    std::optional<std::chrono::steady_clock::time_point> quietSince_;
    ReadingsSmoother smoother_;
};

// A speed as a decimal integer, fraction dropped towards zero; "nan", "inf" or "-inf" for values
// that have no integer form (never an out-of-range conversion).
std::string wholeRPMText(double rpm);
