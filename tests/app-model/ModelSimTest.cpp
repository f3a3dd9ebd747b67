// The model over a simulated Mac in process: SimMachine behind the SMC seam, its sysfs files in
// the sandbox root.

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "AppSandbox.h"
#include "FanCore/Policy/Measurements.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/Status.h"
#include "Tarnwick/model/DemoReadings.h"
#include "sim/SimMachine.h"
#include "sim/SimSysfs.h"
#include "sim/SimTransport.h"

namespace {

class SimulatedMac : public ::testing::Test {
  protected:
    void start(const char* profile) {
        machine = std::make_unique<SimMachine>(profile);
        smc_set_transport_factory(SimTransport::factory(*machine));
        std::string error;
        ASSERT_TRUE(sysfs.prepare(*machine, error)) << error;
        publish();
    }
    void publish() {
        std::string error;
        ASSERT_TRUE(sysfs.update(*machine, error)) << error;
    }
    void expectSameFans(const Model& model) const {
        const std::vector<SimFanState> truth = machine->fans();
        ASSERT_EQ(model.fans().size(), truth.size());
        for (size_t i = 0; i < truth.size(); ++i) {
            const Fan& fan = model.fans()[i];
            EXPECT_EQ(fan.index, truth[i].index);
            // The SMC carries speeds as 32-bit floats.
            EXPECT_NEAR(fan.actual, truth[i].actual, 0.01);
            EXPECT_NEAR(fan.target, truth[i].target, 0.01);
            EXPECT_EQ(fan.mode, truth[i].mode);
            EXPECT_EQ(fan.min, truth[i].min);
            EXPECT_EQ(fan.max, truth[i].max);
        }
    }

    AppSandbox sandbox;
    SimSysfs sysfs{sandbox.root()};
    std::unique_ptr<SimMachine> machine;
};

TEST_F(SimulatedMac, ModelSeesFansAndTemperatures) {
    start("mbp14-m3pro");
    machine->setLoad(1.0);
    machine->advance(120);
    publish();
    Model model{sandbox.options()};
    expectSameFans(model);
    EXPECT_GT(model.topRPM(), 1000.0);
    ASSERT_TRUE(model.readings().cpu.has_value());
    // Every chip sensor of the profile follows the chip within a few degrees.
    EXPECT_NEAR(*model.readings().cpu, machine->chipTemperature(), 5.0);
    EXPECT_TRUE(model.readings().battery.has_value());
    EXPECT_TRUE(model.hasBattery());
    EXPECT_EQ(model.modeLine(), QStringLiteral("fan control not installed"));

    machine->setLoad(0.0);
    machine->advance(30);
    publish();
    model.refresh();
    expectSameFans(model);
}

TEST_F(SimulatedMac, NoFansWhateverTheDaemonDoes) {
    start("mbp14-m3pro");
    writeFile(Paths::daemonUnitLink(), "[Unit]\n");
    Status status;
    status.updated = sandbox.now;
    status.manual = true;
    status.targetRPM = 4000;
    status.reason = "chip 90 \u00b0C";
    std::filesystem::create_directories(Paths::statusDir());
    ASSERT_TRUE(status.save().has_value());

    Model model{sandbox.options({"tarnwick", "--no-fans"})};
    EXPECT_TRUE(model.fans().empty());
    EXPECT_EQ(model.modeLine(), QStringLiteral("no fans"));
    EXPECT_EQ(model.level(), 0);
    EXPECT_EQ(model.topRPM(), 0.0);
    EXPECT_EQ(model.speedFraction(), 0.0);
    EXPECT_EQ(model.minRPM(), 1000.0);
    EXPECT_EQ(model.maxRPM(), 6000.0);
    EXPECT_TRUE(model.readings().cpu.has_value());
}

TEST_F(SimulatedMac, DemoHotStopsEveryFanAndFixesReadings) {
    start("mbp14-m3pro");
    machine->setLoad(1.0);
    machine->advance(120);
    publish();
    Model model{sandbox.options({"tarnwick", "--demo", "hot"})};
    const std::vector<SimFanState> truth = machine->fans();
    ASSERT_EQ(model.fans().size(), truth.size());
    for (size_t i = 0; i < truth.size(); ++i) {
        const Fan& fan = model.fans()[i];
        EXPECT_GT(truth[i].actual, 0.0);
        EXPECT_EQ(fan.actual, 0.0);
        EXPECT_EQ(fan.target, 0.0);
        EXPECT_EQ(fan.mode, 0);
        EXPECT_EQ(fan.index, truth[i].index);
        EXPECT_EQ(fan.min, truth[i].min);
        EXPECT_EQ(fan.max, truth[i].max);
    }
    EXPECT_EQ(model.readings(), demoReadings("hot"));
    EXPECT_EQ(model.level(), 0);
    model.refresh();
    EXPECT_EQ(model.readings(), demoReadings("hot"));
}

TEST_F(SimulatedMac, FanlessMachine) {
    start("mba13-m2");
    Model model{sandbox.options()};
    EXPECT_TRUE(model.fans().empty());
    EXPECT_EQ(model.modeLine(), QStringLiteral("no fans"));
    EXPECT_TRUE(model.readings().cpu.has_value());
}

struct MeasuredCase {
    const char* name;
    std::optional<double> age;  // seconds before now; absent: no file
    bool garbage;
    bool used;
};

class DaemonMeasurements : public SimulatedMac,
                           public ::testing::WithParamInterface<MeasuredCase> {};

// The daemon's measurements stand in for the hardware while they are fresh; otherwise the model
// reads the simulated Mac itself.
TEST_P(DaemonMeasurements, UsedOnlyWhileFresh) {
    const MeasuredCase& c = GetParam();
    start("mbp16-intel-t2");
    std::filesystem::create_directories(Paths::statusDir());
    Fan fan;
    fan.actual = 3210;
    fan.min = 1200;
    fan.max = 6000;
    const Measurements published{sandbox.now - c.age.value_or(0),
                                 Readings{.cpu = 77.5},
                                 {fan},
                                 PowerState{.onAC = false, .charging = false, .percent = 42}};
    if (c.garbage) writeFile(Paths::measurements(), R"({"updated":)");
    if (c.age && !c.garbage) {
        ASSERT_TRUE(published.save().has_value());
    }

    Model model{sandbox.options()};
    EXPECT_EQ(model.measuredAt(), c.used ? std::optional(published.updated) : std::nullopt);
    if (c.used) {
        EXPECT_EQ(model.readings(), published.readings);
        EXPECT_EQ(model.fans(), published.fans);
        EXPECT_EQ(model.power(), published.power);
    } else {
        expectSameFans(model);
        EXPECT_NE(model.readings().cpu, 77.5);
        EXPECT_TRUE(model.readings().ssd.has_value());
        EXPECT_EQ(model.power().percent, 91);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, DaemonMeasurements,
                         ::testing::Values(MeasuredCase{"absent", std::nullopt, false, false},
                                           MeasuredCase{"fresh", 4.5, false, true},
                                           MeasuredCase{"stale", 5.5, false, false},
                                           MeasuredCase{"fromTheFuture", -5.5, false, false},
                                           MeasuredCase{"garbage", 1.0, true, false}),
                         CaseName());

}  // namespace
