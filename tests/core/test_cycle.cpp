#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <pugixml.hpp>

#include "core/app.h"
#include "core/cycle.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/loop_stats.h"
#include "core/parameters.h"
#include "core/state.h"
#include "core/status.h"
#include "support/temp_dir.h"

using namespace vntx;
using vntx::test::readFile;
using vntx::test::TempDir;
using namespace std::chrono_literals;

namespace {

// A clock whose sleeps take no time: a sleep to a later point moves it there.
struct FakeClock final : CycleClock {
    TimePoint t = TimePoint(std::chrono::hours(1000));
    std::vector<TimePoint> sleeps;
    TimePoint now() override { return t; }
    void sleepUntil(TimePoint until) override {
        sleeps.push_back(until);
        if (until > t) t = until;
    }
};

struct RecordingFrontEnd : WindowFrontEnd {
    std::atomic<int> starts{0}, ends{0};
    void repaint() override {}
    void postStartCycle() override { ++starts; }
    void postEndProgram() override { ++ends; }
    void enableControl(int, bool) override {}
    void refreshControls() override {}
    void setTopMost(bool) override {}
};

class CycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetStopState();
        params().resetToDefaults();
        params().setFile(dir.path() / "parameters.xml");
        params().readAllParameters();
        setFrontEnd(&fe);
        openLog(dir / "Log.txt");
    }
    void TearDown() override {
        setFrontEnd(nullptr);
        closeLog();
        resetStopState();
        hooks() = CycleHooks{};
        params().setFile({});
    }
    std::string stored(const std::string& key) {
        pugi::xml_document doc;
        doc.load_file(params().file().c_str());
        return doc.select_node(("/parameters/parameter[@name='" + key + "']").c_str()).node().attribute("value").value();
    }
    TempDir dir;
    RecordingFrontEnd fe;
};

TEST(ExitReasons, CountdownTexts) {
    EXPECT_EQ(restartCountdownText(1), "Restarting after 1 second");
    EXPECT_EQ(restartCountdownText(2), "Restarting after 2 seconds");
    EXPECT_EQ(restartCountdownText(15), "Restarting after 15 seconds");
}

TEST(StopRequest, FirstStopWinsAndUserCloseOnlyAddsTheFlag) {
    resetStopState();
    requestStop(ExitReason::ReaderError, 15);
    requestStop(ExitReason::SimConnectError, 9);
    EXPECT_EQ(exitReason(), ExitReason::ReaderError);
    EXPECT_EQ(restartDelaySeconds(), 15);
    EXPECT_FALSE(userClosed());
    requestStop(ExitReason::UserClosedSim, 0);
    EXPECT_TRUE(userClosed());
    EXPECT_EQ(exitReason(), ExitReason::ReaderError);
    EXPECT_EQ(restartDelaySeconds(), 15);

    resetStopState();
    requestStop(ExitReason::UserClosedSim, 7);
    EXPECT_TRUE(stopRequested());
    EXPECT_EQ(exitReason(), ExitReason::UserClosedSim);
    EXPECT_EQ(restartDelaySeconds(), 0);  // the delay is not changed by a user close
    resetStopState();
}

TEST(StopRequest, SimultaneousStopsNeverMixReasonAndDelay) {
    for (int round = 0; round < 200; ++round) {
        resetStopState();
        std::atomic<bool> go{false};
        std::thread a([&] { while (!go) {} requestStop(ExitReason::ReaderError, 15); });
        std::thread b([&] { while (!go) {} requestStop(ExitReason::SimConnectError, 9); });
        std::thread c([&] { while (!go) {} requestStop(ExitReason::NewSettings, 2); });
        go = true;
        a.join();
        b.join();
        c.join();
        auto r = exitReason();
        int d = restartDelaySeconds();
        ASSERT_TRUE((r == ExitReason::ReaderError && d == 15) || (r == ExitReason::SimConnectError && d == 9) ||
                    (r == ExitReason::NewSettings && d == 2))
            << exitReasonText(r) << " " << d;
    }
    resetStopState();
}

TEST(CommandLine, LastRecognisedArgumentWinsInAnyCase) {
    EXPECT_TRUE(productionRequested({"--PRODUCTION"}));
    EXPECT_TRUE(productionRequested({"/Production", "--verbose"}));
    EXPECT_FALSE(productionRequested({"--production", "/NO-PRODUCTION"}));
    EXPECT_TRUE(productionRequested({"--no-production", "x", "--production"}));
    EXPECT_FALSE(productionRequested({"-production", "production"}));
    EXPECT_FALSE(productionRequested({}));
}

TEST(ScheduleSlot, WeekdayAndHalfHour) {
    auto slot = [](std::int64_t t) {
        auto s = scheduleSlotFor(t);
        return std::pair<int, int>(static_cast<int>(s & 0xffffffff), static_cast<int>(s >> 32));
    };
    EXPECT_EQ(slot(1704067200), std::make_pair(1, 0));            // Mon 2024-01-01 00:00:00
    EXPECT_EQ(slot(1704067200 + 29 * 60 + 29), std::make_pair(1, 0));
    EXPECT_EQ(slot(1704067200 + 29 * 60 + 30), std::make_pair(1, 1));  // 29 min 30 s rounds up
    EXPECT_EQ(slot(1704067200 + 30 * 60), std::make_pair(1, 1));
    EXPECT_EQ(slot(1704067200 + 6 * 86400 + 23 * 3600 + 59 * 60), std::make_pair(7, 47));  // Sunday 23:59
    EXPECT_EQ(slot(0), std::make_pair(4, 0));                     // Thursday
}

TEST_F(CycleTest, ReaderErrorRestartSwitchesBothScansOff) {
    requestStop(ExitReason::ReaderError, 0);
    lf_closingDown();
    EXPECT_EQ(fe.starts.load(), 1);
    EXPECT_EQ(fe.ends.load(), 0);
    EXPECT_EQ(stored("SCAN_LIVERIES"), "false");
    EXPECT_EQ(stored("SCAN_AIRPORTS"), "false");
    EXPECT_TRUE(cycleState().restartPending);
    EXPECT_FALSE(stopRequested());  // the reset cleared the stop for the next cycle
    EXPECT_EQ(exitReason(), ExitReason::NotYetSet);
    flushLog();
    EXPECT_NE(readFile(dir / "Log.txt").find("Exiting: READER ERROR"), std::string::npos);
    EXPECT_NE(readFile(dir / "Log.txt").find("Prepare for a restart ..."), std::string::npos);
}

TEST_F(CycleTest, NewSettingsRestartKeepsTheScansAndCountsDown) {
    requestStop(ExitReason::NewSettings, 1);
    lf_closingDown();
    EXPECT_EQ(fe.starts.load(), 1);
    EXPECT_EQ(stored("SCAN_LIVERIES"), "true");
    EXPECT_EQ(stored("SCAN_AIRPORTS"), "true");
    flushLog();
    EXPECT_NE(readFile(dir / "Log.txt").find("Restarting after 1 seconds\n\n\n\n\n"), std::string::npos);
}

TEST_F(CycleTest, UserCloseEndsTheProgramAndClearsPerCycleSettings) {
    params().BLOCK_CALLSIGN.set("KLM1");
    params().writeParameter(params().BLOCK_CALLSIGN);
    requestStop(ExitReason::UserClosedSim, 0);
    lf_closingDown();
    EXPECT_EQ(fe.ends.load(), 1);
    EXPECT_EQ(fe.starts.load(), 0);
    EXPECT_FALSE(cycleState().restartPending);
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "");
    EXPECT_EQ(stored("SCAN_LIVERIES"), "true");
}

TEST_F(CycleTest, TickRunsPerReportAndFifteenSecondDuties) {
    int ticks = 0, perReport = 0, fifteen = 0, liveness = 0;
    hooks().simulationRunning = [] { return true; };
    hooks().trafficTick = [&] { ++ticks; };
    hooks().perReportDuties = [&] { ++perReport; };
    hooks().staticDuties15 = [&] { ++fifteen; };
    hooks().trafficCountChanged = [&] { return ++liveness > 0; };
    indicators().realTraffic = true;
    cycleState().reportCount = 0;
    for (int i = 0; i < 300; ++i) {
        if (i % 10 == 0) cycleState().reportPending = true;  // once a "second" of ten ticks
        ASSERT_TRUE(tick());
    }
    EXPECT_EQ(ticks, 300);
    EXPECT_EQ(perReport, 30);
    EXPECT_EQ(fifteen, 2);
    EXPECT_EQ(cycleState().reportCount.load(), 30u);
    requestStop(ExitReason::UserClosedSim, 0);
    cycleState().reportPending = true;
    EXPECT_FALSE(tick());
    indicators().reset();
}

TEST_F(CycleTest, PausedFlightLogsOnceAndResumes) {
    bool running = false;
    int paused = 0;
    hooks().simulationRunning = [&] { return running; };
    hooks().pauseEnter = [&] { ++paused; };
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(tick());
    EXPECT_EQ(paused, 1);
    EXPECT_FALSE(cycleRunningLocked());
    running = true;
    cycleState().reportPending = true;
    EXPECT_TRUE(tick());
    flushLog();
    std::string log = readFile(dir / "Log.txt");
    EXPECT_NE(log.find(" Flight not running"), std::string::npos);
    EXPECT_NE(log.find(" Flight resumed"), std::string::npos);
    std::lock_guard lock(liveTrafficMutex());
    EXPECT_TRUE(cycleRunningLocked());
}

// The run of a cycle against hooks that note when each step ran (seconds
// of the fake clock after the start).
class RunTest : public CycleTest {
protected:
    void SetUp() override {
        CycleTest::SetUp();
        setCycleClock(&clock);
        start = clock.now();
        auto& h = hooks();
        for (auto [hook, name] : {std::pair{&h.clearContainers, "clear"}, {&h.startSimulator, "simulator"},
                                  {&h.openRealTrafficServer, "server"}, {&h.realTrafficHandshake, "handshake"},
                                  {&h.startWeatherReader, "weather"}, {&h.startTrafficReader, "traffic"},
                                  {&h.sendUserPosition, "position"}, {&h.copyRangePosition, "range"},
                                  {&h.updateStaticParkingFirst, "static"}})
            *hook = [this, name = std::string(name)] { steps.emplace_back(name, seconds()); };
        h.simulationRunning = [] { return true; };
        h.waitForUserAircraft = [] { return true; };
        // The third tick brings a report and a stop: the loop ends there.
        h.trafficTick = [this] {
            if (++ticks < 3) return;
            requestStop(ExitReason::UserClosedSim, 0);
            cycleState().reportPending = true;
        };
        indicators().reset();
        cycleState().realTrafficInstalled = true;
        cycleState().reportCount = 7;
    }
    void TearDown() override {
        setCycleClock(nullptr);
        indicators().reset();
        cycleState().realTrafficInstalled = false;
        CycleTest::TearDown();
    }
    double seconds() { return std::chrono::duration<double>(clock.now() - start).count(); }
    std::vector<std::string> names() {
        std::vector<std::string> n;
        for (auto& s : steps) n.push_back(s.first);
        return n;
    }
    double when(const std::string& name) {
        for (auto& s : steps)
            if (s.first == name) return s.second;
        return -1;
    }
    FakeClock clock;
    CycleClock::TimePoint start;
    std::vector<std::pair<std::string, double>> steps;
    int ticks = 0;
};

TEST_F(RunTest, WithAerowinxNoServerNoHandshakeButBothReadersAndTheLoop) {
    params().AEROWINX.set(true);
    hooks().trafficTimeArrived = [this] { return seconds() >= 5.0; };  // 3 s after the traffic reader
    connectAndRun();
    EXPECT_EQ(names(), (std::vector<std::string>{"clear", "simulator", "weather", "traffic", "position", "range",
                                                 "static"}));
    EXPECT_TRUE(indicators().realTraffic.load());  // counts as connected, no server waits
    EXPECT_DOUBLE_EQ(when("traffic") - when("weather"), 2.0);
    EXPECT_NEAR(when("static"), 5.0, 0.1);  // the wait for traffic ends when it comes
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(cycleState().reportCount.load(), 1u);  // counted from 0 again at step 12
    flushLog();
    EXPECT_EQ(readFile(dir / "Log.txt").find("No traffic in this region?"), std::string::npos);
}

TEST_F(RunTest, WithoutAerowinxTheServerAndHandshakeComeBeforeTheReaders) {
    hooks().trafficTimeArrived = [] { return true; };
    connectAndRun();
    EXPECT_EQ(names(), (std::vector<std::string>{"clear", "simulator", "server", "handshake", "weather", "traffic",
                                                 "position", "range", "static"}));
}

TEST_F(RunTest, NoTrafficIsAwaitedFifteenSecondsThenLogged) {
    int asked = 0;
    hooks().trafficTimeArrived = [&] {
        ++asked;
        return false;
    };
    params().AEROWINX.set(true);
    connectAndRun();
    EXPECT_NEAR(when("static") - when("traffic"), 15.0, 0.01);
    EXPECT_GE(asked, 150);
    EXPECT_EQ(ticks, 3);  // the loop runs all the same
    flushLog();
    EXPECT_NE(readFile(dir / "Log.txt").find("No traffic in this region?"), std::string::npos);
}

TEST_F(RunTest, TheLivenessCheckAfterTheWaitMarksASilentReader) {
    params().AEROWINX.set(true);
    hooks().trafficTimeArrived = [] { return true; };
    hooks().weatherCountChanged = [] { return false; };
    hooks().trafficCountChanged = [] { return true; };
    int ticksAtCheck = -1;
    hooks().updateStaticParkingFirst = [&] { ticksAtCheck = ticks; };
    connectAndRun();
    EXPECT_EQ(ticksAtCheck, 0);  // before the loop
    EXPECT_EQ(indicators().weatherLiveness.load(), 2);
    EXPECT_EQ(indicators().trafficLiveness.load(), 3);  // receiving: left as it was
}

TEST_F(RunTest, AStopWhileWaitingForTheSimulatorEndsTheRunAtOnce) {
    int asked = 0;
    hooks().simulationRunning = [&] {
        if (++asked == 4) requestStop(ExitReason::UserClosedSim, 0);
        return false;
    };
    connectAndRun();
    EXPECT_EQ(names(), (std::vector<std::string>{"clear", "simulator"}));
    EXPECT_NEAR(seconds(), 0.3, 0.01);  // three waits of 100 ms
    EXPECT_EQ(ticks, 0);
}

TEST_F(CycleTest, CallsignCollectionIsArmedForFifteenReportsOfAStaticUpdate) {
    std::vector<std::pair<bool, std::uint32_t>> collect;
    int refreshes = 0;
    hooks().simulationRunning = [] { return true; };
    hooks().collectCallsigns = [&](bool on) { collect.emplace_back(on, cycleState().reportCount.load()); };
    hooks().staticRefresh = [&] { ++refreshes; };
    cycleState().reportCount = 0;
    cycleState().staticUpdateRequested = true;
    for (int i = 0; i < 40; ++i) {
        cycleState().reportPending = true;
        ASSERT_TRUE(tick());
    }
    ASSERT_EQ(collect.size(), 2u);
    EXPECT_EQ(collect[0], std::make_pair(true, 15u));
    EXPECT_EQ(collect[1], std::make_pair(false, 30u));
    EXPECT_FALSE(cycleState().staticUpdateRequested.load());
    EXPECT_EQ(refreshes, 1);  // at report 32; the one at 16 is skipped while collecting
    indicators().reset();
}

TEST_F(CycleTest, FlushStaticSwitchesInitialLoadOnlyOnOnceAndLetsTheAnnouncementComeBack) {
    int flushes = 0;
    hooks().simulationRunning = [] { return true; };
    hooks().flushStatic = [&] { ++flushes; };
    params().MAX_PARK_SEL.set(10);
    cycleState().reportCount = 0;
    cycleState().flushStaticRequested = true;
    auto report = [] {
        cycleState().reportPending = true;
        return tick();
    };
    ASSERT_TRUE(report());
    EXPECT_EQ(flushes, 1);
    EXPECT_TRUE(params().INITIAL_LOAD_ONLY.get());
    EXPECT_EQ(stored("INITIAL_LOAD_ONLY"), "false");  // value and box only, not written
    EXPECT_FALSE(cycleState().flushStaticRequested.load());
    // The user switches the initial load off again: the 20-minute
    // announcement comes at the next turn of the countdown.
    params().INITIAL_LOAD_ONLY.set(false);
    indicators().staticCountdown = 1;
    for (int i = 1; i < 60; ++i) ASSERT_TRUE(report());
    EXPECT_EQ(flushes, 1);
    EXPECT_TRUE(cycleState().staticUpdateRequested.load());
    EXPECT_NE(statusText().find("will update static parking in 15 seconds ..."), std::string::npos);
    cycleState().staticUpdateRequested = false;
    indicators().reset();
}

TEST(ControlLoop, RealignsOnAPendingReport) {
    FakeClock clock;
    setCycleClock(&clock);
    std::atomic<bool> pending{false};
    int calls = 0;
    const auto start = clock.now();
    // A first deadline far in the past: without a report the loop keeps to its
    // absolute deadlines, 10 ms apart, however late it is. The report pending
    // at the third sleep moves the deadline to the time of that wake-up.
    DurationStats late(1ms, 100000);
    runControlLoop(
        [&] {
            ++calls;
            if (calls == 3) pending = true;
            if (calls == 4) pending = false;
            return calls < 7;
        },
        pending, start - 10s, 10ms, &late);
    setCycleClock(nullptr);
    EXPECT_EQ(calls, 7);
    // How late each sleep ended: 10 s, 9.99 s and 9.98 s behind the first
    // three deadlines, then on time.
    EXPECT_EQ(late.count(), 6u);
    EXPECT_DOUBLE_EQ(late.largestMs(), 10000.0);
    EXPECT_DOUBLE_EQ(late.meanMs(), (10000.0 + 9990.0 + 9980.0) / 6);
    ASSERT_EQ(clock.sleeps.size(), 6u);
    EXPECT_EQ(clock.sleeps[0], start - 10s);
    EXPECT_EQ(clock.sleeps[1], start - 10s + 10ms);
    EXPECT_EQ(clock.sleeps[2], start - 10s + 20ms);
    // Realigned: the wake-up after the third sleep (still at start, the past
    // deadlines cost no time) plus one period, then paced from there.
    EXPECT_EQ(clock.sleeps[3], start + 10ms);
    EXPECT_EQ(clock.sleeps[4], start + 20ms);
    EXPECT_EQ(clock.sleeps[5], start + 30ms);
}

}  // namespace

// A close of the window while the program winds down for a restart, or
// while it counts down to it, ends the program instead of being forgotten
// by the restart's reset.
TEST_F(CycleTest, ACloseDuringTheClosingOrTheCountdownEndsTheProgram) {
    requestStop(ExitReason::ReaderError, 0);
    hooks().matchingSummary = [] { requestStop(ExitReason::UserClosedSim, 0); };
    lf_closingDown();
    EXPECT_EQ(fe.starts.load(), 0);
    EXPECT_EQ(fe.ends.load(), 1);
    EXPECT_FALSE(cycleState().restartPending);
    hooks() = CycleHooks{};

    resetStopState();
    requestStop(ExitReason::ReaderError, 30);
    std::thread closer([] {
        while (statusText().find("Restarting after") == std::string::npos) std::this_thread::sleep_for(5ms);
        requestStop(ExitReason::UserClosedSim, 0);
    });
    const auto began = std::chrono::steady_clock::now();
    lf_closingDown();
    closer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - began, 20s);  // not the whole 30-second countdown
    EXPECT_EQ(fe.starts.load(), 0);
    EXPECT_EQ(fe.ends.load(), 2);
    EXPECT_TRUE(userClosed());
    flushLog();
    EXPECT_NE(readFile(dir / "Log.txt").find("User closed Ventrix_P3D"), std::string::npos);
}
