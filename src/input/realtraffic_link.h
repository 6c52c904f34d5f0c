// The TCP link with RealTraffic: Ventrix_P3D is the server, RealTraffic the
// one client. Over it go the version handshake, the user position once a
// second (Qs121), the simulator time (Qs123) and "exit" at closing.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "input/user_aircraft.h"
#include "platform/socket.h"

namespace vntx::input {

// "Qs121=pitch;bank;heading;altitude;tas;lat;lon\r\n"
std::string formatUserPosition(const UserAircraftState& user);
// "Qs123=<milliseconds since 1970>\r\n"
std::string formatSimulatorTime(std::int64_t epochSeconds);
// RealTraffic's reply to "Qs999=version": nullopt when it is no JSON object
// (the older versions without time sync), else its "version" (a string as it
// stands, any other value as JSON text, empty when absent or null).
std::optional<std::string> readVersionReply(std::string_view reply);

class RealTrafficLink {
public:
    static constexpr std::size_t kReceiveSize = 16384;

    // Throws std::runtime_error with the set-up failure text.
    void openServer(const std::string& portText);
    // True when a client is connected now. Gives up when a stop is requested.
    bool waitForClient();
    // One receive of at most 16384 bytes; empty on error, close or overrun.
    // Waits at most timeoutMs for data (and stops waiting on a stop request).
    std::string receiveText(int timeoutMs = 10000);
    // False (and the connection dropped) when the send fails.
    bool sendText(const std::string& text);
    void handshake();
    void sendUserPosition();
    void sendSimulatorTime();
    void closeLink();

    std::atomic<bool> realTrafficConnected{false};
    std::atomic<bool> timeSyncEnabled{false};
    std::atomic<bool> realTrafficInstalled{true};

    // The local port the server listens on (0 when closed).
    int listeningPort() const;

    // Called by the handshake and after a lost connection: the reader state
    // back to its start values (QNH, traffic stamp, call signs, stop flags,
    // counters, liveness).
    std::function<void()> resetReaderState;
    // Withdraws the live traffic after the link was lost (live-traffic code).
    std::function<void()> withdrawLiveTraffic;

private:
    void dropClient();

    platform::net::Handle listenSocket_ = platform::net::kInvalidSocket;
    platform::net::Handle clientSocket_ = platform::net::kInvalidSocket;
    bool libraryStarted_ = false;
};

RealTrafficLink& realTrafficLink();

}  // namespace vntx::input
