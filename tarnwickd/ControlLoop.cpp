#include "tarnwickd/ControlLoop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "FanCore/Policy/Curve.h"
#include "FanCore/Policy/Platform.h"

namespace {

// Comparisons that let a number win over NaN, so that one bad SMC value cannot poison the target.
double greaterOf(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return a < b ? b : a;
}

double smallerOf(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return b < a ? b : a;
}

struct Range {
    double min;
    double max;
};

// The speeds every fan accepts; none when there are no fans or the ranges do not overlap. Infinite
// bounds are refused too: the curve would turn them into infinite or NaN targets.
std::optional<Range> commonRange(const std::vector<Fan>& fans) {
    if (fans.empty()) return std::nullopt;
    Range range{fans.front().min, fans.front().max};
    for (const Fan& fan : fans) {
        if (std::isnan(fan.min) || std::isnan(fan.max)) return std::nullopt;
        range.min = std::max(range.min, fan.min);
        range.max = std::min(range.max, fan.max);
    }
    if (!(range.min < range.max) || !std::isfinite(range.max - range.min)) return std::nullopt;
    return range;
}

double meanActual(const std::vector<Fan>& fans) {
    double sum = 0;
    for (const Fan& fan : fans) sum += fan.actual;
    return sum / static_cast<double>(fans.size());
}

bool hasChipTemperature(const Readings& readings) {
    return readings.cpu || readings.gpu || readings.die;
}

}  // namespace

std::string wholeRPMText(double rpm) {
    if (std::isnan(rpm)) return "nan";
    if (std::isinf(rpm)) return rpm > 0 ? "inf" : "-inf";
    const double whole = std::trunc(rpm);
    if (whole == 0) return "0";  // no "-0" for speeds between -1 and 0
    char text[400];              // the longest finite double has 309 integer digits
    std::snprintf(text, sizeof text, "%.0f", whole);
    return text;
}

std::string wholeSecondsText(std::chrono::nanoseconds duration) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(duration).count());
}

ControlLoop::ControlLoop(Machine& machine, Clock& clock, std::ostream& log)
    : machine_(machine), clock_(clock), log_(log) {}

void ControlLoop::logLine(const std::string& line) { log_ << line << '\n' << std::flush; }

bool ControlLoop::handBack() {
    written_ = false;
    if (machine_.setAuto()) {
        drive_ = Drive::system;
        return true;
    }
    if (drive_ != Drive::handingBack) {
        logLine("tarnwickd: a fan did not return to automatic control; keeping the safety speed");
    }
    drive_ = Drive::handingBack;
    return false;
}

Driver ControlLoop::reported(bool overridden) const {
    if (sleepingSince_) return Driver::sleeping;
    switch (drive_) {
        case Drive::daemon:
            return overridden ? Driver::overridden : Driver::daemon;
        case Drive::handingBack:
            return Driver::handingBack;
        case Drive::system:
            break;
    }
    return steppedBack_ ? Driver::overridden : Driver::system;
}

void ControlLoop::saveStatus(Status status, bool overridden) {
    status.updated = clock_.wall();
    status.driver = reported(overridden);
    machine_.saveStatus(status);
}

void ControlLoop::pass() {
    if (sleepingSince_) {
        if (clock_.monotonic() - *sleepingSince_ <= sleepPauseLimit) {
            saveStatus(Status{0, manual(), manual() ? target_ : 0,
                              std::string(Platform::baselineName), std::nullopt});
            return;
        }
        logLine("tarnwickd: no wake within " + wholeSecondsText(sleepPauseLimit) +
                " s, starting afresh");
        startAfresh();
    } else if (const auto slept = missedSleep()) {
        // Firmware may have reset the fans, or kept them at a speed chosen for the old heat.
        if (drive_ != Drive::system) handBack();
        logLine("tarnwickd: missed a sleep of " + wholeSecondsText(*slept) + " s, starting afresh");
        startAfresh();
    }

    const Config config = machine_.loadConfig();
    const Readings raw = machine_.readings();
    const PowerState power = machine_.power();
    const std::optional<std::vector<Fan>> fans = machine_.fans();

    // Unreadable fans tell nothing about who drives them: the state stays as it was.
    if (!fans) {
        if (!fansUnreadable_) logLine("tarnwickd: cannot read the fans; keeping the present state");
        fansUnreadable_ = true;
        smoother_.apply(raw);
        saveStatus(Status{0, manual(), manual() ? target_ : 0,
                          manual() ? "fans unreadable" : std::string(Platform::baselineName),
                          "cannot read the fans"});
        return;
    }
    // An SMC that went silent and came back with every fan the daemon drove in automatic mode
    // has been through a sleep (or a reset) nobody announced.
    if (fansUnreadable_ && drive_ == Drive::daemon && !fans->empty() &&
        std::all_of(fans->begin(), fans->end(), [](const Fan& fan) { return fan.mode == 0; })) {
        drive_ = Drive::system;
        logLine(
            "tarnwickd: the fans came back in automatic mode, as after a sleep; starting afresh");
        startAfresh();
    }
    fansUnreadable_ = false;
    const Readings readings = smoother_.apply(raw);
    machine_.publish(Measurements{clock_.wall(), raw, *fans, power});

    const std::optional<Range> range = commonRange(*fans);
    if (!range) {
        if (drive_ != Drive::system) handBack();
        saveStatus(Status{0, manual(), manual() ? target_ : 0, std::string(Platform::baselineName),
                          "No fans found"});
        return;
    }

    // A driver that refuses every write leaves nothing to decide: the firmware keeps the fans and
    // the status says how to allow control. Fans taken before it turned read-only went back
    // with the driver's reload.
    if (std::string blocked = machine_.controlBlocked(); !blocked.empty()) {
        drive_ = Drive::system;
        machine_.saveStatus(
            Status{clock_.wall(), false, 0, std::string(Platform::osName), std::move(blocked)});
        return;
    }

    const Demand demand = Curve::demand(config, readings, power, range->min, range->max);
    const auto now = clock_.monotonic();

    // Read back the last write: a fan the firmware or another program took is asserted again a
    // few times, then left to them.
    std::optional<std::string> overridden;
    if (drive_ == Drive::daemon && written_) {
        overridden = overrides_.check(*fans, target_);
        if (overridden && overrides_.count(now) == OverrideWatch::Action::stepBack) {
            logLine("tarnwickd: overridden (" + *overridden + "), stepping back");
            steppedBack_ = StepBack{now, *overridden};
            // The fans still at the daemon's speed must not stay in manual with nobody driving
            // them. The taken fan may well read back manual, held by its new owner: that is no
            // failed hand-back to retry, so the read-back is not judged here.
            machine_.setAuto();
            drive_ = Drive::system;
        } else if (overridden) {
            logLine("tarnwickd: overridden (" + *overridden + "), asserting again");
        }
    }
    written_ = false;

    const auto held =
        std::find_if(fans->begin(), fans->end(), [](const Fan& fan) { return fan.mode != 0; });
    if (steppedBack_ && now - steppedBack_->since > stepBackHold && held == fans->end()) {
        steppedBack_.reset();
    }

    // Nobody else may leave a fan in manual control behind the system's back: while the system
    // drives, a fan found in manual has no owner and goes back, unless it keeps coming back to
    // manual, which shows it has one.
    if (drive_ == Drive::system && held != fans->end() && !steppedBack_) {
        if (overrides_.count(now) == OverrideWatch::Action::stepBack) {
            const std::string what = OverrideWatch::setTo(*held);
            logLine("tarnwickd: overridden (" + what + "), stepping back");
            steppedBack_ = StepBack{now, what};
        } else {
            logLine("tarnwickd: a fan was in manual control with no owner; handing it back");
            handBack();
        }
    } else if (drive_ == Drive::handingBack && handBack()) {
        logLine("tarnwickd: back to " + std::string(Platform::baselineName));
    }

    if (drive_ == Drive::system && !steppedBack_) {
        const double systemSpeed = meanActual(*fans);
        const bool waiting = retryAt_ && now < *retryAt_;
        if (!waiting &&
            (config.manualMode || (demand.rpm > 0 && demand.rpm > systemSpeed + takeOverMargin))) {
            drive_ = Drive::daemon;
            retryAt_.reset();
            overrides_.reset();
            target_ = greaterOf(systemSpeed, range->min);
            quietSince_.reset();
            logLine("tarnwickd: manual (" + demand.reason + ", want " + wholeRPMText(demand.rpm) +
                    ", " + std::string(Platform::baselineName) + " " + wholeRPMText(systemSpeed) +
                    ")");
        }
    } else if (drive_ == Drive::daemon) {
        if (config.manualMode || demand.rpm >= range->min + quietMargin) {
            quietSince_.reset();
        } else {
            // Monotonic time: a wall-clock step must neither hold the fans nor release them early.
            if (!quietSince_) quietSince_ = now;
            if (now - *quietSince_ > quietPeriod && handBack())
                logLine("tarnwickd: back to " + std::string(Platform::baselineName));
        }
    }

    std::optional<std::string> error;
    if (drive_ != Drive::system) {
        // A chip temperature that stops arriving lives on in the smoother; the safety speed must
        // not trust it, so it goes to full speed as soon as no chip sensor answers.
        const std::optional<double> hottest =
            hasChipTemperature(raw) ? readings.hottest() : std::nullopt;
        const double safety =
            hottest ? range->min + (range->max - range->min) * Curve::safetyFraction(*hottest)
                    : range->max;
        const double asked = drive_ == Drive::daemon ? demand.rpm : 0;
        const double wanted = greaterOf(greaterOf(asked, safety), range->min);
        target_ = !(target_ < wanted) ? greaterOf(wanted, target_ - rampDown)
                                      : smallerOf(wanted, target_ + rampUp);
        if (drive_ == Drive::handingBack) target_ = greaterOf(target_, safety);
        if (machine_.setManual(target_, *fans)) {
            failedWrites_ = 0;
            written_ = drive_ == Drive::daemon;
        } else {
            error = "SMC write failed";
            // Manual control at a speed nobody can set is worse than the system's own curve.
            if (drive_ == Drive::daemon && ++failedWrites_ >= failedWritesLimit) {
                failedWrites_ = 0;
                retryAt_ = now + retryAfterFailedWrites;
                logLine("tarnwickd: fan speed writes failed " + std::to_string(failedWritesLimit) +
                        " passes in a row; handing the fans back to the system");
                handBack();
            }
        }
    }
    if (drive_ == Drive::handingBack) {
        error = "a fan did not return to automatic control";
    } else if (drive_ == Drive::system && retryAt_ && now < *retryAt_) {
        error = "fan speed writes failed; the system drives the fans";
    }

    Status status;
    status.manual = manual();
    status.targetRPM = manual() ? target_ : 0;
    if (drive_ == Drive::daemon) {
        status.reason = overridden              ? *overridden
                        : demand.reason.empty() ? "ramping down"
                                                : demand.reason;
    } else if (drive_ == Drive::handingBack) {
        status.reason = "handing back";
    } else if (steppedBack_) {
        status.reason = steppedBack_->what;
    } else {
        status.reason = std::string(Platform::baselineName);
    }
    status.error = std::move(error);
    saveStatus(std::move(status), overridden.has_value());
}

void ControlLoop::sleep() {
    if (!sleepingSince_) {
        if (drive_ != Drive::system) handBack();
        sleptAt_ = clock_.sinceBoot();
        logLine("tarnwickd: paused for sleep");
    }
    sleepingSince_ = clock_.monotonic();
    saveStatus(Status{0, manual(), manual() ? target_ : 0, std::string(Platform::baselineName),
                      drive_ == Drive::handingBack
                          ? std::optional<std::string>("a fan did not return to automatic control")
                          : std::nullopt});
}

void ControlLoop::wake() {
    if (sleepingSince_) {
        logLine("tarnwickd: awake after " + wholeSecondsText(clock_.sinceBoot() - sleptAt_) +
                " s, starting afresh");
    } else if (drive_ != Drive::system) {
        // A wake without its sleep: the firmware may have reset the fans all the same.
        handBack();
    }
    startAfresh();
}

void ControlLoop::startAfresh() {
    sleepingSince_.reset();
    steppedBack_.reset();
    overrides_.reset();
    written_ = false;
    smoother_ = ReadingsSmoother{};
    quietSince_.reset();
    suspendedSoFar_ = clock_.sinceBoot() - clock_.monotonic().time_since_epoch();
}

std::optional<std::chrono::nanoseconds> ControlLoop::missedSleep() {
    const std::chrono::nanoseconds suspended =
        clock_.sinceBoot() - clock_.monotonic().time_since_epoch();
    const std::optional<std::chrono::nanoseconds> before = suspendedSoFar_;
    suspendedSoFar_ = suspended;
    if (!before || suspended - *before <= missedSleepJump) return std::nullopt;
    return suspended - *before;
}

bool ControlLoop::stop() {
    const bool handed = machine_.setAuto();
    drive_ = handed ? Drive::system : Drive::handingBack;
    machine_.removeStatus();
    return handed;
}
