#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "core/hooks.h"
#include "core/state.h"
#include "core/status.h"
#include "input/input.h"
#include "input/traffic_reader.h"
#include "input/weather_reader.h"
#include "platform/socket.h"
#include "test_support.h"
#include "traffic/traffic_feed.h"

using namespace vntx;
using namespace vntx::input;
using vntx::testing::Datagram;
namespace net = vntx::platform::net;
using namespace std::chrono_literals;

namespace {

template <typename Pred>
bool waitFor(Pred p, std::chrono::milliseconds limit = 3000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!p()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct Sender {
    net::Handle s = net::open(net::Family::IPv4, net::Kind::Datagram);
    net::Address to;
    explicit Sender(int port) {
        net::resolve("127.0.0.1", std::to_string(port), net::Family::IPv4, net::Kind::Datagram, false, to);
    }
    ~Sender() { net::close(s); }
    void send(const std::string& d) { net::sendTo(s, d.data(), d.size(), to); }
};

struct ReaderFixture : ::testing::Test {
    vntx::testing::CapturedLog log;
    TrafficReader reader;
    std::thread thread;
    void SetUp() override {
        resetStopState();
        resetTrafficFeed();
        setCycleRunning(false);
        reader.setUserPositionForRange(47.45, 8.56);
    }
    void start(bool local) {
        thread = std::thread([this, local] { reader.run(0, local); });
        ASSERT_TRUE(waitFor([&] { return reader.boundPort() != 0; }));
    }
    void TearDown() override {
        reader.stopFlag = true;
        if (thread.joinable()) thread.join();
        setCycleRunning(false);
        resetTrafficFeed();
        resetStopState();
    }
};

}  // namespace

TEST_F(ReaderFixture, HandsOverOnlyWhileTheCycleRuns) {
    reader.processDatagram(Datagram{}.text());
    EXPECT_EQ(reader.acceptedCount, 1u);
    EXPECT_EQ(reader.queuedCount, 0u);
    EXPECT_DOUBLE_EQ(reader.lastTrafficTime.load(), 1704067200.5);  // stamped all the same

    setCycleRunning(true);
    liveTraffic().tickCount = 500;
    reader.processDatagram(Datagram{}.set(14, "1704067201").text());
    std::deque<TrafficRecord> out;
    ASSERT_EQ(takeIncoming(out, 10), 1u);
    EXPECT_EQ(out[0].scheduledTick, 3500);
    EXPECT_EQ(out[0].callsign, "SWR123");
    EXPECT_DOUBLE_EQ(reader.lastTrafficTime.load(), 1704067201);

    reader.processDatagram(Datagram{}.set(2, "0").set(3, "0").set(14, "1704067202").text());
    EXPECT_TRUE(log.contains("exception in processLineSub: invalid lalo: 0.000000,0.000000"));
    EXPECT_DOUBLE_EQ(reader.lastTrafficTime.load(), 1704067202);
}

TEST_F(ReaderFixture, CollectedCallsignsAreKeyedByTheirTimeStamp) {
    reader.collectCallsigns = true;
    reader.processDatagram(Datagram{}.text());
    reader.processDatagram(Datagram{}.set(9, "EZY12").set(14, "1704067300").text());
    const auto seen = reader.seenCallsigns();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen.at("1704067200.5"), "SWR123");
    EXPECT_EQ(seen.at("1704067300"), "EZY12");
    reader.resetState();
    EXPECT_TRUE(reader.seenCallsigns().empty());
    EXPECT_EQ(reader.lastTrafficTime.load(), 0);
}

TEST_F(ReaderFixture, RepeatsAreDroppedWhenRealTrafficRunsElsewhere) {
    start(false);
    EXPECT_TRUE(log.contains("Traffic Reader connected"));
    EXPECT_EQ(indicators().trafficLiveness.load(), 1);
    Sender s(reader.boundPort());
    const auto d = Datagram{}.text();
    s.send(d);
    s.send(d);
    s.send(Datagram{}.set(14, "1704067201").text());
    ASSERT_TRUE(waitFor([&] { return reader.datagramCount == 3; }));
    EXPECT_TRUE(waitFor([&] { return reader.acceptedCount == 2; }));
    EXPECT_EQ(reader.acceptedCount, 2u);
}

TEST_F(ReaderFixture, RepeatsCountOnLoopback) {
    start(true);
    Sender s(reader.boundPort());
    const auto d = Datagram{}.text();
    s.send(d);
    s.send(d);
    ASSERT_TRUE(waitFor([&] { return reader.acceptedCount == 2; }));
}

TEST_F(ReaderFixture, FullBufferIsAnOverrun) {
    start(true);
    Sender s(reader.boundPort());
    s.send(std::string(16384, 'x'));
    s.send(std::string(20000, 'y'));
    s.send(std::string(16383, 'z'));
    ASSERT_TRUE(waitFor([&] { return reader.datagramCount == 1; }));
    // The count goes up as the datagram arrives, before it is decoded.
    EXPECT_TRUE(waitFor([&] { return log.contains("exception in processLineSub: timestamp missing"); }));
    EXPECT_TRUE(log.contains("buffer overrun: 16384 bytes"));
}

TEST_F(ReaderFixture, StopsPromptlyAndSaysSo) {
    start(true);
    const auto t0 = std::chrono::steady_clock::now();
    reader.stopFlag = true;
    thread.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2500ms);
    EXPECT_TRUE(log.contains("Traffic Reader has stopped\nTraffic Reader disconnected"));
    EXPECT_EQ(indicators().trafficLiveness.load(), 3);
    EXPECT_FALSE(stopRequested());
}

TEST_F(ReaderFixture, SetUpErrorStopsTheCycle) {
    start(true);
    TrafficReader second;
    second.run(reader.boundPort(), true);  // same port: bind fails
    EXPECT_TRUE(stopRequested());
    EXPECT_EQ(exitReason(), ExitReason::ReaderError);
    EXPECT_EQ(restartDelaySeconds(), 15);
    EXPECT_TRUE(log.contains("The Traffic Reader has stopped with error: bind to stream socket failed, error: "));
    EXPECT_TRUE(log.contains("Traffic Reader disconnected"));
}

// The liveness check compares a reader's counter with the value it saw at
// the previous check; a reconnection or a restart zeroes both together.
TEST(ReaderLiveness, CounterAndRememberedValueAreZeroedTogether) {
    vntx::testing::CapturedLog log;
    installInputHooks();
    auto& h = hooks();
    auto& w = weatherReader();
    w.datagramCount = 5;
    EXPECT_TRUE(h.weatherCountChanged());
    EXPECT_FALSE(h.weatherCountChanged());  // nothing since
    w.datagramCount += 2;
    EXPECT_TRUE(h.weatherCountChanged());
    // RealTraffic reconnected: no datagram since is silence, whatever the
    // counter stood at before.
    resetReaderState();
    EXPECT_FALSE(h.weatherCountChanged());
    w.datagramCount += 1;
    EXPECT_TRUE(h.weatherCountChanged());
    // A restart: both readers.
    trafficReader().datagramCount = 9;
    EXPECT_TRUE(h.trafficCountChanged());
    resetInputState();
    EXPECT_FALSE(h.weatherCountChanged());
    EXPECT_FALSE(h.trafficCountChanged());
    hooks() = CycleHooks{};
}

TEST(WeatherReaderThread, ReceivesQnh) {
    vntx::testing::CapturedLog log;
    WeatherReader w;
    std::thread t([&] { w.run(0, true); });
    ASSERT_TRUE(waitFor([&] { return w.boundPort() != 0; }));
    Sender s(w.boundPort());
    s.send(R"({"QNH":2992})");
    s.send(R"({"QNH":"1002"})");
    ASSERT_TRUE(waitFor([&] { return w.qnhHpa == 1002; }));
    w.stopFlag = true;
    t.join();
    EXPECT_TRUE(log.contains("QNH Reader connected"));
    EXPECT_TRUE(log.contains("QNH Reader has stopped\nQNH Reader disconnected"));
}
