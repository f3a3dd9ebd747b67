#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "FanCore/Sensors/Sensors.h"
#include "SensorRoot.h"
#include "SimRig.h"

namespace {

using namespace std::chrono_literals;

TEST(SensorsHid, KeepsValuesStrictlyInsideTheWindow) {
    SensorRoot root;
    const char* values[] = {"10000", "10500", "129900", "130000", "-5000", "200000"};
    for (int k = 0; k < 6; ++k) root.hwmon(k, "acpitz", 1, values[k]);
    std::vector<double> kept;
    for (const auto& pair : Sensors::hid()) kept.push_back(pair.value);
    EXPECT_EQ(kept, (std::vector<double>{10.5, 129.9}));
}

TEST(SensorsHid, SeesOnlyTheFirst128Services) {
    SensorRoot root;
    for (int temp = 1; temp <= 130; ++temp) {
        root.hwmon(0, "acpitz", temp, std::to_string(20000 + temp));
    }
    const auto pairs = Sensors::hid();
    ASSERT_EQ(pairs.size(), 128U);
    EXPECT_EQ(pairs.front().name, "acpitz temp1");
    EXPECT_EQ(pairs.back().name, "acpitz temp128");
}

constexpr const char* kProfile = R"({"brand": "test", "keys": [
    {"key": "#KEY", "type": "ui32", "value": 0},
    {"key": "TC0P", "type": "flt ", "value": 61.5},
    {"key": "TC1P", "type": "flt ", "value": 70.5},
    {"key": "Tg0f", "type": "flt ", "value": 55.5},
    {"key": "TH0a", "type": "sp78", "value": 38.5},
    {"key": "Ta0P", "type": "flt ", "value": 30.25}
]})";

TEST(SensorsRead, GroupsAreReadAfreshWithTheWindowAndHidFallbacks) {
    SimRig rig(kProfile);
    const Sensors sensors(1ms);
    ASSERT_EQ(sensors.groups.size(), 4U);
    rig.root.hwmon(0, "coretemp", 1, "52000", "Package id 0");
    rig.root.hwmon(0, "coretemp", 2, "60000", "Core 0");
    rig.root.hwmon(1, "BAT0", 1, "31500");

    EXPECT_EQ(
        sensors.read(),
        (Readings{
            .cpu = 70.5, .gpu = 55.5, .die = 52, .ssd = 38.5, .battery = 31.5, .airflow = 30.25}));

    // A value outside the window and an unreadable key both drop out of their group; an emptied
    // group falls back to the HID services, or to nothing.
    rig.machine.setValue("TC1P", 131.5);
    SimFaults faults;
    faults.read = {"Tg0f"};
    rig.machine.setFaults(faults);
    rig.machine.setValue("TH0a", 9.5);
    EXPECT_EQ(sensors.read(),
              (Readings{.cpu = 61.5, .die = 52, .battery = 31.5, .airflow = 30.25}));

    // Up to die + 25 the chip group is believed; above it the HID cores stand in.
    rig.machine.setValue("TC0P", 77);
    EXPECT_EQ(sensors.read(), (Readings{.cpu = 77, .die = 52, .battery = 31.5, .airflow = 30.25}));
    rig.machine.setValue("TC0P", 77.25);
    EXPECT_EQ(sensors.read().cpu, 60);
}

}  // namespace
