#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "FanCore/Sensors/Sensors.h"

namespace {

struct Case {
    const char* key;
    std::optional<int64_t> generation;
    std::optional<std::string> group;
};

const Case kCases[] = {
    // Names with a fixed meaning whatever their prefix says.
    {"Ts0P", 3, "palm"},
    {"Ts1P", std::nullopt, "palm"},
    {"Ts2P", 3, std::nullopt},
    {"TCHP", 3, std::nullopt},
    {"TCHP", std::nullopt, std::nullopt},
    {"TC0P", 2, "cpu"},
    {"TW0P", 2, "wifi"},
    {"TW1P", 2, std::nullopt},
    // "Tf" keys are chip sensors only on the third generation, and only the listed ones.
    {"Tf04", 3, "cpu"},
    {"Tf4E", 3, "cpu"},
    {"Tf14", 3, "gpu"},
    {"Tf2A", 3, "gpu"},
    {"Tf05", 3, std::nullopt},
    {"Tf04", 2, std::nullopt},
    {"Tf14", 2, std::nullopt},
    {"Tf04", 1, std::nullopt},
    {"Tf04", std::nullopt, std::nullopt},
    {"Tf14", std::nullopt, std::nullopt},
    {"Tf04", 13, std::nullopt},
    {"Tf", 3, std::nullopt},
    // Two-letter prefixes.
    {"Tp01", 2, "cpu"},
    {"Te05", 3, "cpu"},
    {"TC0c", std::nullopt, "cpu"},
    {"Tg0f", 2, "gpu"},
    {"TH0x", 3, "ssd"},
    {"TB1T", 2, "battery"},
    {"Ta0P", 2, "air"},
    // Case matters; unknown prefixes and short names belong nowhere.
    {"tp01", 2, std::nullopt},
    {"TP01", 2, std::nullopt},
    {"TG0D", 2, std::nullopt},
    {"Tm0P", 2, std::nullopt},
    {"T", 2, std::nullopt},
    {"", 2, std::nullopt},
    {"F0Ac", 2, std::nullopt},
};

TEST(GroupFor, ClassifiesKeyNames) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.key) + " generation " +
                     (c.generation ? std::to_string(*c.generation) : "unknown"));
        EXPECT_EQ(Sensors::groupFor(c.key, c.generation), c.group);
    }
}

}  // namespace
