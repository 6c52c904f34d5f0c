// The connection's queues and threads over an in-memory stream.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "helpers.h"
#include "platform/socket.h"
#include "simconnect/transport.h"

using namespace vntx::simconnect;
using namespace vntx::simconnect::testing;

namespace {

// Hands out scripted reads (bytes, or an error) and keeps what was written.
class MemoryStream final : public ByteStream {
public:
    struct Read {
        wire::Bytes bytes;
        int error = 0;  // with empty bytes: -1 and this error (0: orderly close)
    };
    void feed(Read r) {
        std::lock_guard lock(m_);
        reads_.push_back(std::move(r));
        cv_.notify_all();
    }
    long read(void* data, std::size_t size, int& error) override {
        std::unique_lock lock(m_);
        cv_.wait(lock, [&] { return cancelled_ || !reads_.empty(); });
        if (cancelled_) {
            error = 995;
            return -1;
        }
        auto& r = reads_.front();
        if (r.bytes.empty()) {
            error = r.error;
            reads_.pop_front();
            return error == 0 ? 0 : -1;
        }
        std::size_t n = std::min(size, r.bytes.size());
        std::memcpy(data, r.bytes.data(), n);
        r.bytes.erase(r.bytes.begin(), r.bytes.begin() + static_cast<std::ptrdiff_t>(n));
        if (r.bytes.empty()) reads_.pop_front();
        return static_cast<long>(n);
    }
    bool write(const void* data, std::size_t size, int&) override {
        std::lock_guard lock(m_);
        auto* p = static_cast<const std::uint8_t*>(data);
        written_.insert(written_.end(), p, p + size);
        return true;
    }
    void cancel() override {
        std::lock_guard lock(m_);
        cancelled_ = true;
        cv_.notify_all();
    }
    wire::Bytes written() {
        std::lock_guard lock(m_);
        return written_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<Read> reads_;
    wire::Bytes written_;
    bool cancelled_ = false;
};

wire::Bytes replies() {
    wire::Bytes s;
    const DWORD v[4] = {5, 4, 0, 0};
    wire::appendOpenReply(s, 35, "Lockheed Martin\xAE Prepar3D\xAE v5", v, v);
    wire::appendEvent(s, 35, SIMCONNECT_RECV_UNKNOWN_GROUP, 201, 1);
    wire::appendException(s, 35, 22, 17, 1);
    return s;
}

struct Fixture {
    MemoryStream* stream;
    std::unique_ptr<Connection> connection;
    explicit Fixture(std::uint32_t maxReceive = wire::kDefaultMaxReceiveSize) {
        auto s = std::make_unique<MemoryStream>();
        stream = s.get();
        connection = std::make_unique<Connection>(std::move(s), maxReceive, nullptr);
    }
    Collected dispatchUntil(std::size_t count) {
        Collected got;
        waitFor([&] {
            connection->dispatch(&Collected::proc, &got);
            return got.messages.size() >= count;
        });
        return got;
    }
};

}  // namespace

TEST(SimConnectConnection, MessagesSplitAndCoalescedAcrossReadsAreDispatchedWhole) {
    Fixture f;
    wire::Bytes s = replies();
    // The first read ends inside the size word, the second carries the rest of
    // the first message and all of the second, the third the tail.
    f.stream->feed({wire::Bytes(s.begin(), s.begin() + 2)});
    f.stream->feed({wire::Bytes(s.begin() + 2, s.begin() + 336)});
    f.stream->feed({wire::Bytes(s.begin() + 336, s.end())});
    auto got = f.dispatchUntil(3);
    ASSERT_EQ(got.messages.size(), 3u);
    EXPECT_EQ(got.messages[0].size(), 308u);
    EXPECT_EQ(got.of(SIMCONNECT_RECV_ID_EVENT).at(0).data, 1u);
    EXPECT_EQ(got.of(SIMCONNECT_RECV_ID_EXCEPTION).at(0).sendId, 17u);
    EXPECT_EQ(f.connection->state(), ConnectionState::Open);
}

TEST(SimConnectConnection, EachMessageGetsTheNextPacketIdInWireOrder) {
    Fixture f;
    for (DWORD object = 10; object < 15; ++object) {
        wire::Bytes m;
        wire::encodeAIRemoveObject(m, object, 105);
        ASSERT_EQ(f.connection->send(m), S_OK);
        EXPECT_EQ(f.connection->lastSentPacketId(), object - 9);
    }
    ASSERT_TRUE(waitFor([&] { return f.stream->written().size() == 5 * 24; }));
    auto w = f.stream->written();
    for (DWORD i = 0; i < 5; ++i) {
        EXPECT_EQ(wire::readU32(w.data() + 24 * i + 12), i + 1);
        EXPECT_EQ(wire::readU32(w.data() + 24 * i + 16), 10 + i);
    }
}

TEST(SimConnectConnection, ThePeerGoingAwayClosesOtherErrorsFail) {
    struct Case {
        int error;
        ConnectionState expected;
    };
    for (auto c : {Case{0, ConnectionState::Closed}, Case{109, ConnectionState::Closed},
                   Case{10054, ConnectionState::Closed}, Case{10053, ConnectionState::Closed},
                   Case{10060, ConnectionState::Failed}, Case{31, ConnectionState::Failed}}) {
        Fixture f;
        f.stream->feed({replies()});
        f.stream->feed({{}, c.error});
        ASSERT_TRUE(waitFor([&] { return f.connection->state() != ConnectionState::Open; })) << c.error;
        EXPECT_EQ(f.connection->state(), c.expected) << c.error;
        // What arrived before the end is still dispatched, then the end shows.
        Collected got;
        EXPECT_EQ(f.connection->dispatch(&Collected::proc, &got), S_OK);
        EXPECT_EQ(got.messages.size(), 3u);
        EXPECT_EQ(f.connection->dispatch(&Collected::proc, &got), E_FAIL);
        wire::Bytes m;
        wire::encodeAIRemoveObject(m, 1, 105);
        EXPECT_EQ(f.connection->send(m), E_FAIL);
    }
}

TEST(SimConnectConnection, AMessageLargerThanMaxReceiveSizeFailsTheConnection) {
    wire::Bytes big;
    std::vector<std::uint8_t> data(50000, 7);
    wire::appendObjectData(big, 35, SIMCONNECT_RECV_ID_SIMOBJECT_DATA, 1, 1, 1, 0, 1, 1, 1, data);
    {
        Fixture f;  // default limit 41088
        f.stream->feed({big});
        ASSERT_TRUE(waitFor([&] { return f.connection->state() != ConnectionState::Open; }));
        EXPECT_EQ(f.connection->state(), ConnectionState::Failed);
        EXPECT_EQ(f.connection->pendingMessages(), 0u);
    }
    {
        Fixture f(60000);  // a configuration that raised MaxReceiveSize
        f.stream->feed({big});
        auto got = f.dispatchUntil(1);
        ASSERT_EQ(got.messages.size(), 1u);
        EXPECT_EQ(got.messages[0].size(), 50040u);
        EXPECT_EQ(f.connection->state(), ConnectionState::Open);
    }
}

TEST(SimConnectConnection, CloseSendsWhatIsQueuedAndRefusesMore) {
    Fixture f;
    wire::Bytes m;
    wire::encodeAIReleaseControl(m, 3, 103);
    ASSERT_EQ(f.connection->send(m), S_OK);
    f.connection->close();
    EXPECT_EQ(f.stream->written().size(), 24u);
    EXPECT_EQ(f.connection->state(), ConnectionState::Closed);
    EXPECT_EQ(f.connection->send(m), E_FAIL);
}

// The program may open the simulator connection over TCP before anything else
// started the socket library (on Windows: WSAStartup). The connection keeps its
// own use of it, so the library stays up while it lives and is let go after.
TEST(SimConnectTcp, AConnectionHoldsTheSocketLibraryForItsLife) {
    namespace net = vntx::platform::net;
    ASSERT_EQ(net::startup(), 0);  // this test's own use, for its listener
    net::Address any;
    ASSERT_EQ(net::resolve("127.0.0.1", "0", net::Family::IPv4, net::Kind::Stream, true, any), 0);
    net::Handle listener = net::open(any, net::Kind::Stream);
    ASSERT_NE(listener, net::kInvalidSocket);
    ASSERT_TRUE(net::bind(listener, any));
    ASSERT_TRUE(net::listen(listener));
    Attempt tcp{Protocol::IPv4, "127.0.0.1", std::to_string(net::localPort(listener)), true};
    SystemConnector connector;
    int error = 0;
    auto stream = connector.connect(tcp, Config{}, error);
    ASSERT_NE(stream, nullptr) << error;
    net::Handle peer = net::accept(listener);
    ASSERT_NE(peer, net::kInvalidSocket);
    net::close(listener);
    // The test lets go of its use: with none left, Winsock would close every socket.
    net::cleanup();
    const char text[] = "still up";
    ASSERT_TRUE(stream->write(text, sizeof text, error)) << error;
    char got[sizeof text] = {};
    std::size_t have = 0;
    while (have < sizeof got) {
        long n = net::receive(peer, got + have, sizeof got - have);
        ASSERT_GT(n, 0) << net::lastError();
        have += static_cast<std::size_t>(n);
    }
    EXPECT_STREQ(got, text);
    net::close(peer);
    stream.reset();
    // A refused connection leaves no use behind (nothing listens on the closed port).
    EXPECT_EQ(connector.connect(tcp, Config{}, error), nullptr);
#ifdef _WIN32
    // Every use let go: Winsock refuses sockets again.
    net::Handle probe = net::open(net::Family::IPv4, net::Kind::Stream);
    EXPECT_EQ(probe, net::kInvalidSocket) << "the socket library is still in use";
    net::close(probe);
#endif
}
