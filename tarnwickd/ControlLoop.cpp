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

void ControlLoop::pass() {
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
        machine_.saveStatus(
            Status{clock_.wall(), false, 0, std::string(Platform::osName), "No fans found"});
        return;
    }

    // A driver that refuses every write leaves nothing to decide: the firmware keeps the fans and
    // the status says how to allow control. Fans taken before it turned read-only went back
    // with the driver's reload.
    if (std::string blocked = machine_.controlBlocked(); !blocked.empty()) {
        manual_ = false;
        machine_.saveStatus(
            Status{clock_.wall(), false, 0, std::string(Platform::osName), std::move(blocked)});
        return;
    }

    const Demand demand = Curve::demand(config, readings, power, range->min, range->max);

    if (!manual_) {
        const double systemSpeed = meanActual(fans);
        if (config.manualMode || (demand.rpm > 0 && demand.rpm > systemSpeed + takeOverMargin)) {
            manual_ = true;
            target_ = greaterOf(systemSpeed, range->min);
            quietSince_.reset();
            logLine("tarnwickd: manual (" + demand.reason + ", want " + wholeRPMText(demand.rpm) +
                    ", macOS " + wholeRPMText(systemSpeed) + ")");
        }
    } else if (config.manualMode || demand.rpm >= range->min + quietMargin) {
        quietSince_.reset();
    } else {
        // Monotonic time: a wall-clock step must neither hold the fans nor release them early.
        const auto now = clock_.monotonic();
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
        if (!machine_.setManual(target_)) error = "SMC write failed";
    }

    Status status;
    status.updated = clock_.wall();
    status.manual = manual_;
    status.targetRPM = manual_ ? target_ : 0;
    status.reason = manual_ ? (demand.reason.empty() ? "ramping down" : demand.reason)
                            : std::string(Platform::osName);
    status.error = std::move(error);
    machine_.saveStatus(status);
}

void ControlLoop::stop() {
    machine_.setAuto();
    machine_.removeStatus();
}
