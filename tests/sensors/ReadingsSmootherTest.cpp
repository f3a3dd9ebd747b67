#include <gtest/gtest.h>

#include "FanCore/Sensors/ReadingsSmoother.h"

namespace {

TEST(ReadingsSmoother, FollowsRisesFasterThanFallsAndHoldsWhenSilent) {
    ReadingsSmoother smoother;
    EXPECT_DOUBLE_EQ(*smoother.apply(Readings{.cpu = 70}).cpu, 70);
    EXPECT_DOUBLE_EQ(*smoother.apply(Readings{.cpu = 80}).cpu, 73);
    EXPECT_DOUBLE_EQ(*smoother.apply(Readings{.cpu = 60}).cpu, 71.05);
    const Readings silent = smoother.apply(Readings{});
    ASSERT_TRUE(silent.cpu);
    EXPECT_DOUBLE_EQ(*silent.cpu, 71.05);
    EXPECT_DOUBLE_EQ(*smoother.cpu, 71.05);
}

TEST(ReadingsSmoother, KeepsTheThreeChipFieldsApart) {
    ReadingsSmoother smoother;
    smoother.apply(Readings{.cpu = 50, .gpu = 40});
    const Readings out = smoother.apply(Readings{.cpu = 60, .gpu = 30, .die = 90});
    EXPECT_DOUBLE_EQ(*out.cpu, 53);
    EXPECT_DOUBLE_EQ(*out.gpu, 38.5);
    EXPECT_DOUBLE_EQ(*out.die, 90);
}

TEST(ReadingsSmoother, PassesOtherFieldsThroughUnchanged) {
    ReadingsSmoother smoother;
    smoother.apply(Readings{.ssd = 90, .battery = 35});
    const Readings out =
        smoother.apply(Readings{.ssd = 40, .wifi = 45, .airflow = 30, .palmRest = 28});
    EXPECT_EQ(out, (Readings{.ssd = 40, .wifi = 45, .airflow = 30, .palmRest = 28}));
}

}  // namespace
