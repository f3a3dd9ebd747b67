#pragma once

// A simulated machine's description: brand, SMC key table, temperature sensors published as hwmon,
// battery and charger, and the parameters of its thermal model. Profiles are JSON; the built-in
// ones are compiled into the program.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What an animated temperature follows: the chip, the slower SSD and battery, or the room.
enum class SimNode { chip, ssd, battery, ambient };

// An animated temperature: ambient + (node - ambient) * gain + offset, in °C.
struct SimFollow {
    SimNode node = SimNode::chip;
    double gain = 1.0;
    double offset = 0.0;
};

struct SimKey {
    std::string name;  // four characters, space-padded
    uint32_t code = 0;
    std::string type;  // four characters, space-padded
    // The value; its length is the key's data size. Real SMCs describe keys of more than 32 bytes
    // but refuse to read them through the 32-byte block.
    std::vector<uint8_t> bytes;
    bool readable = true;
    bool writable = false;
    bool indexed = true;  // false: answers by name but is left out of "#KEY" and the index
    std::optional<SimFollow> follow;  // set for temperatures the thermal model drives
};

struct SimHwmonSensor {
    std::string label;  // empty: the sensor publishes no label file
    SimFollow follow;
};

// One hwmon device: its chip name ("coretemp", "nvme", "BAT0") and temperature inputs.
struct SimHwmonChip {
    std::string name;
    std::vector<SimHwmonSensor> sensors;
    // Seconds after start before the device registers, as a driver that udev loads late.
    double appearsAfter = 0;
};

struct SimBattery {
    std::string name = "BAT0";     // power_supply folder of the internal battery
    std::string charger = "ADP1";  // power_supply folder of the mains adapter
    double percent = 80.0;
    bool online = true;  // adapter plugged in
};

// Where the machine's SMC reaches its clients: the simulator's own socket, the files the kernel's
// applesmc driver publishes for Intel Macs, or the hwmon files of Apple silicon's macsmc_hwmon.
enum class SimLayout { socket, applesmc, macsmc_hwmon };

// The layout a profile or command line names ("socket", "applesmc"), absent for any other text.
std::optional<SimLayout> simLayoutNamed(std::string_view name);

// Thermal model parameters (°C, seconds, rpm).
struct SimThermal {
    double ambient = 24.0;
    double load = 0.1;        // 0..1 at start
    double heat = 70.0;       // chip rise above ambient at full load with the fans stopped
    double idle = 0.15;       // share of `heat` produced at zero load
    double cooling = 1.6;     // full fans divide the rise by 1 + cooling
    double tau = 6.0;         // chip time constant
    double slowTau = 90.0;    // SSD and battery time constant
    double throttle = 105.0;  // the chip never settles above this
    double curveLow = 55.0;   // automatic fan curve: minimum speed up to here...
    double curveHigh = 90.0;  // ...maximum speed from here on
    bool fanStop = false;     // automatic mode stops the fans below curveLow
    double fanRate = 800.0;   // rpm per second a fan's speed may change
};

struct SimProfile {
    std::string source;  // built-in name or file path, for messages
    std::string brand;
    std::string model;           // device-tree model ("" when the machine has none)
    std::string arch = "arm64";  // "arm64" or "x86_64": shapes /proc/cpuinfo
    int cpus = 8;
    std::vector<SimKey> keys;  // in file order
    std::vector<SimHwmonChip> hwmon;
    std::optional<SimBattery> battery;
    SimThermal thermal;
    SimLayout layout = SimLayout::socket;
    double latencyMs = 0;  // how long each SMC key read takes the driver, milliseconds
    std::string origin;    // where the key table came from, for people reading the file
    // Members this simulator does not know, named once at start-up instead of refusing the file.
    std::vector<std::string> warnings;

    struct Loaded;
    // Parses profile JSON; `source` names it in error messages.
    static Loaded parse(std::string_view json, std::string_view source);
    // A built-in profile by name, else a profile file; the error names the file and the problem.
    static Loaded load(std::string_view nameOrFile);
    // The problem with using `layout` for this machine (unknown, or a driver of another
    // architecture), empty when it fits.
    std::string layoutProblem(SimLayout layout) const;
    // The names of the built-in profiles, sorted.
    static std::vector<std::string> builtinNames();
};

// Exactly one of `profile` and a non-empty `error`.
struct SimProfile::Loaded {
    std::optional<SimProfile> profile;
    std::string error;
};

inline constexpr std::string_view kSimDefaultProfile = "mbp14-m3pro";
