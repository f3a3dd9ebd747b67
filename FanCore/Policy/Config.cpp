#include "FanCore/Policy/Config.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
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

std::expected<Config, std::string> Config::update(const std::function<Config(Config)>& change) {
    if (std::optional<std::string> refusal = otherOwner()) return std::unexpected(*refusal);
    std::error_code error;
    std::filesystem::create_directories(Paths::dir(), error);
    if (error) {
        return std::unexpected("cannot create folder " + Paths::dir().string() + ": " +
                               error.message());
    }
    // The folder itself is the lock: it exists for every writer, and no account that may read it
    // can take a lock file away from the others. The lock goes with the descriptor.
    const int folder = ::open(Paths::dir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return std::unexpected("cannot open folder " + Paths::dir().string() + ": " +
                               std::strerror(errno));
    }
    int locked = -1;
    do {
        locked = ::flock(folder, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const std::string reason = std::strerror(errno);
        ::close(folder);
        return std::unexpected("cannot lock folder " + Paths::dir().string() + ": " + reason);
    }
    const Config changed = change(load());
    const std::expected<void, std::string> saved = changed.save();
    ::close(folder);
    if (!saved) return std::unexpected(saved.error());
    return changed;
}

Config Config::withChanges(const Config& before, const Config& after) const {
    Config result = *this;
    for (const NumberRule& rule : numberRules) {
        // Compared bit for bit, so that a NaN the caller set still counts as a change.
        if (std::memcmp(&(before.*rule.field), &(after.*rule.field), sizeof(double)) != 0) {
            result.*rule.field = after.*rule.field;
        }
    }
    for (const auto& [field, key] : flagKeys) {
        if (before.*field != after.*field) result.*field = after.*field;
    }
    return result;
}

std::optional<std::string> Config::otherOwner() {
    struct stat folder {};
    const uid_t self = ::geteuid();
    if (self == 0 || ::stat(Paths::dir().c_str(), &folder) != 0 || folder.st_uid == self) {
        return std::nullopt;
    }
    // An earlier version's folder, writable by everybody until install.sh hands it to its owner.
    if ((folder.st_mode & S_IWOTH) != 0) return std::nullopt;
    std::string name = "the account with number " + std::to_string(folder.st_uid);
    std::string buffer(16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(folder.st_uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        name = found->pw_name;
    }
    return "the fan settings belong to " + name +
           ", who installed fan control; only that account (or root) can change them, and "
           "installing fan control again from another account hands them to it";
}
