#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "FanCore/Diagnostics/Diagnostics.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/Platform.h"
#include "FanCore/Sensors/Sensors.h"
#include "SimRig.h"
#include "sim/SimSysfs.h"

namespace {

using namespace std::chrono_literals;

SimProfile builtin(const char* name) {
    SimProfile::Loaded loaded = SimProfile::load(name);
    if (!loaded.profile) ADD_FAILURE() << loaded.error;
    return loaded.profile.value_or(SimProfile{});
}

// Holds SMC keys and HID sensors at fixed values and publishes the machine's files, so that the
// report's lines are exact.
void publish(SimRig& rig, const std::map<std::string, double>& pins,
             const std::map<std::string, double>& hid) {
    SimControl control = rig.machine.control();
    for (const auto& [key, value] : pins) control.pins[key] = value;
    control.hid = hid;
    ASSERT_EQ(rig.machine.setControl(control), "");
    std::string error;
    SimSysfs sysfs(rig.root.path());
    ASSERT_TRUE(sysfs.prepare(rig.machine, error)) << error;
}

std::string osLine() {
    const auto version = Platform::osVersion();
    return std::string(Platform::osName) + ": " + std::to_string(version[0]) + "." +
           std::to_string(version[1]) + "." + std::to_string(version[2]);
}

void writeStatus(const SensorRoot& root, const std::string& json) {
    std::filesystem::create_directories(Paths::statusDir());
    const std::string relative = std::filesystem::relative(Paths::status(), root.path()).string();
    root.write(relative, json);
}

TEST(Diagnostics, FanlessMachineWithoutBattery) {
    SimProfile profile = builtin("mba13-m2");
    profile.battery.reset();
    SimRig rig(std::move(profile));
    publish(rig,
            {{"Tp01", 48.6},
             {"Tp05", 52.3},
             {"Tp09", 47.2},
             {"Tp0D", 49.9},
             {"Tp0X", 46.1},
             {"Tp0b", 51.7},
             {"Tp0f", 50.4},
             {"Tp0j", 48.8},
             {"Tg0f", 45.4},
             {"Tg0j", 44.3},
             {"TH0x", 38.7},
             {"TB0T", 30.6},
             {"TB1T", 31.3},
             {"TB2T", 29.8},
             {"TW0P", 36.4},
             {"Ts0P", 29.6},
             {"Ts1P", 28.4},
             {"TCHP", 33.3}},
            {{"PMU tdie1", 53.5},
             {"pACC MTR Temp Sensor0", 49.5},
             {"GPU MTR Temp Sensor1", 46.5},
             {"NAND CH0 temp", 39.5},
             {"macsmc_battery temp1", 30.5}});
    const Sensors sensors(1ms);

    EXPECT_EQ(Diagnostics::report(sensors), "chip: Apple M2 (generation 2)\n" + osLine() +
                                                "\n"
                                                "cpu: 52.3 \u00B0C\n"
                                                "gpu: 45.4 \u00B0C\n"
                                                "die: 53.5 \u00B0C\n"
                                                "ssd: 38.7 \u00B0C\n"
                                                "battery: 31.3 \u00B0C\n"
                                                "wifi: 36.4 \u00B0C\n"
                                                "air: -\n"
                                                "palm rest: 29.6 \u00B0C\n"
                                                "hottest: 53.5 \u00B0C\n"
                                                "ftst unlock key: no\n"
                                                "power: no battery, ac false, charging false\n"
                                                "helper: no status");
}

TEST(Diagnostics, DefaultMachineWithAStatusFile) {
    SimRig rig(builtin(std::string(kSimDefaultProfile).c_str()));
    std::map<std::string, double> pins = {
        {"F0Ac", 2345.6}, {"F1Ac", 2456.9}, {"TH0a", 41.2}, {"TH0b", 40.1}, {"TH0x", 42.3},
        {"TB0T", 31.2},   {"TB1T", 30.4},   {"TB2T", 30.9}, {"TaLP", 33.6}, {"TaRF", 34.2},
        {"TW0P", 38.1},   {"Ts0P", 30.3},   {"Ts1P", 29.9}, {"Ts0S", 45.5}, {"TCHP", 39.9},
        {"Tf14", 55.1},   {"Tf18", 57.4},   {"Tf19", 54.2}, {"Tf1A", 53.3}, {"Tf24", 56.6},
        {"Tf28", 55.5},   {"Tf29", 54.4},   {"Tf2A", 53.9}, {"Te05", 50.1}, {"Te0L", 50.6},
        {"Te0P", 49.7},   {"Te0S", 51.2}};
    // The chip cores: one reads above die + 25 °C and must not count.
    for (const char* core :
         {"Tf04", "Tf09", "Tf0A", "Tf0B", "Tf0E", "Tf44", "Tf49", "Tf4A", "Tf4B", "Tf4D", "Tf4E"}) {
        pins[core] = 60.2;
    }
    pins["Tf49"] = 62.7;
    pins["Tf0D"] = 84.1;
    publish(rig, pins,
            {{"PMU tdie1", 58.5},
             {"PMU tdie2", 59.0},
             {"pACC MTR Temp Sensor0", 61.5},
             {"eACC MTR Temp Sensor0", 52.5},
             {"GPU MTR Temp Sensor1", 56.5},
             {"NAND CH0 temp", 40.5},
             {"macsmc_battery temp1", 30.5}});
    writeStatus(rig.root, R"({"updated": 1700000000.5, "manual": true, "targetRPM": 963.9,)"
                          R"( "reason": "chip 85 °C", "error": "SMC write failed"})");
    const Sensors sensors(1ms);

    EXPECT_EQ(Diagnostics::report(sensors),
              "chip: Apple M3 Pro (generation 3)\n" + osLine() +
                  "\n"
                  "cpu: 62.7 \u00B0C\n"
                  "gpu: 57.4 \u00B0C\n"
                  "die: 59.0 \u00B0C\n"
                  "ssd: 42.3 \u00B0C\n"
                  "battery: 31.2 \u00B0C\n"
                  "wifi: 38.1 \u00B0C\n"
                  "air: 34.2 \u00B0C\n"
                  "palm rest: 30.3 \u00B0C\n"
                  "hottest: 62.7 \u00B0C\n"
                  "ftst unlock key: yes\n"
                  "fan 0: 2345 rpm (min 1200, max 5779, mode 0)\n"
                  "fan 1: 2456 rpm (min 1200, max 6241, mode 0)\n"
                  "power: battery 82 %, ac true, charging true\n"
                  "helper: manual 963 rpm \u00B7 chip 85 \u00B0C \u00B7 error: SMC write failed");
}

// The last line of a report over a machine without keys.
std::string daemonLine() {
    const Sensors sensors(1ms);
    const std::string report = Diagnostics::report(sensors);
    return report.substr(report.rfind('\n') + 1);
}

TEST(Diagnostics, DaemonLine) {
    const struct {
        const char* status;  // nullptr: no file
        const char* line;
    } cases[] = {
        {nullptr, "helper: no status"},
        {"not json", "helper: no status"},
        {R"({"updated": 1, "manual": false, "targetRPM": 0})", "helper: no status"},
        {R"({"updated": 1, "manual": false, "targetRPM": 0, "reason": "Linux"})",
         "helper: firmware \u00B7 Linux"},
        {R"({"updated": 1, "manual": false, "targetRPM": 0, "reason": "Linux", "error": null})",
         "helper: firmware \u00B7 Linux"},
        {R"({"updated": 1, "manual": false, "targetRPM": 0, "reason": "Linux",)"
         R"( "error": "No fans found"})",
         "helper: firmware \u00B7 Linux \u00B7 error: No fans found"},
        {R"({"updated": 1, "manual": true, "targetRPM": 2400, "reason": "ramping down"})",
         "helper: manual 2400 rpm \u00B7 ramping down"},
        {R"({"updated": 1, "manual": true, "targetRPM": -0.5, "reason": "x"})",
         "helper: manual 0 rpm \u00B7 x"},
        {R"({"updated": 1, "manual": true, "targetRPM": 1e20, "reason": "x"})",
         "helper: manual 100000000000000000000 rpm \u00B7 x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status ? c.status : "no file");
        SimRig rig(R"({"brand": "test", "keys": [{"key": "FNum", "type": "ui8 ", "value": 0}]})");
        if (c.status != nullptr) writeStatus(rig.root, c.status);
        EXPECT_EQ(daemonLine(), c.line);
    }
}

TEST(Diagnostics, FanLinesNeverConvertGarbageToIntegers) {
    SimRig rig(R"({"brand": "test", "keys": [
        {"key": "FNum", "type": "ui8 ", "value": 2},
        {"key": "F0Ac", "type": "flt ", "bytes": "00 00 c0 7f"},
        {"key": "F0Mn", "type": "flt ", "bytes": "00 00 80 ff"},
        {"key": "F0Mx", "type": "flt ", "value": 1e20},
        {"key": "F0Md", "type": "flt ", "bytes": "00 00 c0 7f"},
        {"key": "F1Ac", "type": "flt ", "value": -0.75},
        {"key": "F1Mx", "type": "fpe2", "value": 6156.25},
        {"key": "F1Md", "type": "ui8 ", "value": 1}]})");
    const Sensors sensors(1ms);
    const std::string report = Diagnostics::report(sensors);
    EXPECT_NE(report.find("\nfan 0: - rpm (min -, max 100000002004087734272, mode 0)\n"
                          "fan 1: 0 rpm (min 0, max 6156, mode 1)\n"),
              std::string::npos)
        << report;
}

TEST(Diagnostics, PrintableEscapesTerminalControls) {
    EXPECT_EQ(Diagnostics::printable("chip 97 \u00b0C\nnext"), "chip 97 \u00b0C\nnext");
    EXPECT_EQ(Diagnostics::printable("a\x1b]0;x\x07"
                                     "b\r\x7f"),
              "a\\x1b]0;x\\x07b\\x0d\\x7f");
    EXPECT_EQ(Diagnostics::printable("\xc2\x9b"
                                     "2J"),
              "\\x9b2J")
        << "the one-byte CSI of UTF-8";
}

}  // namespace
