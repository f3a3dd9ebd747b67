#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <ostream>

#include "CSMC/CpuBrand.h"
#include "CSMC/PowerSupply.h"
#include "CSMC/linux/Hwmon.h"
#include "FanCore/Sensors/Chip.h"
#include "SimTestSupport.h"
#include "sim/SimAppleSmc.h"
#include "sim/SimFile.h"
#include "sim/SimSysfs.h"

namespace {

// What a reader holding `fd` open reads again from offset 0.
std::string preadAll(int fd) {
    char buffer[256];
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
    return n < 0 ? "error" : std::string(buffer, static_cast<size_t>(n));
}

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

    const std::filesystem::path composite = root.path() / "sys/class/hwmon/hwmon2/temp1_input";
    const int kept = ::open(composite.c_str(), O_RDONLY);
    SimControl control = machine.control();
    control.hid["Composite"] = 70;
    ASSERT_EQ(machine.setControl(control), "");
    ASSERT_TRUE(sysfs.update(machine, error));
    EXPECT_EQ(preadAll(kept), "70000\n") << "a pinned value is published exactly, in place";
    ::close(kept);

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

struct Rewrite {
    const char* before;  // nullptr: no file yet
    const char* after;
    mode_t mode;
};

TEST(SimFile, UpdateKeepsTheInodeLeavesExactlyTheNewTextAndSetsTheMode) {
    support::TempDir dir;
    const std::filesystem::path file = dir.path() / "fan1_input";
    for (const Rewrite& c : {Rewrite{nullptr, "1200\n", 0444}, Rewrite{"1200\n", "980\n", 0444},
                             Rewrite{"980\n", "45000\n", 0644}, Rewrite{"45000\n", "", 0644},
                             Rewrite{"12\n", "12\n", 0444}}) {
        std::string error;
        if (c.before != nullptr) {
            ASSERT_TRUE(SimFile::update(file, c.before, error, 0444));
        }
        const int kept = ::open(file.c_str(), O_RDONLY | O_CREAT, 0444);
        ASSERT_TRUE(SimFile::update(file, c.after, error, c.mode)) << error;
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(preadAll(kept), c.after) << c.after;
        EXPECT_EQ(info.st_mode & 07777, c.mode) << c.after;
        ::close(kept);
    }
}

// A read of a fan or temperature file is the driver's read of its SMC key; the simulator's own
// look at a client's write is not.
struct DriverReads {
    std::vector<const char*> files;
    uint64_t reads;
};

TEST(SimAppleSmc, EachReadOfAKeysFileCountsOneSmcRead) {
    for (const DriverReads& c :
         {DriverReads{{"fan1_input"}, 1},
          DriverReads{{"temp1_input", "fan1_min", "fan1_max", "fan1_output", "fan1_manual"}, 5},
          DriverReads{{"fan1_input", "temp1_input", "fan1_input"}, 3},
          DriverReads{{"fan1_label", "temp1_label", "key_count", "name"}, 0}}) {
        support::TempDir root;
        SimMachine machine("mbp13-intel-applesmc");
        std::string error;
        const auto driver = SimAppleSmc::publish(root.path(), machine, error);
        ASSERT_TRUE(driver) << error;
        const uint64_t before = machine.counts().read;
        for (const char* name : c.files) {
            const int fd = ::open((SimAppleSmc::folder(root.path()) / name).c_str(), O_RDONLY);
            EXPECT_NE(preadAll(fd), "") << name;
            ::close(fd);
        }
        ASSERT_TRUE(driver->update(error)) << error;
        EXPECT_EQ(machine.counts().read - before, c.reads) << c.files.front();
    }
}

TEST(SimAppleSmc, FilesKeepTheirInodeAndARefusedReadShowsNothing) {
    support::TempDir root;
    SimMachine machine("mbp13-intel-applesmc");
    std::string error;
    const auto driver = SimAppleSmc::publish(root.path(), machine, error);
    ASSERT_TRUE(driver) << error;
    const std::filesystem::path folder = SimAppleSmc::folder(root.path());
    const int temperature = ::open((folder / "temp1_input").c_str(), O_RDONLY);
    const std::string key = support::readText(folder / "temp1_label").substr(0, 4);
    SimControl control = machine.control();
    control.pins[key] = 50.3;
    ASSERT_EQ(machine.setControl(control), "");
    ASSERT_TRUE(driver->update(error)) << error;
    const uint64_t reads = machine.counts().read;
    EXPECT_EQ(preadAll(temperature), "50250\n");

    for (int write = 0; write < 2; ++write) {
        support::writeText(folder / "fan1_output", "3000");
        ASSERT_TRUE(driver->update(error)) << error;
    }
    EXPECT_EQ(machine.value("F0Tg"), 3000.0);
    EXPECT_EQ(machine.writes().size(), 2u) << "a write of the same value reaches the SMC too";
    control.faults.read = {key};
    ASSERT_EQ(machine.setControl(control), "");
    ASSERT_TRUE(driver->update(error)) << error;
    EXPECT_EQ(preadAll(temperature), "");
    EXPECT_EQ(machine.counts().read, reads + 1) << "the simulator's own reads are not a client's";
    ::close(temperature);
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
