#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "FanCore/Policy/Records.h"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
using Opt = std::optional<double>;

struct HottestCase {
    const char* name;
    Readings readings;
    Opt expected;
};

TEST(Readings, HottestConsidersOnlyTheChip) {
    const HottestCase cases[] = {
        {"nothing", Readings{}, std::nullopt},
        {"battery and ssd only", Readings{.ssd = 45.0, .battery = 33.0}, std::nullopt},
        {"gpu and die", Readings{.gpu = 61.0, .die = 64.5}, 64.5},
        {"tie", Readings{.cpu = 70.0, .gpu = 70.0}, 70.0},
        {"cpu hottest", Readings{.cpu = 80.0, .gpu = 60.0, .die = 70.0}, 80.0},
        {"gpu hottest", Readings{.cpu = 50.0, .gpu = 90.0, .die = 70.0}, 90.0},
        {"die only", Readings{.die = 42.0}, 42.0},
        {"hot battery ignored",
         Readings{.cpu = 50.0,
                  .ssd = 99.0,
                  .battery = 99.0,
                  .wifi = 99.0,
                  .airflow = 99.0,
                  .palmRest = 99.0},
         50.0},
        {"negative values", Readings{.cpu = -5.0, .gpu = -2.0}, -2.0},
    };
    for (const HottestCase& c : cases) {
        EXPECT_EQ(c.readings.hottest(), c.expected) << c.name;
    }
}

TEST(Readings, HottestSkipsALaterNaN) {
    // A NaN never compares greater, so it cannot displace a real temperature behind it.
    const Readings readings{.cpu = 60.0, .gpu = nan, .die = 55.0};
    EXPECT_EQ(readings.hottest(), 60.0);
}

TEST(Readings, EqualityFieldByField) {
    const Readings a{.cpu = 50.0, .battery = 30.0};
    Readings b = a;
    EXPECT_EQ(a, b);
    b.palmRest = 30.0;
    EXPECT_NE(a, b) << "absent and present differ";
    EXPECT_EQ(Readings{}, Readings{}) << "two absent fields are equal";
    EXPECT_NE(Readings{.wifi = 0.0}, Readings{});
}

TEST(Readings, NaNEqualsNothingNotEvenItself) {
    const Readings withNaN{.cpu = nan};
    EXPECT_NE(withNaN, withNaN);
    EXPECT_NE(withNaN, Readings{});
    EXPECT_NE(withNaN, Readings{.cpu = 0.0});
}

TEST(Fan, EqualityFieldByField) {
    const Fan fan{0, 1200.0, 1000.0, 4000.0, 1200.0, 0};
    Fan other = fan;
    EXPECT_EQ(fan, other);
    other.mode = 1;
    EXPECT_NE(fan, other);
    Fan broken = fan;
    broken.actual = nan;
    EXPECT_NE(broken, broken);
}

TEST(PowerState, DefaultsAndEquality) {
    const PowerState power;
    EXPECT_FALSE(power.onAC);
    EXPECT_FALSE(power.charging);
    EXPECT_FALSE(power.percent.has_value());
    EXPECT_EQ(power, (PowerState{false, false, std::nullopt}));
    EXPECT_NE(power, (PowerState{false, false, 0}));
    EXPECT_NE((PowerState{true, false, 80}), (PowerState{true, false, 81}));
}

}  // namespace
