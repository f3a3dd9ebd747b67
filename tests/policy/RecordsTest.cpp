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

}  // namespace
