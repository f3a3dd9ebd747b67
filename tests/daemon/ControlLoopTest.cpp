#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "FanCore/Policy/Platform.h"
#include "daemon/FakeMachine.h"
#include "daemon/LogText.h"
#include "support/CaseName.h"
#include "tarnwickd/ControlLoop.h"
#include "tarnwickd/OverrideWatch.h"

namespace {

using namespace std::chrono_literals;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class ControlLoopTest : public ::testing::Test {
  protected:
    FakeMachine machine;
    FakeClock clock;
    std::ostringstream log;
    ControlLoop loop{machine, clock, log};

    // Two fans at `actual` rpm sharing one range, the chip at `cpu` °C.
    void machineAt(double actual, double min, double max, double cpu) {
        machine.fanList = {makeFan(0, actual, min, max), makeFan(1, actual, min, max)};
        machine.raw = Readings{};
        machine.raw.cpu = cpu;
    }

    void passes(int count, std::chrono::milliseconds step = 2s) {
        for (int i = 0; i < count; ++i) {
            loop.pass();
            clock.advance(step);
        }
    }

    std::vector<double> writesFrom(size_t first) const {
        return {machine.manualWrites.begin() + static_cast<std::ptrdiff_t>(first),
                machine.manualWrites.end()};
    }

    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        std::istringstream in(withoutPriorities(log.str()));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // The daemon holds the fans (taken over through manual mode at `rpm`).
    void holdAt(double rpm) {
        machineAt(rpm, 1200, 5000, 50);
        machine.config.manualMode = true;
        machine.config.manualRPM = rpm;
        passes(1);
        ASSERT_TRUE(loop.manual());
        ASSERT_EQ(loop.target(), rpm);
    }
};

TEST_F(ControlLoopTest, SystemKeepsFansWhileNothingAsks) {
    machineAt(0, 1200, 5000, 95);  // hot, but boost 0 asks for nothing
    passes(5);
    EXPECT_FALSE(loop.manual());
    EXPECT_TRUE(machine.manualWrites.empty());
    EXPECT_EQ(machine.autoCalls, 0);
    EXPECT_TRUE(log.str().empty());
    ASSERT_EQ(machine.statuses.size(), 5U);
    const Status expected{machine.lastStatus().updated,        false,        0,
                          std::string(Platform::baselineName), std::nullopt, Driver::system};
    EXPECT_EQ(machine.lastStatus(), expected);
}

TEST_F(ControlLoopTest, EveryPassPublishesItsRawMeasurements) {
    machineAt(2000, 1200, 5000, 50);
    machine.powerState = {.onAC = true, .charging = false, .percent = 80};
    passes(1);
    machine.raw.cpu = 90;  // smoothed, the loop works with 62
    passes(1);
    ASSERT_EQ(machine.published.size(), 2U);
    EXPECT_EQ(machine.published.back(), (Measurements{clock.wallSeconds - 2, machine.raw,
                                                      machine.fanList, machine.powerState}));
}

TEST_F(ControlLoopTest, StatusCarriesWallClockTime) {
    machineAt(2000, 1200, 5000, 50);
    clock.wallSeconds = 1234567890.25;
    loop.pass();
    EXPECT_DOUBLE_EQ(machine.lastStatus().updated, 1234567890.25);
}

struct MarginCase {
    double demand;  // boost 1 asks for the top of the range, so the range's max is the demand
    double boost;
    bool takesOver;
};

class TakeOverMarginTest : public ControlLoopTest,
                           public ::testing::WithParamInterface<MarginCase> {};

TEST_P(TakeOverMarginTest, DemandMustExceedSystemSpeedByMoreThan150) {
    const MarginCase c = GetParam();
    machine.fanList = {makeFan(0, 2300, 1000, c.demand), makeFan(1, 2500, 1000, c.demand)};
    machine.raw.cpu = 60;
    machine.config.boost = c.boost;
    loop.pass();
    EXPECT_EQ(loop.manual(), c.takesOver);
    EXPECT_EQ(machine.manualWrites.empty(), !c.takesOver);
    if (c.takesOver) {
        EXPECT_EQ(withoutPriorities(log.str()),
                  "tarnwickd: manual (chip 60 \u00b0C, want 2551, firmware 2400)\n");
    } else {
        EXPECT_TRUE(log.str().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Margins, TakeOverMarginTest,
                         ::testing::Values(MarginCase{2550, 1.0, false},
                                           MarginCase{2551, 1.0, true},
                                           MarginCase{2551, 0.0, false}),
                         [](const auto& testCase) {
                             return support::caseNameOf("demand", testCase.param.demand, "boost",
                                                        testCase.param.boost);
                         });

TEST_F(ControlLoopTest, ManualModeTakesOverBelowSystemSpeed) {
    machineAt(3000, 1200, 5000, 50);
    machine.config.manualMode = true;
    machine.config.manualRPM = 1500;
    passes(3);
    EXPECT_TRUE(loop.manual());
    EXPECT_EQ(withoutPriorities(log.str()),
              "tarnwickd: manual (manual, want 1500, firmware 3000)\n");
    EXPECT_EQ(writesFrom(0), (std::vector<double>{2700, 2400, 2100}));
    EXPECT_EQ(machine.lastStatus().reason, "manual");
}

TEST_F(ControlLoopTest, RampsUpByAtMost400) {
    machineAt(2000, 1200, 5000, 50);
    machine.config.manualMode = true;
    machine.config.manualRPM = 3500;
    passes(5);
    EXPECT_EQ(writesFrom(0), (std::vector<double>{2400, 2800, 3200, 3500, 3500}));
    const Status expected{
        machine.lastStatus().updated, true, 3500, "manual", std::nullopt, Driver::daemon};
    EXPECT_EQ(machine.lastStatus(), expected);
}

TEST_F(ControlLoopTest, RampsDownByAtMost300) {
    holdAt(3500);
    machine.config.manualRPM = 2000;
    const size_t before = machine.manualWrites.size();
    passes(6);
    EXPECT_EQ(writesFrom(before), (std::vector<double>{3200, 2900, 2600, 2300, 2000, 2000}));
}

TEST_F(ControlLoopTest, TakeOverStartsFromMinimumWhenSystemIsSlower) {
    machineAt(300, 1200, 5000, 50);
    machine.config.manualMode = true;
    machine.config.manualRPM = 3000;
    passes(1);
    EXPECT_EQ(writesFrom(0), (std::vector<double>{1600}));
}

TEST_F(ControlLoopTest, SafetySpeedOverridesLowManualSpeed) {
    machineAt(2000, 1200, 5000, 90);  // 90 °C is 60 % of the safety ramp: 1200 + 3800 * 0.6
    machine.config.manualMode = true;
    machine.config.manualRPM = 2000;
    passes(5);
    EXPECT_EQ(writesFrom(0), (std::vector<double>{2400, 2800, 3200, 3480, 3480}));
    EXPECT_EQ(machine.lastStatus().reason, "manual");
    EXPECT_EQ(machine.lastStatus().targetRPM, 3480);
}

TEST_F(ControlLoopTest, LostChipTemperaturesRampToMaximum) {
    holdAt(2000);
    passes(2);
    machine.raw = Readings{};  // every chip sensor stops answering; the smoother still remembers
    machine.raw.ssd = 40;
    const size_t before = machine.manualWrites.size();
    passes(9);
    EXPECT_EQ(writesFrom(before),
              (std::vector<double>{2400, 2800, 3200, 3600, 4000, 4400, 4800, 5000, 5000}));
    EXPECT_EQ(machine.lastStatus().error, "no chip temperature");
    machine.raw.cpu = 50;
    passes(2);
    EXPECT_EQ(machine.lastStatus().error, std::nullopt);
    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 3u) << "the loss and its end, once each";
    EXPECT_TRUE(lines[1].starts_with("tarnwickd: no chip temperature")) << lines[1];
    EXPECT_EQ(lines[2], "tarnwickd: chip temperature back");
}

TEST_F(ControlLoopTest, UsesCommonRangeOfAllFans) {
    machine.fanList = {makeFan(0, 2000, 1200, 5000), makeFan(1, 2000, 1500, 4800)};
    machine.raw.cpu = 50;
    machine.config.manualMode = true;
    machine.config.manualRPM = 10000;
    passes(1);
    EXPECT_EQ(withoutPriorities(log.str()),
              "tarnwickd: manual (manual, want 4800, firmware 2000)\n");
}

TEST_F(ControlLoopTest, SystemSpeedIsMeanOfActualSpeeds) {
    machine.fanList = {makeFan(0, 1000, 1200, 5000), makeFan(1, 2001, 1200, 5000),
                       makeFan(2, 3000, 1200, 5000)};
    machine.raw.cpu = 50;
    machine.config.manualMode = true;
    passes(1);
    EXPECT_EQ(withoutPriorities(log.str()),
              "tarnwickd: manual (manual, want 2500, firmware 2000)\n");
}

TEST_F(ControlLoopTest, NonFiniteSystemSpeedPrintsAndStartsFromMinimum) {
    machineAt(kNaN, 1200, 5000, 50);
    machine.config.manualMode = true;
    passes(2);
    EXPECT_EQ(withoutPriorities(log.str()),
              "tarnwickd: manual (manual, want 2500, firmware nan)\n");
    EXPECT_EQ(writesFrom(0), (std::vector<double>{1600, 2000}));
}

TEST_F(ControlLoopTest, FailedWriteIsReportedAndRampGoesOn) {
    machineAt(2000, 1200, 5000, 50);
    machine.config.manualMode = true;
    machine.config.manualRPM = 3500;
    machine.writesSucceed = false;
    passes(2);
    EXPECT_TRUE(loop.manual());
    EXPECT_EQ(machine.lastStatus().error, "SMC write failed");
    EXPECT_EQ(machine.lastStatus().targetRPM, 2800);
    machine.writesSucceed = true;
    passes(1);
    EXPECT_EQ(machine.lastStatus().error, std::nullopt);
    EXPECT_EQ(writesFrom(0), (std::vector<double>{2400, 2800, 3200}));
}

// Staying in manual control at a speed nobody can set is worse than the system's curve: after a
// few failed passes the system gets the fans back, and the daemon tries again only later.
TEST_F(ControlLoopTest, FailingWritesHandTheFansBackAndTakeOverOnlyAfterAWhile) {
    holdAt(2500);
    machine.writesSucceed = false;
    passes(ControlLoop::failedWritesLimit);
    EXPECT_EQ(loop.drive(), ControlLoop::Drive::system);
    EXPECT_FALSE(machine.lastStatus().manual);
    EXPECT_EQ(machine.lastStatus().error, "fan speed writes failed; the system drives the fans");
    EXPECT_EQ(logLines().size(), 2u);
    machine.writesSucceed = true;
    const size_t before = machine.manualWrites.size();
    passes(static_cast<int>(ControlLoop::retryAfterFailedWrites / 2s) - 1);
    EXPECT_EQ(machine.manualWrites.size(), before) << "no take-over while the system has them";
    passes(2);
    EXPECT_TRUE(loop.manual());
    EXPECT_EQ(machine.lastStatus().error, std::nullopt);
}

// A hand-back counts only when the modes read back automatic; until then the daemon stays
// responsible, keeps the safety speed and says so.
TEST_F(ControlLoopTest, AHandBackThatDoesNotTakeKeepsTheSafetySpeedAndRetries) {
    holdAt(2500);
    machine.autoSucceeds = false;
    machine.raw.cpu = 110;
    EXPECT_FALSE(loop.stop());
    machine.config.manualMode = false;
    machine.config.boost = 0;
    passes(12);
    EXPECT_EQ(loop.drive(), ControlLoop::Drive::handingBack);
    EXPECT_TRUE(machine.lastStatus().manual);
    EXPECT_EQ(machine.lastStatus().error, "fans 0 and 1 did not return to automatic control");
    EXPECT_EQ(machine.manualWrites.back(), 5000) << "the safety speed at 110 °C";
    machine.autoSucceeds = true;
    passes(1);
    EXPECT_EQ(loop.drive(), ControlLoop::Drive::system);
    EXPECT_FALSE(machine.lastStatus().manual);
}

// One fan that stays in manual is held alone: the other goes back and stays with the system,
// through passes and through a sleep, which must not leave the held fan unattended.
TEST_F(ControlLoopTest, AFanThatStaysManualIsHeldAloneAndSleepDoesNotPauseIt) {
    holdAt(2500);
    machine.refusingAuto = {1};
    machine.raw.cpu = 90;
    machine.config.manualMode = false;
    passes(12);
    ASSERT_EQ(loop.stuck(), (std::vector<int64_t>{1}));
    EXPECT_EQ(machine.fanList[0].mode, 0);
    const int changes = machine.modeChanges;
    loop.sleep();
    passes(5);
    EXPECT_EQ(machine.modeChanges, changes) << "the fan that went back is not taken again";
    EXPECT_FALSE(loop.sleeping());
    EXPECT_NEAR(machine.fanList[1].target, 3480, 20) << "the safety speed at 90 °C, smoothed";
    EXPECT_EQ(machine.lastStatus().driver, Driver::handingBack);
    EXPECT_EQ(machine.lastStatus().error, "fan 1 did not return to automatic control");
    machine.refusingAuto.clear();
    passes(1);
    EXPECT_EQ(loop.drive(), ControlLoop::Drive::system);
    EXPECT_EQ(logLines().back(), "tarnwickd: back to firmware");
}

struct UnknownCase {
    const char* name;
    bool countReadable;
    std::vector<int64_t> unknownModes;
    double cpu;
    bool held;  // the system drove; the daemon now holds fan 1 at the safety speed
    const char* error;
};

// Unknown is not safe: while the count or a mode cannot be read, the fans known are driven or
// held at the safety speed, and a stop hands back every one of them.
TEST_F(ControlLoopTest, UnreadableCountOrModeKeepsTheKnownFansSafe) {
    const UnknownCase cases[] = {
        {"count, cool", false, {}, 60, false, "cannot read the fan count"},
        {"mode, cool", true, {1}, 60, false, "cannot read the mode of fan 1"},
        {"mode, hot", true, {1}, 95, true, "cannot read the mode of fan 1"},
        {"mode, no chip", true, {1}, 0, true, "cannot read the mode of fan 1"},
    };
    for (const UnknownCase& c : cases) {
        FakeMachine m;
        FakeClock cl;
        std::ostringstream out;
        ControlLoop l{m, cl, out};
        m.fanList = {makeFan(0, 1500, 1200, 5000), makeFan(1, 1500, 1200, 5000)};
        if (c.cpu > 0) m.raw.cpu = c.cpu;
        m.countReadable = c.countReadable;
        m.unknownModes = c.unknownModes;
        for (int i = 0; i < 3; ++i, cl.advance(2s)) l.pass();
        EXPECT_EQ(l.manual(), c.held) << c.name;
        EXPECT_EQ(m.lastStatus().error, c.error) << c.name;
        if (c.held) {
            EXPECT_EQ(m.fanList[1].target, c.cpu > 0 ? 4240 : 5000) << c.name;
        }
        EXPECT_EQ(m.fanList[0].mode, 0) << c.name;
        m.unknownModes.clear();
        m.countReadable = true;
        l.pass();
        EXPECT_FALSE(l.manual()) << c.name << ": readable again, handed back";
        EXPECT_TRUE(l.stop()) << c.name;
    }
}

TEST_F(ControlLoopTest, DrivingOnThroughAnUnreadableModeAssertsItAndJudgesNoOverride) {
    holdAt(2500);
    machine.unknownModes = {0};
    machine.fanList[0].mode = 0;  // as last known; the SMC does not say
    machine.fanList[0].target = 9;
    passes(4);
    EXPECT_EQ(machine.lastStatus().driver, Driver::daemon);
    EXPECT_EQ(machine.fanList[0].mode, 1) << "the mode is written again";
    machine.autoSucceeds = false;
    EXPECT_FALSE(loop.stop()) << "a mode nobody can read is no hand-back";
}

TEST_F(ControlLoopTest, StartHandsBackAndHoldsAFanLeftManual) {
    machineAt(1500, 1200, 5000, 95);
    machine.fanList[1].mode = 1;
    machine.refusingAuto = {1};
    loop.start();
    EXPECT_EQ(loop.drive(), ControlLoop::Drive::handingBack);
    passes(1);
    EXPECT_EQ(machine.fanList[1].target, 4240);
    EXPECT_EQ(machine.lastStatus().reason, "handing back");
    EXPECT_EQ(
        log.str(),
        "<3>tarnwickd: fan 1 did not return to automatic control; keeping the safety speed\n");
}

TEST_F(ControlLoopTest, SettingsThatCannotBeReadAreReportedOnce) {
    machineAt(2000, 1200, 5000, 50);
    machine.settingsProblem = "cannot read config.json: Permission denied";
    passes(3);
    EXPECT_EQ(machine.lastStatus().error,
              "cannot read config.json: Permission denied; using the defaults");
    EXPECT_EQ(logLines(), (std::vector<std::string>{"tarnwickd: cannot read config.json: "
                                                    "Permission denied; using the defaults"}));
}

TEST_F(ControlLoopTest, UnreadableFansKeepWhoDrivesThem) {
    holdAt(2500);
    machine.fansReadable = false;
    const int autoCalls = machine.autoCalls;
    passes(3);
    EXPECT_TRUE(loop.manual());
    EXPECT_EQ(machine.autoCalls, autoCalls);
    EXPECT_TRUE(machine.lastStatus().manual);
    EXPECT_EQ(machine.lastStatus().error, "cannot read the fans");
}

TEST_F(ControlLoopTest, AFanLeftInManualWithNoOwnerIsHandedBack) {
    machineAt(1500, 1200, 5000, 50);
    machine.fanList[1].mode = 1;
    passes(1);
    EXPECT_EQ(machine.autoCalls, 1);
    EXPECT_EQ(machine.fanList[1].mode, 0);
    EXPECT_FALSE(machine.lastStatus().manual);
    passes(1);
    EXPECT_EQ(machine.autoCalls, 1) << "modes are watched, not rewritten, while they are right";
}

TEST_F(ControlLoopTest, EmptyDemandReasonReadsRampingDown) {
    holdAt(3500);
    machine.config.manualMode = false;  // boost 0: demand 0 with no reason
    passes(1);
    EXPECT_TRUE(loop.manual());
    EXPECT_EQ(machine.lastStatus().reason, "ramping down");
    EXPECT_EQ(machine.lastStatus().targetRPM, 3200);
}

struct QuietCase {
    std::chrono::milliseconds step;
    int handBackPass;  // index of the quiet pass that hands back
};

class QuietPeriodTest : public ControlLoopTest, public ::testing::WithParamInterface<QuietCase> {};

TEST_P(QuietPeriodTest, HandsBackOnFirstQuietPassMoreThan20sAfterTheFirst) {
    const QuietCase c = GetParam();
    holdAt(1300);
    machine.config.manualMode = false;
    for (int i = 0; i < c.handBackPass; ++i) {
        passes(1, c.step);
        ASSERT_TRUE(loop.manual()) << "pass " << i;
    }
    const int autoBefore = machine.autoCalls;
    const size_t writesBefore = machine.manualWrites.size();
    passes(1, c.step);
    EXPECT_FALSE(loop.manual());
    EXPECT_EQ(machine.autoCalls, autoBefore + 1);
    EXPECT_EQ(machine.manualWrites.size(), writesBefore);  // the handing-back pass writes no target
    EXPECT_EQ(logLines().back(), "tarnwickd: back to firmware");
    const Status expected{machine.lastStatus().updated,        false,        0,
                          std::string(Platform::baselineName), std::nullopt, Driver::system};
    EXPECT_EQ(machine.lastStatus(), expected);
}

INSTANTIATE_TEST_SUITE_P(Steps, QuietPeriodTest,
                         ::testing::Values(QuietCase{2s, 11}, QuietCase{5s, 5}, QuietCase{10s, 3},
                                           QuietCase{20s, 2}, QuietCase{21s, 1},
                                           QuietCase{20001ms, 1}),
                         [](const auto& testCase) {
                             return support::caseNameOf("every", testCase.param.step.count(), "ms");
                         });

TEST_F(ControlLoopTest, OneBusyPassRestartsTheQuietPeriod) {
    holdAt(1300);
    machine.config.manualMode = false;
    passes(10);  // quiet for 18 s
    machine.config.manualMode = true;
    passes(1);
    machine.config.manualMode = false;
    passes(11);  // another 20 s of quiet is not enough
    EXPECT_TRUE(loop.manual());
    passes(1);
    EXPECT_FALSE(loop.manual());
}

TEST_F(ControlLoopTest, WallClockStepsDoNotMoveTheHandBack) {
    holdAt(1300);
    machine.config.manualMode = false;
    passes(2);
    clock.wallSeconds += 3600;  // the system time jumps forward an hour
    passes(8);
    EXPECT_TRUE(loop.manual());
    clock.wallSeconds -= 7200;
    passes(1);
    EXPECT_TRUE(loop.manual());
    passes(1);
    EXPECT_FALSE(loop.manual());
}

struct QuietnessCase {
    const char* name;
    bool manualMode;
    double boost;
    std::optional<double> battery;
    bool handsBack;
};

class QuietnessTest : public ControlLoopTest,
                      public ::testing::WithParamInterface<QuietnessCase> {};

// Range 1200..5000 with battery cooling at target 33 °C: the battery speed is 1200 + 3800 * bf,
// bf = (b - 32) / 5, so 32.1 °C asks for 1276 rpm (quiet) and 32.2 °C for 1352 rpm (busy).
TEST_P(QuietnessTest, QuietMeansDemandBelowMinimumPlus100) {
    const QuietnessCase c = GetParam();
    holdAt(1300);
    machine.config.manualMode = c.manualMode;
    machine.config.boost = c.boost;
    machine.config.batteryCooling = true;
    machine.config.batteryOnlyOnAC = false;
    machine.raw.battery = c.battery;
    passes(15);
    EXPECT_EQ(!loop.manual(), c.handsBack) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Demands, QuietnessTest,
    ::testing::Values(QuietnessCase{"nothing asks", false, 0, std::nullopt, true},
                      QuietnessCase{"manual mode", true, 0, std::nullopt, false},
                      QuietnessCase{"battery just above minimum", false, 0, 32.1, true},
                      QuietnessCase{"battery 152 above minimum", false, 0, 32.2, false},
                      QuietnessCase{"cool chip under boost", false, 0.2, std::nullopt, true}),
    support::CaseName());

TEST_F(ControlLoopTest, TakeOverAfterHandBackStartsAFreshQuietPeriod) {
    holdAt(1300);
    machine.config.manualMode = false;
    passes(12);
    ASSERT_FALSE(loop.manual());
    machine.config.manualMode = true;
    passes(1);
    ASSERT_TRUE(loop.manual());
    machine.config.manualMode = false;
    passes(11);
    EXPECT_TRUE(loop.manual());
    EXPECT_EQ(logLines().size(), 3U);
}

struct NoFansCase {
    const char* name;
    std::vector<Fan> fans;
};

class NoFansTest : public ControlLoopTest, public ::testing::WithParamInterface<NoFansCase> {};

TEST_P(NoFansTest, HandsBackSilentlyAndReportsNoFans) {
    holdAt(2500);
    const size_t logBefore = log.str().size();
    machine.fanList = GetParam().fans;
    passes(2);
    EXPECT_FALSE(loop.manual());
    EXPECT_EQ(machine.autoCalls, 1);
    EXPECT_EQ(log.str().size(), logBefore);
    const Status expected{machine.lastStatus().updated,        false,           0,
                          std::string(Platform::baselineName), "No fans found", Driver::system};
    EXPECT_EQ(machine.lastStatus(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, NoFansTest,
    ::testing::Values(
        NoFansCase{"none", {}},
        NoFansCase{"disjoint", {makeFan(0, 2000, 1200, 5000), makeFan(1, 2000, 5100, 6000)}},
        NoFansCase{"empty", {makeFan(0, 2000, 3000, 3000)}},
        NoFansCase{"nan min", {makeFan(0, 2000, kNaN, 5000)}},
        NoFansCase{"nan max second", {makeFan(0, 2000, 1200, 5000), makeFan(1, 2000, 1200, kNaN)}},
        NoFansCase{"infinite max", {makeFan(0, 2000, 1200, kInf)}},
        NoFansCase{"unreadable", {makeFan(0, 0, 0, 0)}}),
    [](const auto& param) {
        std::string name = param.param.name;
        for (char& ch : name) {
            if (ch == ' ') ch = '_';
        }
        return name;
    });

TEST_F(ControlLoopTest, NoFansWhileSystemDrivesTouchesNothing) {
    machine.config.manualMode = true;
    passes(2);
    EXPECT_EQ(machine.autoCalls, 0);
    EXPECT_TRUE(machine.manualWrites.empty());
    EXPECT_EQ(machine.lastStatus().error, "No fans found");
}

TEST_F(ControlLoopTest, FansReturningAfterNoFansAreTakenOverAgain) {
    holdAt(2500);
    machine.fanList.clear();
    passes(1);
    machineAt(2000, 1200, 5000, 50);
    passes(1);
    EXPECT_TRUE(loop.manual());
    EXPECT_EQ(logLines().size(), 2U);
}

// Boost 0.5 asks for nothing at 45 °C and for a lot at 95 °C.
TEST_F(ControlLoopTest, SleepHandsBackPausesAndWakeStartsAfresh) {
    machineAt(2000, 1200, 5000, 95);
    machine.config.boost = 0.5;
    passes(3);
    ASSERT_TRUE(loop.manual());
    EXPECT_EQ(machine.lastStatus().driver, Driver::daemon);
    const size_t writes = machine.manualWrites.size();

    loop.sleep();
    EXPECT_FALSE(loop.manual());
    EXPECT_EQ(machine.autoCalls, 1);
    passes(5);
    clock.suspend(40s);
    EXPECT_EQ(machine.manualWrites.size(), writes);
    EXPECT_EQ(machine.lastStatus(),
              (Status{machine.lastStatus().updated, false, 0, std::string(Platform::baselineName),
                      std::nullopt, Driver::sleeping}));

    // Smoothing memory of 95 °C would still ask for speed from a 45 °C chip.
    machine.raw.cpu = 45;
    loop.wake();
    passes(1);
    EXPECT_FALSE(loop.manual());
    EXPECT_EQ(machine.lastStatus().driver, Driver::system);
    machine.raw.cpu = 95;
    passes(3);  // the smoothing rises from 45 °C
    EXPECT_TRUE(loop.manual()) << "taken again because the curve asks";
    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 4U);
    EXPECT_EQ(lines[1], "tarnwickd: paused for sleep");
    EXPECT_EQ(lines[2], "tarnwickd: awake after 50 s, starting afresh");
}

TEST_F(ControlLoopTest, SleepSeenOnlyOnTheClocksIsTreatedAsOne) {
    machineAt(2000, 1200, 5000, 95);
    machine.config.boost = 0.5;
    passes(3);
    clock.suspend(1s);  // no more than the clocks' jitter
    passes(1);
    ASSERT_TRUE(loop.manual());
    clock.suspend(30s);
    machine.raw.cpu = 45;
    passes(1);
    EXPECT_FALSE(loop.manual());
    EXPECT_EQ(machine.autoCalls, 1);
    EXPECT_EQ(logLines().back(), "tarnwickd: missed a sleep of 30 s, starting afresh");
    machine.raw.cpu = 95;
    passes(3);
    EXPECT_TRUE(loop.manual());
}

TEST_F(ControlLoopTest, PauseWithoutWakeEndsAfterAMinuteAwake) {
    holdAt(2500);
    loop.sleep();
    clock.suspend(10min);  // time asleep does not count
    passes(31);            // up to and including 60 s awake
    EXPECT_TRUE(loop.sleeping());
    passes(1);
    EXPECT_FALSE(loop.sleeping());
    EXPECT_TRUE(loop.manual()) << "manual mode asks for the fans again";
    EXPECT_EQ(logLines(),
              (std::vector<std::string>{"tarnwickd: manual (manual, want 2500, firmware 2500)",
                                        "tarnwickd: paused for sleep",
                                        "tarnwickd: no wake within 60 s, starting afresh",
                                        "tarnwickd: manual (manual, want 2500, firmware 2500)"}));
}

TEST_F(ControlLoopTest, SecondWriterIsAssertedAgainTwiceThenLeftAlone) {
    holdAt(2500);
    const auto takeFan1 = [&] {
        machine.fanList[1].mode = 1;
        machine.fanList[1].target = 2000;
    };
    for (int i = 0; i < 2; ++i) {
        takeFan1();
        passes(1);
        EXPECT_TRUE(loop.manual());
        EXPECT_EQ(machine.lastStatus().driver, Driver::overridden);
        EXPECT_EQ(machine.lastStatus().reason, "fan 1 set to 2000 rpm");
    }
    takeFan1();
    const size_t writes = machine.manualWrites.size();
    passes(1);
    EXPECT_FALSE(loop.manual());
    EXPECT_EQ(machine.autoCalls, 1) << "the fan still at the daemon's speed is handed back";
    for (int i = 0; i < 40; ++i) {  // the writer keeps fan 1 for 80 s
        takeFan1();
        passes(1);
    }
    EXPECT_EQ(machine.manualWrites.size(), writes) << "no fight over the fan";
    EXPECT_EQ(machine.lastStatus(),
              (Status{machine.lastStatus().updated, false, 0, "fan 1 set to 2000 rpm", std::nullopt,
                      Driver::overridden}));
    machine.fanList[1].mode = 0;  // the writer lets go
    passes(1);
    EXPECT_TRUE(loop.manual()) << "manual mode asks for the fans again";
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "tarnwickd: manual (manual, want 2500, firmware 2500)",
                              "tarnwickd: overridden (fan 1 set to 2000 rpm), asserting again",
                              "tarnwickd: overridden (fan 1 set to 2000 rpm), asserting again",
                              "tarnwickd: overridden (fan 1 set to 2000 rpm), stepping back",
                              "tarnwickd: manual (manual, want 2500, firmware 2500)"}));
}

TEST_F(ControlLoopTest, OneOverrideAssertedAgainIsForgottenAfterAMinute) {
    holdAt(2500);
    passes(1);  // the first read-back shows the fans take a mode
    for (int i = 0; i < 3; ++i) {
        machine.fanList[0].mode = 0;  // firmware takes fan 0 back now and then
        passes(1);
        EXPECT_EQ(machine.lastStatus().driver, Driver::overridden);
        passes(31);
        EXPECT_EQ(machine.lastStatus().driver, Driver::daemon);
    }
    EXPECT_TRUE(loop.manual());
}

TEST_F(ControlLoopTest, FanKeptInManualWhileTheSystemDrivesHasAnOwnerAndIsLeftAlone) {
    machineAt(2000, 1200, 5000, 50);
    for (int i = 0; i < 10; ++i) {
        machine.fanList[1].mode = 1;
        machine.fanList[1].target = 2000;
        passes(1);
    }
    EXPECT_EQ(machine.autoCalls, 2) << "handed back twice, then recognised as held";
    EXPECT_EQ(machine.lastStatus().driver, Driver::overridden);
    EXPECT_EQ(machine.lastStatus().reason, "fan 1 set to 2000 rpm");
}

TEST_F(ControlLoopTest, FansBackInAutomaticAfterSilenceAreAWake) {
    machineAt(2000, 1200, 5000, 95);
    machine.config.boost = 0.5;
    passes(3);
    machine.fansReadable = false;
    passes(2);
    ASSERT_TRUE(loop.manual());
    machine.fansReadable = true;
    for (Fan& fan : machine.fanList) fan.mode = 0;
    machine.raw.cpu = 45;
    passes(1);
    EXPECT_FALSE(loop.manual());
    EXPECT_EQ(machine.autoCalls, 0);
    EXPECT_EQ(logLines().back(),
              "tarnwickd: the fans came back in automatic mode, as after a sleep; starting afresh");
}

struct ReadBackCase {
    const char* name;
    double sent;
    int64_t mode;  // of fan 1 at the check
    double target;
    bool modeSeenBefore;
    std::optional<std::string> found;
};

TEST(OverrideWatch, ComparesModeAndClampedTargetWithTheWrite) {
    const ReadBackCase cases[] = {
        {"kept", 2500, 1, 2500, true, std::nullopt},
        {"rounded by the SMC", 2500.4, 1, 2502, true, std::nullopt},
        {"clamped to the fan's maximum", 9000, 1, 5000, true, std::nullopt},
        {"target moved", 2500, 1, 2000, true, "fan 1 set to 2000 rpm"},
        {"back to automatic", 2500, 0, 2500, true, "fan 1 set to automatic"},
        {"no mode key: mode never read manual", 2500, 0, 2500, false, std::nullopt},
    };
    for (const ReadBackCase& c : cases) {
        OverrideWatch watch;
        std::vector<Fan> fans = {makeFan(0, 2000, 1200, 5000), makeFan(1, 2000, 1200, 5000)};
        for (Fan& fan : fans) {
            fan.mode = c.modeSeenBefore ? 1 : 0;
            fan.target = std::min(5000.0, c.sent);
        }
        ASSERT_FALSE(watch.check(fans, c.sent)) << c.name;
        fans[1].mode = c.mode;
        fans[1].target = c.target;
        EXPECT_EQ(watch.check(fans, c.sent), c.found) << c.name;
    }
    OverrideWatch watch;
    const auto now = std::chrono::steady_clock::now();
    EXPECT_EQ(watch.count(now), OverrideWatch::Action::reassert);
    EXPECT_EQ(watch.count(now + 60s), OverrideWatch::Action::reassert);
    EXPECT_EQ(watch.count(now + 120s), OverrideWatch::Action::stepBack);
    EXPECT_EQ(watch.count(now + 181s), OverrideWatch::Action::reassert) << "forgotten after 60 s";
}

TEST_F(ControlLoopTest, StopHandsBackAndRemovesStatus) {
    holdAt(2500);
    loop.stop();
    EXPECT_EQ(machine.autoCalls, 1);
    EXPECT_EQ(machine.removals, 1);
}

}  // namespace
