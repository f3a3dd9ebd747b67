#include <gtest/gtest.h>

#include "FanCore/Policy/Platform.h"

namespace {

TEST(Platform, VersionNumbersFromAKernelRelease) {
    const struct {
        const char* release;
        std::array<int, 3> expected;
    } cases[] = {
        {"6.1.0-18-amd64", {6, 1, 0}},
        {"6.8.0-45-generic", {6, 8, 0}},
        {"5.15.167.4-microsoft-standard-WSL2", {5, 15, 167}},
        {"6.12.1", {6, 12, 1}},
        {"6.9", {6, 9, 0}},
        {"6.10-rc3", {6, 10, 0}},
        {"4", {4, 0, 0}},
        {"", {0, 0, 0}},
        {"unknown", {0, 0, 0}},
        {"-1.2.3", {0, 0, 0}},
        {"99999999999999.1.2", {0, 0, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Platform::versionNumbers(c.release), c.expected) << c.release;
}

TEST(Platform, RunningKernelHasAVersion) {
    EXPECT_GT(Platform::osVersion()[0], 0);
    EXPECT_EQ(Platform::osName, "Linux");
}

}  // namespace
