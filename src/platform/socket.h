// Thin, blocking BSD-style socket layer. Error codes are always the Winsock
// codes (WSAE*), so messages read the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vntx::platform::net {

using Handle = std::intptr_t;
inline constexpr Handle kInvalidSocket = -1;

enum class Family { Any, IPv4, IPv6 };
enum class Kind { Stream, Datagram };

// Winsock error codes used directly by callers.
inline constexpr int kWouldBlock = 10035;
inline constexpr int kConnReset = 10054;
inline constexpr int kConnAborted = 10053;
inline constexpr int kNotConnected = 10057;
inline constexpr int kTimedOut = 10060;
inline constexpr int kConnRefused = 10061;

// WSAStartup(2.2) / WSACleanup; no-ops elsewhere. startup returns 0 or the error.
int startup();
void cleanup();

// The last socket error of this thread as a Winsock code.
int lastError();

// A resolved address (opaque storage large enough for IPv6).
struct Address {
    alignas(8) unsigned char storage[128] = {};
    int length = 0;
    int family = 0;  // native AF_* value
    std::string text() const;  // "host:port"
};

// getaddrinfo for a passive (server) address or a peer; returns 0 or the
// getaddrinfo error number.
int resolve(const std::string& host, const std::string& port, Family family, Kind kind, bool passive,
            Address& out);

Handle open(const Address& address, Kind kind);            // socket()
Handle open(Family family, Kind kind);
bool setBlocking(Handle s, bool blocking);                 // ioctlsocket FIONBIO
bool setReuseAddress(Handle s, bool on);                   // SO_REUSEADDR
bool setNoDelay(Handle s, bool on);                        // TCP_NODELAY
bool setReceiveTimeoutMs(Handle s, int ms);
bool bind(Handle s, const Address& address);
bool listen(Handle s);                                     // backlog SOMAXCONN
Handle accept(Handle s, Address* peer = nullptr);
bool connect(Handle s, const Address& address);
// Number of bytes, 0 on orderly close, -1 on error.
long send(Handle s, const void* data, std::size_t size);
long receive(Handle s, void* data, std::size_t size);
long sendTo(Handle s, const void* data, std::size_t size, const Address& to);
long receiveFrom(Handle s, void* data, std::size_t size, Address* from);
// 1 readable, 0 timed out, -1 error.
int waitReadable(Handle s, int timeoutMs);
void shutdownBoth(Handle s);
// Ends sending only: what was sent is still delivered before the close.
void shutdownSend(Handle s);
void close(Handle s);
// The local port a socket is bound to (0 on error).
int localPort(Handle s);
// True when the address is a loopback address.
bool isLoopback(const Address& address);

// Local stream sockets standing in for named pipes (Unix domain sockets off
// Windows). The path is derived from the pipe name by the caller's rules.
Handle openLocalStream();
bool bindLocal(Handle s, const std::string& path);
bool connectLocal(Handle s, const std::string& path);

}  // namespace vntx::platform::net
