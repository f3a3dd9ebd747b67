#include <algorithm>
#include <string>

#include "sim/SimCodec.h"
#include "sim/SimMachine.h"

// The control in force: pinned keys and HID sensors, fans another program holds, and the values
// a caller sets directly.

namespace {

// The label a reader sees for a hwmon input without a label file.
std::string shownLabel(const SimHwmonChip& chip, size_t sensor) {
    const std::string& label = chip.sensors[sensor].label;
    return label.empty() ? "temp" + std::to_string(sensor + 1) : label;
}

// A HID pin names a sensor by its label, by "<chip> <label>", or by any longer product name that
// ends in " <chip> <label>" (the role words readers put in front).
bool hidNameMatches(std::string_view name, const SimHwmonChip& chip, size_t sensor) {
    const std::string label = shownLabel(chip, sensor);
    const std::string full = chip.name + " " + label;
    if (name == full || (!chip.sensors[sensor].label.empty() && name == label)) return true;
    return name.size() > full.size() && name.ends_with(" " + full);
}

uint32_t hidSeed(const SimHwmonChip& chip, size_t sensor) {
    uint32_t seed = 2166136261u;
    for (char c : chip.name + "/" + shownLabel(chip, sensor)) {
        seed = (seed ^ static_cast<uint8_t>(c)) * 16777619u;
    }
    return seed;
}

}  // namespace

void SimMachine::applyTakes() {
    // A program held in sleep writes nothing.
    if (sleepLeft_ > 0) return;
    for (const auto& [index, rpm] : control_.takes) {
        for (const FanKeys& fan : fanKeys_) {
            if (fan.index != index) continue;
            store(fan.mode, 1);
            store(ftst_, 1);
            store(fan.target, rpm);
        }
    }
}

std::string SimMachine::checkControl(const SimControl& control) const {
    for (const auto& [name, value] : control.pins) {
        const SimKey* key = find(name);
        if (key == nullptr) return "\"pin\": no key \"" + name + "\"";
        std::vector<uint8_t> scratch(key->bytes.size());
        if (!SimCodec::encode(key->type, value, scratch)) {
            return "\"pin\": \"" + name + "\" has type \"" + key->type +
                   "\", which holds no number";
        }
    }
    for (const auto& [name, value] : control.hid) {
        bool found = false;
        for (const SimHwmonChip& chip : profile_.hwmon) {
            for (size_t s = 0; s < chip.sensors.size() && !found; ++s) {
                found = hidNameMatches(name, chip, s);
            }
        }
        if (!found) return "\"hid\": no sensor \"" + name + "\"";
    }
    for (const auto& [index, rpm] : control.takes) {
        const bool found = std::any_of(fanKeys_.begin(), fanKeys_.end(),
                                       [&](const FanKeys& fan) { return fan.index == index; });
        if (!found) return "\"take\": no fan " + std::to_string(index);
    }
    for (const std::string& name : control.hwmonAbsent) {
        const bool found = std::any_of(profile_.hwmon.begin(), profile_.hwmon.end(),
                                       [&](const SimHwmonChip& chip) { return chip.name == name; });
        if (!found) return "\"hwmon\": no chip \"" + name + "\"";
    }
    return {};
}

std::string SimMachine::setControl(const SimControl& control) {
    if (std::string problem = checkControl(control); !problem.empty()) return problem;
    keepUnpinned(control);
    // A second writer that lets go hands its fan back, as a well-behaved program does.
    for (const auto& [index, rpm] : control_.takes) {
        if (control.takes.contains(index)) continue;
        for (const FanKeys& fan : fanKeys_) {
            if (fan.index == index) store(fan.mode, 0);
        }
    }
    if (control.sleep != control_.sleep) sleep(control.sleep);
    control_ = control;
    control_.load = std::clamp(control_.load, 0.0, 1.0);
    control_.battery = std::clamp(control_.battery, 0.0, 100.0);
    applyPins();
    applyTakes();
    return {};
}

void SimMachine::keepUnpinned(const SimControl& next) {
    for (const auto& [name, value] : control_.pins) {
        if (next.pins.contains(name)) continue;
        SimKey* key = find(SimCodec::pack(name));
        const auto saved = beforePins_.find(name);
        if (key != nullptr && saved != beforePins_.end()) key->bytes = saved->second;
        beforePins_.erase(name);
    }
    for (const auto& [name, value] : next.pins) {
        if (const SimKey* key = find(SimCodec::pack(name)); key && !beforePins_.contains(name)) {
            beforePins_.emplace(name, key->bytes);
        }
    }
}

void SimMachine::applyPins() {
    for (const auto& [name, value] : control_.pins) {
        if (SimKey* key = find(SimCodec::pack(name)))
            SimCodec::encode(key->type, value, key->bytes);
    }
}

void SimMachine::setLoad(double load) { control_.load = std::clamp(load, 0.0, 1.0); }
void SimMachine::setAmbient(double celsius) { control_.ambient = celsius; }
void SimMachine::setCharger(bool online) { control_.charger = online; }
void SimMachine::setBattery(double percent) { control_.battery = std::clamp(percent, 0.0, 100.0); }
void SimMachine::setFaults(const SimFaults& faults) { control_.faults = faults; }

bool SimMachine::pin(std::string_view key, double value) {
    SimControl next = control_;
    next.pins[SimCodec::name(key)] = value;
    return setControl(next).empty();
}

void SimMachine::unpin(std::string_view key) {
    SimControl next = control_;
    next.pins.erase(SimCodec::name(key));
    keepUnpinned(next);
    control_ = std::move(next);
}

std::vector<SimHidReading> SimMachine::hid() const {
    std::vector<SimHidReading> result;
    for (const SimHwmonChip& chip : profile_.hwmon) {
        for (size_t s = 0; s < chip.sensors.size(); ++s) {
            SimHidReading reading;
            reading.chip = chip.name;
            reading.label = chip.sensors[s].label;
            reading.number = static_cast<int>(s + 1);
            reading.value = sensorValue(chip.sensors[s].follow, hidSeed(chip, s));
            for (const auto& [name, value] : control_.hid) {
                if (hidNameMatches(name, chip, s)) {
                    reading.value = value;
                    reading.pinned = true;
                }
            }
            result.push_back(std::move(reading));
        }
    }
    return result;
}
