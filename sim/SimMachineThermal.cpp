#include <algorithm>
#include <cmath>

#include "sim/SimCodec.h"
#include "sim/SimMachine.h"

// The thermal model: chip, SSD and battery temperatures that follow load and fan speed, the fans
// that follow the system's curve or their targets, sleep and wake.

namespace {

constexpr double kMaxStep = 0.1;  // seconds; keeps the model stable for any advance()

bool whole(double value) { return value == std::round(value); }

}  // namespace

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
