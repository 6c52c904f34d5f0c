#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <afunix.h>
#include <windows.h>

#include <climits>
#include <cstring>

namespace vntx::platform::net {
namespace {

thread_local int lastErr = 0;

bool fail() {
    lastErr = ::WSAGetLastError();
    return false;
}

int nativeFamily(Family f) {
    switch (f) {
    case Family::IPv4: return AF_INET;
    case Family::IPv6: return AF_INET6;
    default: return AF_UNSPEC;
    }
}

int nativeType(Kind k) { return k == Kind::Stream ? SOCK_STREAM : SOCK_DGRAM; }

SOCKET sock(Handle s) { return static_cast<SOCKET>(s); }

Handle handle(SOCKET s) {
    if (s == INVALID_SOCKET) {
        fail();
        return kInvalidSocket;
    }
    // Not inherited by child processes, as SOCK_CLOEXEC elsewhere.
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<Handle>(s);
}

// Winsock reports an ICMP "port unreachable" caused by an earlier sendto as
// WSAECONNRESET on the next recvfrom of a UDP socket, which would end a reader
// for a datagram nobody wanted. Other systems ignore it; so does this layer.
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif
Handle datagramOrStream(SOCKET s, Kind kind) {
    if (s != INVALID_SOCKET && kind == Kind::Datagram) {
        BOOL report = FALSE;
        DWORD bytes = 0;
        ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &bytes, nullptr, nullptr);
    }
    return handle(s);
}

int clampSize(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

}  // namespace

int startup() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
}

void cleanup() { ::WSACleanup(); }

int lastError() { return lastErr; }

std::string Address::text() const {
    char host[INET6_ADDRSTRLEN] = {};
    int port = 0;
    if (family == AF_INET) {
        auto* a = reinterpret_cast<const sockaddr_in*>(storage);
        ::inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
        port = ntohs(a->sin_port);
    } else if (family == AF_INET6) {
        auto* a = reinterpret_cast<const sockaddr_in6*>(storage);
        ::inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
        port = ntohs(a->sin6_port);
    }
    return std::string(host) + ":" + std::to_string(port);
}

int resolve(const std::string& host, const std::string& port, Family family, Kind kind, bool passive,
            Address& out) {
    addrinfo hints{};
    hints.ai_family = nativeFamily(family);
    hints.ai_socktype = nativeType(kind);
    hints.ai_protocol = kind == Kind::Stream ? IPPROTO_TCP : IPPROTO_UDP;
    if (passive) hints.ai_flags = AI_PASSIVE;
    addrinfo* res = nullptr;
    int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), port.empty() ? nullptr : port.c_str(), &hints,
                           &res);
    if (rc != 0) return rc;
    if (!res || res->ai_addrlen > sizeof out.storage) {
        if (res) ::freeaddrinfo(res);
        return EAI_FAIL;
    }
    std::memcpy(out.storage, res->ai_addr, res->ai_addrlen);
    out.length = static_cast<int>(res->ai_addrlen);
    out.family = res->ai_family;
    ::freeaddrinfo(res);
    return 0;
}

Handle open(const Address& address, Kind kind) {
    return datagramOrStream(::socket(address.family, nativeType(kind), 0), kind);
}

Handle open(Family family, Kind kind) {
    return datagramOrStream(::socket(family == Family::IPv6 ? AF_INET6 : AF_INET, nativeType(kind), 0), kind);
}

bool setBlocking(Handle s, bool blocking) {
    u_long mode = blocking ? 0 : 1;
    return ::ioctlsocket(sock(s), FIONBIO, &mode) == 0 || fail();
}

bool setReuseAddress(Handle, bool) {
    // Windows lets a listener bind while old connections of its port linger in
    // TIME_WAIT, which is all the option is asked for. Its SO_REUSEADDR would
    // instead let a second socket take over a port that is in active use, so
    // it is deliberately not set.
    return true;
}

bool setNoDelay(Handle s, bool on) {
    BOOL v = on ? TRUE : FALSE;
    return ::setsockopt(sock(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&v), sizeof v) == 0 ||
           fail();
}

bool setReceiveTimeoutMs(Handle s, int ms) {
    DWORD v = ms < 0 ? 0 : static_cast<DWORD>(ms);
    return ::setsockopt(sock(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&v), sizeof v) == 0 ||
           fail();
}

bool bind(Handle s, const Address& address) {
    return ::bind(sock(s), reinterpret_cast<const sockaddr*>(address.storage), address.length) == 0 || fail();
}

bool listen(Handle s) { return ::listen(sock(s), SOMAXCONN) == 0 || fail(); }

Handle accept(Handle s, Address* peer) {
    sockaddr_storage ss{};
    int len = sizeof ss;
    SOCKET c = ::accept(sock(s), reinterpret_cast<sockaddr*>(&ss), &len);
    if (c == INVALID_SOCKET) {
        fail();
        return kInvalidSocket;
    }
    // A Winsock socket inherits the listener's non-blocking mode; elsewhere an
    // accepted socket always starts blocking. Make both behave the same.
    u_long mode = 0;
    ::ioctlsocket(c, FIONBIO, &mode);
    if (peer) {
        std::memcpy(peer->storage, &ss, static_cast<std::size_t>(len));
        peer->length = len;
        peer->family = ss.ss_family;
    }
    return handle(c);
}

bool connect(Handle s, const Address& address) {
    return ::connect(sock(s), reinterpret_cast<const sockaddr*>(address.storage), address.length) == 0 || fail();
}

long send(Handle s, const void* data, std::size_t size) {
    int n = ::send(sock(s), static_cast<const char*>(data), clampSize(size), 0);
    if (n == SOCKET_ERROR) fail();
    return n;
}

long receive(Handle s, void* data, std::size_t size) {
    int n = ::recv(sock(s), static_cast<char*>(data), clampSize(size), 0);
    if (n == SOCKET_ERROR) fail();
    return n;
}

long sendTo(Handle s, const void* data, std::size_t size, const Address& to) {
    int n = ::sendto(sock(s), static_cast<const char*>(data), clampSize(size), 0,
                     reinterpret_cast<const sockaddr*>(to.storage), to.length);
    if (n == SOCKET_ERROR) fail();
    return n;
}

long receiveFrom(Handle s, void* data, std::size_t size, Address* from) {
    sockaddr_storage ss{};
    int len = sizeof ss;
    int n = ::recvfrom(sock(s), static_cast<char*>(data), clampSize(size), 0, reinterpret_cast<sockaddr*>(&ss), &len);
    if (n == SOCKET_ERROR) {
        fail();
        // A datagram larger than the buffer: Winsock still delivers its first
        // part (WSAEMSGSIZE); report the part, as recvfrom does elsewhere.
        if (lastErr == WSAEMSGSIZE) n = clampSize(size);
        else return n;
    }
    if (from) {
        std::memcpy(from->storage, &ss, static_cast<std::size_t>(len));
        from->length = len;
        from->family = ss.ss_family;
    }
    return n;
}

int waitReadable(Handle s, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(sock(s), &set);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int rc = ::select(0, &set, nullptr, nullptr, timeoutMs < 0 ? nullptr : &tv);
    if (rc == SOCKET_ERROR) {
        fail();
        return -1;
    }
    return rc == 0 ? 0 : 1;
}

void shutdownBoth(Handle s) {
    if (s != kInvalidSocket) ::shutdown(sock(s), SD_BOTH);
}

void shutdownSend(Handle s) {
    if (s != kInvalidSocket) ::shutdown(sock(s), SD_SEND);
}

void close(Handle s) {
    if (s != kInvalidSocket) ::closesocket(sock(s));
}

int localPort(Handle s) {
    sockaddr_storage ss{};
    int len = sizeof ss;
    if (::getsockname(sock(s), reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
    if (ss.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    if (ss.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    return 0;
}

bool isLoopback(const Address& address) {
    if (address.family == AF_INET) {
        auto* a = reinterpret_cast<const sockaddr_in*>(address.storage);
        return (ntohl(a->sin_addr.s_addr) >> 24) == 127;
    }
    if (address.family == AF_INET6) {
        auto* a = reinterpret_cast<const sockaddr_in6*>(address.storage);
        return IN6_IS_ADDR_LOOPBACK(&a->sin6_addr) != 0;
    }
    return false;
}

// AF_UNIX stream sockets (Windows 10 1803 and later). The program's simulator
// link uses real named pipes on Windows; these serve tools and tests.
Handle openLocalStream() { return handle(::socket(AF_UNIX, SOCK_STREAM, 0)); }

namespace {
bool localAddress(const std::string& path, sockaddr_un& a) {
    a = {};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) {
        lastErr = WSAENAMETOOLONG;
        return false;
    }
    std::memcpy(a.sun_path, path.data(), path.size());
    return true;
}
}  // namespace

bool bindLocal(Handle s, const std::string& path) {
    sockaddr_un a;
    if (!localAddress(path, a)) return false;
    ::DeleteFileA(path.c_str());
    return ::bind(sock(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 || fail();
}

bool connectLocal(Handle s, const std::string& path) {
    sockaddr_un a;
    if (!localAddress(path, a)) return false;
    return ::connect(sock(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 || fail();
}

}  // namespace vntx::platform::net
