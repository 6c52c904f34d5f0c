#include <gtest/gtest.h>

#include "core/loop_stats.h"

using namespace vntx;
using namespace std::chrono_literals;
using Clock = LoopPeriodStats::Clock;

TEST(LoopPeriodStats, PeriodsAreMeasuredBetweenTickStarts) {
    LoopPeriodStats s;
    Clock::time_point t{};
    s.tickStarted(t);
    EXPECT_EQ(s.count(), 0u);  // the first tick has no period yet
    for (auto d : {10ms, 9ms, 11ms, 10ms}) s.tickStarted(t += d);
    EXPECT_EQ(s.count(), 4u);
    EXPECT_DOUBLE_EQ(s.meanMs(), 10.0);
    EXPECT_DOUBLE_EQ(s.largestMs(), 11.0);
    // Every period is at most 11 ms: the 99th percentile is the bin holding
    // 11 ms, limited to the largest period measured.
    EXPECT_DOUBLE_EQ(s.percentileMs(0.99), 11.0);
    EXPECT_NEAR(s.percentileMs(0.5), 10.0, 0.1);
}

TEST(LoopPeriodStats, NinetyNinthPercentileLooksPastOneOutlierInAHundred) {
    LoopPeriodStats s;
    for (int i = 0; i < 99; ++i) s.add(10ms);
    s.add(50ms);
    EXPECT_NEAR(s.percentileMs(0.99), 10.0, 0.1);
    EXPECT_DOUBLE_EQ(s.largestMs(), 50.0);
    s.add(50ms);  // two in 101: now beyond the 99th percentile's reach
    EXPECT_NEAR(s.percentileMs(0.99), 50.0, 0.1);
    EXPECT_NEAR(s.meanMs(), (99 * 10.0 + 100.0) / 101, 1e-9);
}

TEST(LoopPeriodStats, StallsBeyondTheBinsKeepTheirLength) {
    LoopPeriodStats s;
    s.add(10ms);
    s.add(2500ms);  // a stall far beyond the last bin
    EXPECT_DOUBLE_EQ(s.largestMs(), 2500.0);
    EXPECT_DOUBLE_EQ(s.percentileMs(0.99), 2500.0);
    EXPECT_DOUBLE_EQ(s.meanMs(), 1255.0);
    s.add(-5ms);  // never from a steady clock; counted as 0, not as a huge unsigned bin
    EXPECT_EQ(s.count(), 3u);
    EXPECT_NEAR(s.percentileMs(0.3), 0.0, 0.1);
}

TEST(LoopPeriodStats, RestartForgetsFiguresButKeepsTheLastTick) {
    LoopPeriodStats s;
    Clock::time_point t{};
    s.tickStarted(t);
    s.tickStarted(t += 40ms);
    s.restart();
    EXPECT_EQ(s.count(), 0u);
    EXPECT_EQ(s.largestMs(), 0.0);
    s.tickStarted(t += 10ms);  // measured against the tick before the restart
    EXPECT_EQ(s.count(), 1u);
    EXPECT_DOUBLE_EQ(s.largestMs(), 10.0);
}

TEST(LoopPeriodStats, SummaryLine) {
    LoopPeriodStats s;
    EXPECT_EQ(s.summary(), "Control loop period: not measured (no tick followed the first)");
    s.add(10ms);
    s.add(10400us);
    EXPECT_EQ(s.summary(), "Control loop period: mean 10.20 ms, 99th percentile 10.4 ms, largest 10.4 ms (2 ticks)");
}

TEST(DurationStats, MicrosecondBinsResolveShortTicksAndKeepLongOnes) {
    DurationStats s(1us, 10000);
    for (int i = 0; i < 99; ++i) s.add(40us);
    s.add(25ms);  // beyond the 10 ms of bins
    EXPECT_NEAR(s.percentileMs(0.99) * 1000, 41, 1e-6);  // the 40 us bin's upper edge
    EXPECT_DOUBLE_EQ(s.largestMs(), 25.0);
    EXPECT_NEAR(s.meanMs() * 1000, (99 * 40 + 25000) / 100.0, 1e-6);
    EXPECT_EQ(s.microsecondsText(), "mean 290 us, 99th percentile 41 us, largest 25000 us");
    s.restart();
    EXPECT_EQ(s.count(), 0u);
    EXPECT_EQ(s.microsecondsText(), "mean 0 us, 99th percentile 0 us, largest 0 us");
}

TEST(DurationStats, LoadLineJoinsTheLoopTheTickAndTheOtherParts) {
    LoopPeriodStats period;
    Clock::time_point t{};
    period.tickStarted(t);
    for (int i = 0; i < 100; ++i) period.tickStarted(t += 10ms);
    DurationStats cpu(1us, 10000);
    cpu.add(120us);
    EXPECT_EQ(loadLine(period, cpu, ""),
              "Load: loop period mean 10.00 ms, 99th percentile 10.0 ms, largest 10.0 ms (100 ticks); "
              "tick CPU mean 120 us, 99th percentile 120 us, largest 120 us");
    EXPECT_EQ(loadLine(period, cpu, "queued 3 now").substr(0, 5), "Load:");
    EXPECT_NE(loadLine(period, cpu, "queued 3 now").find("largest 120 us; queued 3 now"), std::string::npos);
}
