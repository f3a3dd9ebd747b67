#include "FanCore/Sensors/Fans.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "FanCore/SMC/SMC.h"

namespace Fans {
namespace {

// Truncation towards zero, or `fallback` where the conversion would be undefined.
int64_t truncated(double value, int64_t fallback) {
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (!std::isfinite(value) || value >= limit || value < -limit) return fallback;
    return static_cast<int64_t>(value);
}

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
        fan.mode = mode ? truncated(*mode, 0) : 0;
        fans.push_back(fan);
    }
    return fans;
}

std::optional<std::vector<Fan>> readChecked() {
    const auto number = SMC::readDouble("FNum");
    if (!number) return std::nullopt;
    const int64_t n = countOf(*number);
    std::vector<Fan> fans;
    for (int64_t i = 0; i < n; ++i) {
        const auto actual = SMC::readDouble(key(i, "Ac"));
        const auto min = SMC::readDouble(key(i, "Mn"));
        const auto max = SMC::readDouble(key(i, "Mx"));
        const std::string modeKey = key(i, "Md");
        const auto mode = SMC::readDouble(modeKey);
        if (!min || !max || (!mode && SMC::exists(modeKey))) return std::nullopt;
        Fan fan;
        fan.index = i;
        fan.actual = actual.value_or(0);
        fan.min = *min;
        fan.max = *max;
        fan.target = SMC::readDouble(key(i, "Tg")).value_or(0);
        fan.mode = mode ? truncated(*mode, 1) : 0;
        fans.push_back(fan);
    }
    return fans;
}

std::optional<std::vector<Fan>> readSpeeds(const std::vector<Fan>& known) {
    std::vector<Fan> fans = known;
    for (Fan& fan : fans) {
        const auto actual = SMC::readDouble(key(fan.index, "Ac"));
        const std::string modeKey = key(fan.index, "Md");
        const auto mode = SMC::readDouble(modeKey);
        if (!mode && SMC::exists(modeKey)) return std::nullopt;
        fan.actual = actual.value_or(0);
        fan.mode = mode ? truncated(*mode, 1) : 0;
    }
    return fans;
}

bool setManual(double rpm) {
    const auto number = SMC::readDouble("FNum");
    if (!number) return false;
    unlock();
    // Not a number would slip through the clamp as an arbitrary bound; full speed is the safe
    // reading of a speed nobody can interpret.
    if (std::isnan(rpm)) rpm = std::numeric_limits<double>::infinity();

    bool ok = true;
    for (int64_t i = 0; i < countOf(*number); ++i) {
        // A range that failed to read is no range: such a fan gets neither mode nor target.
        const auto min = SMC::readDouble(key(i, "Mn"));
        const auto max = SMC::readDouble(key(i, "Mx"));
        if (!min || !max) {
            ok = false;
            continue;
        }
        const double target = std::min(*max, std::max(rpm, *min));
        const std::string modeKey = key(i, "Md");
        const auto mode = SMC::readDouble(modeKey);
        if (SMC::exists(modeKey) && (!mode || *mode != 1)) {
            ok = SMC::writeNumber(modeKey, 1) && ok;
        }
        if (!std::isfinite(target)) {
            ok = false;
            continue;
        }
        ok = SMC::writeNumber(key(i, "Tg"), target) && ok;
    }
    return ok;
}

bool setManual(double rpm, const std::vector<Fan>& fans) {
    unlock();
    // Not a number would slip through the clamp as an arbitrary bound; full speed is the safe
    // reading of a speed nobody can interpret.
    if (std::isnan(rpm)) rpm = std::numeric_limits<double>::infinity();

    bool ok = true;
    for (const Fan& fan : fans) {
        const double target = std::min(fan.max, std::max(rpm, fan.min));
        const std::string modeKey = key(fan.index, "Md");
        if (SMC::exists(modeKey) && fan.mode != 1) ok = SMC::writeNumber(modeKey, 1) && ok;
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
    const bool counted = number.has_value();
    const int64_t n = number ? countOf(*number) : 0;
    for (int64_t i = 0; i < n; ++i) {
        const std::string modeKey = key(i, "Md");
        if (SMC::exists(modeKey)) SMC::writeNumber(modeKey, 0);
    }
    if (SMC::exists("Ftst")) SMC::writeNumber("Ftst", 0);
    // Written is not done: only modes read back as automatic count as handed back.
    if (!counted) return false;
    for (int64_t i = 0; i < n; ++i) {
        const std::string modeKey = key(i, "Md");
        if (!SMC::exists(modeKey)) continue;
        const auto mode = SMC::readDouble(modeKey);
        if (!mode || *mode != 0) return false;
    }
    return true;
}

}  // namespace Fans
