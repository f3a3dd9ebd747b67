#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CSMC/smc.h"
#include "FanCore/SMC/SMC.h"
#include "FanCore/Sensors/Sensors.h"
#include "SimRig.h"

namespace {

using namespace std::chrono_literals;

TEST(Discovery, TwoReadRule) {
    const struct {
        double first;
        std::optional<double> second;
        bool kept;
    } cases[] = {
        {45.0, 45.0, false},         {45.0, 45.5, true},  {45.25, std::nullopt, true},
        {45.0, std::nullopt, false}, {45.25, 45.0, true}, {45.25, 46.75, true},
        {45.0, 46.0, false},         {45.0, 200.5, true},  // the second value is not range-checked
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + " then " +
                     (c.second ? std::to_string(*c.second) : "unreadable"));
        EXPECT_EQ(Sensors::keepCandidate(c.first, c.second), c.kept);
        // Whole quarter degrees are all a coarse source has: anything readable is kept.
        const bool fraction = c.first != std::round(c.first);
        EXPECT_EQ(Sensors::keepCandidate(c.first, c.second, true),
                  fraction || c.second.has_value());
    }
}

// Keys that the test scripts between the two reads carry whole values; animated ones carry the
// fractions of live sensors.
constexpr const char* kProfile = R"({"brand": "test", "keys": [
    {"key": "#KEY", "type": "ui32", "value": 0},
    {"key": "FNum", "type": "ui8 ", "value": 0},
    {"key": "TC0P", "type": "flt ", "value": 45},
    {"key": "TC1P", "type": "flt ", "value": 45},
    {"key": "TC2P", "type": "flt ", "value": 45.25},
    {"key": "TC3P", "type": "flt ", "value": 45},
    {"key": "TC4P", "type": "flt ", "value": 130},
    {"key": "TC5P", "type": "flt ", "value": 10},
    {"key": "TCHP", "type": "flt ", "follows": "chip"},
    {"key": "Tp01", "type": "flt ", "follows": "chip"},
    {"key": "Tf04", "type": "flt ", "follows": "chip"},
    {"key": "Tf05", "type": "flt ", "follows": "chip"},
    {"key": "Tf14", "type": "flt ", "follows": "chip", "gain": 0.9},
    {"key": "Tg0f", "type": "flt ", "follows": "chip", "readable": false},
    {"key": "TH0x", "type": "sp78", "follows": "ssd"},
    {"key": "TB0T", "type": "sp78", "follows": "battery"},
    {"key": "Ta0P", "type": "flt ", "follows": "ambient", "offset": 2},
    {"key": "Ts0P", "type": "flt ", "follows": "ambient", "offset": 4},
    {"key": "Ts2P", "type": "flt ", "follows": "ambient", "offset": 4},
    {"key": "TW0P", "type": "flt ", "follows": "ambient", "offset": 15},
    {"key": "TW1P", "type": "flt ", "follows": "ambient", "offset": 15},
    {"key": "Vp0C", "type": "flt ", "follows": "chip"}
]})";

// After the first read of a key: give it a new value, or make it unreadable.
struct Script {
    std::map<std::string, double> changeTo;
    std::set<std::string> failAfter;
};

void install(SimRig& rig, Script script, std::vector<std::string>& readKeys) {
    rig.hook = [&rig, script, &readKeys](const smc_param& request, const smc_param&) {
        if (request.command != SMC_CMD_READ_BYTES) return;
        const std::string key = SMC::name(request.key);
        readKeys.push_back(key);
        if (std::count(readKeys.begin(), readKeys.end(), key) != 1) return;
        if (const auto it = script.changeTo.find(key); it != script.changeTo.end()) {
            rig.machine.setValue(key, it->second);
        }
        if (script.failAfter.contains(key)) {
            SimFaults faults = rig.machine.control().faults;
            faults.read.insert(key);
            rig.machine.setFaults(faults);
        }
    };
}

// The group lists expected for `names`, in the SMC's own index order.
std::map<std::string, std::vector<uint32_t>> expectedGroups(
    const std::map<std::string, std::string>& names) {
    std::map<std::string, std::vector<uint32_t>> groups;
    for (const uint32_t key : SMC::allKeys()) {
        if (const auto it = names.find(SMC::name(key)); it != names.end()) {
            groups[it->second].push_back(key);
        }
    }
    return groups;
}

TEST(Discovery, KeepsLiveKeysOfKnownGroupsOnAThirdGenerationChip) {
    SimRig rig(kProfile);
    rig.root.write("proc/cpuinfo", "model name\t: Apple M3\n");
    std::vector<std::string> readKeys;
    install(rig,
            {.changeTo = {{"TC1P", 45.5}, {"TC4P", 45.5}, {"TC5P", 45.5}},
             .failAfter = {"TC2P", "TC3P"}},
            readKeys);

    const Sensors sensors(1ms);
    rig.hook = nullptr;

    EXPECT_EQ(sensors.groups, expectedGroups({{"TC1P", "cpu"},
                                              {"TC2P", "cpu"},
                                              {"Tp01", "cpu"},
                                              {"Tf04", "cpu"},
                                              {"Tf14", "gpu"},
                                              {"TH0x", "ssd"},
                                              {"TB0T", "battery"},
                                              {"Ta0P", "air"},
                                              {"Ts0P", "palm"},
                                              {"TW0P", "wifi"}}));
    // Only classified temperature keys are read at all; fan and voltage keys never are.
    const std::set<std::string> read(readKeys.begin(), readKeys.end());
    for (const char* never : {"FNum", "Vp0C", "TCHP", "Ts2P", "TW1P", "Tf05"}) {
        EXPECT_FALSE(read.contains(never)) << never;
    }
    // Out-of-window first values are read once and never again.
    EXPECT_EQ(std::count(readKeys.begin(), readKeys.end(), "TC4P"), 1);
    EXPECT_EQ(std::count(readKeys.begin(), readKeys.end(), "TC1P"), 2);
    // A fraction at once shows a live sensor: nothing to read again, nothing to wait for.
    EXPECT_EQ(std::count(readKeys.begin(), readKeys.end(), "TC2P"), 1);
}

TEST(Discovery, TfKeysBelongToNoGroupOnOtherGenerations) {
    for (const char* cpuinfo : {"model name\t: Apple M2\n", "model name\t: Intel(R) Core(TM)\n"}) {
        SCOPED_TRACE(cpuinfo);
        SimRig rig(kProfile);
        rig.root.write("proc/cpuinfo", cpuinfo);
        const Sensors sensors(1ms);
        EXPECT_EQ(sensors.groups, expectedGroups({{"TC2P", "cpu"},
                                                  {"Tp01", "cpu"},
                                                  {"TH0x", "ssd"},
                                                  {"TB0T", "battery"},
                                                  {"Ta0P", "air"},
                                                  {"Ts0P", "palm"},
                                                  {"TW0P", "wifi"}}));
    }
}

TEST(Discovery, EmptyGroupsWithoutKeysOrWithoutAnSmc) {
    {
        SimRig rig(R"({"brand": "test", "keys": [{"key": "FNum", "type": "ui8 ", "value": 0}]})");
        EXPECT_TRUE(Sensors(1ms).groups.empty());
    }
    {
        SensorRoot root;
        smc_set_transport_factory([] { return SmcOpenResult{-1, nullptr}; });
        EXPECT_TRUE(Sensors(1ms).groups.empty());
        smc_set_transport_factory({});
    }
}

TEST(Discovery, PausesBetweenTheTwoReads) {
    SimRig rig(kProfile);
    const auto start = std::chrono::steady_clock::now();
    const Sensors sensors(50ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
}

}  // namespace
