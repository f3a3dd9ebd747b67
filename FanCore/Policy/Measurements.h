#pragma once

// What the daemon measured in its last pass (raw temperatures, fans, power), published beside its
// status so that the application shows the same machine without asking the SMC a second time.

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FanCore/Policy/Records.h"

struct Measurements {
    // Older than this (or this far in the future), the application reads the hardware itself.
    static constexpr double freshSeconds = 5.0;

    double updated = 0;  // seconds since 1970-01-01 UTC, wall clock
    Readings readings{};
    std::vector<Fan> fans{};
    PowerState power{};
    // Whether the SMC has the fans' unlock key ("Ftst"): a fact of the machine the diagnostics
    // report shows; absent when the writer did not say.
    std::optional<bool> unlockKey{};

    // Reads Paths::measurements(); absent when the file is missing, unsafe, owned by anybody but
    // root (or, inside a sandbox root, this user), or does not decode.
    static std::optional<Measurements> load();

    // Absent on a missing member (unlockKey is optional), a wrong type, or not JSON. A fan value
    // written as null (the SMC gave something that is not a number) reads back as NaN.
    static std::optional<Measurements> decode(std::string_view text);

    // Compact JSON; absent temperatures are left out.
    std::string encode() const;

    // Replaces Paths::measurements() atomically, readable by everybody, without syncing: after a
    // crash the file is stale or torn, and either means no measurements.
    std::expected<void, std::string> save() const;

    // True when `now` is within freshSeconds of `updated`, on either side.
    bool isFresh(double now) const;

    friend bool operator==(const Measurements&, const Measurements&) = default;
};
