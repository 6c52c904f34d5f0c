#include <gtest/gtest.h>

#include <thread>

#include <pugixml.hpp>

#include "core/app.h"
#include "core/cycle.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/state.h"
#include "core/status.h"
#include "support/temp_dir.h"

using namespace vntx;
using vntx::test::readFile;
using vntx::test::TempDir;

namespace {

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

TEST(ExitReasons, TextsAndRestartDecision) {
    const char* texts[] = {"NOT YET SET",      "SIM WAS CLOSED", "NEW FLIGHT",   "NEW SETTINGS", "USER CLOSED SIM",
                           "SIMCONNECT ERROR", "READER ERROR",   "SYSTEM ERROR", "NEW VERSION"};
    for (int code = 0; code <= 8; ++code) {
        auto reason = static_cast<ExitReason>(code);
        EXPECT_STREQ(exitReasonText(reason), texts[code]);
        EXPECT_EQ(restartsCycle(reason), code == 3 || code == 5 || code == 6) << texts[code];
    }
}

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
    hooks().trafficDatagramCount = [&] { return static_cast<unsigned long>(++liveness); };
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

TEST(ControlLoop, RealignsOnAPendingReport) {
    std::atomic<bool> pending{false};
    int calls = 0;
    auto start = std::chrono::steady_clock::now();
    // With a first deadline far in the past and no report, the loop catches up without
    // sleeping; a pending report realigns the deadline to now, so no backlog remains.
    runControlLoop(
        [&] {
            ++calls;
            if (calls == 3) pending = true;
            return calls < 8;
        },
        pending, start - std::chrono::seconds(10), std::chrono::milliseconds(10));
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(calls, 8);
    // After the realignment at the 4th call the remaining ticks are paced again (4 x 10 ms).
    EXPECT_GE(elapsed, std::chrono::milliseconds(35));
}

}  // namespace
