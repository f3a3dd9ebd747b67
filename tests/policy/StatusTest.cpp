#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "FanCore/Policy/Measurements.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/Status.h"
#include "PolicyRoot.h"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

double wallClockNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct DecodeCase {
    const char* name;
    const char* text;
    std::optional<Status> expected;
};

TEST(Status, Decode) {
    const DecodeCase cases[] = {
        {"complete",
         R"({"updated":1733700000.5,"manual":true,"targetRPM":2400,"reason":"chip 80 °C",)"
         R"("error":"SMC write failed"})",
         Status{1733700000.5, true, 2400, "chip 80 °C", "SMC write failed"}},
        {"without error", R"({"updated":1,"manual":false,"targetRPM":0,"reason":"Linux"})",
         Status{1, false, 0, "Linux", std::nullopt}},
        {"error null",
         R"({"updated":1,"manual":false,"targetRPM":0,"reason":"Linux","error":null})",
         Status{1, false, 0, "Linux", std::nullopt}},
        {"unknown member ignored",
         R"({"updated":1,"manual":false,"targetRPM":0,"reason":"Linux","pid":42})",
         Status{1, false, 0, "Linux", std::nullopt}},
        {"driver",
         R"({"updated":1,"manual":false,"targetRPM":0,"reason":"sleep","driver":"sleeping"})",
         Status{1, false, 0, "sleep", std::nullopt, Driver::sleeping}},
        {"driver of a newer daemon",
         R"({"updated":1,"manual":true,"targetRPM":9,"reason":"x","driver":"elves"})",
         Status{1, true, 9, "x", std::nullopt}},
        {"driver as number", R"({"updated":1,"manual":true,"targetRPM":9,"reason":"x","driver":1})",
         std::nullopt},
        {"without reason", R"({"updated":1,"manual":false,"targetRPM":0})", std::nullopt},
        {"without updated", R"({"manual":false,"targetRPM":0,"reason":"Linux"})", std::nullopt},
        {"without manual", R"({"updated":1,"targetRPM":0,"reason":"Linux"})", std::nullopt},
        {"without targetRPM", R"({"updated":1,"manual":false,"reason":"Linux"})", std::nullopt},
        {"reason null", R"({"updated":1,"manual":false,"targetRPM":0,"reason":null})",
         std::nullopt},
        {"updated as text", R"({"updated":"1","manual":false,"targetRPM":0,"reason":"Linux"})",
         std::nullopt},
        {"manual as number", R"({"updated":1,"manual":0,"targetRPM":0,"reason":"Linux"})",
         std::nullopt},
        {"targetRPM null", R"({"updated":1,"manual":false,"targetRPM":null,"reason":"Linux"})",
         std::nullopt},
        {"error as number",
         R"({"updated":1,"manual":false,"targetRPM":0,"reason":"Linux","error":3})", std::nullopt},
        {"updated beyond a double",
         R"({"updated":1e999,"manual":false,"targetRPM":0,"reason":"Linux"})", std::nullopt},
        {"not JSON", "manual", std::nullopt},
        {"empty", "", std::nullopt},
        {"array", R"([1,true,0,"Linux"])", std::nullopt},
    };
    for (const DecodeCase& c : cases) {
        EXPECT_EQ(Status::decode(c.text), c.expected) << c.name;
    }
}

TEST(Status, Freshness) {
    const Status status{1000, false, 0, "Linux", std::nullopt};
    EXPECT_TRUE(status.isFresh(1000 + 9.9));
    EXPECT_FALSE(status.isFresh(1000 + 10));
    EXPECT_FALSE(status.isFresh(1000 + 3600));
    EXPECT_TRUE(status.isFresh(1000)) << "written just now";
    EXPECT_TRUE(status.isFresh(995)) << "a wall clock a little behind the daemon's";
    EXPECT_FALSE(status.isFresh(400)) << "a time stamp far in the future is not fresh for ever";

    const Status broken{nan, false, 0, "Linux", std::nullopt};
    EXPECT_FALSE(broken.isFresh(1000));
}

TEST(Status, FreshnessUsesTheWallClock) {
    const double now = wallClockNow();
    EXPECT_TRUE((Status{now - 1, false, 0, "Linux", std::nullopt}.isFresh()));
    EXPECT_FALSE((Status{now - 60, false, 0, "Linux", std::nullopt}.isFresh()));
}

TEST(Status, SaveAndLoadRoundTrip) {
    const Status cases[] = {
        {1733700000.123456, false, 0, "Linux", std::nullopt},
        {1733700001.987654321, true, 2875.5, "battery 35.0 °C", "SMC write failed"},
        {wallClockNow(), true, 1800, "ramping down", std::nullopt},
        {1733700002, true, 2400, "fan 1 set to automatic", std::nullopt, Driver::overridden},
    };
    for (const Status& status : cases) {
        const PolicyRoot root;
        std::filesystem::create_directories(Paths::statusDir());
        ASSERT_TRUE(status.save().has_value()) << status.reason;
        EXPECT_EQ(Status::load(), status) << status.reason;
        const std::string text = readText(Paths::status());
        EXPECT_EQ(text.find("\"error\"") != std::string::npos, status.error.has_value()) << text;
        EXPECT_EQ(text.find_first_of("\n\t"), std::string::npos) << text;
        EXPECT_EQ(entries(Paths::statusDir()), std::vector<std::string>{"status.json"});
    }
}

TEST(Status, SaveReplacesAnOlderStatus) {
    const PolicyRoot root;
    std::filesystem::create_directories(Paths::statusDir());
    ASSERT_TRUE((Status{1, true, 3000, "manual", std::nullopt}.save().has_value()));
    const Status newer{2, false, 0, "Linux", "No fans found"};
    ASSERT_TRUE(newer.save().has_value());
    EXPECT_EQ(Status::load(), newer);
}

TEST(Status, SaveWithoutTheFolderFails) {
    const PolicyRoot root;
    const auto saved = Status{1, false, 0, "Linux", std::nullopt}.save();
    ASSERT_FALSE(saved.has_value());
    EXPECT_NE(saved.error().find(Paths::status().string()), std::string::npos) << saved.error();
    EXPECT_NE(saved.error().find("No such file or directory"), std::string::npos) << saved.error();
    EXPECT_FALSE(std::filesystem::exists(Paths::statusDir()));
}

TEST(Status, SaveRefusesWhatItCouldNotReadBack) {
    const PolicyRoot root;
    std::filesystem::create_directories(Paths::statusDir());
    EXPECT_FALSE((Status{nan, false, 0, "Linux", std::nullopt}.save().has_value()));
    EXPECT_FALSE((Status{1, true, nan, "manual", std::nullopt}.save().has_value()));
    EXPECT_FALSE(std::filesystem::exists(Paths::status()));
}

TEST(Status, LoadOfAMissingOrUnsafeFileIsAbsent) {
    const PolicyRoot root;
    EXPECT_EQ(Status::load(), std::nullopt);
    std::filesystem::create_directories(Paths::statusDir());
    writeText(root.path() / "elsewhere.json",
              R"({"updated":1,"manual":false,"targetRPM":0,"reason":"Linux"})");
    std::filesystem::create_symlink(root.path() / "elsewhere.json", Paths::status());
    EXPECT_EQ(Status::load(), std::nullopt);
}

// The daemon's measurements travel beside the status: a speed that is not a number as null, a
// file the daemon did not write in full as no measurements at all.
TEST(Measurements, RoundTripAndRefusals) {
    const PolicyRoot root;
    Fan fan;
    fan.index = 1;
    fan.actual = nan;
    fan.max = 5000;
    fan.mode = 1;
    const Measurements measured{1733700000.25,
                                Readings{.cpu = 71.5, .palmRest = 30},
                                {fan},
                                PowerState{.onAC = true, .charging = false, .percent = 55},
                                true};
    std::filesystem::create_directories(Paths::statusDir());
    ASSERT_TRUE(measured.save().has_value());
    const std::optional<Measurements> loaded = Measurements::load();
    ASSERT_TRUE(loaded.has_value());
    EXPECT_TRUE(std::isnan(loaded->fans.at(0).actual));
    Measurements comparable = *loaded;
    comparable.fans.at(0).actual = 0;
    Measurements expected = measured;
    expected.fans.at(0).actual = 0;
    EXPECT_EQ(comparable, expected);

    for (
        const char* text :
        {R"({"updated":1,"readings":{},"fans":[]})",
         R"({"updated":1,"readings":{"cpu":"hot"},)"
         R"("fans":[],"power":{"onAC":true,"charging":false}})",
         R"({"updated":1,"readings":{},"fans":[{"index":0}],"power":{"onAC":true,"charging":false}})",
         R"({"updated":1,"readings":{},"fans":[],"power":{"onAC":true,"charging":false})",
         R"({"updated":1,"readings":{},"fans":[],"power":{"onAC":true,"charging":false},)"
         R"("unlockKey":1})"}) {
        EXPECT_EQ(Measurements::decode(text), std::nullopt) << text;
    }
    EXPECT_TRUE(measured.isFresh(measured.updated + 4.9));
    EXPECT_FALSE(measured.isFresh(measured.updated + 5));
    EXPECT_FALSE(measured.isFresh(measured.updated - 5));
}

}  // namespace
