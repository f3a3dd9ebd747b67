#pragma once

// The daemon's decision between the system and itself, one pass at a time: take the fans over
// when the curve asks for clearly more than the system gives, ramp them in bounded steps, keep
// them at or above the safety speed, and hand them back after a quiet spell, before a sleep, or
// to whoever took them from it.

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "FanCore/Sensors/ReadingsSmoother.h"
#include "tarnwickd/Clock.h"
#include "tarnwickd/Log.h"
#include "tarnwickd/Machine.h"
#include "tarnwickd/OverrideWatch.h"

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
    // A pause for sleep ends by itself after this much time awake, should the wake never come.
    static constexpr std::chrono::seconds sleepPauseLimit{60};
    // A jump of boot time over the monotonic clock by more than this is a sleep nobody announced.
    static constexpr std::chrono::seconds missedSleepJump{1};
    // After stepping back from an override the daemon leaves the fans alone for at least this
    // long, and for as long as any fan stays in manual mode under someone else.
    static constexpr std::chrono::seconds stepBackHold{60};

    // Starts with the system driving the fans; `log` receives whole lines, flushed one by one.
    ControlLoop(Machine& machine, Clock& clock, std::ostream& log);

    // Hands back whatever a previous run left in force, every fan this machine has shown since
    // it booted; a fan that stays in manual is kept at the safety speed from the first pass on.
    // Nothing is written where the driver refuses writes.
    void start();

    // Reads settings, temperatures, power and fans, decides, writes the fans and the status file.
    void pass();

    // Hands every known fan back to the system and removes the status file; true when every fan
    // read back automatic. The caller exits afterwards.
    bool stop();

    // The machine is about to sleep: hands the fans back, reports "sleeping" and pauses the passes
    // (no SMC access) until wake() or sleepPauseLimit of time awake. A fan that does not go back
    // is kept at the safety speed instead: no pause then.
    void sleep();

    // The machine woke: the next pass starts afresh, with no smoothing memory and no quiet timer,
    // and takes the fans over again only by the normal rules.
    void wake();

    Drive drive() const { return drive_; }
    bool manual() const { return drive_ != Drive::system; }
    bool sleeping() const { return sleepingSince_.has_value(); }
    bool steppedBack() const { return steppedBack_.has_value(); }
    double target() const { return target_; }  // rpm last sent while manual
    // The fans not yet back in automatic control while handing back, by index.
    const std::vector<int64_t>& stuck() const { return stuck_; }

  private:
    struct Range {
        double min;
        double max;
    };

    void logLine(Log::Priority priority, const std::string& text);
    // Lets go of the fans at `indices` (see Machine::handBack); false (and Drive::handingBack,
    // with those that stay in stuck_) when a fan does not read back automatic.
    bool handBack(const std::vector<int64_t>& indices, bool retry = false);
    bool handBackAll();
    // Forgets everything learnt before a sleep: smoothing, quiet timer, overrides, pause.
    void startAfresh();
    // The length of a sleep seen on the clocks since the last pass, when there was one.
    std::optional<std::chrono::nanoseconds> missedSleep();
    // False while paused for sleep (the status says so); handles the end of a pause.
    bool awake();
    // A pass in which the SMC answered nothing: who drives the fans stays as it was.
    void silentPass(const Readings& raw);
    // Logs when the fan count or a fan's mode stops or starts answering.
    void noteScan(const Fans::Scan& scan);
    // Reads back the last write: a fan the firmware or another program took is asserted again a
    // few times, then left to them. What changed, when something did.
    std::optional<std::string> checkOverride(const std::vector<Fan>& judged,
                                             std::chrono::steady_clock::time_point now);
    // Whom the fans answer to while the daemon does not drive them: a fan in manual control with
    // no owner goes back, a fan whose mode cannot be read is kept at the safety speed, and a
    // hand-back that did not take is tried again.
    void watchFans(const Fans::Scan& scan, const std::vector<Fan>& judged, double safety,
                   std::chrono::steady_clock::time_point now);
    // Takes the fans over or hands them back after a quiet spell.
    void decide(const Config& config, const Demand& demand, const std::vector<Fan>& fans,
                const Range& range, std::chrono::steady_clock::time_point now);
    // Ramps and writes the fans the daemon is responsible for; the status error of the writes.
    // `targetsRead`: the scan read the fans' targets, so a fan already at its target is spared.
    std::optional<std::string> driveFans(const Fans::Scan& scan, bool targetsRead,
                                         const Demand& demand, const Range& range, double safety,
                                         std::chrono::steady_clock::time_point now);
    // What keeps the fans from going back, for the status and the log.
    std::string stuckText() const;
    // Who drives the fans as the status reports it.
    Driver reported(bool overridden) const;
    void saveStatus(Status status, bool overridden = false);

    Machine& machine_;
    Clock& clock_;
    std::ostream& log_;
    Drive drive_ = Drive::system;
    std::vector<int64_t> stuck_;         // while handing back: fans not yet automatic
    std::vector<int64_t> unknownModes_;  // fans whose mode the last scan could not read
    bool countUnread_ = false;           // the last scan could not read the fan count
    bool chipSeen_ = false;              // a chip temperature has been read since the start
    bool chipLost_ = false;              // ... and none is read now
    std::string settingsProblem_;        // why the settings file could not be used
    double target_ = 0;
    std::optional<std::chrono::steady_clock::time_point> quietSince_;
    int failedWrites_ = 0;
    // Set when failing writes handed the fans back: no take-over before this time.
    std::optional<std::chrono::steady_clock::time_point> retryAt_;
    bool fansUnreadable_ = false;
    ReadingsSmoother smoother_;
    std::optional<std::chrono::steady_clock::time_point> sleepingSince_;
    std::chrono::nanoseconds sleptAt_{};                      // boot time when the pause began
    std::optional<std::chrono::nanoseconds> suspendedSoFar_;  // boot time minus monotonic time
    OverrideWatch overrides_;
    bool written_ = false;  // the last pass drove the fans and every write succeeded
    struct StepBack {
        std::chrono::steady_clock::time_point since;
        std::string what;
    };
    std::optional<StepBack> steppedBack_;
};
