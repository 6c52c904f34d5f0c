#include <gtest/gtest.h>

#include "helpers.h"
#include "simconnect/config.h"
#include "simconnect/transport.h"

using namespace vntx::simconnect;
using vntx::simconnect::testing::Sandbox;

namespace {

struct ThreeFiles {
    Sandbox box;
    std::vector<std::filesystem::path> files{box.dir() / "public.cfg", box.dir() / "documents.cfg",
                                             box.dir() / "current.cfg"};
    void write(int i, const std::string& text) { box.write(files[i].filename().string(), text); }
};

}  // namespace

TEST(SimConnectConfig, LaterFilesOverrideEarlierOnesKeyByKey) {
    ThreeFiles f;
    f.write(0, "[SimConnect]\nProtocol=IPv4\nAddress=10.0.0.1\nPort=500\nDisableNagle=1\n");
    f.write(1, "; user documents\n[Other]\nPort=1\n[simconnect]\naddress = 10.0.0.2 \n");
    f.write(2, "[SimConnect]\nDisableNagle=0\n[SimConnect.1]\nPort=9\n");
    auto c = readConfiguration(0, f.files, "4000", "6000");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->protocol, Protocol::IPv4);
    EXPECT_EQ(c->address, "10.0.0.2");  // second file wins over the first
    EXPECT_EQ(c->port, "500");          // a key no later file sets stays
    EXPECT_FALSE(c->disableNagle);      // the third file turns it back on
}

TEST(SimConnectConfig, MaxReceiveSizeOnlyGrows) {
    ThreeFiles f;
    f.write(0, "[SimConnect]\nMaxReceiveSize=100000\n");
    f.write(1, "[SimConnect]\nMaxReceiveSize=50000\n");
    f.write(2, "[SimConnect]\nMaxReceiveSize=junk\n");
    EXPECT_EQ(readConfiguration(0, f.files, "", "")->maxReceiveSize, 100000u);

    ThreeFiles g;
    g.write(0, "[SimConnect]\nMaxReceiveSize=1000\n");
    EXPECT_EQ(readConfiguration(0, g.files, "", "")->maxReceiveSize, 41088u);
}

TEST(SimConnectConfig, PortsComeFromTheRegistryOnlyForTcpWithoutAPort) {
    ThreeFiles f;
    f.write(0, "[SimConnect]\nProtocol=IPv6\n");
    EXPECT_EQ(readConfiguration(0, f.files, "4000", "6000")->port, "6000");
    f.write(0, "[SimConnect]\nProtocol=IPv4\n");
    EXPECT_EQ(readConfiguration(0, f.files, "4000", "6000")->port, "4000");
    f.write(0, "[SimConnect]\nProtocol=IPv4\nPort=4711\n");
    EXPECT_EQ(readConfiguration(0, f.files, "4000", "6000")->port, "4711");
    f.write(0, "[SimConnect]\nProtocol=Auto\n");
    auto pipe = readConfiguration(0, f.files, "4000", "6000");
    EXPECT_EQ(pipe->protocol, Protocol::Pipe);
    EXPECT_EQ(pipe->port, "");  // a pipe's port is its name; the registry does not fill it
}

TEST(SimConnectConfig, NonZeroIndexNeedsItsSectionIndexZeroDoesNot) {
    ThreeFiles f;
    auto none = readConfiguration(0, f.files, "", "");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->protocol, Protocol::Pipe);
    EXPECT_EQ(none->maxReceiveSize, 41088u);
    EXPECT_FALSE(readConfiguration(2, f.files, "", ""));
    f.write(2, "[SimConnect.2]\nProtocol=IPv4\nPort=77\n");
    auto two = readConfiguration(2, f.files, "", "");
    ASSERT_TRUE(two);
    EXPECT_EQ(two->port, "77");
    EXPECT_FALSE(readConfiguration(1, f.files, "", ""));
}

TEST(SimConnectConfig, FindsTheFilesInPublicDocumentsDocumentsAndTheCurrentFolder) {
#ifdef _WIN32
    GTEST_SKIP() << "the known folders are the system's own on Windows";
#endif
    Sandbox box;
    auto files = configurationFiles();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], box.dir() / "public" / "SimConnect.cfg");
    EXPECT_EQ(files[1], box.dir() / "home" / "Documents" / "SimConnect.cfg");
    EXPECT_EQ(files[2], std::filesystem::current_path() / "SimConnect.cfg");
}

namespace {

std::string describe(const std::vector<Attempt>& plan) {
    std::string s;
    for (const auto& a : plan) {
        s += a.kind == Protocol::Pipe ? "pipe(" + a.pipePath() + ")"
                                      : std::string(a.kind == Protocol::IPv6 ? "v6(" : "v4(") + a.address + ":" + a.port + ")";
        s += a.lastOnFailure ? "! " : " ";
    }
    return s;
}

Config pipeConfig(std::string address = "", std::string v4 = "4000", std::string v6 = "6000") {
    Config c;
    c.address = std::move(address);
    c.registryPortIPv4 = std::move(v4);
    c.registryPortIPv6 = std::move(v6);
    return c;
}

}  // namespace

TEST(SimConnectAttempts, PipeTriesPipeThenLocalTcpThenTheDefaultPipe) {
    EXPECT_EQ(describe(planAttempts(pipeConfig())),
              "pipe(\\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect) v6(::1:6000) v4(127.0.0.1:4000) "
              "pipe(\\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect)! ");
    Config named = pipeConfig(".", "4000", "");
    named.port = "Custom";
    EXPECT_EQ(describe(planAttempts(named)),  // no IPv6 port: that attempt is skipped
              "pipe(\\\\.\\pipe\\Custom) v4(127.0.0.1:4000) pipe(\\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect)! ");
    EXPECT_EQ(describe(planAttempts(pipeConfig("server"))),  // remote pipe: no IPv6 attempt
              "pipe(\\\\server\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect) v4(127.0.0.1:4000) "
              "pipe(\\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect)! ");
}

TEST(SimConnectAttempts, TcpStartsAtItsFamilyAndARemoteAddressEndsTheSearch) {
    Config v6 = pipeConfig("::1");
    v6.protocol = Protocol::IPv6;
    v6.port = "6001";
    EXPECT_EQ(describe(planAttempts(v6)),
              "v6(::1:6001) v4(127.0.0.1:4000) pipe(\\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect)! ");
    v6.address = "fe80::2";
    EXPECT_EQ(describe(planAttempts(v6)), "v6(fe80::2:6001)! ");

    Config v4 = pipeConfig("");
    v4.protocol = Protocol::IPv4;
    v4.port = "4001";
    EXPECT_EQ(describe(planAttempts(v4)),
              "v4(127.0.0.1:4001) pipe(\\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect)! ");
    v4.address = "192.168.1.20";
    EXPECT_EQ(describe(planAttempts(v4)), "v4(192.168.1.20:4001)! ");
}

namespace {

// Fails every attempt except the ones whose number is listed, and records the order.
class ScriptedConnector final : public Connector {
public:
    explicit ScriptedConnector(std::set<int> succeed) : succeed_(std::move(succeed)) {}
    std::unique_ptr<ByteStream> connect(const Attempt& a, const Config&, int& error) override {
        tried.push_back(a.kind);
        if (!succeed_.count(static_cast<int>(tried.size()))) {
            error = 2;
            return nullptr;
        }
        struct Null final : ByteStream {
            long read(void*, std::size_t, int&) override { return 0; }
            bool write(const void*, std::size_t, int&) override { return true; }
            void cancel() override {}
        };
        return std::make_unique<Null>();
    }
    std::vector<Protocol> tried;

private:
    std::set<int> succeed_;
};

}  // namespace

TEST(SimConnectAttempts, TheFirstSuccessEndsTheSearchAndALastAttemptEndsItOnFailure) {
    Config c = pipeConfig();
    ScriptedConnector third({3});
    Attempt used;
    EXPECT_TRUE(connectFirst(planAttempts(c), c, third, &used));
    EXPECT_EQ(third.tried, (std::vector<Protocol>{Protocol::Pipe, Protocol::IPv6, Protocol::IPv4}));
    EXPECT_EQ(used.port, "4000");

    ScriptedConnector none({});
    EXPECT_FALSE(connectFirst(planAttempts(c), c, none));
    EXPECT_EQ(none.tried.size(), 4u);

    Config remote = pipeConfig("10.1.1.1");
    remote.protocol = Protocol::IPv4;
    remote.port = "500";
    ScriptedConnector stopsEarly({2});  // would succeed on the pipe, but is never asked
    EXPECT_FALSE(connectFirst(planAttempts(remote), remote, stopsEarly));
    EXPECT_EQ(stopsEarly.tried, (std::vector<Protocol>{Protocol::IPv4}));
}
