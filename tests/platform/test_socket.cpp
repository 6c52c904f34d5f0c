#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/socket.h"

using namespace vntx::platform;
namespace net = vntx::platform::net;

namespace {

class Sockets : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(net::startup(), 0); }
    void TearDown() override {
        for (auto s : open_) net::close(s);
        net::cleanup();
    }
    net::Handle track(net::Handle s) {
        if (s != net::kInvalidSocket) open_.push_back(s);
        return s;
    }
    // A listening TCP socket on 127.0.0.1 with a port chosen by the system.
    net::Handle listener(int& port) {
        net::Address a;
        EXPECT_EQ(net::resolve("127.0.0.1", "0", net::Family::IPv4, net::Kind::Stream, true, a), 0);
        auto s = track(net::open(a, net::Kind::Stream));
        EXPECT_NE(s, net::kInvalidSocket);
        EXPECT_TRUE(net::bind(s, a));
        EXPECT_TRUE(net::listen(s));
        port = net::localPort(s);
        return s;
    }
    net::Address loopback(int port, net::Kind kind) {
        net::Address a;
        EXPECT_EQ(net::resolve("127.0.0.1", std::to_string(port), net::Family::IPv4, kind, false, a), 0);
        return a;
    }

private:
    std::vector<net::Handle> open_;
};

}  // namespace

TEST_F(Sockets, TcpLoopbackCarriesDataBothWaysAndNamesThePeer) {
    int port = 0;
    auto server = listener(port);
    ASSERT_GT(port, 0);
    auto client = track(net::open(net::Family::IPv4, net::Kind::Stream));
    auto target = loopback(port, net::Kind::Stream);
    ASSERT_TRUE(net::connect(client, target)) << net::lastError();
    EXPECT_TRUE(net::setNoDelay(client, true));

    net::Address peer;
    auto conn = track(net::accept(server, &peer));
    ASSERT_NE(conn, net::kInvalidSocket);
    EXPECT_TRUE(net::isLoopback(peer));
    EXPECT_EQ(peer.text(), "127.0.0.1:" + std::to_string(net::localPort(client)));
    EXPECT_EQ(target.text(), "127.0.0.1:" + std::to_string(port));

    const std::string hello = "Qs999=version\r\n";
    ASSERT_EQ(net::send(client, hello.data(), hello.size()), static_cast<long>(hello.size()));
    char buf[64] = {};
    ASSERT_EQ(net::waitReadable(conn, 2000), 1);
    EXPECT_EQ(net::receive(conn, buf, sizeof buf), static_cast<long>(hello.size()));
    EXPECT_EQ(std::string(buf, hello.size()), hello);

    // An orderly close reads as 0 on the other side.
    net::shutdownBoth(conn);
    ASSERT_EQ(net::waitReadable(client, 2000), 1);
    EXPECT_EQ(net::receive(client, buf, sizeof buf), 0);
}

TEST_F(Sockets, UdpDatagramsArriveWholeWithTheirSender) {
    net::Address bindAddr;
    ASSERT_EQ(net::resolve("127.0.0.1", "0", net::Family::IPv4, net::Kind::Datagram, true, bindAddr), 0);
    auto rx = track(net::open(bindAddr, net::Kind::Datagram));
    ASSERT_TRUE(net::bind(rx, bindAddr));
    auto tx = track(net::open(net::Family::IPv4, net::Kind::Datagram));
    auto to = loopback(net::localPort(rx), net::Kind::Datagram);

    for (std::string msg : {"first,1,2,3", "second datagram"}) {
        ASSERT_EQ(net::sendTo(tx, msg.data(), msg.size(), to), static_cast<long>(msg.size()));
        char buf[256];
        net::Address from;
        ASSERT_EQ(net::waitReadable(rx, 2000), 1);
        long n = net::receiveFrom(rx, buf, sizeof buf, &from);
        ASSERT_EQ(n, static_cast<long>(msg.size()));
        EXPECT_EQ(std::string(buf, static_cast<std::size_t>(n)), msg);
        EXPECT_EQ(from.text(), "127.0.0.1:" + std::to_string(net::localPort(tx)));
    }
}

TEST_F(Sockets, UdpReceiverIsNotBrokenByAnUnreachablePortItSentTo) {
    // Sending to a closed port draws an ICMP error; the socket must still
    // receive what comes next instead of failing with a reset.
    net::Address bindAddr;
    ASSERT_EQ(net::resolve("127.0.0.1", "0", net::Family::IPv4, net::Kind::Datagram, true, bindAddr), 0);
    auto s = track(net::open(bindAddr, net::Kind::Datagram));
    ASSERT_TRUE(net::bind(s, bindAddr));
    int closedPort = 0;
    {
        auto probe = net::open(bindAddr, net::Kind::Datagram);
        ASSERT_TRUE(net::bind(probe, bindAddr));
        closedPort = net::localPort(probe);
        net::close(probe);
    }
    auto nowhere = loopback(closedPort, net::Kind::Datagram);
    ASSERT_EQ(net::sendTo(s, "x", 1, nowhere), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    auto tx = track(net::open(net::Family::IPv4, net::Kind::Datagram));
    ASSERT_EQ(net::sendTo(tx, "ok", 2, loopback(net::localPort(s), net::Kind::Datagram)), 2);
    char buf[16];
    ASSERT_EQ(net::waitReadable(s, 2000), 1);
    EXPECT_EQ(net::receiveFrom(s, buf, sizeof buf, nullptr), 2) << net::lastError();
}

TEST_F(Sockets, FailuresReportWinsockCodes) {
    // Refused connection.
    int port = 0;
    {
        net::Address a;
        ASSERT_EQ(net::resolve("127.0.0.1", "0", net::Family::IPv4, net::Kind::Stream, true, a), 0);
        auto probe = net::open(a, net::Kind::Stream);
        ASSERT_TRUE(net::bind(probe, a));
        port = net::localPort(probe);
        net::close(probe);
    }
    auto client = track(net::open(net::Family::IPv4, net::Kind::Stream));
    EXPECT_FALSE(net::connect(client, loopback(port, net::Kind::Stream)));
    EXPECT_EQ(net::lastError(), net::kConnRefused);

    // A port in active use cannot be bound again, even when reuse is asked for.
    int used = 0;
    auto first = listener(used);
    net::Address again = loopback(used, net::Kind::Stream);
    auto second = track(net::open(again, net::Kind::Stream));
    EXPECT_TRUE(net::setReuseAddress(second, true));
    EXPECT_FALSE(net::bind(second, again));
    EXPECT_EQ(net::lastError(), 10048);  // WSAEADDRINUSE
    (void)first;

    // Nothing to read on a non-blocking socket.
    auto rx = track(net::open(net::Family::IPv4, net::Kind::Datagram));
    net::Address any;
    ASSERT_EQ(net::resolve("127.0.0.1", "0", net::Family::IPv4, net::Kind::Datagram, true, any), 0);
    ASSERT_TRUE(net::bind(rx, any));
    ASSERT_TRUE(net::setBlocking(rx, false));
    char buf[8];
    EXPECT_EQ(net::receiveFrom(rx, buf, sizeof buf, nullptr), -1);
    EXPECT_EQ(net::lastError(), net::kWouldBlock);

    // Not a socket at all.
    EXPECT_EQ(net::waitReadable(static_cast<net::Handle>(987654), 10), -1);
    EXPECT_EQ(net::lastError(), 10038);  // WSAENOTSOCK
}

TEST_F(Sockets, ReceiveTimeoutEndsABlockingReadAsTimedOut) {
    auto rx = track(net::open(net::Family::IPv4, net::Kind::Datagram));
    net::Address any;
    ASSERT_EQ(net::resolve("127.0.0.1", "0", net::Family::IPv4, net::Kind::Datagram, true, any), 0);
    ASSERT_TRUE(net::bind(rx, any));
    ASSERT_TRUE(net::setReceiveTimeoutMs(rx, 150));
    char buf[8];
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(net::receiveFrom(rx, buf, sizeof buf, nullptr), -1);
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(net::lastError(), net::kTimedOut);
    EXPECT_GE(waited, std::chrono::milliseconds(100));
    EXPECT_LT(waited, std::chrono::seconds(3));
    // waitReadable on the same idle socket times out with 0.
    EXPECT_EQ(net::waitReadable(rx, 50), 0);
}

TEST_F(Sockets, AcceptedConnectionBlocksEvenWhenTheListenerDoesNot) {
    int port = 0;
    auto server = listener(port);
    ASSERT_TRUE(net::setBlocking(server, false));
    char buf[8];
    EXPECT_EQ(net::accept(server), net::kInvalidSocket);
    EXPECT_EQ(net::lastError(), net::kWouldBlock);

    auto client = track(net::open(net::Family::IPv4, net::Kind::Stream));
    ASSERT_TRUE(net::connect(client, loopback(port, net::Kind::Stream)));
    ASSERT_EQ(net::waitReadable(server, 2000), 1);
    auto conn = track(net::accept(server));
    ASSERT_NE(conn, net::kInvalidSocket);

    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        net::send(client, "late", 4);
    });
    long n = net::receive(conn, buf, sizeof buf);  // must wait for the data
    late.join();
    EXPECT_EQ(n, 4) << net::lastError();
}
