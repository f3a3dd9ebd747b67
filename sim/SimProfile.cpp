#include "sim/SimProfile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <set>

#include "sim/BuiltinProfiles.h"
#include "sim/SimCodec.h"

using nlohmann::json;

namespace {

constexpr size_t kMaxProfileBytes = 1 << 20;
// SMCs describe keys of up to this many bytes in their key information.
constexpr int64_t kMaxKeyBytes = 255;

// Every check returns the problem as text; empty means the member was fine.
using Problem = std::string;

std::string inQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

Problem onlyMembers(const json& object, std::initializer_list<std::string_view> allowed) {
    for (const auto& [name, value] : object.items()) {
        if (name == "description" || name == "comment") continue;
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
            return "unknown member " + inQuotes(name);
        }
    }
    return {};
}

Problem readText(const json& object, const char* name, std::string& out, bool required) {
    const auto it = object.find(name);
    if (it == object.end()) return required ? "missing " + inQuotes(name) : Problem{};
    if (!it->is_string()) return inQuotes(name) + " must be text";
    out = it->get<std::string>();
    return {};
}

Problem readBool(const json& object, const char* name, bool& out) {
    const auto it = object.find(name);
    if (it == object.end()) return {};
    if (!it->is_boolean()) return inQuotes(name) + " must be true or false";
    out = it->get<bool>();
    return {};
}

Problem readNumber(const json& object, const char* name, double& out, double low, double high) {
    const auto it = object.find(name);
    if (it == object.end()) return {};
    if (!it->is_number()) return inQuotes(name) + " must be a number";
    const double value = it->get<double>();
    if (!std::isfinite(value) || value < low || value > high) {
        char range[96];
        std::snprintf(range, sizeof range, " must lie between %g and %g", low, high);
        return inQuotes(name) + range;
    }
    out = value;
    return {};
}

Problem readInteger(const json& object, const char* name, int64_t& out, int64_t low, int64_t high) {
    const auto it = object.find(name);
    if (it == object.end()) return {};
    if (!it->is_number_integer()) return inQuotes(name) + " must be a whole number";
    const int64_t value = it->get<int64_t>();
    if (value < low || value > high) {
        return inQuotes(name) + " must lie between " + std::to_string(low) + " and " +
               std::to_string(high);
    }
    out = value;
    return {};
}

// Folder names under /sys/class: no separators, nothing that walks out of the folder.
bool safeFolderName(std::string_view name) {
    if (name.empty() || name.size() > 64 || name == "." || name == "..") return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.';
    });
}

// One line of sysfs text: printable, no newline.
bool safeLine(std::string_view text) {
    return text.size() <= 64 && std::none_of(text.begin(), text.end(), [](char c) {
               return static_cast<unsigned char>(c) < 0x20;
           });
}

Problem readFollow(const json& object, std::optional<SimFollow>& out) {
    std::string node;
    if (Problem p = readText(object, "follows", node, false); !p.empty()) return p;
    if (!object.contains("follows")) {
        if (object.contains("gain") || object.contains("offset")) {
            return "\"gain\" and \"offset\" need \"follows\"";
        }
        return {};
    }
    SimFollow follow;
    if (node == "chip") {
        follow.node = SimNode::chip;
    } else if (node == "ssd") {
        follow.node = SimNode::ssd;
    } else if (node == "battery") {
        follow.node = SimNode::battery;
    } else if (node == "ambient") {
        follow.node = SimNode::ambient;
    } else {
        return "\"follows\" must be \"chip\", \"ssd\", \"battery\" or \"ambient\"";
    }
    if (Problem p = readNumber(object, "gain", follow.gain, 0.0, 10.0); !p.empty()) return p;
    if (Problem p = readNumber(object, "offset", follow.offset, -100.0, 100.0); !p.empty()) {
        return p;
    }
    out = follow;
    return {};
}

Problem readKey(const json& entry, SimKey& key) {
    if (!entry.is_object()) return "must be an object";
    if (Problem p = onlyMembers(entry, {"key", "type", "bytes", "value", "size", "readable",
                                        "writable", "indexed", "follows", "gain", "offset"});
        !p.empty()) {
        return p;
    }
    std::string name;
    std::string type;
    if (Problem p = readText(entry, "key", name, true); !p.empty()) return p;
    if (!SimCodec::validName(name)) return "\"key\" must be 1 to 4 printable ASCII characters";
    key.name = SimCodec::name(name);
    key.code = SimCodec::pack(key.name);
    if (Problem p = readText(entry, "type", type, true); !p.empty()) return p;
    if (!SimCodec::validName(type)) return "\"type\" must be 1 to 4 printable ASCII characters";
    key.type = SimCodec::name(type);
    if (Problem p = readBool(entry, "readable", key.readable); !p.empty()) return p;
    if (Problem p = readBool(entry, "writable", key.writable); !p.empty()) return p;
    if (Problem p = readBool(entry, "indexed", key.indexed); !p.empty()) return p;

    int64_t size = SimCodec::naturalSize(key.type);
    const bool sizeGiven = entry.contains("size");
    if (Problem p = readInteger(entry, "size", size, 0, kMaxKeyBytes); !p.empty()) return p;

    if (entry.contains("bytes") && entry.contains("value")) {
        return "give \"bytes\" or \"value\", not both";
    }
    if (entry.contains("bytes")) {
        std::string text;
        if (Problem p = readText(entry, "bytes", text, true); !p.empty()) return p;
        auto bytes = SimCodec::parseHex(text);
        if (!bytes) return "\"bytes\" must be hex pairs such as \"00 80 e5 44\"";
        if (bytes->size() > kMaxKeyBytes) {
            return "\"bytes\" holds more than " + std::to_string(kMaxKeyBytes) + " bytes";
        }
        if (sizeGiven && bytes->size() != static_cast<size_t>(size)) {
            return "\"bytes\" holds " + std::to_string(bytes->size()) + " bytes but \"size\" is " +
                   std::to_string(size);
        }
        key.bytes = std::move(*bytes);
    } else {
        if (!sizeGiven && size == 0) {
            return "type " + inQuotes(key.type) + " has no fixed size: give \"size\" or \"bytes\"";
        }
        key.bytes.assign(static_cast<size_t>(size), 0);
        if (entry.contains("value")) {
            double value = 0;
            if (Problem p = readNumber(entry, "value", value, -1e300, 1e300); !p.empty()) return p;
            if (!SimCodec::encode(key.type, value, key.bytes)) {
                return "\"value\" needs a numeric type of its natural size, not " +
                       inQuotes(key.type) + " of " + std::to_string(size) + " bytes";
            }
        }
    }
    if (Problem p = readFollow(entry, key.follow); !p.empty()) return p;
    if (key.follow && SimCodec::naturalSize(key.type) != key.bytes.size()) {
        return "\"follows\" needs a numeric type of its natural size";
    }
    return {};
}

Problem readHwmon(const json& entry, SimHwmonChip& chip) {
    if (!entry.is_object()) return "must be an object";
    if (Problem p = onlyMembers(entry, {"name", "sensors", "appearsAfter"}); !p.empty()) return p;
    if (const auto late = entry.find("appearsAfter"); late != entry.end()) {
        if (!late->is_number() || *late < 0 || *late > 3600) {
            return "\"appearsAfter\" must be a number of seconds from 0 to 3600";
        }
        chip.appearsAfter = late->get<double>();
    }
    if (Problem p = readText(entry, "name", chip.name, true); !p.empty()) return p;
    if (chip.name.empty() || !safeLine(chip.name)) return "\"name\" must be one short line";
    const auto sensors = entry.find("sensors");
    if (sensors == entry.end() || !sensors->is_array() || sensors->empty()) {
        return "\"sensors\" must be a non-empty array";
    }
    for (size_t i = 0; i < sensors->size(); ++i) {
        const json& item = (*sensors)[i];
        const std::string where = "sensors[" + std::to_string(i) + "]: ";
        if (!item.is_object()) return where + "must be an object";
        if (Problem p = onlyMembers(item, {"label", "follows", "gain", "offset"}); !p.empty()) {
            return where + p;
        }
        SimHwmonSensor sensor;
        if (Problem p = readText(item, "label", sensor.label, false); !p.empty()) return where + p;
        if (!safeLine(sensor.label)) return where + "\"label\" must be one short line";
        std::optional<SimFollow> follow;
        if (Problem p = readFollow(item, follow); !p.empty()) return where + p;
        if (!follow) return where + "missing \"follows\"";
        sensor.follow = *follow;
        chip.sensors.push_back(std::move(sensor));
    }
    return {};
}

Problem readBattery(const json& entry, SimBattery& battery) {
    if (!entry.is_object()) return "must be an object or null";
    if (Problem p = onlyMembers(entry, {"name", "charger", "percent", "online"}); !p.empty()) {
        return p;
    }
    if (Problem p = readText(entry, "name", battery.name, false); !p.empty()) return p;
    if (Problem p = readText(entry, "charger", battery.charger, false); !p.empty()) return p;
    if (!safeFolderName(battery.name) || !safeFolderName(battery.charger) ||
        battery.name == battery.charger) {
        return "\"name\" and \"charger\" must be two different folder names";
    }
    if (Problem p = readNumber(entry, "percent", battery.percent, 0, 100); !p.empty()) return p;
    return readBool(entry, "online", battery.online);
}

Problem readThermal(const json& entry, SimThermal& t) {
    if (!entry.is_object()) return "must be an object";
    if (Problem p = onlyMembers(entry, {"ambient", "load", "heat", "idle", "cooling", "tau",
                                        "slowTau", "throttle", "curve", "fanStop", "fanRate"});
        !p.empty()) {
        return p;
    }
    for (Problem p :
         {readNumber(entry, "ambient", t.ambient, -40, 60), readNumber(entry, "load", t.load, 0, 1),
          readNumber(entry, "heat", t.heat, 0, 200), readNumber(entry, "idle", t.idle, 0, 1),
          readNumber(entry, "cooling", t.cooling, 0, 100),
          readNumber(entry, "tau", t.tau, 0.01, 3600),
          readNumber(entry, "slowTau", t.slowTau, 0.01, 36000),
          readNumber(entry, "throttle", t.throttle, 20, 150),
          readNumber(entry, "fanRate", t.fanRate, 1, 100000),
          readBool(entry, "fanStop", t.fanStop)}) {
        if (!p.empty()) return p;
    }
    if (const auto curve = entry.find("curve"); curve != entry.end()) {
        if (!curve->is_array() || curve->size() != 2 || !(*curve)[0].is_number() ||
            !(*curve)[1].is_number()) {
            return "\"curve\" must be [low, high] in °C";
        }
        t.curveLow = (*curve)[0].get<double>();
        t.curveHigh = (*curve)[1].get<double>();
        if (!(t.curveLow < t.curveHigh) || t.curveLow < 0 || t.curveHigh > 150) {
            return "\"curve\" must be [low, high] with 0 <= low < high <= 150";
        }
    }
    return {};
}

SimProfile::Loaded failure(std::string_view source, const std::string& problem) {
    return {std::nullopt, std::string(source) + ": " + problem};
}

bool readFile(const std::string& path, std::string& text, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    text.clear();
    char buffer[8192];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
        if (text.size() > kMaxProfileBytes) {
            std::fclose(file);
            error = path + ": larger than 1 MiB";
            return false;
        }
    }
    const bool failed = std::ferror(file) != 0;
    const int code = errno;
    std::fclose(file);
    if (failed) {
        error = "cannot read " + path + ": " + std::strerror(code);
        return false;
    }
    return true;
}

}  // namespace

std::optional<SimLayout> simLayoutNamed(std::string_view name) {
    if (name == "socket") return SimLayout::socket;
    if (name == "applesmc") return SimLayout::applesmc;
    if (name == "macsmc_hwmon") return SimLayout::macsmc_hwmon;
    return std::nullopt;
}

SimProfile::Loaded SimProfile::parse(std::string_view text, std::string_view source) {
    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded()) return failure(source, "not valid JSON");
    if (!root.is_object()) return failure(source, "must hold a JSON object");
    SimProfile profile;
    profile.source = std::string(source);
    // A key dump may carry members of its own; they are named, not fatal.
    for (const auto& [name, value] : root.items()) {
        static const std::set<std::string> known = {
            "brand",   "model",  "arch",      "cpus",   "keys",        "hwmon",  "battery",
            "thermal", "layout", "latencyMs", "origin", "description", "comment"};
        if (!known.contains(name)) {
            profile.warnings.push_back(std::string(source) + ": ignoring unknown member " +
                                       inQuotes(name));
        }
    }
    if (Problem p = readText(root, "origin", profile.origin, false); !p.empty()) {
        return failure(source, p);
    }
    std::string layout = "socket";
    if (Problem p = readText(root, "layout", layout, false); !p.empty()) {
        return failure(source, p);
    }
    if (const auto named = simLayoutNamed(layout)) {
        profile.layout = *named;
    } else {
        return failure(source, "\"layout\" must be \"socket\", \"applesmc\" or \"macsmc_hwmon\"");
    }
    if (Problem p = readNumber(root, "latencyMs", profile.latencyMs, 0, 1000); !p.empty()) {
        return failure(source, p);
    }
    if (Problem p = readText(root, "brand", profile.brand, true); !p.empty()) {
        return failure(source, p);
    }
    if (!safeLine(profile.brand)) return failure(source, "\"brand\" must be one short line");
    if (Problem p = readText(root, "model", profile.model, false); !p.empty()) {
        return failure(source, p);
    }
    if (!safeLine(profile.model)) return failure(source, "\"model\" must be one short line");
    if (Problem p = readText(root, "arch", profile.arch, false); !p.empty()) {
        return failure(source, p);
    }
    if (profile.arch != "arm64" && profile.arch != "x86_64") {
        return failure(source, "\"arch\" must be \"arm64\" or \"x86_64\"");
    }
    if (Problem p = profile.layoutProblem(profile.layout); !p.empty()) return failure(source, p);
    int64_t cpus = profile.cpus;
    if (Problem p = readInteger(root, "cpus", cpus, 1, 1024); !p.empty()) {
        return failure(source, p);
    }
    profile.cpus = static_cast<int>(cpus);

    const auto keys = root.find("keys");
    if (keys == root.end() || !keys->is_array()) {
        return failure(source, "\"keys\" must be an array");
    }
    std::set<uint32_t> seen;
    for (size_t i = 0; i < keys->size(); ++i) {
        SimKey key;
        if (Problem p = readKey((*keys)[i], key); !p.empty()) {
            std::string where = "keys[" + std::to_string(i) + "]";
            if (!key.name.empty()) where += " (" + inQuotes(key.name) + ")";
            return failure(source, where + ": " + p);
        }
        if (!seen.insert(key.code).second) {
            return failure(source, "keys[" + std::to_string(i) + "]: " + inQuotes(key.name) +
                                       " appears twice");
        }
        profile.keys.push_back(std::move(key));
    }

    if (const auto hwmon = root.find("hwmon"); hwmon != root.end()) {
        if (!hwmon->is_array()) return failure(source, "\"hwmon\" must be an array");
        for (size_t i = 0; i < hwmon->size(); ++i) {
            SimHwmonChip chip;
            if (Problem p = readHwmon((*hwmon)[i], chip); !p.empty()) {
                return failure(source, "hwmon[" + std::to_string(i) + "]: " + p);
            }
            profile.hwmon.push_back(std::move(chip));
        }
    }
    if (const auto battery = root.find("battery"); battery != root.end() && !battery->is_null()) {
        SimBattery value;
        if (Problem p = readBattery(*battery, value); !p.empty()) {
            return failure(source, "battery: " + p);
        }
        profile.battery = value;
    }
    if (const auto thermal = root.find("thermal"); thermal != root.end()) {
        if (Problem p = readThermal(*thermal, profile.thermal); !p.empty()) {
            return failure(source, "thermal: " + p);
        }
    }
    return {std::move(profile), {}};
}

SimProfile::Loaded SimProfile::load(std::string_view nameOrFile) {
    for (const BuiltinProfile& builtin : builtinProfiles()) {
        if (builtin.name == nameOrFile) return parse(builtin.json, builtin.name);
    }
    const std::string path(nameOrFile);
    const bool looksLikeFile =
        path.find('/') != std::string::npos || (path.size() > 5 && path.ends_with(".json"));
    std::string text;
    std::string error;
    if (!looksLikeFile) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) {
            std::string names;
            for (const std::string& name : builtinNames()) {
                names += (names.empty() ? "" : ", ") + name;
            }
            return {std::nullopt, "no built-in profile and no file named " + inQuotes(path) +
                                      " (built-in: " + names + ")"};
        }
        std::fclose(file);
    }
    if (!readFile(path, text, error)) return {std::nullopt, error};
    return parse(text, path);
}

std::string SimProfile::layoutProblem(SimLayout name) const {
    if (name == SimLayout::macsmc_hwmon && arch != "arm64") {
        return "layout \"macsmc_hwmon\" is the Apple-silicon driver; this machine is " + arch;
    }
    return {};
}

std::vector<std::string> SimProfile::builtinNames() {
    std::vector<std::string> names;
    for (const BuiltinProfile& builtin : builtinProfiles()) names.emplace_back(builtin.name);
    std::sort(names.begin(), names.end());
    return names;
}
