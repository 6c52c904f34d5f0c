// The "SimClient" thread over the in-process fake simulator: registration,
// the start-up wait, and the ways a connection ends.
#include "core/cycle.h"
#include "support/fake_client.h"
#include "simlink/fixture.h"

namespace vntx::simlink::test {
namespace {

using namespace std::chrono_literals;

class ThreadTest : public ::testing::Test {
protected:
    ThreadTest() : link(fake, LinkTest::services()) {
        openLog(dir / "Log.txt");
        resetStopState();
        clearError();
    }
    ~ThreadTest() override {
        link.stop();
        closeLog();
        resetStopState();
    }
    template <typename F>
    bool waitFor(F f, std::chrono::milliseconds limit = 3000ms) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (!f()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }
    void simulatorSays(const std::string& name) {
        wire::Bytes m;
        const DWORD app[4] = {5, 4, 9, 28482}, sc[4] = {5, 4, 0, 0};
        wire::appendOpenReply(m, 4, name, app, sc);
        wire::appendEvent(m, 4, SIMCONNECT_RECV_UNKNOWN_GROUP, EVT_SIM, 1);
        fake.queueReceived(m);
    }
    std::string log() {
        flushLog();
        std::ifstream in(dir / "Log.txt");
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    vntx::test::TempDir dir;
    FakeClient fake;
    SimLink link;
};

TEST_F(ThreadTest, RegistersInItsOrderThenRunsUntilTheConnectionIsLost) {
    simulatorSays("Lockheed Martin Prepar3D v5");
    link.start();
    ASSERT_TRUE(waitFor([&] { return link.simulationRunning(); }));
    auto sent = fake.sentRequests();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0].op, wire::OP_OPEN);
    EXPECT_EQ(sent[0].name, "Ventrix_P3D");
    std::vector<DWORD> subscribed, mapped, grouped;
    std::vector<std::pair<DWORD, std::string>> datums;
    std::size_t lastSubscribe = 0, firstDatum = 0, lastDatum = 0, firstMap = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        auto& r = sent[i];
        if (r.op == wire::OP_SUBSCRIBE_TO_SYSTEM_EVENT) subscribed.push_back(r.eventId), lastSubscribe = i;
        if (r.op == wire::OP_ADD_TO_DATA_DEFINITION) {
            if (datums.empty()) firstDatum = i;
            datums.emplace_back(r.defineId, r.name);
            lastDatum = i;
        }
        if (r.op == wire::OP_MAP_CLIENT_EVENT_TO_SIM_EVENT) {
            if (mapped.empty()) firstMap = i;
            mapped.push_back(r.eventId);
        }
        if (r.op == wire::OP_ADD_CLIENT_EVENT_TO_NOTIFICATION_GROUP) {
            grouped.push_back(r.eventId);
            EXPECT_EQ(r.groupId, kNotificationGroup);
            EXPECT_EQ(r.maskable, 1u);
        }
        if (r.op == wire::OP_SET_NOTIFICATION_GROUP_PRIORITY) {
            EXPECT_EQ(r.groupId, kNotificationGroup);
            EXPECT_EQ(r.priority, 1u);
        }
    }
    EXPECT_EQ(subscribed, (std::vector<DWORD>{201, 202, 203, 205, 206, 204}));
    EXPECT_LT(lastSubscribe, firstDatum);
    EXPECT_LT(lastDatum, firstMap);
    ASSERT_EQ(datums.size(), 33u);
    EXPECT_EQ(datums[0], (std::pair<DWORD, std::string>{407, "TITLE"}));
    EXPECT_EQ(datums[3], (std::pair<DWORD, std::string>{402, "Plane Latitude"}));
    EXPECT_EQ(datums[22], (std::pair<DWORD, std::string>{403, "LIGHT STATES"}));
    EXPECT_EQ(datums[29], (std::pair<DWORD, std::string>{404, "ATC ID"}));
    EXPECT_EQ(datums[32], (std::pair<DWORD, std::string>{401, "GENERAL ENG THROTTLE LEVER POSITION:2"}));
    EXPECT_EQ(mapped, (std::vector<DWORD>{220, 221, 222, 223, 218, 219, 208, 207, 211, 209, 210, 213, 212, 214, 215,
                                          216, 217}));
    EXPECT_EQ(grouped, (std::vector<DWORD>{208, 207, 211, 209, 210, 213, 212, 214, 218, 219, 220, 222, 223, 215, 216,
                                           217}));
    EXPECT_TRUE(link.connected());

    fake.setConnectionLost(true);
    ASSERT_TRUE(waitFor([&] { return !link.threadRunning(); }));
    EXPECT_FALSE(link.simulationRunning());
    EXPECT_FALSE(link.connected());
    EXPECT_TRUE(stopRequested());
    EXPECT_EQ(exitReason(), ExitReason::SimWasClosed);
    EXPECT_NE(log().find("Flight Simulator no longer connected, Ventrix_P3D will stop ..."), std::string::npos);
}

TEST_F(ThreadTest, AWrongVersionEndsTheConnectionWithItsError) {
    simulatorSays("Lockheed Martin Prepar3D v6");
    link.start();
    ASSERT_TRUE(waitFor([&] { return !link.threadRunning(); }));
    EXPECT_EQ(errorText(), "wrong P3D version 'Lockheed Martin Prepar3D v6 (5.4.9.28482)' connects ... ?)");
    EXPECT_EQ(exitReason(), ExitReason::SimWasClosed);
    EXPECT_FALSE(fake.isOpen());
    EXPECT_NE(log().find("SimConnect closed ok"), std::string::npos);
}

TEST_F(ThreadTest, RetriesOpenUntilTheSimulatorIsThereAndGivesUpOnAStop) {
    fake.setOpenFails(true);
    link.start();
    ASSERT_TRUE(waitFor([&] { return statusText() == "Waiting for Prepar3Dv5 ..."; }));
    const int tried = fake.openAttempts();
    ASSERT_TRUE(waitFor([&] { return fake.openAttempts() >= tried + 2; }));  // it goes on trying
    EXPECT_TRUE(link.threadRunning());
    fake.setOpenFails(false);
    simulatorSays("Lockheed Martin Prepar3D v5");
    ASSERT_TRUE(waitFor([&] { return link.simulationRunning(); }));
    link.stop();
    EXPECT_FALSE(link.threadRunning());
    EXPECT_FALSE(fake.isOpen());
}

TEST_F(ThreadTest, StartUpWaitRequestsTheReportThenTheUserAircraft) {
    simulatorSays("Lockheed Martin Prepar3D v5");
    link.start();
    std::atomic<bool> done{false}, result{false};
    std::thread waiter([&] {
        result = link.waitForUserAircraft(5ms, 5ms, 5ms);
        done = true;
    });
    ASSERT_TRUE(waitFor([&] {
        for (auto& r : fake.sentRequests())
            if (r.op == wire::OP_REQUEST_DATA_ON_SIM_OBJECT && r.requestId == REQ_USER_POSITION) return true;
        return false;
    }));
    EXPECT_FALSE(done);
    // Position, then the once-a-second report.
    wire::Bytes m;
    std::vector<std::uint8_t> pos, ground;
    for (double v : {47.46, 8.55, 0.0, 0.0, 1.0, 1400.0, 0.0, 0.0}) LinkTest::put(pos, v);
    for (std::int64_t v : {3600, 1, 2024, 0}) LinkTest::put(pos, std::int64_t{v});
    LinkTest::put(ground, std::int64_t{1});
    fake.queueReceived(LinkTest::objectData(REQ_USER_POSITION, 1, DEF_USER_POSITION, pos));
    fake.queueReceived(LinkTest::objectData(REQ_USER_ON_GROUND, 1, DEF_USER_ON_GROUND, ground));
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    waiter.join();
    EXPECT_TRUE(result);
    std::vector<std::pair<DWORD, DWORD>> requests;  // request, period
    for (auto& r : fake.sentRequests())
        if (r.op == wire::OP_REQUEST_DATA_ON_SIM_OBJECT) requests.emplace_back(r.requestId, r.period);
    ASSERT_GE(requests.size(), 5u);
    EXPECT_EQ(requests[0], (std::pair<DWORD, DWORD>{REQ_USER_ON_GROUND, SIMCONNECT_PERIOD_SECOND}));
    EXPECT_EQ(requests[1], (std::pair<DWORD, DWORD>{REQ_USER_POSITION, SIMCONNECT_PERIOD_ONCE}));
    auto title = std::find(requests.begin(), requests.end(), std::pair<DWORD, DWORD>{REQ_USER_TITLE, 1});
    ASSERT_NE(title, requests.end());
    EXPECT_EQ(*(title + 1), (std::pair<DWORD, DWORD>{REQ_USER_MODEL, SIMCONNECT_PERIOD_ONCE}));
    EXPECT_TRUE(link.onGroundKnown());
}

}  // namespace
}  // namespace vntx::simlink::test
