// The history ring: bounded whatever the polling rate, covering the whole window, and keeping the
// moments the daemon took over.

#include <gtest/gtest.h>

#include <cmath>

#include "Tarnwick/model/History.h"
#include "Tarnwick/panel/views/HistoryChart.h"
#include "support/QtTest.h"

namespace {

std::vector<Fan> fans(double rpm, std::size_t count = 2) {
    std::vector<Fan> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i].index = static_cast<int64_t>(i);
        out[i].actual = rpm + static_cast<double>(i);
    }
    return out;
}

struct Rate {
    const char* name;
    double interval;  // seconds between polls
    double hours;
};

class HistoryBounds : public ::testing::TestWithParam<Rate> {};

TEST_P(HistoryBounds, StaysWithinCapacityAndCoversTheWindow) {
    History history;
    const Rate rate = GetParam();
    double t = 1000;
    for (; t < 1000 + rate.hours * 3600; t += rate.interval) {
        history.record(t, 70.0, fans(2000), false);
        ASSERT_LE(history.size(), History::capacity);
    }
    const std::vector<HistorySample> samples = history.samples();
    const double span = samples.back().time - samples.front().time;
    EXPECT_LE(span, History::window);
    // Whatever the rate, the oldest kept sample reaches back the whole window (less one poll).
    EXPECT_GE(span, History::window - std::max(rate.interval, History::minSpacing));
    for (std::size_t i = 1; i < samples.size(); ++i)
        EXPECT_LT(samples[i - 1].time, samples[i].time);
}

INSTANTIATE_TEST_SUITE_P(Polling, HistoryBounds,
                         ::testing::Values(Rate{"every2s", 2.0, 1.0}, Rate{"every250ms", 0.25, 0.5},
                                           Rate{"every7s", 7.0, 3.0}),
                         support::CaseName());

TEST(History, FootprintIsFixed) {
    EXPECT_EQ(History::capacity, 901U);
    EXPECT_LE(History::footprint(), 40U * 1024U);
}

TEST(History, KeepsFirstFansAndMarksMissingTemperature) {
    History history;
    history.record(1, std::nullopt, fans(1500, 6), false);
    const HistorySample& sample = history.newest();
    EXPECT_FALSE(sample.hottestValue().has_value());
    EXPECT_EQ(sample.fanCount, HistorySample::maxFans);
    EXPECT_EQ(sample.topRPM(), 1503.0);
    history.record(2, 80.0, {Fan{.actual = std::nan("")}}, false);
    EXPECT_EQ(history.newest().topRPM(), 0.0);
}

TEST(History, ClockGoingBackStartsAfresh) {
    History history;
    for (int i = 0; i < 10; ++i) history.record(100 + 2 * i, 60.0, {}, false);
    history.record(50, 61.0, {}, false);
    EXPECT_EQ(history.size(), 1U);
    EXPECT_EQ(history.newest().time, 50);
}

TEST(History, BriefTakeoverBetweenClosePollsKeepsItsMarker) {
    History history;
    history.record(0, 70.0, fans(1000), false);
    history.record(2, 70.0, fans(1000), false);
    history.record(2.3, 71.0, fans(1000), true);   // the daemon took over, seen once...
    history.record(2.6, 71.0, fans(1200), false);  // ...by a poll this one replaces
    history.record(4, 72.0, fans(1600), false);
    history.record(6, 72.0, fans(1600), false);
    const std::vector<double> marks = takeoverTimes(history.samples());
    ASSERT_EQ(marks.size(), 1U);
    EXPECT_GT(marks[0], 2.0);
    EXPECT_LT(marks[0], 6.0);
}

TEST(History, SpanText) {
    auto span = [](double seconds) {
        return historySpanText({HistorySample{.time = 0}, HistorySample{.time = seconds}})
            .toStdString();
    };
    EXPECT_EQ(span(40), "last 40 s");
    EXPECT_EQ(span(179), "last 2 min");
    EXPECT_EQ(span(5000), "last 15 min");
    EXPECT_EQ(historySpanText({}).toStdString(), "last 0 s");
}

}  // namespace
