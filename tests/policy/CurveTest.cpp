#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "FanCore/Policy/Curve.h"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double minRPM = 1000;
constexpr double maxRPM = 4000;

Config boosted(double boost) {
    Config config;
    config.boost = boost;
    return config;
}

Config manual(double rpm) {
    Config config;
    config.manualMode = true;
    config.manualRPM = rpm;
    return config;
}

Config batteryRule(Config config, double target, bool onlyOnAC) {
    config.batteryCooling = true;
    config.batteryTarget = target;
    config.batteryOnlyOnAC = onlyOnAC;
    return config;
}

Readings chip(double hottest) { return Readings{.cpu = hottest}; }

Readings chipAndBattery(std::optional<double> hottest, double battery) {
    return Readings{.cpu = hottest, .battery = battery};
}

const PowerState onAC{true, false, 80};
const PowerState onBattery{false, false, 80};

struct DemandCase {
    const char* name;
    Config config;
    Readings readings;
    PowerState power;
    double rpm;
    std::string reason;
};

void expectDemand(const DemandCase& c) {
    const Demand demand = Curve::demand(c.config, c.readings, c.power, minRPM, maxRPM);
    EXPECT_NEAR(demand.rpm, c.rpm, 1e-9) << c.name;
    EXPECT_EQ(demand.reason, c.reason) << c.name;
}

TEST(Curve, Temperatures) {
    const struct {
        double boost, start, full;
    } cases[] = {{0, 75, 100}, {0.2, 68, 95}, {0.5, 57.5, 87.5}, {1, 40, 75}};
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(Curve::startTemp(c.boost), c.start) << c.boost;
        EXPECT_DOUBLE_EQ(Curve::fullTemp(c.boost), c.full) << c.boost;
    }
}

TEST(Curve, WorkedExamples) {
    const Config batteryOnAC = batteryRule(boosted(0.2), 33, true);
    const Config batteryAnywhere = batteryRule(boosted(0.2), 33, false);
    const DemandCase cases[] = {
        {"boost 0.2 at 77", boosted(0.2), chip(77), onAC, 2000, "chip 77 \u00b0C"},
        {"boost 0.2 at 86", boosted(0.2), chip(86), onAC, 3000, "chip 86 \u00b0C"},
        {"boost 0 at 95", boosted(0), chip(95), onAC, 0, ""},
        {"boost 0.99 at 30", boosted(0.99), chip(30), onAC, 4000, "chip 30 \u00b0C"},
        {"manual above max", manual(6000), chip(50), onAC, 4000, "manual"},
        {"manual below min", manual(500), chip(50), onAC, 1000, "manual"},
        {"battery on AC", batteryOnAC, chipAndBattery(77, 35), onAC, 2800, "battery 35.0 \u00b0C"},
        {"battery rule off the adapter", batteryOnAC, chipAndBattery(77, 35), onBattery, 2000,
         "chip 77 \u00b0C"},
        {"battery rule everywhere", batteryAnywhere, chipAndBattery(77, 35), onBattery, 2800,
         "battery 35.0 \u00b0C"},
    };
    for (const DemandCase& c : cases) expectDemand(c);
}

TEST(Curve, DemandEdges) {
    const DemandCase cases[] = {
        {"exactly at the start temperature", boosted(0.2), chip(68), onAC, 0, ""},
        {"above the full-speed temperature", boosted(0.2), chip(120), onAC, 4000,
         "chip 120 \u00b0C"},
        {"no chip temperature", boosted(0.5), Readings{.ssd = 90.0}, onAC, 0, ""},
        {"negative boost", boosted(-0.5), chip(99), onAC, 0, ""},
        {"NaN boost", boosted(nan), chip(99), onAC, 0, ""},
        {"NaN chip temperature", boosted(0.5), chip(nan), onAC, 0, ""},
        {"reason rounds to whole degrees", boosted(0.5), chip(76.6), onAC,
         1000 + 3000 * (76.6 - 57.5) / 30, "chip 77 \u00b0C"},
        {"battery rule without a chip temperature", batteryRule(Config{}, 33, true),
         chipAndBattery(std::nullopt, 35), onAC, 2800, "battery 35.0 \u00b0C"},
        {"battery exactly at target - 1", batteryRule(Config{}, 33, true),
         chipAndBattery(std::nullopt, 32), onAC, 0, ""},
        {"battery at target + 4", batteryRule(Config{}, 33, true), chipAndBattery(std::nullopt, 37),
         onAC, 4000, "battery 37.0 \u00b0C"},
        {"battery far above target", batteryRule(Config{}, 33, true),
         chipAndBattery(std::nullopt, 60), onAC, 4000, "battery 60.0 \u00b0C"},
        {"battery rule with no battery reading", batteryRule(boosted(0.2), 33, false), chip(77),
         onAC, 2000, "chip 77 \u00b0C"},
        {"battery rule switched off", boosted(0.2), chipAndBattery(77, 45), onAC, 2000,
         "chip 77 \u00b0C"},
        // (33.25 - 32) / 5 = 0.25 exactly, so the battery asks for exactly the manual 1750.
        {"battery speed equal to the base", batteryRule(manual(1750), 33, true),
         chipAndBattery(50, 33.25), onAC, 1750, "manual"},
        {"battery raises a manual speed", batteryRule(manual(1500), 33, true),
         chipAndBattery(50, 35), onAC, 2800, "battery 35.0 \u00b0C"},
        {"battery never lowers a manual speed", batteryRule(manual(3500), 33, true),
         chipAndBattery(50, 35), onAC, 3500, "manual"},
        {"battery reason has one decimal", batteryRule(Config{}, 33, true),
         chipAndBattery(std::nullopt, 34.56), onAC, 1000 + 3000 * (34.56 - 32) / 5,
         "battery 34.6 \u00b0C"},
        {"NaN battery target", batteryRule(Config{}, nan, true), chipAndBattery(std::nullopt, 60),
         onAC, 0, ""},
        {"NaN manual speed stays in range", manual(nan), chip(50), onAC, 1000, "manual"},
    };
    for (const DemandCase& c : cases) expectDemand(c);
}

TEST(Curve, ManualClampsToMaxWhenRangeIsInverted) {
    const Demand demand = Curve::demand(manual(2000), Readings{}, PowerState{}, 3000, 2500);
    EXPECT_EQ(demand.rpm, 2500);
}

TEST(Curve, Fractions) {
    EXPECT_EQ(Curve::cpuFraction(1.5, 20), 1);
    EXPECT_EQ(Curve::cpuFraction(0.99, 20), 1);
    EXPECT_EQ(Curve::cpuFraction(-0.1, 99), 0);
    EXPECT_EQ(Curve::cpuFraction(nan, 99), 0);
    EXPECT_EQ(Curve::cpuFraction(0.5, nan), 0);
    EXPECT_DOUBLE_EQ(Curve::cpuFraction(0.5, 72.5), 0.5);
    EXPECT_EQ(Curve::cpuFraction(0.5, 200), 1);

    EXPECT_DOUBLE_EQ(Curve::safetyFraction(87.5), 0.5);
    EXPECT_EQ(Curve::safetyFraction(75), 0);
    EXPECT_EQ(Curve::safetyFraction(20), 0);
    EXPECT_EQ(Curve::safetyFraction(100), 1);
    EXPECT_EQ(Curve::safetyFraction(nan), 0);

    Config config;
    config.batteryTarget = 40;
    EXPECT_EQ(Curve::batteryFraction(config, 39), 0);
    EXPECT_DOUBLE_EQ(Curve::batteryFraction(config, 41.5), 0.5);
    EXPECT_EQ(Curve::batteryFraction(config, 44), 1);
    EXPECT_EQ(Curve::batteryFraction(config, nan), 0);
}

TEST(Curve, ChargingAndPercentPlayNoPart) {
    const Config config = batteryRule(boosted(0.2), 33, true);
    const Readings readings = chipAndBattery(77, 35);
    const Demand a =
        Curve::demand(config, readings, PowerState{true, false, std::nullopt}, minRPM, maxRPM);
    const Demand b = Curve::demand(config, readings, PowerState{true, true, 5}, minRPM, maxRPM);
    EXPECT_EQ(a.rpm, b.rpm);
    EXPECT_EQ(a.reason, b.reason);
}

}  // namespace
