#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "FanCore/Sensors/Power.h"
#include "SensorRoot.h"

namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

void supply(const SensorRoot& root, const std::string& name, const Attributes& attributes) {
    for (const auto& [attribute, value] : attributes) {
        root.write("sys/class/power_supply/" + name + "/" + attribute, value + "\n");
    }
}

TEST(Power, LaptopOnMainsCharging) {
    SensorRoot root;
    supply(root, "ADP1", {{"type", "Mains"}, {"online", "1"}});
    supply(root, "BAT0",
           {{"type", "Battery"}, {"scope", "System"}, {"status", "Charging"}, {"capacity", "57"}});
    EXPECT_EQ(Power::state(), (PowerState{.onAC = true, .charging = true, .percent = 57}));
}

TEST(Power, FullOnMainsIsNotCharging) {
    SensorRoot root;
    supply(root, "macsmc-ac", {{"type", "Mains"}, {"online", "1"}});
    supply(root, "macsmc-battery", {{"type", "Battery"}, {"status", "Full"}, {"capacity", "100"}});
    EXPECT_EQ(Power::state(), (PowerState{.onAC = true, .charging = false, .percent = 100}));
}

TEST(Power, OnBatteryWithTheAdapterUnplugged) {
    SensorRoot root;
    supply(root, "AC", {{"type", "Mains"}, {"online", "0"}});
    supply(root, "ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "0"}});
    supply(root, "BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "80"}});
    EXPECT_EQ(Power::state(), (PowerState{.onAC = false, .charging = false, .percent = 80}));
}

TEST(Power, UsbCPowerCountsAsMains) {
    SensorRoot root;
    supply(root, "ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "1"}});
    supply(root, "BAT0", {{"type", "Battery"}, {"status", "Charging"}, {"capacity", "12"}});
    EXPECT_EQ(Power::state(), (PowerState{.onAC = true, .charging = true, .percent = 12}));
}

TEST(Power, DesktopWithoutBatteryReportsDefaultsEvenOnMains) {
    SensorRoot root;
    supply(root, "AC", {{"type", "Mains"}, {"online", "1"}});
    EXPECT_EQ(Power::state(), PowerState{});
}

TEST(Power, NoPowerSupplyFolderReportsDefaults) {
    SensorRoot root;
    EXPECT_EQ(Power::state(), PowerState{});
}

TEST(Power, DeviceScopeBatteryIsIgnored) {
    SensorRoot root;
    supply(root, "AC", {{"type", "Mains"}, {"online", "1"}});
    supply(root, "hid-00:11:22:33:44:55-battery",
           {{"type", "Battery"}, {"scope", "Device"}, {"status", "Charging"}, {"capacity", "40"}});
    EXPECT_EQ(Power::state(), PowerState{});

    supply(root, "BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "90"}});
    EXPECT_EQ(Power::state(), (PowerState{.onAC = true, .charging = false, .percent = 90}));
}

TEST(Power, MissingOrUnreadableCapacityLeavesPercentAbsent) {
    for (const char* capacity : {"", "n/a", "57.5", "99999999999999999999"}) {
        SCOPED_TRACE(capacity);
        SensorRoot root;
        supply(root, "AC", {{"type", "Mains"}, {"online", "1"}});
        Attributes battery = {{"type", "Battery"}, {"status", "Charging"}};
        if (capacity[0] != '\0') battery.emplace_back("capacity", capacity);
        supply(root, "BAT0", battery);
        EXPECT_EQ(Power::state(), (PowerState{.onAC = true, .charging = true}));
    }
}

TEST(Power, TheLastInternalBatteryInNameOrderWins) {
    SensorRoot root;
    supply(root, "BAT1", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "30"}});
    supply(root, "BAT0", {{"type", "Battery"}, {"status", "Charging"}, {"capacity", "95"}});
    EXPECT_EQ(Power::state(), (PowerState{.onAC = false, .charging = false, .percent = 30}));
}

}  // namespace
