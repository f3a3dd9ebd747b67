#pragma once

// tarnwick-sim's arguments: --root DIR [--profile NAME|FILE] [--tick-ms N] [--layout NAME]
// [--fan-control].

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sim/SimProfile.h"

struct SimOptions {
    std::filesystem::path root;
    std::string profile;  // built-in name or file
    int tickMs = 250;
    std::optional<SimLayout> layout;  // overrides the profile's
    bool fanControl = false;          // the macsmc_hwmon module option fan_control
};

namespace SimCommandLine {

struct Parsed {
    std::optional<SimOptions> options;  // set when the arguments are sound
    bool help = false;                  // --help: print usage() and succeed
    std::string error;                  // what is wrong, when neither of the above
};

// The arguments after the program name. "--name value" and "--name=value" are both accepted;
// --root is required and must not be "/" (the simulator overwrites files under it).
Parsed parse(const std::vector<std::string>& arguments);

// The usage text, listing the built-in profiles.
std::string usage();

}  // namespace SimCommandLine
