#include <gtest/gtest.h>

#include <cmath>

#include "SimTestSupport.h"

using simtest::request;

namespace {

// Curve of the test profile: 60 to 95 °C, fans stop below 60, 500 rpm/s.
double curveGoal(double chip, double min, double max) {
    if (chip < 60) return 0;
    return min + std::clamp((chip - 60) / 35, 0.0, 1.0) * (max - min);
}

void write(SimMachine& machine, std::string_view key, double value) {
    ASSERT_EQ(simtest::writeNumber(machine, key, value), 0) << key;
}

TEST(SimModel, AutomaticFansFollowTheSystemCurveOfTheChipTemperature) {
    SimMachine machine(simtest::profile(simtest::fanProfileJson()));
    EXPECT_EQ(machine.fans()[0].actual, 0.0) << "cool chip, fans stopped";
    machine.setLoad(1.0);
    machine.advance(120);
    const double chip = machine.chipTemperature();
    EXPECT_GT(chip, 60.0);
    for (const SimFanState& fan : machine.fans()) {
        EXPECT_FALSE(fan.manual);
        EXPECT_NEAR(fan.actual, curveGoal(chip, 1200, 6000), 1.0) << fan.index;
        EXPECT_NEAR(fan.target, fan.actual, 1.0) << "the target shows the system's choice";
    }
}

TEST(SimModel, ManualTargetNeedsModeAndUnlockAndIsApproachedAtABoundedRate) {
    SimMachine machine(simtest::profile(simtest::fanProfileJson()));
    write(machine, "F0Md", 1);
    write(machine, "F0Tg", 3000);
    machine.advance(5);
    EXPECT_FALSE(machine.fans()[0].manual) << "no unlock yet";
    EXPECT_EQ(machine.fans()[0].actual, 0.0);

    write(machine, "Ftst", 1);
    write(machine, "F0Tg", 3000);
    machine.advance(1.0);
    EXPECT_TRUE(machine.fans()[0].manual);
    EXPECT_NEAR(machine.fans()[0].actual, 500.0, 1e-3) << "500 rpm per second";
    EXPECT_EQ(machine.fans()[1].actual, 0.0) << "fan 1 is still automatic";
    machine.advance(10);
    EXPECT_NEAR(machine.fans()[0].actual, 3000.0, 1e-3);
    EXPECT_EQ(machine.fans()[0].target, 3000.0) << "the system leaves a manual target alone";

    write(machine, "Ftst", 0);  // locking hands the fan back even though its mode stays 1
    machine.advance(1.0);
    EXPECT_EQ(machine.fans()[0].mode, 1);
    EXPECT_FALSE(machine.fans()[0].manual);
    EXPECT_NEAR(machine.fans()[0].actual, 2500.0, 1e-3);
}

TEST(SimModel, WithoutAnUnlockKeyTheModeAloneDecides) {
    SimMachine machine(simtest::profile(simtest::fanProfileJson(false)));
    write(machine, "F1Md", 1);
    write(machine, "F1Tg", 100000);  // above the maximum
    machine.advance(30);
    EXPECT_TRUE(machine.fans()[1].manual);
    EXPECT_NEAR(machine.fans()[1].actual, 6000.0, 1e-3);
    write(machine, "F1Tg", 10);  // below the minimum
    machine.advance(30);
    EXPECT_NEAR(machine.fans()[1].actual, 1200.0, 1e-3);
}

TEST(SimModel, SleepSilencesTheSmcAndWakesWithEveryFanAutomatic) {
    SimMachine machine(simtest::profile(simtest::fanProfileJson()));
    write(machine, "Ftst", 1);
    write(machine, "F0Md", 1);
    write(machine, "F0Tg", 3000);
    machine.advance(10);
    ASSERT_TRUE(machine.fans()[0].manual);

    machine.sleep(4);
    smc_param reply;
    EXPECT_EQ(machine.exchange(request(SMC_CMD_READ_BYTES, "F0Ac", 4), reply), SMC_STATUS_IO_ERROR);
    machine.advance(3.9);
    EXPECT_GT(machine.sleepLeft(), 0.0);
    EXPECT_LT(machine.fans()[0].actual, 3000.0 - 1900.0) << "asleep, the fans spin down";
    machine.advance(0.2);
    EXPECT_EQ(machine.sleepLeft(), 0.0);
    EXPECT_EQ(machine.exchange(request(SMC_CMD_READ_BYTES, "F0Ac", 4), reply), 0);
    EXPECT_EQ(machine.fans()[0].mode, 0);
    EXPECT_EQ(machine.value("Ftst"), 0.0);
    EXPECT_FALSE(machine.fans()[0].manual);
}

TEST(SimModel, SecondWriterHoldsItsFanUntilItLetsGo) {
    SimMachine machine(simtest::profile(simtest::fanProfileJson()));
    SimControl control = machine.control();
    control.takes[1] = 2500;
    ASSERT_EQ(machine.setControl(control), "");
    write(machine, "F1Tg", 4000);  // someone else's write lasts until the writer's next tick
    machine.advance(10);
    EXPECT_TRUE(machine.fans()[1].manual);
    EXPECT_NEAR(machine.fans()[1].actual, 2500.0, 1e-3);
    EXPECT_FALSE(machine.fans()[0].manual);

    control.takes.clear();
    ASSERT_EQ(machine.setControl(control), "");
    EXPECT_EQ(machine.fans()[1].mode, 0);
    control.takes[7] = 2000;
    EXPECT_EQ(machine.setControl(control), "\"take\": no fan 7");
}

TEST(SimModel, ChipHeatsWithLoadAndCoolsWithFanSpeed) {
    SimMachine still(simtest::profile(simtest::fanProfileJson()));
    SimMachine blowing(simtest::profile(simtest::fanProfileJson()));
    const double idle = still.chipTemperature();
    for (SimMachine* machine : {&still, &blowing}) machine->setLoad(1.0);
    ASSERT_TRUE(still.pin("F0Ac", 0) && still.pin("F1Ac", 0));
    ASSERT_TRUE(blowing.pin("F0Ac", 6000) && blowing.pin("F1Ac", 6000));
    still.advance(60);
    blowing.advance(60);
    EXPECT_GT(still.chipTemperature(), idle + 30);
    EXPECT_LT(blowing.chipTemperature(), still.chipTemperature() - 20);
    EXPECT_EQ(still.value("F0Ac"), 0.0) << "pinned keys hold";
    EXPECT_GT(*still.value("Tf04"), *blowing.value("Tf04"));
}

TEST(SimModel, FanlessChipStopsAtItsThrottlePoint) {
    SimMachine machine("mba13-m2");
    EXPECT_TRUE(machine.fans().empty());
    machine.setLoad(1.0);
    machine.setAmbient(35);
    machine.advance(300);
    EXPECT_LE(machine.chipTemperature(), machine.profile().thermal.throttle);
    EXPECT_GT(machine.chipTemperature(), machine.profile().thermal.throttle - 1);
}

class SimModelProfiles : public ::testing::TestWithParam<const char*> {};

TEST_P(SimModelProfiles, EveryAnimatedTemperatureCarriesAFraction) {
    SimMachine machine(GetParam());
    for (double load : {0.0, 0.25, 0.5, 1.0}) {
        machine.setLoad(load);
        for (int tick = 0; tick < 40; ++tick) {
            machine.advance(0.25);
            for (const SimKey& key : machine.profile().keys) {
                if (!key.follow) continue;
                const double v = *machine.value(key.name);
                EXPECT_NE(v, std::round(v)) << key.name << " at load " << load;
                EXPECT_GT(v, 10.0) << key.name;
                EXPECT_LT(v, 130.0) << key.name;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Builtin, SimModelProfiles,
                         ::testing::Values("mbp14-m3pro", "mba13-m2", "mbp16-intel-t2"),
                         [](const auto& c) {
                             std::string name = c.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(SimModel, PinnedTemperatureHoldsAndUnpinnedOneMovesAgain) {
    SimMachine machine(simtest::profile(simtest::fanProfileJson()));
    ASSERT_TRUE(machine.pin("Tf04", 99.5));
    EXPECT_EQ(machine.value("Tf04"), 99.5) << "a pin takes effect at once";
    machine.setLoad(0);
    machine.advance(20);
    EXPECT_EQ(machine.value("Tf04"), 99.5);
    machine.unpin("Tf04");
    machine.advance(0.1);
    EXPECT_LT(*machine.value("Tf04"), 60.0);
    EXPECT_FALSE(machine.pin("ZZZZ", 1)) << "unknown key";
    EXPECT_FALSE(machine.pin("RPlt", 1)) << "a text key holds no number";
}

TEST(SimModel, NegativeOrZeroAdvanceChangesNothing) {
    SimMachine machine(simtest::profile(simtest::fanProfileJson()));
    const auto before = machine.bytes("Tf04");
    machine.advance(-5);
    machine.advance(0);
    machine.advance(std::nan(""));
    EXPECT_EQ(machine.time(), 0.0);
    EXPECT_EQ(machine.bytes("Tf04"), before);
}

}  // namespace
