#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vntx::platform::net {
namespace {

// errno to the Winsock code with the same meaning (WSABASEERR + errno for the
// BSD-derived ones, which is how Winsock numbered them).
int toWsa(int e) {
    switch (e) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case EPIPE: return 10054;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return e;
    }
}

thread_local int lastErr = 0;

bool fail() {
    lastErr = toWsa(errno);
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

int fd(Handle s) { return static_cast<int>(s); }

// A blocking read that ran into SO_RCVTIMEO fails with EAGAIN here but with
// WSAETIMEDOUT under Winsock; report the Winsock code.
void failReceive(Handle s) {
    fail();
    if (lastErr == 10035 && (::fcntl(static_cast<int>(s), F_GETFL, 0) & O_NONBLOCK) == 0) lastErr = 10060;
}

}  // namespace

int startup() { return 0; }
void cleanup() {}
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
    int s = ::socket(address.family, nativeType(kind) | SOCK_CLOEXEC, 0);
    if (s < 0) {
        fail();
        return kInvalidSocket;
    }
    return s;
}

Handle open(Family family, Kind kind) {
    int s = ::socket(family == Family::IPv6 ? AF_INET6 : AF_INET, nativeType(kind) | SOCK_CLOEXEC, 0);
    if (s < 0) {
        fail();
        return kInvalidSocket;
    }
    return s;
}

bool setBlocking(Handle s, bool blocking) {
    int flags = ::fcntl(fd(s), F_GETFL, 0);
    if (flags < 0) return fail();
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return ::fcntl(fd(s), F_SETFL, flags) == 0 || fail();
}

bool setReuseAddress(Handle s, bool on) {
    int v = on ? 1 : 0;
    return ::setsockopt(fd(s), SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) == 0 || fail();
}

bool setNoDelay(Handle s, bool on) {
    int v = on ? 1 : 0;
    return ::setsockopt(fd(s), IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) == 0 || fail();
}

bool setReceiveTimeoutMs(Handle s, int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return ::setsockopt(fd(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 || fail();
}

bool bind(Handle s, const Address& address) {
    return ::bind(fd(s), reinterpret_cast<const sockaddr*>(address.storage), address.length) == 0 || fail();
}

bool listen(Handle s) { return ::listen(fd(s), SOMAXCONN) == 0 || fail(); }

Handle accept(Handle s, Address* peer) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    int c;
    do {
        c = ::accept4(fd(s), reinterpret_cast<sockaddr*>(&ss), &len, SOCK_CLOEXEC);
    } while (c < 0 && errno == EINTR);
    if (c < 0) {
        fail();
        return kInvalidSocket;
    }
    if (peer) {
        std::memcpy(peer->storage, &ss, len);
        peer->length = static_cast<int>(len);
        peer->family = ss.ss_family;
    }
    return c;
}

bool connect(Handle s, const Address& address) {
    int rc;
    do {
        rc = ::connect(fd(s), reinterpret_cast<const sockaddr*>(address.storage), address.length);
    } while (rc < 0 && errno == EINTR);
    return rc == 0 || fail();
}

long send(Handle s, const void* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::send(fd(s), data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) fail();
    return static_cast<long>(n);
}

long receive(Handle s, void* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::recv(fd(s), data, size, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) failReceive(s);
    return static_cast<long>(n);
}

long sendTo(Handle s, const void* data, std::size_t size, const Address& to) {
    ssize_t n = ::sendto(fd(s), data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(to.storage),
                         to.length);
    if (n < 0) fail();
    return static_cast<long>(n);
}

long receiveFrom(Handle s, void* data, std::size_t size, Address* from) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    ssize_t n;
    do {
        n = ::recvfrom(fd(s), data, size, 0, reinterpret_cast<sockaddr*>(&ss), &len);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        failReceive(s);
    } else if (from) {
        std::memcpy(from->storage, &ss, len);
        from->length = static_cast<int>(len);
        from->family = ss.ss_family;
    }
    return static_cast<long>(n);
}

int waitReadable(Handle s, int timeoutMs) {
    pollfd p{fd(s), POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        fail();
        return -1;
    }
    if (rc == 0) return 0;
    if (p.revents & POLLNVAL) {
        lastErr = 10038;
        return -1;
    }
    return 1;
}

void shutdownBoth(Handle s) {
    if (s != kInvalidSocket) ::shutdown(fd(s), SHUT_RDWR);
}

void shutdownSend(Handle s) {
    if (s != kInvalidSocket) ::shutdown(fd(s), SHUT_WR);
}

void close(Handle s) {
    if (s != kInvalidSocket) ::close(fd(s));
}

int localPort(Handle s) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(fd(s), reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
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

Handle openLocalStream() {
    int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        fail();
        return kInvalidSocket;
    }
    return s;
}

namespace {
bool localAddress(const std::string& path, sockaddr_un& a) {
    a = {};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) {
        lastErr = 10063;
        return false;
    }
    std::memcpy(a.sun_path, path.data(), path.size());
    return true;
}
}  // namespace

bool bindLocal(Handle s, const std::string& path) {
    sockaddr_un a;
    if (!localAddress(path, a)) return false;
    ::unlink(path.c_str());
    return ::bind(fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 || fail();
}

bool connectLocal(Handle s, const std::string& path) {
    sockaddr_un a;
    if (!localAddress(path, a)) return false;
    int rc;
    do {
        rc = ::connect(fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a);
    } while (rc < 0 && errno == EINTR);
    return rc == 0 || fail();
}

}  // namespace vntx::platform::net
