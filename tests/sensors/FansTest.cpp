#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "FanCore/Sensors/Fans.h"
#include "SimRig.h"
#include "support/FanKeys.h"

namespace {

using Writes = std::vector<std::string>;

// A machine with `fans` fans (range 1200..6000, flt speeds, ui8 modes); `extra` key entries are
// appended as they are.
std::string profile(int fans, bool unlockKey = true, const std::string& extra = "") {
    std::string json = R"({"brand": "test", "keys": [
        {"key": "#KEY", "type": "ui32", "value": 0},
        {"key": "FNum", "type": "ui8 ", "value": )" +
                       std::to_string(fans) + "}";
    if (unlockKey) json += R"(, {"key": "Ftst", "type": "ui8 ", "value": 0, "writable": true})";
    if (fans > 0) json += ", " + support::fanKeysJson(fans, 2000.5);
    if (!extra.empty()) json += ", " + extra;
    return json + "]}";
}

// Drives every fan the way a daemon pass does: read, then set.
bool driveAll(double rpm) { return Fans::setManual(rpm, Fans::read()); }

TEST(Fans, CountFromFNum) {
    const struct {
        const char* entry;
        int64_t count;
    } cases[] = {
        {R"({"key": "FNum", "type": "ui8 ", "value": 2})", 2},
        {R"({"key": "FNum", "type": "flt ", "value": 2.9})", 2},
        {R"({"key": "FNum", "type": "flt ", "value": -1})", 0},
        {R"({"key": "FNum", "type": "flt ", "value": -0.5})", 0},
        {R"({"key": "FNum", "type": "flt ", "bytes": "00 00 c0 7f"})", 0},  // NaN
        {R"({"key": "FNum", "type": "flt ", "bytes": "00 00 80 7f"})", 0},  // +inf
        {R"({"key": "FNum", "type": "flt ", "value": 1e30})", 10},
        {R"({"key": "FNum", "type": "ui8 ", "value": 12})", 10},
        {R"({"key": "FNum", "type": "ui8 ", "value": 2, "readable": false})", 0},
        {R"({"key": "FNuX", "type": "ui8 ", "value": 2})", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        SimRig rig(std::string(R"({"brand": "test", "keys": [)") + c.entry + "]}");
        EXPECT_EQ(Fans::count(), c.count);
    }
}

TEST(Fans, ReadGivesOneFanPerIndexWithUnreadableValuesAsZero) {
    SimRig rig(profile(2, true,
                       R"({"key": "F2Ac", "type": "flt ", "value": 1.0})"));  // not a fan: FNum 2
    rig.machine.setValue("F1Md", 1);
    SimFaults faults;
    faults.read = {"F1Mx"};
    rig.machine.setFaults(faults);

    const std::vector<Fan> fans = Fans::read();
    ASSERT_EQ(fans.size(), 2U);
    // The machine moves actual speeds and targets itself; take them from it.
    const double actual0 = *rig.machine.value("F0Ac");
    const double target0 = *rig.machine.value("F0Tg");
    EXPECT_EQ(fans[0], (Fan{.index = 0,
                            .actual = actual0,
                            .min = 1200,
                            .max = 6000,
                            .target = target0,
                            .mode = 0}));
    const double actual1 = *rig.machine.value("F1Ac");
    const double target1 = *rig.machine.value("F1Tg");
    EXPECT_EQ(
        fans[1],
        (Fan{.index = 1, .actual = actual1, .min = 1200, .max = 0, .target = target1, .mode = 1}));
}

TEST(Fans, ModeFromFloatingPointKeys) {
    const struct {
        const char* bytes;  // "flt " F0Md
        int64_t mode;
    } cases[] = {
        {"00 00 80 3f", 1},  // 1.0
        {"00 00 c0 7f", 0},  // NaN
        {"00 00 80 ff", 0},  // -inf
        {"ff ff 7f 7f", 0},  // FLT_MAX: beyond any integer mode
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        SimRig rig(std::string(R"({"brand": "test", "keys": [
            {"key": "FNum", "type": "ui8 ", "value": 1},
            {"key": "F0Md", "type": "flt ", "bytes": ")") +
                   c.bytes + R"("}]})");
        const auto fans = Fans::read();
        ASSERT_EQ(fans.size(), 1U);
        EXPECT_EQ(fans[0].mode, c.mode);
    }
}

TEST(Fans, SetManualUnlocksThenWritesModeAndClampedTargetPerFan) {
    const struct {
        double rpm;
        const char* target;
    } cases[] = {
        {500, "1200"},
        {3000.5, "3000.5"},
        {9000, "6000"},
        {-std::numeric_limits<double>::infinity(), "1200"},
        {std::numeric_limits<double>::infinity(), "6000"},
        {std::nan(""), "6000"},  // a speed nobody can read drives the fans to full speed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rpm);
        SimRig rig(profile(2));
        EXPECT_TRUE(driveAll(c.rpm));
        const std::string target = c.target;
        EXPECT_EQ(rig.writesSince(0),
                  (Writes{"Ftst=1", "F0Md=1", "F0Tg=" + target, "F1Md=1", "F1Tg=" + target}));
    }
}

TEST(Fans, SetManualSkipsWritesThatAreAlreadyInPlace) {
    SimRig rig(profile(2));
    ASSERT_TRUE(driveAll(2500));
    const std::size_t mark = rig.machine.writes().size();
    EXPECT_TRUE(driveAll(2600));
    EXPECT_EQ(rig.writesSince(mark), (Writes{"F0Tg=2600", "F1Tg=2600"}));
}

TEST(Fans, SetManualPerFanRanges) {
    SimRig rig(profile(3));
    rig.machine.setValue("F1Mn", 7000);  // min above max: max wins
    EXPECT_TRUE(driveAll(2500));
    EXPECT_EQ(rig.writesSince(0), (Writes{"Ftst=1", "F0Md=1", "F0Tg=2500", "F1Md=1", "F1Tg=6000",
                                          "F2Md=1", "F2Tg=2500"}));
}

TEST(Fans, SetManualWithoutUnlockKeyOrModeKey) {
    SimRig rig(std::string(R"({"brand": "test", "keys": [
        {"key": "FNum", "type": "ui8 ", "value": 1},
        {"key": "F0Mn", "type": "flt ", "value": 1000},
        {"key": "F0Mx", "type": "flt ", "value": 5000},
        {"key": "F0Tg", "type": "flt ", "value": 0, "writable": true}]})"));
    EXPECT_TRUE(driveAll(2000));
    EXPECT_EQ(rig.writesSince(0), (Writes{"F0Tg=2000"}));
}

TEST(Fans, SetManualKeepsGoingAfterAFailedWrite) {
    SimRig rig(profile(2));
    SimFaults faults;
    faults.write = {"F0Md", "Ftst"};
    rig.machine.setFaults(faults);
    EXPECT_FALSE(driveAll(2000));
    EXPECT_EQ(rig.writesSince(0), (Writes{"Ftst!", "F0Md!", "F0Tg=2000", "F1Md=1", "F1Tg=2000"}));

    // A failed unlock alone is no failure.
    faults.write = {"Ftst"};
    rig.machine.setFaults(faults);
    EXPECT_TRUE(driveAll(2000));

    // Fans already at the target get no write, so a new target shows the failure.
    faults.write = {"F1Tg"};
    rig.machine.setFaults(faults);
    EXPECT_TRUE(driveAll(2000));
    EXPECT_FALSE(driveAll(2100));
}

TEST(Fans, SetManualRefusesToWriteATargetThatIsNotFinite) {
    SimRig rig(std::string(R"({"brand": "test", "keys": [
        {"key": "FNum", "type": "ui8 ", "value": 2},
        {"key": "F0Mn", "type": "flt ", "value": 1000},
        {"key": "F0Mx", "type": "flt ", "bytes": "00 00 80 7f"},
        {"key": "F0Tg", "type": "flt ", "value": 0, "writable": true},
        {"key": "F1Mn", "type": "flt ", "value": 1000},
        {"key": "F1Mx", "type": "flt ", "bytes": "00 00 c0 7f"},
        {"key": "F1Tg", "type": "flt ", "value": 0, "writable": true}]})"));
    EXPECT_FALSE(driveAll(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(driveAll(2000));  // a NaN maximum
    EXPECT_EQ(rig.writesSince(0), (Writes{"F0Tg=2000"}));
}

TEST(Fans, NoFans) {
    SimRig rig(profile(0));
    EXPECT_TRUE(Fans::read().empty());
    EXPECT_TRUE(driveAll(3000));
    Fans::setAuto();
    EXPECT_EQ(rig.writesSince(0), Writes{});  // nothing to drive: not even the unlock
}

TEST(Fans, SetAutoHandsBackModesThenLocks) {
    SimRig rig(profile(2));
    ASSERT_TRUE(driveAll(4000));
    const std::size_t mark = rig.machine.writes().size();
    EXPECT_TRUE(Fans::setAuto());
    EXPECT_EQ(rig.writesSince(mark), (Writes{"F0Md=0", "F1Md=0", "Ftst=0"}));
    EXPECT_EQ(rig.machine.value("F0Tg"), 4000);  // targets are left alone
}

TEST(Fans, AFanThatStaysManualKeepsTheUnlockAndTheOthersGoBack) {
    SimRig rig(std::string(R"({"brand": "test", "keys": [
        {"key": "FNum", "type": "ui8 ", "value": 2},
        {"key": "F0Md", "type": "ui8 ", "value": 1, "writable": true},
        {"key": "F1Md", "type": "ui8 ", "value": 1, "writable": true},
        {"key": "Ftst", "type": "ui8 ", "value": 1, "writable": true}]})"));
    SimFaults faults;
    faults.write = {"F1Md"};
    rig.machine.setFaults(faults);
    EXPECT_FALSE(Fans::setAuto()) << "F1Md still reads manual";
    EXPECT_EQ(Fans::handBack({0, 1}, true), (std::vector<int64_t>{1}));
    EXPECT_EQ(rig.writesSince(0), (Writes{"F0Md=0", "F1Md!", "F1Md!"}))
        << "a retry leaves fan 0 alone, the unlock stays for fan 1";
    rig.machine.setFaults({});
    EXPECT_TRUE(Fans::handBack({1}, true).empty());
    EXPECT_EQ(rig.writesSince(3), (Writes{"F1Md=0", "Ftst=0"}));
}

// What a decision needs, read once: an unreadable count falls back to the fans known, an
// unreadable mode is named, and values that cannot be read are not taken for zeros.
TEST(Fans, ScanFallsBackToTheFansKnownAndNamesUnreadableModes) {
    const struct {
        const char* failing;
        size_t fans;
        bool countRead;
        std::vector<int64_t> unknownModes;
    } cases[] = {
        {"", 2, true, {}},
        {"FNum", 3, false, {}},  // at least 3 known from an earlier run
        {"F0Md", 2, true, {0}},
        {"F1Mn", 2, true, {}},  // the range of the last look stands
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
        SimRig rig(profile(2));
        const std::vector<Fan> known = Fans::scan({}, 0, {}).fans;
        ASSERT_EQ(known.size(), 2u);
        SimFaults faults;
        if (*c.failing != 0) faults.read = {c.failing};
        rig.machine.setFaults(faults);
        const Fans::Scan scan = Fans::scan(known, 3, {.limits = true, .targets = true});
        EXPECT_FALSE(scan.silent);
        EXPECT_EQ(scan.fans.size(), c.fans);
        EXPECT_EQ(scan.countRead, c.countRead);
        EXPECT_EQ(scan.unknownModes, c.unknownModes);
        EXPECT_EQ(scan.fans[1].min, 1200);
        if (c.fans == 3) {
            EXPECT_TRUE(std::isnan(scan.fans[2].min)) << "a fan never read has no range";
        }
    }
}

TEST(Fans, AnSmcThatFailsEveryExchange) {
    SimRig rig(profile(2));
    SimFaults faults;
    faults.io = true;
    rig.machine.setFaults(faults);
    EXPECT_EQ(Fans::count(), 0);
    EXPECT_TRUE(Fans::read().empty());
    EXPECT_TRUE(Fans::scan({}, 2, {}).silent);
    EXPECT_FALSE(Fans::setAuto()) << "nothing read back";
    EXPECT_TRUE(rig.machine.writes().empty());
}

}  // namespace
