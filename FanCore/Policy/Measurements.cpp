#include "FanCore/Policy/Measurements.h"

#include <unistd.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "CSMC/sandbox_root.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/SafeFile.h"

using json = nlohmann::json;

namespace {

constexpr std::pair<std::optional<double> Readings::*, const char*> temperatureKeys[] = {
    {&Readings::cpu, "cpu"},         {&Readings::gpu, "gpu"},           {&Readings::die, "die"},
    {&Readings::ssd, "ssd"},         {&Readings::battery, "battery"},   {&Readings::wifi, "wifi"},
    {&Readings::airflow, "airflow"}, {&Readings::palmRest, "palmRest"},
};

constexpr std::pair<double Fan::*, const char*> speedKeys[] = {
    {&Fan::actual, "actual"}, {&Fan::min, "min"}, {&Fan::max, "max"}, {&Fan::target, "target"}};

// JSON has no NaN or infinity; such a speed travels as null.
json number(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

std::optional<double> speed(const json& member) {
    if (member.is_null()) return std::numeric_limits<double>::quiet_NaN();
    if (!member.is_number()) return std::nullopt;
    return member.get<double>();
}

std::optional<int64_t> integer(const json& member) {
    if (!member.is_number_integer()) return std::nullopt;
    return member.get<int64_t>();
}

std::optional<Fan> decodeFan(const json& member) {
    if (!member.is_object()) return std::nullopt;
    Fan fan;
    const auto index = member.find("index");
    const auto mode = member.find("mode");
    if (index == member.end() || mode == member.end()) return std::nullopt;
    const std::optional<int64_t> indexValue = integer(*index);
    const std::optional<int64_t> modeValue = integer(*mode);
    if (!indexValue || !modeValue) return std::nullopt;
    fan.index = *indexValue;
    fan.mode = *modeValue;
    for (const auto& [field, key] : speedKeys) {
        const auto value = member.find(key);
        if (value == member.end()) return std::nullopt;
        const std::optional<double> decoded = speed(*value);
        if (!decoded) return std::nullopt;
        fan.*field = *decoded;
    }
    return fan;
}

std::optional<PowerState> decodePower(const json& member) {
    if (!member.is_object()) return std::nullopt;
    const auto onAC = member.find("onAC");
    const auto charging = member.find("charging");
    if (onAC == member.end() || !onAC->is_boolean() || charging == member.end() ||
        !charging->is_boolean()) {
        return std::nullopt;
    }
    PowerState power{onAC->get<bool>(), charging->get<bool>(), {}};
    if (const auto percent = member.find("percent"); percent != member.end()) {
        power.percent = integer(*percent);
        if (!power.percent) return std::nullopt;
    }
    return power;
}

// Only the daemon may speak for the machine: root, or the user who runs a sandbox root.
bool trustedOwner(uid_t owner) {
    if (owner == 0) return true;
    return SandboxRoot::root() != "/" && owner == ::geteuid();
}

}  // namespace

std::optional<Measurements> Measurements::load() {
    uid_t owner = 0;
    const std::optional<std::string> text = SafeFile::readBounded(Paths::measurements(), &owner);
    if (!text || !trustedOwner(owner)) return std::nullopt;
    return decode(*text);
}

std::optional<Measurements> Measurements::decode(std::string_view text) {
    const json document = json::parse(text.begin(), text.end(), nullptr, false);
    if (document.is_discarded() || !document.is_object()) return std::nullopt;
    const auto updated = document.find("updated");
    const auto readings = document.find("readings");
    const auto fans = document.find("fans");
    const auto power = document.find("power");
    if (updated == document.end() || !updated->is_number() || readings == document.end() ||
        !readings->is_object() || fans == document.end() || !fans->is_array() ||
        power == document.end()) {
        return std::nullopt;
    }

    Measurements measurements;
    measurements.updated = updated->get<double>();
    if (!std::isfinite(measurements.updated)) return std::nullopt;
    for (const auto& [field, key] : temperatureKeys) {
        const auto value = readings->find(key);
        if (value == readings->end()) continue;
        if (!value->is_number()) return std::nullopt;
        measurements.readings.*field = value->get<double>();
    }
    for (const json& member : *fans) {
        std::optional<Fan> fan = decodeFan(member);
        if (!fan) return std::nullopt;
        measurements.fans.push_back(*fan);
    }
    const std::optional<PowerState> decodedPower = decodePower(*power);
    if (!decodedPower) return std::nullopt;
    measurements.power = *decodedPower;
    if (const auto unlockKey = document.find("unlockKey"); unlockKey != document.end()) {
        if (!unlockKey->is_boolean()) return std::nullopt;
        measurements.unlockKey = unlockKey->get<bool>();
    }
    return measurements;
}

std::string Measurements::encode() const {
    json temperatures = json::object();
    for (const auto& [field, key] : temperatureKeys) {
        if (readings.*field && std::isfinite(*(readings.*field)))
            temperatures[key] = *(readings.*field);
    }
    json fanList = json::array();
    for (const Fan& fan : fans) {
        json member = {{"index", fan.index}, {"mode", fan.mode}};
        for (const auto& [field, key] : speedKeys) member[key] = number(fan.*field);
        fanList.push_back(std::move(member));
    }
    json powerMember = {{"onAC", power.onAC}, {"charging", power.charging}};
    if (power.percent) powerMember["percent"] = *power.percent;
    json document = {{"updated", updated},
                     {"readings", std::move(temperatures)},
                     {"fans", std::move(fanList)},
                     {"power", std::move(powerMember)}};
    if (unlockKey) document["unlockKey"] = *unlockKey;
    return document.dump();
}

std::expected<void, std::string> Measurements::save() const {
    if (!std::isfinite(updated)) {
        return std::unexpected("cannot encode measurements for " + Paths::measurements().string() +
                               ": time stamp is not a finite number");
    }
    return SafeFile::writeAtomically(Paths::measurements(), encode(),
                                     {.mode = 0644, .syncFile = false, .syncFolder = false});
}

bool Measurements::isFresh(double now) const {
    return now - updated < freshSeconds && updated - now < freshSeconds;
}
