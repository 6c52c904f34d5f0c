// The connection under the SimConnect operations: a byte stream (named pipe
// or TCP), its sender and receiver threads, the outgoing and received queues.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "simconnect/config.h"
#include "simconnect/types.h"
#include "simconnect/wire.h"

namespace vntx::simconnect {

// A connected byte stream. read and write run on different threads; cancel
// may come from any thread and ends blocked calls.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Bytes read (> 0); 0 when the other side closed in order; -1 with error.
    virtual long read(void* data, std::size_t size, int& error) = 0;
    virtual bool write(const void* data, std::size_t size, int& error) = 0;
    virtual void cancel() = 0;
};

// A byte stream over a connected TCP socket, which it owns (also the
// simulator stand-in's side of a connection).
std::unique_ptr<ByteStream> tcpByteStream(platform::net::Handle socket);

// Makes one connection attempt.
class Connector {
public:
    virtual ~Connector() = default;
    virtual std::unique_ptr<ByteStream> connect(const Attempt& attempt, const Config& config, int& error) = 0;
};

// Named pipes of the platform (waiting out busy pipes) and TCP sockets.
class SystemConnector final : public Connector {
public:
    std::unique_ptr<ByteStream> connect(const Attempt& attempt, const Config& config, int& error) override;
};

// Runs the attempts in order until one succeeds or one marked last fails.
std::unique_ptr<ByteStream> connectFirst(const std::vector<Attempt>& plan, const Config& config,
                                         Connector& connector, Attempt* used = nullptr);

enum class ConnectionState { Open, Closed, Failed };

// True for error codes that mean the other side has gone (closed rather than failed).
bool meansPeerGone(int error);

class Connection {
public:
    // Starts the receiver and sender threads on a connected stream.
    Connection(std::unique_ptr<ByteStream> stream, std::uint32_t maxReceiveSize, HANDLE eventHandle);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Stamps the next packet id into the message and queues it. E_FAIL when
    // the connection is not open or the queue stays full.
    HRESULT send(wire::Bytes& message);
    DWORD lastSentPacketId() const { return lastPacketId_.load(); }

    // Hands the messages waiting now to the callback, one by one. E_FAIL when
    // none were waiting and the connection has ended.
    HRESULT dispatch(DispatchProc proc, void* context);

    // Sends what is queued (briefly), then stops both threads and the stream.
    void close();

    ConnectionState state() const { return state_.load(); }
    int lastError() const { return lastError_.load(); }
    std::size_t pendingMessages();

private:
    void receiveLoop();
    void sendLoop();
    void end(ConnectionState state, int error);

    std::unique_ptr<ByteStream> stream_;
    std::uint32_t maxReceiveSize_;
    HANDLE eventHandle_;
    std::atomic<ConnectionState> state_{ConnectionState::Open};
    std::atomic<int> lastError_{0};
    std::atomic<bool> closing_{false};

    std::mutex outMutex_;  // the outgoing queue
    std::condition_variable outReady_;
    std::condition_variable outDrained_;
    wire::Bytes outgoing_;
    bool sending_ = false;
    std::atomic<DWORD> lastPacketId_{0};

    std::mutex inMutex_;  // the received messages
    std::deque<std::vector<std::uint8_t>> received_;

    std::thread receiver_;
    std::thread sender_;
};

}  // namespace vntx::simconnect
