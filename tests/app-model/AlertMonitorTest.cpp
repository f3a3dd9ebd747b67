// Alert timing with an injected clock: conditions must last, alerts fire once, recover once and
// respect the cool-down.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Tarnwick/alerts/AlertMonitor.h"
#include "support/QtTest.h"

namespace {

// One poll every two seconds from t = 0; `at` gives the input of the poll at time t.
struct AlertCase {
    const char* name;
    AlertSettings settings;
    double seconds;
    std::function<AlertInput(double t)> at;
    // Each alert as "<kind>@<time>".
    std::vector<std::string> expected;
};

const char* kindName(AlertKind kind) {
    switch (kind) {
        case AlertKind::chipHot:
            return "hot";
        case AlertKind::chipNormal:
            return "normal";
        case AlertKind::fanFailure:
            return "fan";
        case AlertKind::controlStopped:
            return "stopped";
        case AlertKind::installFailed:
            return "install";
    }
    return "?";
}

AlertInput chip(double celsius) { return {.hottest = celsius}; }

AlertInput driven(double actual, double target) {
    AlertInput input;
    input.hottest = 85;
    input.daemonDriving = true;
    input.helperInstalled = true;
    input.helperRunning = true;
    input.fans = {Fan{.index = 0, .actual = 3000, .target = 3000},
                  Fan{.index = 1, .actual = actual, .target = target}};
    return input;
}

AlertInput daemon(bool installed, bool running) {
    return {.hottest = 60, .helperInstalled = installed, .helperRunning = running};
}

constexpr AlertSettings kAll{.chipHot = true, .fanFailure = true, .controlStopped = true};

class AlertTiming : public ::testing::TestWithParam<AlertCase> {};

TEST_P(AlertTiming, FiresAsExpected) {
    const AlertCase& c = GetParam();
    AlertMonitor monitor(c.settings);
    std::vector<std::string> got;
    for (double now = 0; now <= c.seconds; now += 2) {
        for (const Alert& alert : monitor.update(c.at(now), 5000 + now)) {
            got.push_back(std::string(kindName(alert.kind)) + "@" +
                          std::to_string(static_cast<int>(now)));
            EXPECT_FALSE(alert.title.isEmpty());
            EXPECT_FALSE(alert.body.isEmpty());
        }
    }
    EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AlertTiming,
    ::testing::Values(
        // 30 s above the threshold: one alert; under the margin: one recovery.
        AlertCase{"HotSustained",
                  kAll,
                  120,
                  [](double s) { return chip(s < 60   ? 97
                                             : s < 80 ? 92
                                                      : 85); },
                  {"hot@30", "normal@80"}},
        AlertCase{"HotTooShort", kAll, 120, [](double s) { return chip(s < 28 ? 99 : 70); }, {}},
        // A dip below the threshold restarts the 30 s.
        AlertCase{"HotInterrupted",
                  kAll,
                  80,
                  [](double s) { return chip(s == 20 ? 94 : 96); },
                  {"hot@52"}},
        // Hot again within the cool-down: no second alert (and so no second recovery)...
        AlertCase{"HotCoolDown",
                  kAll,
                  400,
                  [](double s) {
                      return chip(s < 40 ? 97 : s < 100 ? 80 : s < 300 ? 97 : 80);
                  },
                  {"hot@30", "normal@40"}},
        // ...after it, the condition still holding alerts again.
        AlertCase{"HotAfterCoolDown",
                  kAll,
                  1100,
                  [](double s) { return chip(s < 40    ? 97
                                             : s < 100 ? 80
                                                       : 97); },
                  {"hot@30", "normal@40", "hot@930"}},
        AlertCase{"HotOffByDefault", AlertSettings{}, 120, [](double) { return chip(99); }, {}},
        AlertCase{"HotWithoutReadingStaysRaised",
                  kAll,
                  120,
                  [](double s) { return s < 40   ? chip(97)
                                        : s < 80 ? AlertInput{}
                                                 : chip(70); },
                  {"hot@30", "normal@80"}},
        // A fan far below its target for 10 s while the daemon drives.
        AlertCase{"FanFailing",
                  kAll,
                  60,
                  [](double s) { return driven(s < 10 ? 2900 : 600, 3000); },
                  {"fan@20"}},
        AlertCase{"FanRampingIsNotFailure",
                  kAll,
                  60,
                  [](double s) { return driven(std::min(500 + 200 * s, 3000.0), 3000); },
                  {}},
        AlertCase{"FanSlowWhileSystemDrives",
                  kAll,
                  60,
                  [](double) {
                      AlertInput input = driven(200, 3000);
                      input.daemonDriving = false;
                      return input;
                  },
                  {}},
        AlertCase{"FanAlertOff",
                  AlertSettings{.fanFailure = false},
                  60,
                  [](double) { return driven(200, 3000); },
                  {}},
        // Fan control seen running, then stale while installed.
        AlertCase{"ControlStopped",
                  kAll,
                  60,
                  [](double s) { return daemon(true, s < 20); },
                  {"stopped@30"}},
        AlertCase{
            "ControlNeverSeenRunning", kAll, 60, [](double) { return daemon(true, false); }, {}},
        AlertCase{
            "ControlUninstalled", kAll, 60, [](double s) { return daemon(s < 24, s < 20); }, {}},
        AlertCase{"ControlRestartedQuickly",
                  kAll,
                  60,
                  [](double s) { return daemon(true, s < 20 || s > 26); },
                  {}},
        AlertCase{"ControlFlapsWithinCoolDown",
                  kAll,
                  200,
                  [](double s) { return daemon(true, s < 20 || (s > 60 && s < 80)); },
                  {"stopped@30"}}),
    support::CaseName());

TEST(AlertMonitorSettings, TurningOffForgetsPendingCondition) {
    AlertMonitor monitor(kAll);
    for (double t = 0; t < 20; t += 2) EXPECT_TRUE(monitor.update(chip(97), t).empty());
    monitor.setSettings(AlertSettings{});
    monitor.update(chip(97), 20);
    monitor.setSettings(kAll);
    for (double t = 22; t < 50; t += 2) EXPECT_TRUE(monitor.update(chip(97), t).empty()) << t;
}

}  // namespace
