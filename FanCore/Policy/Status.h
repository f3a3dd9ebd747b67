#pragma once

// The daemon's report of what it last did with the fans.

#include <expected>
#include <optional>
#include <string>
#include <string_view>

struct Status {
    double updated = 0;  // seconds since 1970-01-01 UTC, wall clock
    bool manual = false;
    double targetRPM = 0;
    std::string reason;
    std::optional<std::string> error{};  // may be left out of a brace initialiser

    // Reads Paths::status(); absent when the file is missing, unsafe or does not decode.
    static std::optional<Status> load();

    // Decodes status text; absent on a missing required member, a wrong type, or not JSON.
    static std::optional<Status> decode(std::string_view text);

    // Compact JSON; "error" left out when absent.
    std::string encode() const;

    // Replaces Paths::status() atomically (the folder must exist); the error names path and reason.
    std::expected<void, std::string> save() const;

    // True when updated lies less than 10 s from now, either way: a time stamp far in the future
    // would otherwise show a daemon as running long after it is gone.
    bool isFresh() const;
    bool isFresh(double now) const;

    friend bool operator==(const Status&, const Status&) = default;
};
