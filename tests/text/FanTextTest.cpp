#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "FanCore/Text/FanName.h"
#include "FanCore/Text/Numbers.h"
#include "FanCore/Text/Rpm.h"
#include "FanCore/Text/Temperature.h"
#include "support/CaseName.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct WholeCase {
    double rpm;
    const char* text;
};

class WholeDigitsTest : public ::testing::TestWithParam<WholeCase> {};

TEST_P(WholeDigitsTest, DropsFractionTowardsZero) {
    EXPECT_EQ(FanText::wholeDigits(GetParam().rpm), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, WholeDigitsTest,
    ::testing::Values(WholeCase{2551.9, "2551"}, WholeCase{2400, "2400"}, WholeCase{-0.5, "0"},
                      WholeCase{-2.5, "-2"}, WholeCase{kNaN, "nan"}, WholeCase{kInf, "inf"},
                      WholeCase{-kInf, "-inf"}, WholeCase{1e20, "100000000000000000000"},
                      WholeCase{9223372036854775808.0, "9223372036854775808"}),
    [](const auto& testCase) { return support::caseName(testCase.param.text); });

TEST(WholeDigits, LargestDoubleHasAllItsDigits) {
    const std::string text = FanText::wholeDigits(std::numeric_limits<double>::max());
    EXPECT_EQ(text.size(), 309U);
    EXPECT_EQ(text.substr(0, 8), "17976931");
}

struct RpmCase {
    const char* name;
    double rpm;
    const char* rounded;
    const char* truncated;
};

class RpmTextTest : public ::testing::TestWithParam<RpmCase> {};

// The 2^63 guard: the first double past int64's range and the last one inside it.
TEST_P(RpmTextTest, NeverConvertsOutOfRange) {
    EXPECT_EQ(FanText::roundedRpm(GetParam().rpm), GetParam().rounded);
    EXPECT_EQ(FanText::truncatedRpm(GetParam().rpm), GetParam().truncated);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RpmTextTest,
    ::testing::Values(RpmCase{"Fraction", 945.9, "946 rpm", "945 rpm"},
                      RpmCase{"Half", 2400.5, "2401 rpm", "2400 rpm"},
                      RpmCase{"SmallNegative", -0.5, "-1 rpm", "0 rpm"},
                      RpmCase{"NaN", kNaN, "– rpm", "– rpm"},
                      RpmCase{"Infinite", -kInf, "– rpm", "– rpm"},
                      RpmCase{"TwoToThe63", 9223372036854775808.0, "– rpm", "– rpm"},
                      RpmCase{"MinusTwoToThe63", -9223372036854775808.0, "-9223372036854775808 rpm",
                              "-9223372036854775808 rpm"},
                      RpmCase{"Huge", 1e300, "– rpm", "– rpm"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

struct FixedCase {
    double value;
    int decimals;
    const char* text;
};

class FixedTest : public ::testing::TestWithParam<FixedCase> {};

// Exact halves go away from zero, as the panel's texts always rounded them; a double just below a
// half (0.15 is 0.1499…) is no half.
TEST_P(FixedTest, RoundsExactHalvesAwayFromZero) {
    EXPECT_EQ(FanText::fixed(GetParam().value, GetParam().decimals), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, FixedTest,
                         ::testing::Values(FixedCase{61.25, 1, "61.3"},
                                           FixedCase{-61.25, 1, "-61.3"}, FixedCase{62.5, 0, "63"},
                                           FixedCase{0.15, 1, "0.1"}, FixedCase{53.5, 1, "53.5"},
                                           FixedCase{2.675, 2, "2.67"}, FixedCase{-kNaN, 1, "nan"}),
                         [](const auto& testCase) {
                             return support::caseNameOf(testCase.param.value,
                                                        testCase.param.decimals);
                         });

TEST(Celsius, AddsTheUnit) { EXPECT_EQ(FanText::celsius(72.04, 1), "72.0 \u00b0C"); }

TEST(FanName, DependsOnHowManyFansThereAre) {
    EXPECT_EQ(FanText::fanName(3, 1), "fan");
    EXPECT_EQ(FanText::fanName(0, 2), "left");
    EXPECT_EQ(FanText::fanName(2, 2), "right");
    EXPECT_EQ(FanText::fanName(2, 3), "fan 3");
}

}  // namespace
