#include "input/realtraffic_link.h"

#include <cmath>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "core/files.h"
#include "core/log.h"
#include "core/state.h"
#include "core/status.h"
#include "core/version.h"
#include "input/geo.h"

namespace vntx::input {

namespace net = platform::net;

std::string formatUserPosition(const UserAircraftState& u) {
    // Whole numbers are written without a decimal point ("{:.0f}": the plain
    // "{:.0}" would switch to exponent form, 5000 -> "5e+03").
    return fmt::format("Qs121={:.0f};{:.0f};{:.6f};{:.0f};{};{:.6f};{:.6f}\r\n", u.pitch * 100000,
                       u.bank * 100000, u.trueHeading, u.altitude * 1000, u.trueAirspeed * 1000,
                       u.latitude * kDegToRad, u.longitude * kDegToRad);
}

std::string formatSimulatorTime(std::int64_t epochSeconds) {
    return fmt::format("Qs123={}\r\n", epochSeconds * 1000);
}

RealTrafficLink& realTrafficLink() {
    static RealTrafficLink link;
    return link;
}

int RealTrafficLink::listeningPort() const {
    return listenSocket_ == net::kInvalidSocket ? 0 : net::localPort(listenSocket_);
}

void RealTrafficLink::openServer(const std::string& portText) {
    if (int rc = net::startup(); rc != 0) throw std::runtime_error(fmt::format("WSAStartup failed with error {}", rc));
    libraryStarted_ = true;
    net::Address address;
    if (int rc = net::resolve("", portText, net::Family::IPv4, net::Kind::Stream, true, address); rc != 0) {
        net::cleanup();
        libraryStarted_ = false;
        throw std::runtime_error(fmt::format("getaddrinfo failed with error {}", rc));
    }
    auto fail = [&](const std::string& text) {
        if (listenSocket_ != net::kInvalidSocket) net::close(listenSocket_);
        listenSocket_ = net::kInvalidSocket;
        net::cleanup();
        libraryStarted_ = false;
        throw std::runtime_error(text);
    };
    listenSocket_ = net::open(address, net::Kind::Stream);
    if (listenSocket_ == net::kInvalidSocket) fail("socket failed with error " + socketErrorText(net::lastError()));
    if (!net::setBlocking(listenSocket_, true))
        fail("ioctlsocket failed with error " + socketErrorText(net::lastError()));
    if (!net::setReuseAddress(listenSocket_, true)) fail("setsockopt(SO_REUSEADDR) failed");
    if (!net::bind(listenSocket_, address))
        fail("Bind failed at port " + portText + " with error " + socketErrorText(net::lastError()));
    if (!net::listen(listenSocket_)) fail("listen failed with error " + socketErrorText(net::lastError()));
}

bool RealTrafficLink::waitForClient() {
    if (realTrafficConnected) return true;
    if (listenSocket_ == net::kInvalidSocket) return false;
    // Wait in short slices so that a stop (the window's close button) ends
    // the wait instead of leaving the cycle blocked until a client comes.
    for (;;) {
        if (stopRequested()) return false;
        const int ready = net::waitReadable(listenSocket_, 200);
        if (ready < 0) return false;
        if (ready > 0) break;
    }
    const net::Handle client = net::accept(listenSocket_);
    if (client == net::kInvalidSocket) return false;
    try {
        if (!net::setNoDelay(client, true))
            throw std::runtime_error(
                fmt::format("{} setsockopt failed with error {}", utcTimeOfDay(), socketErrorText(net::lastError())));
    } catch (const std::exception& e) {
        net::close(client);
        logf("waitForClient interrupted: {}", e.what());
        return false;
    }
    clientSocket_ = client;
    realTrafficConnected = true;
    return true;
}

std::string RealTrafficLink::receiveText(int timeoutMs) {
    if (clientSocket_ == net::kInvalidSocket) return {};
    // Bounded wait: a client that never answers must not hold the cycle.
    int waited = 0;
    for (;;) {
        if (stopRequested()) return {};
        const int ready = net::waitReadable(clientSocket_, 100);
        if (ready != 0) break;
        waited += 100;
        if (waited >= timeoutMs) return {};
    }
    std::vector<char> buffer(kReceiveSize);
    const long n = net::receive(clientSocket_, buffer.data(), buffer.size());
    if (n < 0) {
        if (!stopRequested()) logf("receive: {}", socketErrorText(net::lastError()));
        return {};
    }
    if (n == 0) return {};
    if (static_cast<std::size_t>(n) >= kReceiveSize) {
        if (!stopRequested()) logf("receive: buffer overrun: {}", n);
        return {};
    }
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

void RealTrafficLink::dropClient() {
    realTrafficConnected = false;
    // A graceful end first, so a last "exit" line still reaches RealTraffic.
    if (clientSocket_ != net::kInvalidSocket) net::shutdownSend(clientSocket_);
    if (clientSocket_ != net::kInvalidSocket) net::close(clientSocket_);
    clientSocket_ = net::kInvalidSocket;
}

bool RealTrafficLink::sendText(const std::string& text) {
    if (clientSocket_ != net::kInvalidSocket) {
        const long n = net::send(clientSocket_, text.data(), text.size());
        if (n == static_cast<long>(text.size())) return true;
    }
    const int error = net::lastError();
    dropClient();
    if (!stopRequested()) {
        logf("sendDataPacket to RealTraffic failed: {}", socketErrorText(error));
        logLine("RealTraffic client socket closed");
    }
    return false;
}

std::optional<std::string> readVersionReply(std::string_view reply) {
    const auto doc = nlohmann::json::parse(reply, nullptr, false);
    if (!doc.is_object()) return std::nullopt;
    const auto it = doc.find("version");
    if (it == doc.end() || it->is_null()) return std::string();
    return it->is_string() ? it->get<std::string>() : it->dump();
}

void RealTrafficLink::handshake() {
    showStatus(fmt::format("Waiting for RealTraffic to connect to {} ...", kProgramName), true);
    flushLog();
    if (resetReaderState) resetReaderState();
    if (!waitForClient()) {
        clearStatus();
        return;
    }
    std::string reply;
    if (sendText("Qs999=version\r\n")) reply = receiveText();
    if (reply.empty()) {
        showStatus("No RealTraffic version received?", false);
        logLine("No RealTraffic version received?");
        timeSyncEnabled = false;
    } else {
        const auto version = readVersionReply(reply);
        timeSyncEnabled = version.has_value();
        setRealTrafficVersion(version.value_or(""));
    }
    indicators().realTraffic = true;
    requestRepaint();
    logLine("RealTraffic connected");
    clearStatus();
}

void RealTrafficLink::sendSimulatorTime() {
    const std::int64_t seconds = simulatorEpochSeconds().load();
    if (realTrafficConnected && seconds >= 1) sendText(formatSimulatorTime(seconds));
}

void RealTrafficLink::sendUserPosition() {
    if (!realTrafficInstalled) return;
    const UserAircraftState user = userAircraft();
    if (std::fabs(user.latitude) < 0.0001 && std::fabs(user.longitude) < 0.0001) return;
    if (!realTrafficConnected) {
        if (exitReason() != ExitReason::NotYetSet) return;
        if (waitForClient()) {
            indicators().realTraffic = true;
            requestRepaint();
            const auto text = fmt::format("{} RealTraffic re-connected", utcTimeOfDay());
            showStatus(text, false);
            logLine(text);
            clearStatus();
        }
        return;
    }
    if (sendText(formatUserPosition(user))) return;
    indicators().realTraffic = false;
    requestRepaint();
    if (!userClosed() && withdrawLiveTraffic) withdrawLiveTraffic();
    if (resetReaderState) resetReaderState();
    const auto text = fmt::format("{} RealTraffic gone? Wait for RealTraffic to re-connect ...", utcTimeOfDay());
    showStatus(text, false);
    logLine(text);
}

void RealTrafficLink::closeLink() {
    if (realTrafficConnected) sendText("exit\r\n");
    dropClient();
    if (listenSocket_ != net::kInvalidSocket) net::close(listenSocket_);
    listenSocket_ = net::kInvalidSocket;
    if (libraryStarted_) net::cleanup();
    libraryStarted_ = false;
}

}  // namespace vntx::input
