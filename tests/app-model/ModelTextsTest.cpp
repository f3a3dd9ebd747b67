// The texts and numbers the model derives from fans, status, settings and readings.

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "AppSandbox.h"
#include "FanCore/Policy/Platform.h"
#include "support/MakeFan.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const std::string kOs(Platform::baselineName);

Fan fan(double actual, double min = 1200, double max = 6000, int64_t index = 0) {
    return support::makeFan(index, actual, min, max);
}

class ModelTexts : public ::testing::Test {
  protected:
    AppSandbox sandbox;
    Model model{sandbox.options()};
};

enum class Age { none, fresh, stale, future };

struct ModeCase {
    const char* name;
    bool withFans;
    bool installed;
    Age age;
    std::optional<std::string> error;
    bool manual;
    double target;
    std::string expected;
    std::optional<Driver> driver = std::nullopt;
};

class ModeLine : public ModelTexts, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeLine, FirstMatchingRowWins) {
    const ModeCase& c = GetParam();
    model.setFans(c.withFans ? std::vector<Fan>{fan(2000)} : std::vector<Fan>{});
    model.setHelperInstalled(c.installed);
    if (c.age != Age::none) {
        Status status;
        status.updated = c.age == Age::fresh   ? sandbox.now - 9.9
                         : c.age == Age::stale ? sandbox.now - 10.0
                                               : sandbox.now + 3600.0;
        status.manual = c.manual;
        status.targetRPM = c.target;
        status.reason = "chip 97 \u00b0C";
        status.error = c.error;
        status.driver = c.driver;
        model.setStatus(status);
    } else {
        model.setStatus(std::nullopt);
    }
    EXPECT_EQ(model.modeLine().toStdString(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModeLine,
    ::testing::Values(
        ModeCase{"noFansWinsOverEverything", false, true, Age::fresh, "SMC write failed", true,
                 3000, "no fans"},
        ModeCase{"notInstalledIgnoresStatus", true, false, Age::fresh, std::nullopt, true, 3000,
                 "fan control not installed"},
        ModeCase{"installedWithoutStatus", true, true, Age::none, std::nullopt, false, 0,
                 "fan control not running"},
        ModeCase{"statusTenSecondsOld", true, true, Age::stale, std::nullopt, true, 3000,
                 "fan control not running"},
        ModeCase{"staleErrorIsNotShown", true, true, Age::stale, "SMC write failed", false, 0,
                 "fan control not running"},
        ModeCase{"freshAutomatic", true, true, Age::fresh, std::nullopt, false, 0,
                 kOs + " in control"},
        ModeCase{"farFutureStampIsNotRunning", true, true, Age::future, std::nullopt, false, 0,
                 "fan control not running"},
        ModeCase{"errorBeatsManual", true, true, Age::fresh, "SMC write failed", true, 3000,
                 "SMC write failed"},
        ModeCase{"sleepingBeatsStaleManual", true, true, Age::fresh, std::nullopt, true, 3000,
                 "tarnwick paused for sleep", Driver::sleeping},
        ModeCase{"overriddenNamesWhatHappened", true, true, Age::fresh, std::nullopt, true, 3000,
                 "tarnwick overridden \u00b7 chip 97 \u00b0C", Driver::overridden},
        ModeCase{"handingBackNamesTheError", true, true, Age::fresh, "SMC write failed", true, 3000,
                 "tarnwick handing back \u00b7 SMC write failed", Driver::handingBack},
        ModeCase{"staleSleepIsNotRunning", true, true, Age::stale, std::nullopt, false, 0,
                 "fan control not running", Driver::sleeping},
        ModeCase{"systemDriverSaysSo", true, true, Age::fresh, std::nullopt, false, 0,
                 kOs + " in control", Driver::system},
        ModeCase{"manualTruncatesTarget", true, true, Age::fresh, std::nullopt, true, 945.9,
                 "tarnwick: 945 rpm \u00b7 chip 97 \u00b0C"},
        ModeCase{"manualNegativeFractionTruncatesToZero", true, true, Age::fresh, std::nullopt,
                 true, -0.5, "tarnwick: 0 rpm \u00b7 chip 97 \u00b0C"},
        ModeCase{"manualLargestWholeTarget", true, true, Age::fresh, std::nullopt, true, 9.2e18,
                 "tarnwick: 9200000000000000000 rpm \u00b7 chip 97 \u00b0C"},
        ModeCase{"manualTargetNaN", true, true, Age::fresh, std::nullopt, true, kNaN,
                 "tarnwick: \u2013 rpm \u00b7 chip 97 \u00b0C"},
        ModeCase{"manualTargetInfinite", true, true, Age::fresh, std::nullopt, true, -kInf,
                 "tarnwick: \u2013 rpm \u00b7 chip 97 \u00b0C"},
        ModeCase{"manualTargetBeyondInt64", true, true, Age::fresh, std::nullopt, true, 1e19,
                 "tarnwick: \u2013 rpm \u00b7 chip 97 \u00b0C"}),
    CaseName());

TEST_F(ModelTexts, StatusWithNaNStampIsNotRunning) {
    model.setFans({fan(2000)});
    model.setHelperInstalled(true);
    Status status;
    status.updated = kNaN;
    model.setStatus(status);
    EXPECT_FALSE(model.helperRunning());
    EXPECT_EQ(model.modeLine(), QStringLiteral("fan control not running"));
    Fan left = fan(2000);
    left.mode = 1;
    model.setFans({fan(2000), left});
    EXPECT_EQ(model.modeLine(), QStringLiteral("fan control not running \u00b7 fans left manual"));
}

struct LevelCase {
    const char* name;
    std::vector<Fan> fans;
    int expected;
};

class Level : public ModelTexts, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(Level, OfTheFastestFan) {
    model.setFans(GetParam().fans);
    EXPECT_EQ(model.level(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Level,
    ::testing::Values(LevelCase{"noFans", {}, 0}, LevelCase{"atMinimum", {fan(1200)}, 1},
                      LevelCase{"middle", {fan(3600)}, 3},
                      LevelCase{"aboveMaximum", {fan(6500)}, 5},
                      LevelCase{"atMaximum", {fan(6000)}, 5},
                      LevelCase{"belowHundred", {fan(99)}, 0},
                      LevelCase{"hundredBelowMinimum", {fan(100)}, 1},
                      LevelCase{"justOverOneStep", {fan(2399)}, 2},
                      LevelCase{"minEqualsMax", {fan(3000, 3000, 3000)}, 0},
                      LevelCase{"minAboveMax", {fan(3000, 5000, 2000)}, 0},
                      // Equal speeds: the first fan's range decides (the second would give 5).
                      LevelCase{"tieUsesFirst", {fan(3000, 1000, 6000), fan(3000, 1000, 3000)}, 3},
                      LevelCase{"fasterSecondFan", {fan(1200), fan(6000, 1200, 6000, 1)}, 5},
                      LevelCase{"nanSpeedSkipped", {fan(kNaN), fan(3600, 1200, 6000, 1)}, 3},
                      LevelCase{"infiniteSpeedOnly", {fan(kInf)}, 0},
                      LevelCase{"infiniteMaximum", {fan(3600, 1200, kInf)}, 1},
                      LevelCase{"minusInfiniteMinimum", {fan(3600, -kInf, 6000)}, 0},
                      LevelCase{"nanMinimum", {fan(3600, kNaN, 6000)}, 0},
                      // The range overflows to infinity: no level can be told.
                      LevelCase{"overflowingRange", {fan(1e308, -1e308, 1e308)}, 0}),
    CaseName());

struct FractionCase {
    const char* name;
    std::vector<Fan> fans;
    double expected;
};

class SpeedFraction : public ModelTexts, public ::testing::WithParamInterface<FractionCase> {};

TEST_P(SpeedFraction, GreatestCappedShare) {
    model.setFans(GetParam().fans);
    EXPECT_DOUBLE_EQ(model.speedFraction(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpeedFraction,
    ::testing::Values(FractionCase{"noFans", {}, 0.0},
                      FractionCase{
                          "slowFanCountsZero", {fan(3000, 0, 6000), fan(50, 0, 5000)}, 0.5},
                      FractionCase{"belowHundred", {fan(99, 0, 5000)}, 0.0},
                      FractionCase{"atHundred", {fan(100, 0, 5000)}, 0.02},
                      FractionCase{"cappedAtOne", {fan(7000, 0, 6000)}, 1.0},
                      FractionCase{"zeroMaximum", {fan(3000, 0, 0)}, 0.0},
                      FractionCase{"nanMaximum", {fan(3000, 0, kNaN)}, 0.0},
                      FractionCase{"nanSpeed", {fan(kNaN, 0, 6000)}, 0.0},
                      FractionCase{"infiniteSpeed", {fan(kInf, 0, 6000)}, 0.0}),
    CaseName());

struct BoostCase {
    double boost;
    std::string label;
    std::string detail;
};

class Boost : public ModelTexts, public ::testing::WithParamInterface<BoostCase> {};

TEST_P(Boost, LabelAndDetail) {
    Config config;
    config.boost = GetParam().boost;
    model.setConfig(config);
    EXPECT_EQ(model.boostLabel().toStdString(), GetParam().label);
    EXPECT_EQ(model.boostDetail().toStdString(), GetParam().detail);
}

const std::string kSystem = "fans are controlled by the " + kOs + " as usual";
const std::string kMaximum = "fans stay at maximum";
std::string adds(int start, int full) {
    return "adds speed from " + std::to_string(start) + " \u00b0C, full speed at " +
           std::to_string(full) + " \u00b0C; if the " + kOs + " spins faster, it is left alone";
}

INSTANTIATE_TEST_SUITE_P(
    Table, Boost,
    ::testing::Values(
        BoostCase{0.0, kOs + " decides", kSystem}, BoostCase{0.0099, kOs + " decides", kSystem},
        BoostCase{0.01, "a bit more than " + kOs, adds(75, 100)},
        BoostCase{0.2, "a bit more than " + kOs, adds(68, 95)},
        BoostCase{0.3499, "a bit more than " + kOs, adds(63, 91)},
        BoostCase{0.35, "noticeably more", adds(63, 91)},
        BoostCase{0.6499, "noticeably more", adds(52, 84)}, BoostCase{0.65, "a lot", adds(52, 84)},
        BoostCase{0.9899, "a lot", adds(40, 75)}, BoostCase{0.99, "full speed", kMaximum},
        BoostCase{1.0, "full speed", kMaximum},
        // What the daemon makes of values out of range.
        BoostCase{-1.0, kOs + " decides", kSystem}, BoostCase{7.0, "full speed", kMaximum},
        BoostCase{kNaN, kOs + " decides", kSystem}, BoostCase{kInf, kOs + " decides", kSystem}),
    [](const auto& testCase) { return caseNameOf("boost", testCase.param.boost); });

struct HeatCase {
    Readings readings;
    Heat expected;
};

class ChipHeat : public ModelTexts, public ::testing::WithParamInterface<HeatCase> {};

TEST_P(ChipHeat, FromHottestChipTemperature) {
    model.setReadings(GetParam().readings);
    EXPECT_EQ(model.chipHeat(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ChipHeat,
                         ::testing::Values(HeatCase{Readings{}, Heat::normal},
                                           HeatCase{Readings{.cpu = 79.99}, Heat::normal},
                                           HeatCase{Readings{.cpu = 80.0}, Heat::warm},
                                           HeatCase{Readings{.die = 94.99}, Heat::warm},
                                           HeatCase{Readings{.cpu = 95.0}, Heat::hot},
                                           HeatCase{Readings{.cpu = 50, .gpu = 96}, Heat::hot},
                                           HeatCase{Readings{.ssd = 99, .battery = 99},
                                                    Heat::normal}),
                         [](const auto& testCase) {
                             const std::optional<double> hottest =
                                 testCase.param.readings.hottest();
                             return hottest ? caseNameOf("hottest", *hottest, testCase.index)
                                            : caseNameOf("noChip", testCase.index);
                         });

TEST_F(ModelTexts, SpeedRangeWithoutFansIsTheDefault) {
    model.setFans({});
    EXPECT_EQ(model.topRPM(), 0.0);
    EXPECT_EQ(model.minRPM(), 1000.0);
    EXPECT_EQ(model.maxRPM(), 6000.0);
}

TEST_F(ModelTexts, SpeedRangeIsTheCommonRangeOfAllFans) {
    model.setFans({fan(2000, 1200, 6000), fan(2500, 1000, 5500, 1)});
    EXPECT_EQ(model.topRPM(), 2500.0);
    EXPECT_EQ(model.minRPM(), 1200.0);
    EXPECT_EQ(model.maxRPM(), 5500.0);
}

TEST_F(ModelTexts, SpeedRangeIgnoresValuesThatAreNotNumbers) {
    model.setFans({fan(kNaN, kNaN, kInf), fan(2500, 1000, 5500, 1)});
    EXPECT_EQ(model.topRPM(), 2500.0);
    EXPECT_EQ(model.minRPM(), 1000.0);
    EXPECT_EQ(model.maxRPM(), 5500.0);
    model.setFans({fan(kNaN, kNaN, kNaN)});
    EXPECT_EQ(model.topRPM(), 0.0);
    EXPECT_EQ(model.minRPM(), 1000.0);
    EXPECT_EQ(model.maxRPM(), 6000.0);
}

TEST_F(ModelTexts, BatteryFromPowerSourceOrSensor) {
    EXPECT_FALSE(model.hasBattery());
    model.setReadings(Readings{.battery = 31.0});
    EXPECT_TRUE(model.hasBattery());
    model.setReadings(Readings{});
    PowerState power;
    power.percent = 0;
    model.setPower(power);
    EXPECT_TRUE(model.hasBattery());
}

}  // namespace
