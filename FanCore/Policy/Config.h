#pragma once

// The user's fan settings, shared with the daemon through the settings file.

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct Config {
    double boost = 0.0;
    bool batteryCooling = false;
    double batteryTarget = 33.0;
    bool batteryOnlyOnAC = true;
    bool manualMode = false;
    double manualRPM = 2500.0;

    // Reads Paths::config(); any problem (missing, unsafe, malformed, mistyped) gives the defaults.
    static Config load();
    // The same, with `problem` set to why a settings file that exists could not be used
    // ("cannot read /var/lib/tarnwick/config.json: Permission denied"), empty when it could or
    // there is none.
    static Config load(std::string& problem);

    // Decodes settings text: std::nullopt when it is not a valid settings object. Not sanitised.
    static std::optional<Config> decode(std::string_view text);

    // Numbers clamped into their ranges; non-finite values replaced by their defaults.
    Config sanitized() const;

    // Compact JSON with all six members, written as they are (not sanitised).
    std::string encode() const;

    // Creates Paths::dir(), then replaces Paths::config() atomically with a file every user can
    // read (mode 0644 whatever the umask); errors name path, reason.
    std::expected<void, std::string> save() const;

    // Under an exclusive lock on Paths::dir() (created first): loads the settings, passes them
    // through `change` and saves the result, so that changes made at the same time by other
    // processes are kept. The settings saved, or an error naming the path and the reason with
    // nothing written; refused with otherOwner()'s sentence when another account owns them.
    static std::expected<Config, std::string> update(const std::function<Config(Config)>& change);

    // These settings with each field in which `after` differs from `before` taken from `after`.
    Config withChanges(const Config& before, const Config& after) const;

    // Why the caller may not change the settings, naming the account that owns them: absent for
    // root, for the owner, before the folder exists and for a folder shared with every account.
    static std::optional<std::string> otherOwner();

    friend bool operator==(const Config&, const Config&) = default;
};
