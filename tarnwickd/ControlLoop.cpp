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

ControlLoop::ControlLoop(Machine& machine, Clock& clock, std::ostream& log)
    : machine_(machine), clock_(clock), log_(log) {}

void ControlLoop::logLine(const std::string& line) { log_ << line << '\n' << std::flush; }

bool ControlLoop::handBack() {
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

void ControlLoop::pass() {
    const Config config = machine_.loadConfig();
    const Readings raw = machine_.readings();
    const Readings readings = smoother_.apply(raw);
    const PowerState power = machine_.power();
    const std::optional<std::vector<Fan>> fans = machine_.fans();

    // Unreadable fans tell nothing about who drives them: the state stays as it was.
    if (!fans) {
        if (!fansUnreadable_) logLine("tarnwickd: cannot read the fans; keeping the present state");
        fansUnreadable_ = true;
        machine_.saveStatus(Status{clock_.wall(), manual(), manual() ? target_ : 0,
                                   manual() ? "fans unreadable" : std::string(Platform::osName),
                                   "cannot read the fans"});
        return;
    }
    fansUnreadable_ = false;

    const std::optional<Range> range = commonRange(*fans);
    if (!range) {
        if (drive_ != Drive::system) handBack();
        machine_.saveStatus(Status{clock_.wall(), manual(), manual() ? target_ : 0,
                                   std::string(Platform::osName), "No fans found"});
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

    // Nobody else may leave a fan in manual control behind the system's back: while the system
    // drives, a fan found in manual has no owner and goes back.
    const bool orphan =
        std::any_of(fans->begin(), fans->end(), [](const Fan& fan) { return fan.mode != 0; });
    if (drive_ == Drive::system && orphan) {
        logLine("tarnwickd: a fan was in manual control with no owner; handing it back");
        handBack();
    } else if (drive_ == Drive::handingBack && handBack()) {
        logLine("tarnwickd: back to macOS");
    }

    if (drive_ == Drive::system) {
        const double systemSpeed = meanActual(*fans);
        const bool waiting = retryAt_ && now < *retryAt_;
        if (!waiting &&
            (config.manualMode || (demand.rpm > 0 && demand.rpm > systemSpeed + takeOverMargin))) {
            drive_ = Drive::daemon;
            retryAt_.reset();
            target_ = greaterOf(systemSpeed, range->min);
            quietSince_.reset();
            logLine("tarnwickd: manual (" + demand.reason + ", want " + wholeRPMText(demand.rpm) +
                    ", macOS " + wholeRPMText(systemSpeed) + ")");
        }
    } else if (drive_ == Drive::daemon) {
        if (config.manualMode || demand.rpm >= range->min + quietMargin) {
            quietSince_.reset();
        } else {
            // Monotonic time: a wall-clock step must neither hold the fans nor release them early.
            if (!quietSince_) quietSince_ = now;
            if (now - *quietSince_ > quietPeriod && handBack()) logLine("tarnwickd: back to macOS");
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
        if (machine_.setManual(target_)) {
            failedWrites_ = 0;
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
    status.updated = clock_.wall();
    status.manual = manual();
    status.targetRPM = manual() ? target_ : 0;
    if (drive_ == Drive::daemon) {
        status.reason = demand.reason.empty() ? "ramping down" : demand.reason;
    } else if (drive_ == Drive::handingBack) {
        status.reason = "handing back";
    } else {
        status.reason = std::string(Platform::osName);
    }
    status.error = std::move(error);
    machine_.saveStatus(status);
}

bool ControlLoop::stop() {
    const bool handed = machine_.setAuto();
    drive_ = handed ? Drive::system : Drive::handingBack;
    machine_.removeStatus();
    return handed;
}
