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

void ControlLoop::pass() {
    if (sleepingSince_) {
        if (clock_.monotonic() - *sleepingSince_ <= sleepPauseLimit) {
            machine_.saveStatus(Status{clock_.wall(), false, 0, std::string(Platform::osName),
                                       std::nullopt, Driver::sleeping});
            return;
        }
        logLine("tarnwickd: no wake within " + wholeSecondsText(sleepPauseLimit) +
                " s, starting afresh");
        startAfresh();
    } else if (const auto slept = missedSleep()) {
        // Firmware may have reset the fans, or kept them at a speed chosen for the old heat.
        if (manual_) machine_.setAuto();
        manual_ = false;
        written_ = false;
        logLine("tarnwickd: missed a sleep of " + wholeSecondsText(*slept) + " s, starting afresh");
        startAfresh();
    }

    const Config config = machine_.loadConfig();
    const Readings raw = machine_.readings();
    const Readings readings = smoother_.apply(raw);
    const PowerState power = machine_.power();
    const std::vector<Fan> fans = machine_.fans();

    const std::optional<Range> range = commonRange(fans);
    if (!range) {
        if (manual_) {
            machine_.setAuto();
            manual_ = false;
        }
        written_ = false;
        machine_.saveStatus(Status{clock_.wall(), false, 0, std::string(Platform::osName),
                                   "No fans found", Driver::system});
        return;
    }

    const Demand demand = Curve::demand(config, readings, power, range->min, range->max);
    const auto now = clock_.monotonic();

    std::optional<std::string> overridden;
    if (manual_ && written_) {
        if (const auto found = overrides_.check(fans, target_, now)) {
            overridden = found->what;
            if (found->action == OverrideWatch::Action::stepBack) {
                // Fans still at the daemon's speed must not be left in manual with nobody
                // driving them; the taken fan's holder writes again if it means to keep it.
                manual_ = false;
                machine_.setAuto();
                steppedBack_ = StepBack{now, found->what};
                logLine("tarnwickd: overridden (" + found->what + "), stepping back");
            } else {
                logLine("tarnwickd: overridden (" + found->what + "), asserting again");
            }
        }
    }
    written_ = false;
    if (steppedBack_ && now - steppedBack_->since > stepBackHold &&
        std::none_of(fans.begin(), fans.end(), [](const Fan& fan) { return fan.mode == 1; })) {
        steppedBack_.reset();
    }

    if (!manual_ && !steppedBack_) {
        const double systemSpeed = meanActual(fans);
        if (config.manualMode || (demand.rpm > 0 && demand.rpm > systemSpeed + takeOverMargin)) {
            manual_ = true;
            target_ = greaterOf(systemSpeed, range->min);
            quietSince_.reset();
            overrides_.reset();
            logLine("tarnwickd: manual (" + demand.reason + ", want " + wholeRPMText(demand.rpm) +
                    ", macOS " + wholeRPMText(systemSpeed) + ")");
        }
    } else if (!manual_) {
        // Stepped back: the fans belong to whoever took them.
    } else if (config.manualMode || demand.rpm >= range->min + quietMargin) {
        quietSince_.reset();
    } else {
        // Monotonic time: a wall-clock step must neither hold the fans nor release them early.
        if (!quietSince_) quietSince_ = now;
        if (now - *quietSince_ > quietPeriod) {
            manual_ = false;
            machine_.setAuto();
            logLine("tarnwickd: back to macOS");
        }
    }

    std::optional<std::string> error;
    if (manual_) {
        // A chip temperature that stops arriving lives on in the smoother; the safety speed must
        // not trust it, so it goes to full speed as soon as no chip sensor answers.
        const std::optional<double> hottest =
            hasChipTemperature(raw) ? readings.hottest() : std::nullopt;
        const double safety =
            hottest ? range->min + (range->max - range->min) * Curve::safetyFraction(*hottest)
                    : range->max;
        const double wanted = greaterOf(greaterOf(demand.rpm, safety), range->min);
        target_ = !(target_ < wanted) ? greaterOf(wanted, target_ - rampDown)
                                      : smallerOf(wanted, target_ + rampUp);
        written_ = machine_.setManual(target_);
        if (!written_) error = "SMC write failed";
    }

    Status status;
    status.updated = clock_.wall();
    status.manual = manual_;
    status.targetRPM = manual_ ? target_ : 0;
    status.reason = manual_ ? (demand.reason.empty() ? "ramping down" : demand.reason)
                            : std::string(Platform::osName);
    status.error = std::move(error);
    status.driver = manual_ ? Driver::daemon : Driver::system;
    if (manual_ && overridden) {
        status.driver = Driver::overridden;
        status.reason = *overridden;
    } else if (!manual_ && steppedBack_) {
        status.driver = Driver::overridden;
        status.reason = steppedBack_->what;
    }
    machine_.saveStatus(status);
}

void ControlLoop::sleep() {
    if (!sleepingSince_) {
        machine_.setAuto();
        manual_ = false;
        sleptAt_ = clock_.sinceBoot();
        logLine("tarnwickd: paused for sleep");
    }
    sleepingSince_ = clock_.monotonic();
    machine_.saveStatus(Status{clock_.wall(), false, 0, std::string(Platform::osName), std::nullopt,
                               Driver::sleeping});
}

void ControlLoop::wake() {
    if (sleepingSince_) {
        logLine("tarnwickd: awake after " + wholeSecondsText(clock_.sinceBoot() - sleptAt_) +
                " s, starting afresh");
    } else if (manual_) {
        // A wake without its sleep: the firmware may have reset the fans all the same.
        machine_.setAuto();
        manual_ = false;
    }
    startAfresh();
}

void ControlLoop::startAfresh() {
    sleepingSince_.reset();
    steppedBack_.reset();
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

void ControlLoop::stop() {
    machine_.setAuto();
    machine_.removeStatus();
}
