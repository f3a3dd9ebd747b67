#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "FanCore/Sensors/Power.h"
#include "TempRoot.h"

namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

void supply(const TempRoot& root, const std::string& name, const Attributes& attributes) {
    for (const auto& [attribute, value] : attributes) {
        root.write("sys/class/power_supply/" + name + "/" + attribute, value + "\n");
    }
}

TEST(Power, LaptopOnMainsCharging) {
    TempRoot root;
    supply(root, "ADP1", {{"type", "Mains"}, {"online", "1"}});
    supply(root, "BAT0",
           {{"type", "Battery"}, {"scope", "System"}, {"status", "Charging"}, {"capacity", "57"}});
    EXPECT_EQ(Power::state(), (PowerState{.onAC = true, .charging = true, .percent = 57}));
}

TEST(Power, FullOnMainsIsNotCharging) {
    TempRoot root;
    supply(root, "macsmc-ac", {{"type", "Mains"}, {"online", "1"}});
    supply(root, "macsmc-battery", {{"type", "Battery"}, {"status", "Full"}, {"capacity", "100"}});
    EXPECT_EQ(Power::state(), (PowerState{.onAC = true, .charging = false, .percent = 100}));
}

TEST(Power, OnBatteryWithTheAdapterUnplugged) {
    TempRoot root;
    supply(root, "AC", {{"type", "Mains"}, {"online", "0"}});
    supply(root, "ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "0"}});
    supply(root, "BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "80"}});
    EXPECT_EQ(Power::state(), (PowerState{.onAC = false, .charging = false, .percent = 80}));
}

TEST(Power, UsbCPowerCountsAsMains) {
    TempRoot root;
    supply(root, "ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "1"}});
    supply(root, "BAT0", {{"type", "Battery"}, {"status", "Charging"}, {"capacity", "12"}});
    EXPECT_EQ(Power::state(), (PowerState{.onAC = true, .charging = true, .percent = 12}));
}

TEST(Power, DesktopWithoutBatteryReportsDefaultsEvenOnMains) {
    TempRoot root;
    supply(root, "AC", {{"type", "Mains"}, {"online", "1"}});
    EXPECT_EQ(Power::state(), PowerState{});
}

TEST(Power, NoPowerSupplyFolderReportsDefaults) {
    TempRoot root;
    EXPECT_EQ(Power::state(), PowerState{});
}

TEST(Power, DeviceScopeBatteryIsIgnored) {
    TempRoot root;
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
        TempRoot root;
        supply(root, "AC", {{"type", "Mains"}, {"online", "1"}});
        Attributes battery = {{"type", "Battery"}, {"status", "Charging"}};
        if (capacity[0] != '\0') battery.emplace_back("capacity", capacity);
        supply(root, "BAT0", battery);
        EXPECT_EQ(Power::state(), (PowerState{.onAC = true, .charging = true}));
    }
}

TEST(Power, TheLastInternalBatteryInNameOrderWins) {
    TempRoot root;
    supply(root, "BAT1", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "30"}});
    supply(root, "BAT0", {{"type", "Battery"}, {"status", "Charging"}, {"capacity", "95"}});
    EXPECT_EQ(Power::state(), (PowerState{.onAC = false, .charging = false, .percent = 30}));
}

}  // namespace
