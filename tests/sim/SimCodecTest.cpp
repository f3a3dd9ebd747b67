#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

#include "sim/SimCodec.h"
#include "support/CaseName.h"

namespace {

struct Decoding {
    const char* type;
    const char* bytes;
    double value;
};

// Names the case in test output, where gtest would otherwise dump the struct's bytes.
inline void PrintTo(const Decoding& c, std::ostream* out) { *out << c.type << " " << c.bytes; }

class SimCodecDecode : public ::testing::TestWithParam<Decoding> {};

TEST_P(SimCodecDecode, DecodesBytesAsRealControllersStoreThem) {
    const auto bytes = SimCodec::parseHex(GetParam().bytes);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(SimCodec::decode(GetParam().type, *bytes), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Types, SimCodecDecode,
    ::testing::Values(Decoding{"flt ", "00 80 e5 44", 1836.0},
                      Decoding{"flt ", "00 00 48 42", 50.0}, Decoding{"sp78", "2e 80", 46.5},
                      Decoding{"sp78", "ff 00", -1.0}, Decoding{"fpe2", "09 c4", 625.0},
                      Decoding{"ioft", "00 00 32 00 00 00 00 00", 50.0},
                      Decoding{"ui8 ", "ff", 255.0}, Decoding{"ui16", "01 02", 258.0},
                      Decoding{"ui32", "00 00 01 00", 256.0}, Decoding{"si8 ", "ff", -1.0},
                      Decoding{"si16", "ff fe", -2.0}, Decoding{"flag", "01", 1.0}),
    [](const auto& testCase) {
        return support::caseNameOf(testCase.param.type, testCase.param.bytes);
    });

TEST(SimCodec, WrongSizeOrNonNumericTypeDecodesToNothing) {
    const uint8_t two[] = {0, 0};
    EXPECT_FALSE(SimCodec::decode("flt ", two));
    EXPECT_FALSE(SimCodec::decode("ch8*", two));
    EXPECT_FALSE(SimCodec::decode("ui8 ", two));
}

struct Encoding {
    const char* type;
    double value;
    const char* bytes;
};

inline void PrintTo(const Encoding& c, std::ostream* out) { *out << c.type << " " << c.value; }

class SimCodecEncode : public ::testing::TestWithParam<Encoding> {};

TEST_P(SimCodecEncode, EncodesRoundingHalvesAwayFromZeroAndClamping) {
    std::vector<uint8_t> out(SimCodec::naturalSize(GetParam().type));
    ASSERT_TRUE(SimCodec::encode(GetParam().type, GetParam().value, out));
    EXPECT_EQ(SimCodec::hex(out), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Types, SimCodecEncode,
    ::testing::Values(Encoding{"flt ", 1500, "00 80 bb 44"}, Encoding{"fpe2", 612.3, "09 91"},
                      Encoding{"fpe2", -5, "00 00"}, Encoding{"sp78", 46.5, "2e 80"},
                      Encoding{"sp78", -1, "ff 00"}, Encoding{"sp78", 1000, "7f ff"},
                      Encoding{"ui8 ", 2.5, "03"}, Encoding{"ui8 ", 300, "ff"},
                      Encoding{"ui8 ", -3, "00"}, Encoding{"ui16", 258, "01 02"},
                      Encoding{"ui32", 90, "00 00 00 5a"}, Encoding{"si8 ", -1.5, "fe"},
                      Encoding{"ioft", 50, "00 00 32 00 00 00 00 00"}),
    [](const auto& testCase) {
        return support::caseNameOf(testCase.param.type, testCase.param.value);
    });

TEST(SimCodec, RefusesWhatItCannotEncode) {
    std::vector<uint8_t> four(4);
    std::vector<uint8_t> two(2);
    EXPECT_FALSE(SimCodec::encode("flt ", std::numeric_limits<double>::infinity(), four));
    EXPECT_FALSE(SimCodec::encode("flt ", std::nan(""), four));
    EXPECT_FALSE(SimCodec::encode("flt ", 1, two));
    EXPECT_FALSE(SimCodec::encode("ch8*", 1, four));
}

TEST(SimCodec, KeyCodesPackSpacePaddedAndHexParsesStrictly) {
    EXPECT_EQ(SimCodec::pack("FNum"), 0x464E756Du);
    EXPECT_EQ(SimCodec::pack("ui8"), SimCodec::pack("ui8 "));
    EXPECT_EQ(SimCodec::unpack(0x234B4559), "#KEY");
    EXPECT_FALSE(SimCodec::parseHex("0"));
    EXPECT_FALSE(SimCodec::parseHex("zz"));
    EXPECT_EQ(SimCodec::parseHex("0a0B ff")->size(), 3u);
    EXPECT_FALSE(SimCodec::validName(""));
    EXPECT_FALSE(SimCodec::validName("FNumX"));
    EXPECT_FALSE(SimCodec::validName(std::string_view("F\n", 2)));
}

}  // namespace
