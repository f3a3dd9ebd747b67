#include "sim/SimControl.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "sim/SimCodec.h"

using nlohmann::json;

namespace {

bool number(const json& value, double low, double high, double& out) {
    if (!value.is_number()) return false;
    const double v = value.get<double>();
    if (!std::isfinite(v) || v < low || v > high) return false;
    out = v;
    return true;
}

std::string readKeyList(const json& list, const char* name, std::set<std::string>& out) {
    if (!list.is_array()) return std::string("\"fail\".\"") + name + "\" must be a list of keys";
    out.clear();
    for (const json& item : list) {
        if (!item.is_string() || !SimCodec::validName(item.get<std::string>())) {
            return std::string("\"fail\".\"") + name + "\" holds something that is not a key";
        }
        out.insert(SimCodec::name(item.get<std::string>()));
    }
    return {};
}

// {"absent": ["coretemp"], "moves": 1}: devices not registered, and how often all have moved.
std::string readHwmon(const json& value, SimControl& control) {
    if (!value.is_object()) return "\"hwmon\" must be an object";
    control.hwmonAbsent.clear();
    control.hwmonMoves = 0;
    for (const auto& [member, item] : value.items()) {
        if (member == "absent") {
            if (!item.is_array()) return "\"hwmon\".\"absent\" must be a list of chip names";
            for (const json& chip : item) {
                if (!chip.is_string()) return "\"hwmon\".\"absent\" holds something not a name";
                control.hwmonAbsent.insert(chip.get<std::string>());
            }
        } else if (member == "moves") {
            double moves = 0;
            if (!number(item, 0, 1000, moves) || moves != std::floor(moves)) {
                return "\"hwmon\".\"moves\" must be a whole number from 0 to 1000";
            }
            control.hwmonMoves = static_cast<int>(moves);
        } else {
            return "\"hwmon\" has an unknown member \"" + member + "\"";
        }
    }
    return {};
}

}  // namespace

SimControl SimControl::defaults(const SimProfile& profile) {
    SimControl control;
    control.load = profile.thermal.load;
    control.ambient = profile.thermal.ambient;
    control.latencyMs = profile.latencyMs;
    if (profile.battery) {
        control.charger = profile.battery->online;
        control.battery = profile.battery->percent;
    }
    return control;
}

SimControl::Parsed SimControl::parse(std::string_view text, const SimControl& defaults) {
    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded()) return {std::nullopt, "not valid JSON"};
    if (!root.is_object()) return {std::nullopt, "must hold a JSON object"};
    SimControl control = defaults;
    for (const auto& [name, value] : root.items()) {
        if (name == "load") {
            if (!number(value, 0, 1, control.load)) {
                return {std::nullopt, "\"load\" must be a number from 0 to 1"};
            }
        } else if (name == "ambient") {
            if (!number(value, -40, 60, control.ambient)) {
                return {std::nullopt, "\"ambient\" must be a number from -40 to 60 (°C)"};
            }
        } else if (name == "charger") {
            if (!value.is_boolean()) return {std::nullopt, "\"charger\" must be true or false"};
            control.charger = value.get<bool>();
        } else if (name == "battery") {
            if (!number(value, 0, 100, control.battery)) {
                return {std::nullopt, "\"battery\" must be a number from 0 to 100 (percent)"};
            }
        } else if (name == "latencyMs") {
            if (!number(value, 0, kMaxLatencyMs, control.latencyMs)) {
                return {std::nullopt, "\"latencyMs\" must be a number from 0 to 1000"};
            }
        } else if (name == "pin") {
            if (!value.is_object()) return {std::nullopt, "\"pin\" must be an object"};
            control.pins.clear();
            for (const auto& [key, pinned] : value.items()) {
                double v = 0;
                if (!SimCodec::validName(key) || !number(pinned, -1e9, 1e9, v)) {
                    return {std::nullopt, "\"pin\": \"" + key + "\" must map a key to a number"};
                }
                control.pins[SimCodec::name(key)] = v;
            }
        } else if (name == "hid") {
            if (!value.is_object()) return {std::nullopt, "\"hid\" must be an object"};
            control.hid.clear();
            for (const auto& [sensor, pinned] : value.items()) {
                double v = 0;
                if (!number(pinned, -100, 300, v)) {
                    return {std::nullopt, "\"hid\": \"" + sensor + "\" must map to a number (°C)"};
                }
                control.hid[sensor] = v;
            }
        } else if (name == "fail") {
            if (!value.is_object()) return {std::nullopt, "\"fail\" must be an object"};
            control.faults = {};
            for (const auto& [member, item] : value.items()) {
                std::string problem;
                if (member == "read") {
                    problem = readKeyList(item, "read", control.faults.read);
                } else if (member == "write") {
                    problem = readKeyList(item, "write", control.faults.write);
                } else if (member == "io") {
                    if (!item.is_boolean())
                        problem = "\"fail\".\"io\" must be true or false";
                    else
                        control.faults.io = item.get<bool>();
                } else {
                    problem = "\"fail\" has an unknown member \"" + member + "\"";
                }
                if (!problem.empty()) return {std::nullopt, problem};
            }
        } else if (name == "sleep") {
            if (!number(value, 0, 86400, control.sleep)) {
                return {std::nullopt, "\"sleep\" must be a number of seconds from 0 to 86400"};
            }
        } else if (name == "take") {
            if (!value.is_object()) return {std::nullopt, "\"take\" must be an object"};
            control.takes.clear();
            for (const auto& [fan, rpm] : value.items()) {
                double v = 0;
                if (fan.size() != 1 || fan[0] < '0' || fan[0] > '9' || !number(rpm, 0, 1e5, v)) {
                    return {std::nullopt,
                            "\"take\": \"" + fan + "\" must map a fan number 0-9 to rpm"};
                }
                control.takes[fan[0] - '0'] = v;
            }
        } else if (name == "hwmon") {
            if (std::string problem = readHwmon(value, control); !problem.empty()) {
                return {std::nullopt, problem};
            }
        } else {
            return {std::nullopt, "unknown member \"" + name + "\""};
        }
    }
    return {std::move(control), {}};
}
