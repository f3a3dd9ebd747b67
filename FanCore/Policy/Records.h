#pragma once

// The small value records that cross the system: temperatures (degrees Celsius) and fan speeds
// (rpm), all 64-bit floating point.

#include <cstdint>
#include <optional>
#include <string>

// Every field has an initialiser so that Readings{.cpu = 70.0} leaves the rest absent without a
// missing-initialiser warning.
struct Readings {
    std::optional<double> cpu{};
    std::optional<double> gpu{};
    std::optional<double> die{};
    std::optional<double> ssd{};
    std::optional<double> battery{};
    std::optional<double> wifi{};
    std::optional<double> airflow{};
    std::optional<double> palmRest{};

    // The greatest of cpu, gpu and die (first present value wins ties); absent when all three are.
    std::optional<double> hottest() const;

    // Field by field; a NaN equals nothing, two absent fields are equal.
    friend bool operator==(const Readings&, const Readings&) = default;
};

struct Fan {
    int64_t index = 0;
    double actual = 0;
    double min = 0;
    double max = 0;
    double target = 0;
    int64_t mode = 0;

    friend bool operator==(const Fan&, const Fan&) = default;
};

struct PowerState {
    bool onAC = false;
    bool charging = false;
    std::optional<int64_t> percent{};

    friend bool operator==(const PowerState&, const PowerState&) = default;
};

// What the fan curve asks for: rpm 0 with an empty reason when nothing asks for speed.
struct Demand {
    double rpm = 0;
    std::string reason;
};
