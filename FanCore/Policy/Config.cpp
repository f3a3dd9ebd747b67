#include "FanCore/Policy/Config.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <system_error>
#include <utility>

#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/SafeFile.h"

using json = nlohmann::json;

namespace {

struct NumberRule {
    double Config::*field;
    const char* key;
    double low;
    double high;
};

// Bounds and replacements of the three numbers; the replacement is the field's default.
constexpr NumberRule numberRules[] = {
    {&Config::boost, "boost", 0.0, 1.0},
    {&Config::batteryTarget, "batteryTarget", 25.0, 45.0},
    {&Config::manualRPM, "manualRPM", 0.0, 10000.0},
};

constexpr std::pair<bool Config::*, const char*> flagKeys[] = {
    {&Config::batteryCooling, "batteryCooling"},
    {&Config::batteryOnlyOnAC, "batteryOnlyOnAC"},
    {&Config::manualMode, "manualMode"},
};

}  // namespace

Config Config::load() {
    std::string ignored;
    return load(ignored);
}

Config Config::load(std::string& problem) {
    std::string why;
    const std::optional<std::string> text = SafeFile::readBounded(Paths::config(), nullptr, &why);
    problem = why.empty() ? std::string() : "cannot read " + Paths::config().string() + ": " + why;
    if (!text) return {};
    const std::optional<Config> decoded = decode(*text);
    if (!decoded) problem = Paths::config().string() + " is not valid settings";
    return decoded ? decoded->sanitized() : Config{};
}

std::optional<Config> Config::decode(std::string_view text) {
    const json document = json::parse(text.begin(), text.end(), nullptr, false);
    if (document.is_discarded() || !document.is_object()) return std::nullopt;

    Config config;
    for (const NumberRule& rule : numberRules) {
        const auto member = document.find(rule.key);
        if (member == document.end() || member->is_null()) continue;
        if (!member->is_number()) return std::nullopt;
        // The parser turns a number beyond the range of a double into infinity; such a file was
        // not written by us and is rejected like any other malformed one.
        const double value = member->get<double>();
        if (!std::isfinite(value)) return std::nullopt;
        config.*rule.field = value;
    }
    for (const auto& [field, key] : flagKeys) {
        const auto member = document.find(key);
        if (member == document.end() || member->is_null()) continue;
        if (!member->is_boolean()) return std::nullopt;
        config.*field = member->get<bool>();
    }
    return config;
}

Config Config::sanitized() const {
    const Config defaults;
    Config result = *this;
    for (const NumberRule& rule : numberRules) {
        double& value = result.*rule.field;
        if (!std::isfinite(value)) {
            value = defaults.*rule.field;
        } else if (value < rule.low) {
            value = rule.low;
        } else if (value > rule.high) {
            value = rule.high;
        }
    }
    return result;
}

std::string Config::encode() const {
    json document = json::object();
    for (const NumberRule& rule : numberRules) document[rule.key] = this->*rule.field;
    for (const auto& [field, key] : flagKeys) document[key] = this->*field;
    // JSON has no NaN or infinity: such a number comes out as null, which reads back as the
    // field's default. save() refuses to write it instead.
    return document.dump();
}

std::expected<void, std::string> Config::save() const {
    std::error_code error;
    std::filesystem::create_directories(Paths::dir(), error);
    if (error) {
        return std::unexpected("cannot create folder " + Paths::dir().string() + ": " +
                               error.message());
    }
    for (const NumberRule& rule : numberRules) {
        if (!std::isfinite(this->*rule.field)) {
            return std::unexpected("cannot encode settings for " + Paths::config().string() + ": " +
                                   rule.key + " is not a finite number");
        }
    }
    // The daemon runs as root without the capability to read past file modes, so a file made
    // private by the user's umask would silently leave it on the defaults. It holds no secret.
    return SafeFile::writeAtomically(Paths::config(), encode(), {.mode = 0644});
}
