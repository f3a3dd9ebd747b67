#include "sim/SimMachine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "sim/SimCodec.h"

namespace {

constexpr double kMaxStep = 0.1;  // seconds; keeps the model stable for any advance()

std::string printable(uint32_t code) {
    std::string text = SimCodec::unpack(code);
    for (char& c : text) {
        if (c < 0x20 || c >= 0x7F) c = '?';
    }
    return text;
}

bool whole(double value) { return value == std::round(value); }

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

SimMachine::SimMachine(SimProfile profile)
    : profile_(std::move(profile)), control_(SimControl::defaults(profile_)) {
    for (size_t i = 0; i < profile_.keys.size(); ++i) {
        const SimKey& key = profile_.keys[i];
        byCode_[key.code] = i;
        if (key.indexed) index_.push_back(key.code);
    }
    std::sort(index_.begin(), index_.end());
    if (SimKey* count = find(SimCodec::pack("#KEY"))) {
        SimCodec::encode(count->type, static_cast<double>(index_.size()), count->bytes);
    }
    for (int i = 0; i <= 9; ++i) {
        const std::string prefix = "F" + std::to_string(i);
        FanKeys fan;
        fan.index = i;
        fan.actual = position(prefix + "Ac");
        if (fan.actual == kNone) continue;
        fan.min = position(prefix + "Mn");
        fan.max = position(prefix + "Mx");
        fan.target = position(prefix + "Tg");
        fan.mode = position(prefix + "Md");
        fanKeys_.push_back(fan);
    }
    ftst_ = position("Ftst");

    settle();
}

SimMachine::SimMachine(std::string_view nameOrFile)
    : SimMachine([&] {
          SimProfile::Loaded loaded = SimProfile::load(nameOrFile);
          if (!loaded.profile) throw std::invalid_argument(loaded.error);
          return std::move(*loaded.profile);
      }()) {}

SimKey* SimMachine::find(uint32_t code) {
    const auto it = byCode_.find(code);
    return it == byCode_.end() ? nullptr : &profile_.keys[it->second];
}

const SimKey* SimMachine::find(uint32_t code) const {
    const auto it = byCode_.find(code);
    return it == byCode_.end() ? nullptr : &profile_.keys[it->second];
}

const SimKey* SimMachine::find(std::string_view key) const { return find(SimCodec::pack(key)); }

size_t SimMachine::position(std::string_view key) const {
    const auto it = byCode_.find(SimCodec::pack(key));
    return it == byCode_.end() ? kNone : it->second;
}

std::optional<double> SimMachine::decoded(size_t at) const {
    if (at == kNone) return std::nullopt;
    return SimCodec::decode(profile_.keys[at].type, profile_.keys[at].bytes);
}

void SimMachine::store(size_t at, double value) {
    if (at == kNone || pinned(profile_.keys[at])) return;
    SimCodec::encode(profile_.keys[at].type, value, profile_.keys[at].bytes);
}

bool SimMachine::pinned(const SimKey& key) const { return control_.pins.contains(key.name); }

int32_t SimMachine::exchange(const smc_param& request, smc_param& reply) {
    std::memset(&reply, 0, sizeof reply);
    if (control_.faults.io || sleepLeft_ > 0) {
        ++counts_.ioFailures;
        return SMC_STATUS_IO_ERROR;
    }
    SimKey* key = nullptr;
    switch (request.command) {
        case SMC_CMD_KEY_INFO:
            ++counts_.keyInfo;
            key = find(request.key);
            if (key == nullptr) {
                reply.result = SmcResult::keyNotFound;
                break;
            }
            reply.key = request.key;
            reply.data_size = static_cast<uint32_t>(key->bytes.size());
            reply.data_type = SimCodec::pack(key->type);
            reply.attributes =
                static_cast<uint8_t>((key->readable ? 0x80 : 0) | (key->writable ? 0x40 : 0));
            break;
        case SMC_CMD_READ_BYTES:
            ++counts_.read;
            key = find(request.key);
            if (key == nullptr) {
                reply.result = SmcResult::keyNotFound;
            } else if (!key->readable) {
                reply.result = SmcResult::notReadable;
            } else if (control_.faults.read.contains(key->name)) {
                reply.result = SmcResult::error;
            } else if (request.data_size != key->bytes.size() ||
                       key->bytes.size() > sizeof reply.bytes) {
                reply.result = SmcResult::sizeMismatch;
            } else {
                reply.key = request.key;
                reply.data_size = request.data_size;
                std::copy(key->bytes.begin(), key->bytes.end(), reply.bytes);
            }
            break;
        case SMC_CMD_WRITE_BYTES:
            ++counts_.write;
            key = find(request.key);
            if (key == nullptr) {
                reply.result = SmcResult::keyNotFound;
            } else if (!key->writable) {
                reply.result = SmcResult::notWritable;
            } else if (request.data_size != key->bytes.size() ||
                       key->bytes.size() > sizeof request.bytes) {
                reply.result = SmcResult::sizeMismatch;
            } else if (control_.faults.write.contains(key->name)) {
                reply.result = SmcResult::error;
            } else if (!pinned(*key)) {
                std::copy_n(request.bytes, key->bytes.size(), key->bytes.begin());
            }
            reply.key = request.key;
            log(key, request, reply.result);
            break;
        case SMC_CMD_KEY_AT_INDEX:
            ++counts_.keyAtIndex;
            if (request.index < index_.size()) {
                reply.key = index_[request.index];
            } else {
                reply.result = kSimResultIndexRange;
            }
            break;
        default:
            ++counts_.other;
            reply.result = SmcResult::badCommand;
            break;
    }
    return 0;
}

void SimMachine::log(const SimKey* key, const smc_param& request, uint8_t result) {
    SimWrite entry;
    entry.key = printable(request.key);
    const size_t size = std::min<size_t>(request.data_size, sizeof request.bytes);
    const std::span<const uint8_t> bytes(request.bytes, size);
    entry.bytes = SimCodec::hex(bytes);
    if (key != nullptr) entry.value = SimCodec::decode(key->type, bytes);
    entry.result = result;
    writes_.push_back(std::move(entry));
    if (writes_.size() > kWriteLogSize) writes_.pop_front();
}

void SimMachine::advance(double seconds) {
    if (!(seconds > 0)) return;
    while (seconds > 0) {
        const double dt = std::min(seconds, kMaxStep);
        step(dt);
        seconds -= dt;
        if (sleepLeft_ > 0) {
            sleepLeft_ = std::max(0.0, sleepLeft_ - dt);
            if (sleepLeft_ == 0) wake();
        }
    }
}

void SimMachine::sleep(double seconds) {
    if (seconds > 0) sleepLeft_ = seconds;
}

void SimMachine::wake() {
    // Firmware takes every fan back on wake; whoever drove them must ask again.
    for (const FanKeys& fan : fanKeys_) store(fan.mode, 0);
    store(ftst_, 0);
    applyTakes();
}

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

bool SimMachine::charging() const {
    return profile_.battery && control_.charger && control_.battery < 100.0;
}

bool SimMachine::manual(const FanKeys& fan) const {
    const std::optional<double> mode = decoded(fan.mode);
    if (!mode || *mode != 1.0) return false;
    if (ftst_ == kNone) return true;
    const std::optional<double> unlock = decoded(ftst_);
    return unlock && *unlock == 1.0;
}

double SimMachine::nodeValue(SimNode node) const {
    switch (node) {
        case SimNode::chip:
            return chip_;
        case SimNode::ssd:
            return ssd_;
        case SimNode::battery:
            return battery_;
        case SimNode::ambient:
            break;
    }
    return control_.ambient;
}

double SimMachine::sensorValue(const SimFollow& follow, uint32_t seed) const {
    const double ambient = control_.ambient;
    // Sensors never agree exactly and never sit still: a small, deterministic drift per sensor.
    const double phase = static_cast<double>(seed % 6283u) / 1000.0;
    const double drift = 0.15 * std::sin(0.9 * time_ + phase);
    return ambient + (nodeValue(follow.node) - ambient) * follow.gain + follow.offset + drift;
}

void SimMachine::storeTemperature(SimKey& key, double celsius) {
    // A measured value carries a fraction; readers tell live sensors from constants by it.
    for (double nudge : {0.0, 0.0625, 0.25, 0.5}) {
        if (!SimCodec::encode(key.type, celsius + nudge, key.bytes)) return;
        const std::optional<double> stored = SimCodec::decode(key.type, key.bytes);
        if (!stored || !whole(*stored)) return;
    }
}

double SimMachine::fanShare() const {
    double share = 0;
    for (const FanKeys& fan : fanKeys_) {
        const double max = decoded(fan.max).value_or(0);
        if (max > 0) share += std::clamp(decoded(fan.actual).value_or(0) / max, 0.0, 1.0);
    }
    return fanKeys_.empty() ? 0.0 : share / static_cast<double>(fanKeys_.size());
}

SimMachine::Goals SimMachine::goals() const {
    const SimThermal& t = profile_.thermal;
    const double ambient = control_.ambient;
    const double load = sleepLeft_ > 0 ? 0.0 : control_.load;
    const double rise = t.heat * (t.idle + (1.0 - t.idle) * load);
    Goals g;
    g.chip =
        std::min(ambient + rise / (1.0 + t.cooling * fanShare()), std::max(t.throttle, ambient));
    g.ssd = ambient + 6.0 + 14.0 * load;
    g.battery = ambient + 2.0 + 5.0 * load + (charging() ? 4.0 : 0.0);
    return g;
}

double SimMachine::fanGoal(const FanKeys& fan) {
    const SimThermal& t = profile_.thermal;
    const double min = decoded(fan.min).value_or(0);
    const double max = decoded(fan.max).value_or(0);
    if (sleepLeft_ > 0) return 0;
    if (manual(fan)) return std::min(std::max(decoded(fan.target).value_or(0), min), max);
    const double share = std::clamp((chip_ - t.curveLow) / (t.curveHigh - t.curveLow), 0.0, 1.0);
    const double goal = t.fanStop && chip_ < t.curveLow ? 0.0 : min + share * (max - min);
    store(fan.target, goal);  // in automatic mode the target shows the system's own choice
    return goal;
}

void SimMachine::settle() {
    // The fans and the chip depend on each other; a few rounds of substitution find the point
    // where both are at rest, so a new machine looks as if it had been running for a while.
    chip_ = control_.ambient;
    for (int round = 0; round < 60; ++round) {
        chip_ = goals().chip;
        for (const FanKeys& fan : fanKeys_) store(fan.actual, fanGoal(fan));
    }
    const Goals g = goals();
    ssd_ = g.ssd;
    battery_ = g.battery;
    step(0);
}

void SimMachine::step(double dt) {
    const Goals g = goals();
    const double fast = 1.0 - std::exp(-dt / profile_.thermal.tau);
    const double slow = 1.0 - std::exp(-dt / profile_.thermal.slowTau);
    chip_ += (g.chip - chip_) * fast;
    ssd_ += (g.ssd - ssd_) * slow;
    battery_ += (g.battery - battery_) * slow;
    time_ += dt;

    applyTakes();
    const double stepLimit = profile_.thermal.fanRate * dt;
    for (const FanKeys& fan : fanKeys_) {
        const double goal = fanGoal(fan);
        const double actual = decoded(fan.actual).value_or(0);
        store(fan.actual, actual + std::clamp(goal - actual, -stepLimit, stepLimit));
    }

    for (SimKey& key : profile_.keys) {
        if (key.follow && !pinned(key)) storeTemperature(key, sensorValue(*key.follow, key.code));
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

std::optional<double> SimMachine::value(std::string_view key) const {
    return decoded(position(key));
}

std::optional<std::vector<uint8_t>> SimMachine::bytes(std::string_view key) const {
    const SimKey* found = find(key);
    if (found == nullptr) return std::nullopt;
    return found->bytes;
}

bool SimMachine::setValue(std::string_view key, double value) {
    const size_t at = position(key);
    if (at == kNone) return false;
    return SimCodec::encode(profile_.keys[at].type, value, profile_.keys[at].bytes);
}

std::vector<SimFanState> SimMachine::fans() const {
    std::vector<SimFanState> result;
    for (const FanKeys& fan : fanKeys_) {
        SimFanState state;
        state.index = fan.index;
        state.actual = decoded(fan.actual).value_or(0);
        state.target = decoded(fan.target).value_or(0);
        state.mode = static_cast<int>(decoded(fan.mode).value_or(0));
        state.min = decoded(fan.min).value_or(0);
        state.max = decoded(fan.max).value_or(0);
        state.manual = manual(fan);
        result.push_back(state);
    }
    return result;
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

std::vector<std::pair<std::string, double>> SimMachine::temperatures() const {
    std::vector<std::pair<std::string, double>> result;
    for (size_t i = 0; i < profile_.keys.size(); ++i) {
        if (profile_.keys[i].name[0] != 'T') continue;
        if (const std::optional<double> v = decoded(i))
            result.emplace_back(profile_.keys[i].name, *v);
    }
    return result;
}
