#include "FanCore/Sensors/Fans.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "FanCore/SMC/SMC.h"
#include "FanCore/Text/Numbers.h"

namespace Fans {
namespace {

// Closer than the encodings' rounding (fpe2 holds quarters of an rpm): the same target.
constexpr double settledTolerance = 0.5;

// Garbage in "FNum" must neither reach a conversion to an integer that is undefined nor ask for
// keys beyond the ten a four-character name can hold.
int64_t countOf(double value) {
    if (!std::isfinite(value) || value < 0) return 0;
    return static_cast<int64_t>(std::min(std::trunc(value), static_cast<double>(maxCount)));
}

// Some machines ignore manual targets until the unlock key is set; whether it took is judged by
// the mode and target writes that follow.
void unlock() {
    if (SMC::exists("Ftst")) {
        const auto value = SMC::readDouble("Ftst");
        if (!value || *value != 1) SMC::writeNumber("Ftst", 1);
    }
}

}  // namespace

std::string key(int64_t index, std::string_view suffix) {
    // Built by appending: GCC 12 misreports "F" + std::string as an overlapping copy.
    std::string text(1, 'F');
    text += std::to_string(index);
    text.append(suffix);
    return text;
}

int64_t count() {
    const auto value = SMC::readDouble("FNum");
    return value ? countOf(*value) : 0;
}

std::vector<Fan> read() {
    const int64_t n = count();
    std::vector<Fan> fans;
    fans.reserve(static_cast<std::size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const auto actual = SMC::readDouble(key(i, "Ac"));
        const auto min = SMC::readDouble(key(i, "Mn"));
        const auto max = SMC::readDouble(key(i, "Mx"));
        const auto target = SMC::readDouble(key(i, "Tg"));
        const auto mode = SMC::readDouble(key(i, "Md"));
        Fan fan;
        fan.index = i;
        fan.actual = actual.value_or(0);
        fan.min = min.value_or(0);
        fan.max = max.value_or(0);
        fan.target = target.value_or(0);
        fan.mode = mode ? FanText::truncatedInteger(*mode).value_or(0) : 0;
        fans.push_back(fan);
    }
    return fans;
}

Scan scan(const std::vector<Fan>& known, int64_t atLeast, ScanParts parts) {
    Scan result;
    const bool countKnown = !parts.count && !known.empty();
    const auto number = countKnown ? std::nullopt : SMC::readDouble("FNum");
    result.countRead = countKnown || number.has_value();
    result.silent = !number;
    const int64_t n =
        number ? countOf(*number)
               : std::min(maxCount, std::max(atLeast, static_cast<int64_t>(known.size())));
    const auto answered = [&](const std::optional<double>& value) {
        if (value) result.silent = false;
        return value;
    };
    const double unread = std::numeric_limits<double>::quiet_NaN();
    for (int64_t i = 0; i < n; ++i) {
        const auto before = std::find_if(known.begin(), known.end(),
                                         [i](const Fan& fan) { return fan.index == i; });
        Fan fan = before != known.end() ? *before : Fan{.index = i};
        fan.actual = answered(SMC::readDouble(key(i, "Ac"))).value_or(unread);
        const std::string modeKey = key(i, "Md");
        if (const auto mode = answered(SMC::readDouble(modeKey))) {
            fan.mode = FanText::truncatedInteger(*mode).value_or(1);
        } else if (!SMC::missing(modeKey)) {
            result.unknownModes.push_back(i);
        } else {
            fan.mode = 0;
        }
        if (parts.limits || before == known.end()) {
            const auto min = answered(SMC::readDouble(key(i, "Mn")));
            const auto max = answered(SMC::readDouble(key(i, "Mx")));
            // A range never read is no range: the caller finds no speed every fan accepts.
            if (min || before == known.end()) fan.min = min.value_or(unread);
            if (max || before == known.end()) fan.max = max.value_or(unread);
        }
        if (parts.limits || parts.targets || before == known.end()) {
            fan.target = answered(SMC::readDouble(key(i, "Tg"))).value_or(unread);
        }
        result.fans.push_back(fan);
    }
    return result;
}

std::vector<int64_t> indices(int64_t count) {
    std::vector<int64_t> all;
    for (int64_t i = 0; i < std::min(count, maxCount); ++i) all.push_back(i);
    return all;
}

std::vector<int64_t> handBack(const std::vector<int64_t>& fans, bool retry) {
    std::vector<int64_t> stuck;
    for (const int64_t i : fans) {
        const std::string modeKey = key(i, "Md");
        if (SMC::missing(modeKey)) continue;
        // A retry leaves alone what reads automatic, and what cannot be read (its caller holds
        // it meanwhile); a hand-back writes every mode, since not every driver can tell.
        if (retry) {
            const auto mode = SMC::readDouble(modeKey);
            if (mode && *mode == 0) continue;
            if (!mode) {
                stuck.push_back(i);
                continue;
            }
        }
        SMC::writeNumber(modeKey, 0);
        // Written is not done: only a mode that reads back automatic counts as handed back.
        const auto after = SMC::readDouble(modeKey);
        if (!after || *after != 0) stuck.push_back(i);
    }
    // A fan still in manual keeps the unlock its target needs.
    if (stuck.empty() && SMC::exists("Ftst")) {
        const auto unlocked = SMC::readDouble("Ftst");
        if (!unlocked || *unlocked != 0) SMC::writeNumber("Ftst", 0);
    }
    return stuck;
}

double clampedTarget(double rpm, const Fan& fan) {
    return std::min(fan.max, std::max(rpm, fan.min));
}

bool setManual(double rpm, const std::vector<Fan>& fans) {
    // Not a number would slip through the clamp as an arbitrary bound; full speed is the safe
    // reading of a speed nobody can interpret.
    if (std::isnan(rpm)) rpm = std::numeric_limits<double>::infinity();
    const auto settled = [rpm](const Fan& fan) {
        return fan.mode == 1 && std::fabs(fan.target - clampedTarget(rpm, fan)) < settledTolerance;
    };
    // A fan that already holds its target in manual mode costs the bus nothing more.
    if (std::all_of(fans.begin(), fans.end(), settled)) return true;
    unlock();

    bool ok = true;
    for (const Fan& fan : fans) {
        if (settled(fan)) continue;
        const double target = clampedTarget(rpm, fan);
        const std::string modeKey = key(fan.index, "Md");
        if (fan.mode != 1 && !SMC::missing(modeKey)) ok = SMC::writeNumber(modeKey, 1) && ok;
        if (!std::isfinite(target)) {
            ok = false;
            continue;
        }
        ok = SMC::writeNumber(key(fan.index, "Tg"), target) && ok;
    }
    return ok;
}
std::string controlBlocked() { return SMC::writeBlocked(); }

bool setAuto() {
    const auto number = SMC::readDouble("FNum");
    return handBack(indices(number ? countOf(*number) : 0)).empty() && number.has_value();
}

}  // namespace Fans
