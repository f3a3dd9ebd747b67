#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

#include "CSMC/linux/CpuBrand.h"
#include "CSMC/linux/Hwmon.h"
#include "CSMC/linux/PowerSupply.h"
#include "FanCore/Sensors/Chip.h"
#include "SimTestSupport.h"
#include "sim/SimSysfs.h"

namespace {

struct Machine {
    const char* profile;
    const char* brand;
    std::optional<int64_t> generation;
    std::vector<std::string> names;  // product names the readers must find
    const char* battery;
};

// Names the case in test output, where gtest would otherwise dump the struct's bytes.
inline void PrintTo(const Machine& c, std::ostream* out) { *out << c.profile; }

class SimSysfsPublishes : public ::testing::TestWithParam<Machine> {};

TEST_P(SimSysfsPublishes, WhatTheLinuxReadersTurnBackIntoTheProfile) {
    support::TempDir root;
    SimMachine machine(GetParam().profile);
    SimSysfs sysfs(root.path());
    std::string error;
    ASSERT_TRUE(sysfs.prepare(machine, error)) << error;

    const std::string brand = CpuBrand::read(root.path());
    EXPECT_EQ(brand, GetParam().brand);
    EXPECT_EQ(Chip::generationOf(brand), GetParam().generation);

    std::vector<std::string> names;
    for (const Hwmon::Service& service : Hwmon::services(root.path())) {
        names.push_back(service.product);
        const auto celsius = Hwmon::celsius(service);
        ASSERT_TRUE(celsius) << service.product;
        EXPECT_GT(*celsius, 10);
        EXPECT_LT(*celsius, 130);
        EXPECT_NE(*celsius, std::round(*celsius)) << service.product;
    }
    EXPECT_EQ(names, GetParam().names);

    const auto sources = PowerSupply::sources(root.path());
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources[0].name, GetParam().battery);
    EXPECT_TRUE(sources[0].internalBattery);
    EXPECT_EQ(sources[0].acPower, machine.control().charger);
    EXPECT_EQ(sources[0].charging, machine.charging());
    EXPECT_EQ(sources[0].capacity, std::lround(machine.control().battery));
}

INSTANTIATE_TEST_SUITE_P(
    Machines, SimSysfsPublishes,
    ::testing::Values(
        Machine{"mbp14-m3pro",
                "Apple M3 Pro",
                3,
                {"macsmc_hwmon PMU tdie1", "macsmc_hwmon PMU tdie2",
                 "macsmc_hwmon pACC MTR Temp Sensor0", "macsmc_hwmon eACC MTR Temp Sensor0",
                 "macsmc_hwmon GPU MTR Temp Sensor1", "macsmc_hwmon NAND CH0 temp",
                 "battery macsmc_battery temp1"},
                "macsmc-battery"},
        Machine{"mba13-m2",
                "Apple M2",
                2,
                {"macsmc_hwmon PMU tdie1", "macsmc_hwmon pACC MTR Temp Sensor0",
                 "macsmc_hwmon GPU MTR Temp Sensor1", "macsmc_hwmon NAND CH0 temp",
                 "battery macsmc_battery temp1"},
                "macsmc-battery"},
        Machine{"mbp16-intel-t2",
                "Intel(R) Core(TM) i9-9880H CPU @ 2.30GHz",
                std::nullopt,
                {"CPU tdie coretemp Package id 0", "CPU coretemp Core 0", "CPU coretemp Core 1",
                 "CPU coretemp Core 2", "CPU coretemp Core 3", "GPU amdgpu edge",
                 "GPU amdgpu junction", "NAND nvme Composite", "battery BAT0 temp1"},
                "BAT0"}),
    [](const auto& c) {
        std::string name = c.param.profile;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST(SimSysfs, UpdateFollowsChargerBatteryAndHidPins) {
    support::TempDir root;
    SimMachine machine("mbp16-intel-t2");
    SimSysfs sysfs(root.path());
    std::string error;
    ASSERT_TRUE(sysfs.prepare(machine, error)) << error;
    const std::filesystem::path battery = root.path() / "sys/class/power_supply/BAT0";

    struct Step {
        bool charger;
        double percent;
        const char* status;
    };
    for (const Step& step : {Step{true, 50, "Charging\n"}, Step{true, 100, "Full\n"},
                             Step{false, 42.4, "Discharging\n"}}) {
        machine.setCharger(step.charger);
        machine.setBattery(step.percent);
        ASSERT_TRUE(sysfs.update(machine, error)) << error;
        EXPECT_EQ(support::readText(battery / "status"), step.status);
        EXPECT_EQ(support::readText(battery / "capacity"),
                  std::to_string(std::lround(step.percent)) + "\n");
        EXPECT_EQ(support::readText(root.path() / "sys/class/power_supply/ADP1/online"),
                  step.charger ? "1\n" : "0\n");
    }

    SimControl control = machine.control();
    control.hid["Composite"] = 70;
    ASSERT_EQ(machine.setControl(control), "");
    ASSERT_TRUE(sysfs.update(machine, error));
    EXPECT_EQ(support::readText(root.path() / "sys/class/hwmon/hwmon2/temp1_input"), "70000\n")
        << "a pinned value is published exactly";

    // A device held absent goes; a move registers the others again past the old numbers.
    control.hwmonAbsent = {"nvme"};
    control.hwmonMoves = 1;
    ASSERT_EQ(machine.setControl(control), "");
    ASSERT_TRUE(sysfs.update(machine, error));
    std::vector<unsigned long> numbers;
    for (const Hwmon::Service& s : Hwmon::services(root.path())) numbers.push_back(s.hwmon);
    EXPECT_EQ(numbers, (std::vector<unsigned long>{5, 5, 5, 5, 5, 6, 6, 8}));
}

TEST(SimSysfs, PrepareReplacesWhatAnEarlierProfileLeft) {
    support::TempDir root;
    std::string error;
    SimMachine apple("mbp14-m3pro");
    ASSERT_TRUE(SimSysfs(root.path()).prepare(apple, error)) << error;
    std::filesystem::create_directories(root.path() / "sys/class/hwmon/hwmon9");
    support::writeText(root.path() / "sys/class/hwmon/hwmon9/name", "stale\n");

    SimMachine intel("mbp16-intel-t2");
    ASSERT_TRUE(SimSysfs(root.path()).prepare(intel, error)) << error;
    EXPECT_FALSE(std::filesystem::exists(root.path() / "sys/class/hwmon/hwmon9"));
    EXPECT_FALSE(std::filesystem::exists(root.path() / "sys/class/power_supply/macsmc-battery"));
    EXPECT_FALSE(std::filesystem::exists(root.path() / "sys/firmware/devicetree/base/model"));
    EXPECT_EQ(CpuBrand::read(root.path()), intel.profile().brand);
}

TEST(SimSysfs, ModelledMillidegreesNeverLandOnAWholeDegree) {
    EXPECT_EQ(SimSysfs::millidegrees(45.0, false), 45063);
    EXPECT_EQ(SimSysfs::millidegrees(45.0, true), 45000);
    EXPECT_EQ(SimSysfs::millidegrees(45.2504, false), 45250);
    EXPECT_EQ(SimSysfs::millidegrees(-3.0, false), -2937);
}

TEST(SimSysfs, ArmCpuinfoNamesNoModelSoTheDeviceTreeDecides) {
    SimProfile profile = *SimProfile::load("mbp14-m3pro").profile;
    EXPECT_EQ(CpuBrand::fromCpuinfo(SimSysfs::cpuinfo(profile)), "");
    profile.arch = "x86_64";
    EXPECT_EQ(CpuBrand::fromCpuinfo(SimSysfs::cpuinfo(profile)), "Apple M3 Pro");
}

}  // namespace
