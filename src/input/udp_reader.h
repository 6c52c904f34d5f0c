// The receive loop shared by the traffic and weather readers: one UDP socket,
// a wait of at most 1 s per turn so that the stop flag is seen promptly, a
// 16384-byte buffer, and the drop of repeated datagrams when RealTraffic runs
// on another PC.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/socket.h"

namespace vntx::input {

class UdpReader {
public:
    static constexpr std::size_t kBufferSize = 16384;

    explicit UdpReader(std::string name) : name_(std::move(name)) {}
    virtual ~UdpReader() = default;
    UdpReader(const UdpReader&) = delete;
    UdpReader& operator=(const UdpReader&) = delete;

    // The thread body: set-up, loop until stopFlag, tear-down. Errors end the
    // cycle through readerStopped. A port of 0 binds an ephemeral port
    // (tests), readable through boundPort() once "connected" is logged.
    void run(int port, bool realTrafficOnThisPc);

    // Handles one received datagram (text without the terminating zero).
    virtual void processDatagram(std::string_view datagram) = 0;

    const std::string& name() const { return name_; }
    int boundPort() const { return boundPort_.load(); }
    bool running() const { return running_.load(); }

    std::atomic<bool> stopFlag{false};
    std::atomic<std::uint32_t> datagramCount{0};

    // The readers' liveness check: whether the counter changed since the
    // previous check, whose value it then remembers.
    bool countChangedSinceLastCheck();
    // The counter and the value the liveness check remembers, both to 0, so
    // that the next check compares with this moment.
    void zeroCount();

protected:
    // Called once the socket is bound (liveness indicators).
    virtual void onConnected() {}
    // Called once when the loop ends.
    virtual void onStopped() = 0;

private:
    void loop(platform::net::Handle socket, bool realTrafficOnThisPc);

    std::string name_;
    std::array<char, kBufferSize + 1> buffer_{};
    std::string previous_;
    std::atomic<int> boundPort_{0};
    std::atomic<std::uint32_t> countAtLastCheck_{0};
    std::atomic<bool> running_{false};
};

}  // namespace vntx::input
