#pragma once

// The machine's power sources, as the platform describes them (on Linux, the kernel's
// power_supply class).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace PowerSupply {

// One battery as the platform would describe it.
struct Source {
    std::string name;                 // the supply's folder name, e.g. "BAT0"
    bool internalBattery = false;     // type Battery and scope not Device (not a mouse or pad)
    bool acPower = false;             // some non-battery supply reports online > 0
    bool charging = false;            // status is "Charging"
    std::optional<int64_t> capacity;  // percent; absent when missing or not a whole number
};

// Every supply of type Battery under `root`/sys/class/power_supply, in name order; empty when the
// folder cannot be listed.
std::vector<Source> sources(const std::filesystem::path& root);

}  // namespace PowerSupply
