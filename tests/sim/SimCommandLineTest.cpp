#include <gtest/gtest.h>

#include <ostream>

#include "sim/SimCommandLine.h"

namespace {

struct Bad {
    std::vector<std::string> arguments;
    const char* complaint;  // a fragment of the error
};

// Names the case in test output, where gtest would otherwise dump the struct's bytes.
inline void PrintTo(const Bad& c, std::ostream* out) {
    *out << "args";
    for (const std::string& argument : c.arguments) *out << ' ' << argument;
}

class SimCommandLineBad : public ::testing::TestWithParam<Bad> {};

TEST_P(SimCommandLineBad, NamesTheProblem) {
    const SimCommandLine::Parsed parsed = SimCommandLine::parse(GetParam().arguments);
    EXPECT_FALSE(parsed.options);
    EXPECT_FALSE(parsed.help);
    EXPECT_NE(parsed.error.find(GetParam().complaint), std::string::npos) << parsed.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimCommandLineBad,
    ::testing::Values(Bad{{}, "--root DIR is required"},
                      Bad{{"--profile", "mba13-m2"}, "--root DIR is required"},
                      Bad{{"--root"}, "--root needs a value"},
                      Bad{{"--root", "/"}, "must not be \"/\""},
                      Bad{{"--root=//"}, "must not be \"/\""},
                      Bad{{"--root", "/tmp/a", "--root", "/tmp/b"}, "twice"},
                      Bad{{"--root", "/tmp/a", "--tick-ms", "fast"}, "--tick-ms"},
                      Bad{{"--root", "/tmp/a", "--tick-ms", "5"}, "10 to 60000"},
                      Bad{{"--root", "/tmp/a", "--tick-ms", "100x"}, "--tick-ms"},
                      Bad{{"--root", "/tmp/a", "--profile="}, "--profile needs"},
                      Bad{{"--root", "/tmp/a", "--verbose"}, "unknown argument \"--verbose\""},
                      Bad{{"--root", "/tmp/a", "--layout", "fuse"}, "--layout must be"},
                      Bad{{"/tmp/a"}, "unknown argument"}));

TEST(SimCommandLine, AcceptsBothSpellingsAndDefaults) {
    const auto parsed = SimCommandLine::parse({"--root=/tmp/x/", "--tick-ms", "40"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->root, "/tmp/x/");
    EXPECT_EQ(parsed.options->profile, "mbp14-m3pro");
    EXPECT_EQ(parsed.options->tickMs, 40);
    EXPECT_FALSE(parsed.options->layout);
    const auto file =
        SimCommandLine::parse({"--profile", "my.json", "--root", "r", "--layout=applesmc"});
    ASSERT_TRUE(file.options);
    EXPECT_EQ(file.options->layout, SimLayout::applesmc);
    EXPECT_EQ(file.options->profile, "my.json");
    EXPECT_EQ(file.options->tickMs, 250);
}

TEST(SimCommandLine, HelpWinsAndUsageListsTheBuiltInProfiles) {
    EXPECT_TRUE(SimCommandLine::parse({"--root", "/tmp/a", "--help"}).help);
    const std::string usage = SimCommandLine::usage();
    for (const char* name : {"mbp14-m3pro (default)", "mba13-m2", "mbp16-intel-t2"}) {
        EXPECT_NE(usage.find(name), std::string::npos) << name;
    }
}

}  // namespace
