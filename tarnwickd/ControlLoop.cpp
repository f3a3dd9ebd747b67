#include "tarnwickd/ControlLoop.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "FanCore/Policy/Curve.h"
#include "FanCore/Policy/Platform.h"
#include "FanCore/Text/Numbers.h"

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

// The speeds every fan accepts, as {min, max}; none when there are no fans or the ranges do not
// overlap. Infinite bounds are refused too: the curve would turn them into infinite or NaN targets.
std::optional<std::pair<double, double>> commonRange(const std::vector<Fan>& fans) {
    if (fans.empty()) return std::nullopt;
    std::pair<double, double> range{fans.front().min, fans.front().max};
    for (const Fan& fan : fans) {
        if (std::isnan(fan.min) || std::isnan(fan.max)) return std::nullopt;
        range.first = std::max(range.first, fan.min);
        range.second = std::min(range.second, fan.max);
    }
    if (!(range.first < range.second) || !std::isfinite(range.second - range.first)) {
        return std::nullopt;
    }
    return range;
}

bool contains(const std::vector<int64_t>& indices, int64_t index) {
    return std::find(indices.begin(), indices.end(), index) != indices.end();
}

// "fan 0", "fans 0 and 1", "fans 0, 1 and 2".
std::string fansText(const std::vector<int64_t>& indices) {
    std::string text = indices.size() == 1 ? "fan " : "fans ";
    for (size_t i = 0; i < indices.size(); ++i) {
        if (i > 0) text += i + 1 == indices.size() ? " and " : ", ";
        text += std::to_string(indices[i]);
    }
    return text;
}

// The mean of the actual speeds; NaN when one could not be read.
double meanActual(const std::vector<Fan>& fans) {
    double sum = 0;
    for (const Fan& fan : fans) sum += fan.actual;
    return sum / static_cast<double>(fans.size());
}

bool hasChipTemperature(const Readings& readings) {
    return readings.cpu || readings.gpu || readings.die;
}

// A duration as whole seconds, for log lines.
std::string wholeSecondsText(std::chrono::nanoseconds duration) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(duration).count());
}

}  // namespace

ControlLoop::ControlLoop(Machine& machine, Clock& clock, std::ostream& log)
    : machine_(machine), clock_(clock), log_(log) {}

void ControlLoop::logLine(Log::Priority priority, const std::string& text) {
    Log::line(log_, priority, text);
}

bool ControlLoop::handBack(const std::vector<int64_t>& indices, bool retry) {
    written_ = false;
    std::vector<int64_t> stuck = machine_.handBack(indices, retry);
    // Fans handed back earlier stay back; only these were in question.
    for (const int64_t fan : stuck_) {
        if (!contains(indices, fan) && !contains(stuck, fan)) stuck.push_back(fan);
    }
    std::sort(stuck.begin(), stuck.end());
    stuck_ = std::move(stuck);
    if (stuck_.empty()) {
        drive_ = Drive::system;
        return true;
    }
    if (drive_ != Drive::handingBack)
        logLine(Log::Priority::error, stuckText() + "; keeping the safety speed");
    drive_ = Drive::handingBack;
    return false;
}

bool ControlLoop::handBackAll() { return handBack(machine_.knownFans()); }

std::string ControlLoop::stuckText() const {
    std::vector<int64_t> manual;
    std::vector<int64_t> unknown;
    for (const int64_t fan : stuck_)
        (contains(unknownModes_, fan) ? unknown : manual).push_back(fan);
    if (!manual.empty()) return fansText(manual) + " did not return to automatic control";
    return "cannot read the mode of " + fansText(unknown);
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

void ControlLoop::start() {
    // A read-only driver holds no fan of ours to hand back, and would refuse the writes.
    if (!machine_.controlBlocked().empty()) return;
    handBackAll();
}

bool ControlLoop::awake() {
    if (sleepingSince_) {
        if (clock_.monotonic() - *sleepingSince_ <= sleepPauseLimit) {
            saveStatus(Status{0, false, 0, std::string(Platform::baselineName), std::nullopt});
            return false;
        }
        logLine(Log::Priority::info,
                "no wake within " + wholeSecondsText(sleepPauseLimit) + " s, starting afresh");
        startAfresh();
    } else if (const auto slept = missedSleep()) {
        // Firmware may have reset the fans, or kept them at a speed chosen for the old heat.
        if (drive_ != Drive::system) handBackAll();
        logLine(Log::Priority::info,
                "missed a sleep of " + wholeSecondsText(*slept) + " s, starting afresh");
        startAfresh();
    }
    return true;
}

void ControlLoop::silentPass(const Readings& raw) {
    if (!fansUnreadable_)
        logLine(Log::Priority::error, "cannot read the fans; keeping the present state");
    fansUnreadable_ = true;
    smoother_.apply(raw);
    saveStatus(Status{0, manual(), manual() ? target_ : 0,
                      manual() ? "fans unreadable" : std::string(Platform::baselineName),
                      "cannot read the fans"});
}

void ControlLoop::noteScan(const Fans::Scan& scan) {
    if (!scan.countRead && !countUnread_) {
        logLine(Log::Priority::warning, "cannot read the fan count; going on with the " +
                                            std::to_string(scan.fans.size()) + " fans known");
    } else if (scan.countRead && countUnread_) {
        logLine(Log::Priority::info, "the fan count reads again");
    }
    countUnread_ = !scan.countRead;
    if (scan.unknownModes != unknownModes_) {
        logLine(scan.unknownModes.empty() ? Log::Priority::info : Log::Priority::warning,
                scan.unknownModes.empty()
                    ? "the fan modes read again"
                    : "cannot read the mode of " + fansText(scan.unknownModes));
    }
    unknownModes_ = scan.unknownModes;
}

void ControlLoop::pass() {
    if (!awake()) return;

    std::string settingsProblem;
    const Config config = machine_.loadConfig(settingsProblem);
    if (settingsProblem != settingsProblem_ && !settingsProblem.empty()) {
        logLine(Log::Priority::warning, settingsProblem + "; using the defaults");
    }
    settingsProblem_ = settingsProblem;
    const Readings raw = machine_.readings();
    const PowerState power = machine_.power();
    const bool targetsRead = drive_ == Drive::daemon;
    const Fans::Scan scan = machine_.fans(targetsRead);

    // Unreadable fans tell nothing about who drives them: the state stays as it was.
    if (scan.silent) {
        if (!machine_.stopping()) silentPass(raw);
        return;
    }
    noteScan(scan);
    // Decisions about modes rest on the fans whose mode was read in this pass.
    std::vector<Fan> judged;
    for (const Fan& fan : scan.fans) {
        if (!contains(scan.unknownModes, fan.index)) judged.push_back(fan);
    }
    // An SMC that went silent and came back with every fan the daemon drove in automatic mode
    // has been through a sleep (or a reset) nobody announced.
    if (fansUnreadable_ && drive_ == Drive::daemon && scan.unknownModes.empty() &&
        std::all_of(judged.begin(), judged.end(), [](const Fan& fan) { return fan.mode == 0; })) {
        drive_ = Drive::system;
        logLine(Log::Priority::info,
                "the fans came back in automatic mode, as after a sleep; starting afresh");
        startAfresh();
    }
    fansUnreadable_ = false;
    Readings readings = smoother_.apply(raw);
    machine_.publish(Measurements{clock_.wall(), raw, scan.fans, power});
    // A chip temperature that stops arriving lives on in the smoother: neither the curve nor the
    // status may use it, and the safety speed goes to full speed.
    const bool chip = hasChipTemperature(raw);
    if (chip && chipLost_) logLine(Log::Priority::info, "chip temperature back");
    if (!chip && chipSeen_ && !chipLost_) {
        logLine(Log::Priority::error,
                "no chip temperature: every chip sensor stopped answering; fans the daemon holds "
                "run at full speed");
    }
    chipLost_ = !chip && chipSeen_;
    chipSeen_ = chipSeen_ || chip;
    if (!chip) readings.cpu = readings.gpu = readings.die = std::nullopt;

    const auto common = commonRange(scan.fans);
    if (!common) {
        if (drive_ != Drive::system) handBackAll();
        saveStatus(Status{0, manual(), manual() ? target_ : 0, std::string(Platform::baselineName),
                          manual() ? stuckText() : "No fans found"});
        return;
    }
    const Range range{common->first, common->second};

    // A driver that refuses every write leaves nothing to decide: the firmware keeps the fans and
    // the status says how to allow control. Fans taken before it turned read-only went back
    // with the driver's reload.
    if (std::string blocked = machine_.controlBlocked(); !blocked.empty()) {
        drive_ = Drive::system;
        stuck_.clear();
        machine_.saveStatus(
            Status{clock_.wall(), false, 0, std::string(Platform::osName), std::move(blocked)});
        return;
    }

    const Demand demand = Curve::demand(config, readings, power, range.min, range.max);
    const auto now = clock_.monotonic();
    const std::optional<double> hottest = readings.hottest();
    const double safety =
        hottest ? range.min + (range.max - range.min) * Curve::safetyFraction(*hottest) : range.max;

    const std::optional<std::string> overridden = checkOverride(judged, now);
    watchFans(scan, judged, safety, now);
    decide(config, demand, scan.fans, range, now);
    std::optional<std::string> error = driveFans(scan, targetsRead, demand, range, safety, now);
    if (drive_ == Drive::handingBack) {
        error = stuckText();
    } else if (drive_ == Drive::system && retryAt_ && now < *retryAt_) {
        error = "fan speed writes failed; the system drives the fans";
    } else if (!error && chipLost_) {
        error = "no chip temperature";
    } else if (!error && !scan.unknownModes.empty()) {
        error = "cannot read the mode of " + fansText(scan.unknownModes);
    } else if (!error && !scan.countRead) {
        error = "cannot read the fan count";
    } else if (!error && !settingsProblem.empty()) {
        error = settingsProblem + "; using the defaults";
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

std::optional<std::string> ControlLoop::checkOverride(const std::vector<Fan>& judged,
                                                      std::chrono::steady_clock::time_point now) {
    std::optional<std::string> overridden;
    if (drive_ == Drive::daemon && written_) {
        overridden = overrides_.check(judged, target_);
        if (overridden && overrides_.count(now) == OverrideWatch::Action::stepBack) {
            logLine(Log::Priority::warning, "overridden (" + *overridden + "), stepping back");
            steppedBack_ = StepBack{now, *overridden};
            // The fans still at the daemon's speed must not stay in manual with nobody driving
            // them. The taken fan may well read back manual, held by its new owner: that is no
            // failed hand-back to retry, so the read-back is not judged here.
            machine_.handBack(machine_.knownFans());
            drive_ = Drive::system;
            stuck_.clear();
        } else if (overridden) {
            logLine(Log::Priority::warning, "overridden (" + *overridden + "), asserting again");
        }
    }
    written_ = false;
    return overridden;
}

void ControlLoop::watchFans(const Fans::Scan& scan, const std::vector<Fan>& judged, double safety,
                            std::chrono::steady_clock::time_point now) {
    std::vector<int64_t> held;
    for (const Fan& fan : judged) {
        if (fan.mode != 0) held.push_back(fan.index);
    }
    if (steppedBack_ && now - steppedBack_->since > stepBackHold && held.empty()) {
        steppedBack_.reset();
    }
    if (drive_ == Drive::handingBack) {
        // Only fans whose mode reads manual are written back; a fan whose mode cannot be read is
        // left in manual at the safety speed until it can be.
        if (handBack(stuck_, true)) {
            logLine(Log::Priority::info, "back to " + std::string(Platform::baselineName));
        }
        return;
    }
    if (drive_ != Drive::system || steppedBack_) return;

    // Nobody else may leave a fan in manual control behind the system's back: while the system
    // drives, a fan found in manual has no owner and goes back, unless it keeps coming back to
    // manual, which shows it has one.
    if (!held.empty()) {
        if (overrides_.count(now) == OverrideWatch::Action::stepBack) {
            const auto fan = std::find_if(judged.begin(), judged.end(),
                                          [&](const Fan& f) { return f.index == held.front(); });
            const std::string what = OverrideWatch::setTo(*fan);
            logLine(Log::Priority::warning, "overridden (" + what + "), stepping back");
            steppedBack_ = StepBack{now, what};
        } else {
            logLine(Log::Priority::warning,
                    "a fan was in manual control with no owner; handing it back");
            handBack(held);
        }
        return;
    }

    // Unknown is not safe: a fan whose mode cannot be read may be in anybody's manual control,
    // so while it turns slower than the heat asks for, the daemon holds it at the safety speed.
    std::vector<int64_t> slow;
    for (const Fan& fan : scan.fans) {
        if (contains(scan.unknownModes, fan.index) && safety > fan.min && !(fan.actual >= safety)) {
            slow.push_back(fan.index);
        }
    }
    if (slow.empty()) return;
    logLine(Log::Priority::warning, fansText(slow) +
                                        " below the safety speed and its mode unreadable; " +
                                        "holding it at the safety speed");
    drive_ = Drive::handingBack;
    stuck_ = slow;
    target_ = greaterOf(meanActual(scan.fans), 0);
}

void ControlLoop::decide(const Config& config, const Demand& demand, const std::vector<Fan>& fans,
                         const Range& range, std::chrono::steady_clock::time_point now) {
    if (drive_ == Drive::system && !steppedBack_) {
        const double systemSpeed = meanActual(fans);
        const bool waiting = retryAt_ && now < *retryAt_;
        if (!waiting &&
            (config.manualMode || (demand.rpm > 0 && demand.rpm > systemSpeed + takeOverMargin))) {
            drive_ = Drive::daemon;
            retryAt_.reset();
            overrides_.reset();
            target_ = greaterOf(systemSpeed, range.min);
            quietSince_.reset();
            logLine(Log::Priority::info, "manual (" + demand.reason + ", want " +
                                             FanText::wholeDigits(demand.rpm) + ", " +
                                             std::string(Platform::baselineName) + " " +
                                             FanText::wholeDigits(systemSpeed) + ")");
        }
    } else if (drive_ == Drive::daemon) {
        if (config.manualMode || demand.rpm >= range.min + quietMargin) {
            quietSince_.reset();
        } else {
            // Monotonic time: a wall-clock step must neither hold the fans nor release them early.
            if (!quietSince_) quietSince_ = now;
            if (now - *quietSince_ > quietPeriod && handBackAll()) {
                logLine(Log::Priority::info, "back to " + std::string(Platform::baselineName));
            }
        }
    }
}

std::optional<std::string> ControlLoop::driveFans(const Fans::Scan& scan, bool targetsRead,
                                                  const Demand& demand, const Range& range,
                                                  double safety,
                                                  std::chrono::steady_clock::time_point now) {
    if (drive_ == Drive::system) return std::nullopt;
    const double asked = drive_ == Drive::daemon ? demand.rpm : 0;
    const double wanted = greaterOf(greaterOf(asked, safety), range.min);
    target_ = !(target_ < wanted) ? greaterOf(wanted, target_ - rampDown)
                                  : smallerOf(wanted, target_ + rampUp);
    if (drive_ == Drive::handingBack) target_ = greaterOf(target_, safety);

    // While handing back only the fans that did not go back are held; the others stay with the
    // system. A mode that could not be read is written again, and so is a target not read in
    // this pass: only a fresh reading may spare a fan its write.
    std::vector<Fan> driven;
    for (Fan fan : scan.fans) {
        if (drive_ == Drive::handingBack && !contains(stuck_, fan.index)) continue;
        if (contains(scan.unknownModes, fan.index)) fan.mode = 0;
        if (!targetsRead) fan.target = std::numeric_limits<double>::quiet_NaN();
        driven.push_back(fan);
    }
    if (machine_.setManual(target_, driven)) {
        failedWrites_ = 0;
        written_ = drive_ == Drive::daemon;
        return std::nullopt;
    }
    // Manual control at a speed nobody can set is worse than the system's own curve.
    if (drive_ == Drive::daemon && ++failedWrites_ >= failedWritesLimit) {
        failedWrites_ = 0;
        retryAt_ = now + retryAfterFailedWrites;
        logLine(Log::Priority::error, "fan speed writes failed " +
                                          std::to_string(failedWritesLimit) +
                                          " passes in a row; handing the fans back to the system");
        handBackAll();
    }
    return "SMC write failed";
}

void ControlLoop::sleep() {
    if (!sleepingSince_) {
        if (drive_ != Drive::system) handBackAll();
        // A fan left in manual must not sit at a low speed through the sleep and the wake: the
        // passes go on holding it at the safety speed.
        if (drive_ == Drive::handingBack) {
            logLine(Log::Priority::error, stuckText() + "; not pausing for sleep");
            saveStatus(Status{0, true, target_, "handing back", stuckText()});
            return;
        }
        sleptAt_ = clock_.sinceBoot();
        logLine(Log::Priority::info, "paused for sleep");
    }
    sleepingSince_ = clock_.monotonic();
    saveStatus(Status{0, false, 0, std::string(Platform::baselineName), std::nullopt});
}

void ControlLoop::wake() {
    if (sleepingSince_) {
        logLine(Log::Priority::info, "awake after " +
                                         wholeSecondsText(clock_.sinceBoot() - sleptAt_) +
                                         " s, starting afresh");
    } else if (drive_ != Drive::system) {
        // A wake without its sleep: the firmware may have reset the fans all the same.
        handBackAll();
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
    stuck_ = machine_.handBack(machine_.knownFans());
    drive_ = stuck_.empty() ? Drive::system : Drive::handingBack;
    machine_.removeStatus();
    return stuck_.empty();
}
