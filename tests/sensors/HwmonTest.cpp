#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CSMC/hid.h"
#include "CSMC/linux/Hwmon.h"
#include "SensorRoot.h"

namespace {

struct Slots {
    std::vector<char> names = std::vector<char>(64 * 8, '\x7f');
    std::vector<double> values = std::vector<double>(8, -1);

    int32_t fill(int32_t max) { return hid_temperatures(names.data(), values.data(), max); }
    std::string name(int k) const { return std::string(names.data() + 64 * k); }
};

TEST(Hwmon, ProductNamesCarryTheRoleWords) {
    const struct {
        const char* chip;
        const char* label;
        const char* product;
    } cases[] = {
        {"coretemp", "Package id 0", "CPU tdie coretemp Package id 0"},
        {"coretemp", "Core 3", "CPU coretemp Core 3"},
        {"coretemp", "Core", "coretemp Core"},
        {"k10temp", "Tctl", "CPU tdie k10temp Tctl"},
        {"k10temp", "Tdie", "CPU tdie k10temp Tdie"},
        {"zenpower", "Tdie", "CPU tdie zenpower Tdie"},
        {"k10temp", "Tccd1", "CPU k10temp Tccd1"},
        {"k10temp", "Tccd 2", "CPU k10temp Tccd 2"},
        {"amdgpu", "edge", "GPU amdgpu edge"},
        {"nouveau", "temp1", "GPU nouveau temp1"},
        {"i915", "temp1", "GPU i915 temp1"},
        {"radeon", "temp1", "GPU radeon temp1"},
        {"nvme", "Composite", "NAND nvme Composite"},
        {"drivetemp", "temp1", "NAND drivetemp temp1"},
        {"BAT0", "temp1", "battery BAT0 temp1"},
        {"macsmc_battery", "temp1", "battery macsmc_battery temp1"},
        {"acpitz", "temp1", "acpitz temp1"},
        {"iwlwifi_1", "temp1", "iwlwifi_1 temp1"},
        // Apple silicon's devicetree labels: only the battery needs a word of its own.
        {"macsmc_hwmon", "Battery Hotspot", "battery macsmc_hwmon Battery Hotspot"},
        {"macsmc_hwmon", "Battery Hotspot Temperature",
         "battery macsmc_hwmon Battery Hotspot Temperature"},
        {"macsmc_hwmon", "NAND Flash Temperature", "macsmc_hwmon NAND Flash Temperature"},
        {"macsmc_hwmon", "WiFi/BT Module Temp", "macsmc_hwmon WiFi/BT Module Temp"},
        {"BAT0", "Battery Hotspot", "battery BAT0 Battery Hotspot"},
        // Role words go by chip and label together: a Tctl from another chip is no die.
        {"nct6775", "Tctl", "nct6775 Tctl"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.chip) + " / " + c.label);
        EXPECT_EQ(Hwmon::productName(c.chip, c.label), c.product);
    }
}

TEST(Hwmon, ServicesAreOrderedNumericallyAndLabelledByDefault) {
    SensorRoot root;
    root.hwmon(10, "nvme", 1, "40000", "Composite");
    root.hwmon(2, "coretemp", 10, "52000", "Core 8");
    root.hwmon(2, "coretemp", 2, "50000", "Core 0");
    root.hwmon(2, "coretemp", 1, "55000", "Package id 0");
    root.hwmon(3, "acpitz", 1, "30000");
    root.write("sys/class/hwmon/hwmon4/temp1_input", "30000\n");  // no name: no services
    root.write("sys/class/hwmon/notes/name", "stray\n");
    root.write("sys/class/hwmon/hwmon2/temp3_max", "100000\n");

    std::vector<std::string> products;
    for (const auto& service : Hwmon::services(root.path())) products.push_back(service.product);
    EXPECT_EQ(products, (std::vector<std::string>{"CPU tdie coretemp Package id 0",
                                                  "CPU coretemp Core 0", "CPU coretemp Core 8",
                                                  "acpitz temp1", "NAND nvme Composite"}));
}

TEST(Hwmon, MillidegreeParsing) {
    EXPECT_EQ(Hwmon::parseMillidegrees("45500\n"), 45.5);
    EXPECT_EQ(Hwmon::parseMillidegrees("-2000"), -2.0);
    EXPECT_EQ(Hwmon::parseMillidegrees(""), std::nullopt);
    EXPECT_EQ(Hwmon::parseMillidegrees("45.5"), std::nullopt);
    EXPECT_EQ(Hwmon::parseMillidegrees("abc"), std::nullopt);
    EXPECT_EQ(Hwmon::parseMillidegrees("99999999999999999999"), std::nullopt);
}

TEST(HidTemperatures, FillsContiguousSlotsAndSkipsUnusableServices) {
    SensorRoot root;
    root.hwmon(0, "coretemp", 1, "61250", "Package id 0");
    root.hwmon(0, "coretemp", 2, "garbage", "Core 0");                      // no value: no slot
    root.hwmon(1, "acpitz", 1, "30000", std::string(63 - 7, 'x').c_str());  // 63 bytes: fits
    root.hwmon(2, "acpitz", 1, "31000", std::string(64 - 7, 'y').c_str());  // 64 bytes: skipped
    root.hwmon(3, "acpitz", 1, "32000", "bad \xff label");                  // not UTF-8: skipped
    root.hwmon(4, "nvme", 1, "38850", "Composite");
    root.hwmon(5, "nvme", 1, "39000", "Composite");  // same name twice: both kept

    Slots slots;
    ASSERT_EQ(slots.fill(8), 4);
    EXPECT_EQ(slots.name(0), "CPU tdie coretemp Package id 0");
    EXPECT_EQ(slots.values[0], 61.25);
    EXPECT_EQ(slots.name(1), "acpitz " + std::string(56, 'x'));
    EXPECT_EQ(slots.values[1], 30.0);
    EXPECT_EQ(slots.name(2), "NAND nvme Composite");
    EXPECT_EQ(slots.values[2], 38.85);
    EXPECT_EQ(slots.name(3), "NAND nvme Composite");
    EXPECT_EQ(slots.values[3], 39.0);
    EXPECT_EQ(slots.names[64 * 4], '\x7f');  // later slots untouched
    EXPECT_EQ(slots.values[4], -1);
}

TEST(HidTemperatures, RespectsMaxAndWritesNothingForZero) {
    SensorRoot root;
    for (int temp = 1; temp <= 3; ++temp) root.hwmon(0, "coretemp", temp, "50000");
    Slots slots;
    EXPECT_EQ(slots.fill(0), 0);
    EXPECT_EQ(slots.fill(-5), 0);
    EXPECT_EQ(slots.names[0], '\x7f');
    EXPECT_EQ(slots.values[0], -1);
    EXPECT_EQ(slots.fill(2), 2);
    EXPECT_EQ(slots.values[2], -1);
}

TEST(HidTemperatures, ServiceListIsKeptAndLookedForAgainWhileARoleIsMissing) {
    SensorRoot root;
    Slots slots;
    EXPECT_EQ(slots.fill(8), 0);  // nothing yet: not stored, so the next call looks again
    root.hwmon(0, "coretemp", 1, "50000", "Package id 0");
    EXPECT_EQ(slots.fill(8), 1);

    root.hwmon(1, "nvme", 1, "40000", "Composite");  // a late device: seen once a look is due
    EXPECT_EQ(slots.fill(8), 1);
    hid_advance_clock(2000);
    EXPECT_EQ(slots.fill(8), 2);
    root.write("sys/class/hwmon/hwmon0/temp1_input", "70000\n");  // values are read afresh
    EXPECT_EQ(slots.fill(8), 2);
    EXPECT_EQ(slots.values[0], 70.0);

    root.hwmon(2, "acpitz", 1, "30000");  // every role present: no more looks
    hid_advance_clock(60000);
    EXPECT_EQ(slots.fill(8), 2);

    // A device that re-registers under another number is found in the same call. A gone
    // device's attributes fail their reads; a plain file gives that with no text.
    root.write("sys/class/hwmon/hwmon1/temp1_input", "");
    std::filesystem::remove_all(root.path() / "sys/class/hwmon/hwmon1");
    root.hwmon(7, "nvme", 1, "40000", "Composite");
    ASSERT_EQ(slots.fill(8), 3);
    EXPECT_EQ(slots.name(2), "NAND nvme Composite");

    hid_reset_services();
    EXPECT_EQ(slots.fill(8), 3);
}

}  // namespace
