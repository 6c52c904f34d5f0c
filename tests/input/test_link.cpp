#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "core/state.h"
#include "core/status.h"
#include "input/realtraffic_link.h"
#include "platform/socket.h"
#include "test_support.h"

using namespace vntx;
using namespace vntx::input;
namespace net = vntx::platform::net;

namespace {

std::vector<std::string> fieldsOf(std::string line) {
    EXPECT_TRUE(line.starts_with("Qs121=")) << line;
    EXPECT_TRUE(line.ends_with("\r\n")) << line;
    line = line.substr(6, line.size() - 8);
    std::vector<std::string> out;
    std::size_t start = 0, semi;
    while ((semi = line.find(';', start)) != std::string::npos) {
        out.push_back(line.substr(start, semi - start));
        start = semi + 1;
    }
    out.push_back(line.substr(start));
    return out;
}

// The RealTraffic side of a test: a plain TCP client on loopback.
struct Client {
    net::Handle s = net::kInvalidSocket;
    // Its own use of the socket library: the link's cleanup at closing must not
    // end this socket too (on Windows the library is counted per process).
    Client() { net::startup(); }
    bool connect(int port) {
        net::Address a;
        if (net::resolve("127.0.0.1", std::to_string(port), net::Family::IPv4, net::Kind::Stream, false, a)) return false;
        s = net::open(a, net::Kind::Stream);
        return net::connect(s, a);
    }
    std::string read(std::size_t atLeast) {
        std::string out;
        char buf[4096];
        while (out.size() < atLeast && net::waitReadable(s, 3000) > 0) {
            long n = net::receive(s, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }
    void write(const std::string& t) { net::send(s, t.data(), t.size()); }
    void close() {
        if (s != net::kInvalidSocket) net::close(s);
        s = net::kInvalidSocket;
    }
    ~Client() {
        close();
        net::cleanup();
    }
};

struct LinkFixture : ::testing::Test {
    vntx::testing::CapturedLog log;
    RealTrafficLink link;
    int withdrawals = 0;
    int resets = 0;
    void SetUp() override {
        resetStopState();
        setUserAircraft({});
        link.withdrawLiveTraffic = [this] { ++withdrawals; };
        link.resetReaderState = [this] { ++resets; };
        link.openServer("0");
        ASSERT_GT(link.listeningPort(), 0);
    }
    void TearDown() override {
        link.closeLink();
        resetStopState();
        setUserAircraft({});
        simulatorEpochSeconds() = 0;
    }
    // Runs the handshake against a client that answers with reply.
    std::string handshakeWith(Client& c, const std::string& reply) {
        std::string request;
        std::thread rt([&] {
            ASSERT_TRUE(c.connect(link.listeningPort()));
            request = c.read(15);
            c.write(reply);
        });
        link.handshake();
        rt.join();
        return request;
    }
};

UserAircraftState flying() {
    UserAircraftState u;
    u.latitude = 22.308;
    u.longitude = 113.918;
    u.pitch = 0.05;
    u.bank = -0.1;
    u.trueHeading = 1.5707963;
    u.altitude = 35000;
    u.trueAirspeed = 250;
    return u;
}

}  // namespace

TEST(Qs121, FieldsAreScaledAndFormatted) {
    const auto f = fieldsOf(formatUserPosition(flying()));
    ASSERT_EQ(f.size(), 7u);
    EXPECT_EQ(f[0], "5000");       // not "5e+03"
    EXPECT_EQ(f[1], "-10000");
    EXPECT_EQ(f[2], "1.570796");
    EXPECT_EQ(f[3], "35000000");
    EXPECT_EQ(f[4], "250000");
    EXPECT_EQ(f[5], "0.389348");
    EXPECT_EQ(f[6], "1.988244");
    auto u = flying();
    u.trueAirspeed = 123.4567;
    EXPECT_EQ(fieldsOf(formatUserPosition(u))[4], "123456.7");
    u.trueAirspeed = 0.1;
    EXPECT_EQ(fieldsOf(formatUserPosition(u))[4], "100");
}

TEST(Qs123, MillisecondsSince1970) {
    EXPECT_EQ(formatSimulatorTime(1704067200), "Qs123=1704067200000\r\n");
    EXPECT_EQ(formatSimulatorTime(1), "Qs123=1000\r\n");
}

TEST(ServerSetUp, FailuresNameTheirStep) {
    RealTrafficLink first;
    first.openServer("0");
    const std::string port = std::to_string(first.listeningPort());
    RealTrafficLink second;
    try {
        second.openServer(port);
        FAIL() << "second server on the same port";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(std::string(e.what()).starts_with("Bind failed at port " + port + " with error ")) << e.what();
    }
    EXPECT_EQ(second.listeningPort(), 0);
    try {
        second.openServer("no-such-service");
        FAIL() << "bad port text";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(std::string(e.what()).starts_with("getaddrinfo failed with error ")) << e.what();
    }
    first.closeLink();
}

TEST_F(LinkFixture, HandshakeTakesTheVersionAndEnablesTimeSync) {
    Client c;
    EXPECT_EQ(handshakeWith(c, R"({"version":"10.0.241","status":0})"), "Qs999=version\r\n");
    EXPECT_TRUE(link.realTrafficConnected);
    EXPECT_TRUE(link.timeSyncEnabled);
    EXPECT_EQ(realTrafficVersion(), "10.0.241");
    EXPECT_TRUE(indicators().realTraffic);
    EXPECT_EQ(resets, 1);
    EXPECT_TRUE(log.contains("RealTraffic connected"));

    simulatorEpochSeconds() = 1704067200;
    link.sendSimulatorTime();
    EXPECT_EQ(c.read(21), "Qs123=1704067200000\r\n");
}

TEST_F(LinkFixture, RepliesThatAreNoObjectLeaveTimeSyncOff) {
    for (const std::string& reply : {std::string("[1,2]"), std::string("not json"), std::string(16384, 'x')}) {
        Client c;
        handshakeWith(c, reply);
        EXPECT_TRUE(link.realTrafficConnected);
        EXPECT_FALSE(link.timeSyncEnabled) << reply.substr(0, 10);
        link.closeLink();
        link.openServer("0");
    }
    EXPECT_TRUE(log.contains("receive: buffer overrun: 16384"));
    EXPECT_TRUE(log.contains("No RealTraffic version received?"));
}

TEST_F(LinkFixture, NoPositionNoLine) {
    Client c;
    handshakeWith(c, R"({"version":"1"})");
    link.sendUserPosition();  // position 0, 0: nothing sent
    simulatorEpochSeconds() = 0;
    link.sendSimulatorTime();  // no time yet: nothing sent
    setUserAircraft(flying());
    link.sendUserPosition();
    const auto line = c.read(10);
    EXPECT_EQ(line, formatUserPosition(flying()));
}

TEST_F(LinkFixture, LostLinkWithdrawsTrafficAndWaitsForTheNextClient) {
    Client c;
    handshakeWith(c, R"({"version":"1"})");
    setUserAircraft(flying());
    c.close();
    // The loss shows on a failed send; the first send after the close may
    // still be accepted by the system.
    for (int i = 0; i < 20 && link.realTrafficConnected; ++i) {
        link.sendUserPosition();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(link.realTrafficConnected);
    EXPECT_EQ(withdrawals, 1);
    EXPECT_EQ(resets, 2);
    EXPECT_FALSE(indicators().realTraffic);
    EXPECT_TRUE(log.contains("sendDataPacket to RealTraffic failed: "));
    EXPECT_TRUE(log.contains("RealTraffic client socket closed"));
    EXPECT_TRUE(log.contains("RealTraffic gone? Wait for RealTraffic to re-connect ..."));

    Client again;
    std::thread rt([&] { ASSERT_TRUE(again.connect(link.listeningPort())); });
    link.sendUserPosition();  // accepts, sends nothing yet
    rt.join();
    EXPECT_TRUE(link.realTrafficConnected);
    EXPECT_TRUE(log.contains("RealTraffic re-connected"));
    link.sendUserPosition();
    EXPECT_EQ(again.read(10), formatUserPosition(flying()));
}

TEST_F(LinkFixture, WaitingForAClientEndsOnAStopRequest) {
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        requestStop(ExitReason::UserClosedSim, 0);
    });
    EXPECT_FALSE(link.waitForClient());
    stopper.join();
    // With an exit reason set, a lost link is not waited for.
    setUserAircraft(flying());
    link.sendUserPosition();
    EXPECT_FALSE(link.realTrafficConnected);
}

TEST_F(LinkFixture, ClosingSaysExit) {
    Client c;
    handshakeWith(c, R"({"version":"1"})");
    link.closeLink();
    EXPECT_EQ(c.read(6), "exit\r\n");
    EXPECT_FALSE(link.realTrafficConnected);
    EXPECT_EQ(link.listeningPort(), 0);
}
