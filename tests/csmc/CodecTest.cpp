#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "CSMC/codec.h"
#include "support/CaseName.h"

namespace {

std::array<uint8_t, 32> area(std::vector<uint8_t> leading) {
    std::array<uint8_t, 32> bytes{};
    for (size_t i = 0; i < leading.size(); ++i) bytes[i] = leading[i];
    return bytes;
}

struct DecodeCase {
    const char* type;
    uint32_t size;
    std::vector<uint8_t> bytes;
    std::optional<double> expected;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << '"' << std::string(c.type, 4) << "\" size " << c.size;
}

class Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, GivesTheTableValue) {
    const DecodeCase& c = GetParam();
    const auto bytes = area(c.bytes);
    const uint32_t type = (uint32_t{static_cast<uint8_t>(c.type[0])} << 24) |
                          (uint32_t{static_cast<uint8_t>(c.type[1])} << 16) |
                          (uint32_t{static_cast<uint8_t>(c.type[2])} << 8) |
                          static_cast<uint8_t>(c.type[3]);
    const std::optional<double> value = smc_decode(type, c.size, bytes);
    ASSERT_EQ(value.has_value(), c.expected.has_value());
    if (c.expected) {
        EXPECT_DOUBLE_EQ(*value, *c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Types, Decode,
    ::testing::Values(
        DecodeCase{"sp78", 2, {0x2E, 0x80}, 46.5}, DecodeCase{"sp78", 2, {0xFF, 0x00}, -1.0},
        DecodeCase{"sp78", 2, {0x80, 0x00}, -128.0}, DecodeCase{"fpe2", 2, {0x09, 0xC4}, 625.0},
        DecodeCase{"fpe2", 2, {0xFF, 0xFF}, 16383.75},
        DecodeCase{"flt ", 4, {0x00, 0x00, 0x48, 0x42}, 50.0},
        DecodeCase{"flt ", 4, {0x00, 0x00, 0xC0, 0xBF}, -1.5},
        DecodeCase{"ioft", 8, {0x00, 0x00, 0x32, 0x00, 0x00, 0x00, 0x00, 0x00}, 50.0},
        DecodeCase{"ioft", 8, {0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0.5},
        // The high bytes must not be sign-extended or dropped.
        DecodeCase{"ioft", 8, {0, 0, 0, 0, 0, 0, 0, 0x80}, 140737488355328.0},
        DecodeCase{"ui8 ", 1, {0xFF}, 255.0}, DecodeCase{"ui16", 2, {0x01, 0x02}, 258.0},
        DecodeCase{"ui32", 4, {0x01, 0x02, 0x03, 0x04}, 16909060.0},
        DecodeCase{"ui32", 4, {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
        DecodeCase{"si8 ", 1, {0xFF}, -1.0}, DecodeCase{"si8 ", 1, {0x7F}, 127.0},
        DecodeCase{"si16", 2, {0xFF, 0xFE}, -2.0}, DecodeCase{"si16", 2, {0x80, 0x00}, -32768.0},
        // Sizes of the integer types are not checked: the bytes come from the value area.
        DecodeCase{"ui16", 1, {0x01, 0x02}, 258.0}, DecodeCase{"ui8 ", 0, {0x07}, 7.0},
        DecodeCase{"ui32", 2, {0x00, 0x00, 0x01, 0x00}, 256.0},
        // Fixed-size types with another size, and unknown types, have no value.
        DecodeCase{"flt ", 2, {0x00, 0x00, 0x48, 0x42}, std::nullopt},
        DecodeCase{"flt ", 8, {0x00, 0x00, 0x48, 0x42}, std::nullopt},
        DecodeCase{"fpe2", 4, {0x09, 0xC4}, std::nullopt},
        DecodeCase{"sp78", 1, {0x2E, 0x80}, std::nullopt},
        DecodeCase{"ioft", 4, {0x00, 0x00, 0x32, 0x00}, std::nullopt},
        DecodeCase{"ch8*", 4, {0x41, 0x42, 0x43, 0x44}, std::nullopt},
        DecodeCase{"{fds", 16, {0x01}, std::nullopt},
        // A type cut at a NUL is another code.
        DecodeCase{"ui8\0", 1, {0x01}, std::nullopt}),
    [](const auto& testCase) {
        std::string bytes;
        for (const uint8_t byte : testCase.param.bytes) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", byte);
            bytes += hex;
        }
        return support::caseNameOf(testCase.param.type, testCase.param.size, bytes);
    });

struct EncodeCase {
    const char* type;
    uint32_t size;
    double value;
    std::optional<std::vector<uint8_t>> expected;
};

void PrintTo(const EncodeCase& c, std::ostream* os) {
    *os << '"' << c.type << "\" size " << c.size << " value " << c.value;
}

class Encode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(Encode, WritesTheTableBytes) {
    const EncodeCase& c = GetParam();
    const uint32_t type = (uint32_t{static_cast<uint8_t>(c.type[0])} << 24) |
                          (uint32_t{static_cast<uint8_t>(c.type[1])} << 16) |
                          (uint32_t{static_cast<uint8_t>(c.type[2])} << 8) |
                          static_cast<uint8_t>(c.type[3]);
    const std::optional<SmcEncoded> encoded = smc_encode(type, c.size, c.value);
    ASSERT_EQ(encoded.has_value(), c.expected.has_value()) << c.type << " " << c.value;
    if (!c.expected) return;
    const std::vector<uint8_t> bytes(encoded->bytes.begin(),
                                     encoded->bytes.begin() + encoded->length);
    EXPECT_EQ(bytes, *c.expected) << c.type << " " << c.value;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Types, Encode,
    ::testing::Values(
        EncodeCase{"ui8 ", 1, 300, std::vector<uint8_t>{0xFF}},
        EncodeCase{"ui8 ", 1, -3, std::vector<uint8_t>{0x00}},
        EncodeCase{"ui8 ", 1, 2.5, std::vector<uint8_t>{0x03}},
        EncodeCase{"ui8 ", 1, 2.49, std::vector<uint8_t>{0x02}},
        EncodeCase{"ui8 ", 1, -0.5, std::vector<uint8_t>{0x00}},
        EncodeCase{"ui8 ", 1, 254.5, std::vector<uint8_t>{0xFF}},
        EncodeCase{"ui8 ", 1, 1, std::vector<uint8_t>{0x01}},
        EncodeCase{"ui16", 2, 258, std::vector<uint8_t>{0x01, 0x02}},
        EncodeCase{"ui16", 2, 65535.4, std::vector<uint8_t>{0xFF, 0xFF}},
        EncodeCase{"ui16", 2, 1e300, std::vector<uint8_t>{0xFF, 0xFF}},
        EncodeCase{"ui16", 2, -1e300, std::vector<uint8_t>{0x00, 0x00}},
        EncodeCase{"fpe2", 2, 612.3, std::vector<uint8_t>{0x09, 0x91}},
        EncodeCase{"fpe2", 2, 625, std::vector<uint8_t>{0x09, 0xC4}},
        EncodeCase{"fpe2", 2, 0.125, std::vector<uint8_t>{0x00, 0x01}},
        EncodeCase{"fpe2", 2, 16383.75, std::vector<uint8_t>{0xFF, 0xFF}},
        EncodeCase{"fpe2", 2, 20000, std::vector<uint8_t>{0xFF, 0xFF}},
        EncodeCase{"fpe2", 2, -5, std::vector<uint8_t>{0x00, 0x00}},
        EncodeCase{"flt ", 4, 1500, std::vector<uint8_t>{0x00, 0x80, 0xBB, 0x44}},
        EncodeCase{"flt ", 4, 50, std::vector<uint8_t>{0x00, 0x00, 0x48, 0x42}},
        EncodeCase{"flt ", 4, 0.1, std::vector<uint8_t>{0xCD, 0xCC, 0xCC, 0x3D}},
        EncodeCase{"flt ", 4, -2, std::vector<uint8_t>{0x00, 0x00, 0x00, 0xC0}},
        // Types and sizes outside the four writable rows.
        EncodeCase{"sp78", 2, 40, std::nullopt}, EncodeCase{"ioft", 8, 40, std::nullopt},
        EncodeCase{"ui32", 4, 40, std::nullopt}, EncodeCase{"si8 ", 1, 4, std::nullopt},
        EncodeCase{"si16", 2, 4, std::nullopt}, EncodeCase{"flt ", 2, 40, std::nullopt},
        EncodeCase{"ui8 ", 2, 1, std::nullopt}, EncodeCase{"ui16", 1, 1, std::nullopt},
        EncodeCase{"fpe2", 4, 1, std::nullopt}, EncodeCase{"ch8*", 4, 1, std::nullopt},
        // Values no caller should pass are refused rather than written as 0 or full speed.
        EncodeCase{"ui8 ", 1, kNaN, std::nullopt}, EncodeCase{"fpe2", 2, kInf, std::nullopt},
        EncodeCase{"flt ", 4, -kInf, std::nullopt}, EncodeCase{"flt ", 4, 1e39, std::nullopt}),
    [](const auto& testCase) {
        return support::caseNameOf(testCase.param.type, testCase.param.size, testCase.param.value);
    });

TEST(Codec, FpeTwoRoundTripsToTheNearestQuarter) {
    for (const double rpm : {0.0, 1200.0, 1299.9, 5779.0, 6241.13}) {
        const auto encoded = smc_encode(SMC_TYPE_FPE2, 2, rpm);
        ASSERT_TRUE(encoded);
        const auto decoded =
            smc_decode(SMC_TYPE_FPE2, 2, area({encoded->bytes[0], encoded->bytes[1]}));
        ASSERT_TRUE(decoded);
        EXPECT_DOUBLE_EQ(*decoded, std::round(rpm * 4) / 4) << rpm;
    }
}

TEST(Codec, TypeConstantsPackLikeKeys) {
    EXPECT_EQ(SMC_TYPE_FLT, 0x666C7420u);
    EXPECT_EQ(SMC_TYPE_UI8, 0x75693820u);
    EXPECT_EQ(smc_code("FNum"), 0x464E756Du);
}

}  // namespace
