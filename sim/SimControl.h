#pragma once

// What the outside world does to the simulated machine: load, room temperature, power, values held
// at a fixed level, and injected failures. control.json sets it; tests set it directly.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "sim/SimProfile.h"

struct SimFaults {
    std::set<std::string> read;   // keys (space-padded) whose reads the SMC refuses
    std::set<std::string> write;  // keys (space-padded) whose writes the SMC refuses
    bool io = false;              // every exchange fails below the SMC (non-zero status)

    bool operator==(const SimFaults&) const = default;
};

struct SimControl {
    double load = 0.1;                   // 0..1
    double ambient = 24.0;               // °C
    bool charger = true;                 // mains adapter plugged in
    double battery = 80.0;               // percent
    std::map<std::string, double> pins;  // SMC key (space-padded) -> value in the key's units
    std::map<std::string, double> hid;   // hwmon sensor name -> °C
    SimFaults faults;
    double latencyMs = 0;  // time each SMC key read takes through the driver's files
    // Seconds the machine sleeps for; a sleep starts whenever this changes to a positive value.
    double sleep = 0;
    std::map<int, double> takes;        // fan index -> rpm a second writer holds the fan at
    std::set<std::string> hwmonAbsent;  // hwmon chips whose devices are not registered
    int hwmonMoves = 0;  // each change re-registers every hwmon device under a new number

    static constexpr double kMaxLatencyMs = 1000;

    // The state a profile starts in: its thermal load and ambient, its battery and charger.
    static SimControl defaults(const SimProfile& profile);

    struct Parsed;
    // control.json text over `defaults`: members that are present replace the defaults, absent
    // ones keep them. An error names the first problem and yields no control.
    static Parsed parse(std::string_view text, const SimControl& defaults);

    bool operator==(const SimControl&) const = default;
};

struct SimControl::Parsed {
    std::optional<SimControl> control;
    std::string error;
};
