#include "input/udp_reader.h"

#include <stdexcept>

#include <fmt/format.h>

#include "core/files.h"
#include "core/log.h"
#include "core/state.h"

namespace vntx::input {

namespace net = platform::net;

namespace {
constexpr int kMessageTooLong = 10040;  // WSAEMSGSIZE: the datagram did not fit

struct ReaderFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
}  // namespace

void UdpReader::run(int port, bool realTrafficOnThisPc) {
    running_ = true;
    net::Handle socket = net::kInvalidSocket;
    bool started = false;
    try {
        if (int rc = net::startup(); rc != 0) throw ReaderFailure(fmt::format("WSA startup error: {}", rc));
        started = true;
        socket = net::open(net::Family::IPv4, net::Kind::Datagram);
        if (socket == net::kInvalidSocket)
            throw ReaderFailure("failed to create the socket, error: " + socketErrorText(net::lastError()));
        net::Address address;
        const std::string host = realTrafficOnThisPc ? "127.0.0.1" : "";
        if (net::resolve(host, std::to_string(port), net::Family::IPv4, net::Kind::Datagram, true, address) != 0 ||
            !net::bind(socket, address))
            throw ReaderFailure("bind to stream socket failed, error: " + socketErrorText(net::lastError()));
        boundPort_ = net::localPort(socket);
        onConnected();
        logf("{} connected", name_);
        loop(socket, realTrafficOnThisPc);
        net::close(socket);
        socket = net::kInvalidSocket;
        onStopped();
    } catch (const std::exception& e) {
        if (socket != net::kInvalidSocket) net::close(socket);
        socket = net::kInvalidSocket;
        if (started) net::cleanup();
        started = false;
        readerStopped(name_, e.what());
    }
    if (socket != net::kInvalidSocket) net::close(socket);
    if (started) net::cleanup();
    logf("{} disconnected", name_);
    running_ = false;
}

bool UdpReader::countChangedSinceLastCheck() {
    const std::uint32_t now = datagramCount.load();
    return countAtLastCheck_.exchange(now) != now;
}

void UdpReader::zeroCount() {
    datagramCount = 0;
    countAtLastCheck_ = 0;
}

void UdpReader::loop(net::Handle socket, bool realTrafficOnThisPc) {
    previous_.clear();
    while (!stopFlag.load()) {
        const int ready = net::waitReadable(socket, 1000);
        if (ready == 0) continue;
        if (ready < 0) throw ReaderFailure("receive error: " + socketErrorText(net::lastError()));
        long n = net::receiveFrom(socket, buffer_.data(), kBufferSize, nullptr);
        if (n < 0 && net::lastError() == kMessageTooLong) n = static_cast<long>(kBufferSize);
        if (n < 0) throw ReaderFailure("receive error: " + socketErrorText(net::lastError()));
        if (static_cast<std::size_t>(n) >= kBufferSize) {
            if (!stopFlag.load()) logf("buffer overrun: {} bytes", n);
            continue;
        }
        buffer_[static_cast<std::size_t>(n)] = '\0';
        datagramCount.fetch_add(1, std::memory_order_relaxed);
        const std::string_view datagram(buffer_.data(), static_cast<std::size_t>(n));
        if (!realTrafficOnThisPc) {
            // Without a loopback source the same report may arrive over more
            // than one path; identical repeats are dropped.
            if (datagram == previous_) continue;
            previous_.assign(datagram);
        }
        processDatagram(datagram);
    }
}

}  // namespace vntx::input
