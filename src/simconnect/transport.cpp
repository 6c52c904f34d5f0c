#include "simconnect/transport.h"

#include <chrono>

#include "platform/pipe.h"
#include "platform/socket.h"

namespace vntx::simconnect {
namespace {

namespace net = platform::net;
namespace pipe = platform::pipe;

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kMaxQueuedBytes = 8u << 20;
constexpr auto kQueueFullWait = std::chrono::seconds(2);
constexpr auto kCloseFlushWait = std::chrono::seconds(1);
constexpr int kPipeBusyWaitMs = 5000;

class TcpStream final : public ByteStream {
public:
    // holdsSocketLibrary: the stream owns one reference of the socket library
    // (Winsock counts its users), released after its socket.
    TcpStream(net::Handle s, bool holdsSocketLibrary) : s_(s), holdsSocketLibrary_(holdsSocketLibrary) {}
    ~TcpStream() override {
        net::close(s_);
        if (holdsSocketLibrary_) net::cleanup();
    }

    long read(void* data, std::size_t size, int& error) override {
        long n = net::receive(s_, data, size);
        if (n < 0) error = net::lastError();
        return n;
    }

    bool write(const void* data, std::size_t size, int& error) override {
        auto* p = static_cast<const char*>(data);
        while (size > 0) {
            long n = net::send(s_, p, size);
            if (n <= 0) {
                error = n < 0 ? net::lastError() : net::kConnReset;
                return false;
            }
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    void cancel() override { net::shutdownBoth(s_); }

private:
    net::Handle s_;
    bool holdsSocketLibrary_;
};

class PipeStream final : public ByteStream {
public:
    explicit PipeStream(std::unique_ptr<pipe::Pipe> p) : p_(std::move(p)) {}

    long read(void* data, std::size_t size, int& error) override {
        int e = 0;
        long n = p_->read(data, size, e);
        // A message longer than the read simply continues in the next read.
        if (n > 0) return n;
        error = e;
        return -1;
    }

    bool write(const void* data, std::size_t size, int& error) override { return p_->write(data, size, error); }
    void cancel() override { p_->cancel(); }

private:
    std::unique_ptr<pipe::Pipe> p_;
};

}  // namespace

std::unique_ptr<ByteStream> SystemConnector::connect(const Attempt& attempt, const Config& config, int& error) {
    if (attempt.kind == Protocol::Pipe) {
        const std::string name = attempt.pipePath();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPipeBusyWaitMs);
        for (;;) {
            auto p = pipe::connect(name, error);
            if (p) return std::make_unique<PipeStream>(std::move(p));
            if (error != pipe::kPipeBusy) return nullptr;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !pipe::waitForPipe(name, static_cast<int>(left.count()))) return nullptr;
        }
    }
    if (attempt.port.empty()) {
        error = net::kConnRefused;
        return nullptr;
    }
    // Nothing else may have started the socket library in this process (on
    // Windows every socket call fails until WSAStartup): the connection holds
    // its own use of it for as long as it lives.
    if (int rc = net::startup(); rc != 0) {
        error = rc;
        return nullptr;
    }
    auto failed = [&](int e, net::Handle s) -> std::unique_ptr<ByteStream> {
        error = e;
        net::close(s);
        net::cleanup();
        return nullptr;
    };
    net::Address address;
    auto family = attempt.kind == Protocol::IPv6 ? net::Family::IPv6 : net::Family::IPv4;
    if (int rc = net::resolve(attempt.address, attempt.port, family, net::Kind::Stream, false, address); rc != 0)
        return failed(rc, net::kInvalidSocket);
    net::Handle s = net::open(address, net::Kind::Stream);
    if (s == net::kInvalidSocket) return failed(net::lastError(), s);
    if (!net::connect(s, address)) return failed(net::lastError(), s);
    if (config.disableNagle) net::setNoDelay(s, true);
    return std::make_unique<TcpStream>(s, true);
}

std::unique_ptr<ByteStream> connectFirst(const std::vector<Attempt>& plan, const Config& config,
                                         Connector& connector, Attempt* used) {
    for (const auto& attempt : plan) {
        int error = 0;
        auto stream = connector.connect(attempt, config, error);
        if (stream) {
            if (used) *used = attempt;
            return stream;
        }
        if (attempt.lastOnFailure) break;
    }
    return nullptr;
}

bool meansPeerGone(int error) {
    switch (error) {
    case 0:
    case pipe::kBrokenPipe:
    case pipe::kNoData:
    case pipe::kPipeNotConnected:
    case net::kConnReset:
    case net::kConnAborted:
    case 10058:  // WSAESHUTDOWN
        return true;
    default: return false;
    }
}

Connection::Connection(std::unique_ptr<ByteStream> stream, std::uint32_t maxReceiveSize, HANDLE eventHandle)
    : stream_(std::move(stream)), maxReceiveSize_(maxReceiveSize), eventHandle_(eventHandle) {
    receiver_ = std::thread([this] { receiveLoop(); });
    sender_ = std::thread([this] { sendLoop(); });
}

Connection::~Connection() { close(); }

void Connection::end(ConnectionState state, int error) {
    ConnectionState expected = ConnectionState::Open;
    if (state_.compare_exchange_strong(expected, state)) lastError_ = error;
    stream_->cancel();
    {
        std::lock_guard lock(outMutex_);
    }
    outReady_.notify_all();
    outDrained_.notify_all();
    pipe::signalEvent(eventHandle_);
}

HRESULT Connection::send(wire::Bytes& message) {
    if (message.size() < wire::kHeaderSize) return E_FAIL;
    std::unique_lock lock(outMutex_);
    if (state_ != ConnectionState::Open || closing_) return E_FAIL;
    if (outgoing_.size() + message.size() > kMaxQueuedBytes) {
        // The simulator reads slower than we write: wait a little for room.
        bool room = outDrained_.wait_for(lock, kQueueFullWait, [&] {
            return state_ != ConnectionState::Open || outgoing_.size() + message.size() <= kMaxQueuedBytes;
        });
        if (!room || state_ != ConnectionState::Open) return E_FAIL;
    }
    DWORD id = lastPacketId_.load() + 1;
    wire::writeU32(message.data() + 12, id);
    lastPacketId_ = id;
    bool wake = outgoing_.empty();
    outgoing_.insert(outgoing_.end(), message.begin(), message.end());
    lock.unlock();
    if (wake) outReady_.notify_one();
    return S_OK;
}

void Connection::sendLoop() {
    wire::Bytes batch;
    std::unique_lock lock(outMutex_);
    for (;;) {
        outReady_.wait(lock, [&] { return !outgoing_.empty() || state_ != ConnectionState::Open || closing_; });
        if (outgoing_.empty() || state_ != ConnectionState::Open) break;
        batch.swap(outgoing_);
        outgoing_.clear();
        sending_ = true;
        lock.unlock();
        int error = 0;
        bool ok = stream_->write(batch.data(), batch.size(), error);
        batch.clear();
        lock.lock();
        sending_ = false;
        outDrained_.notify_all();
        if (!ok) {
            lock.unlock();
            if (!closing_) end(meansPeerGone(error) ? ConnectionState::Closed : ConnectionState::Failed, error);
            return;
        }
    }
}

void Connection::receiveLoop() {
    wire::Framer framer(wire::kRecvHeaderSize, maxReceiveSize_);
    std::vector<std::uint8_t> chunk(kReadChunk);
    std::vector<std::vector<std::uint8_t>> ready;
    for (;;) {
        int error = 0;
        long n = stream_->read(chunk.data(), chunk.size(), error);
        if (n <= 0) {
            if (!closing_) end(meansPeerGone(n == 0 ? 0 : error) ? ConnectionState::Closed : ConnectionState::Failed,
                               n == 0 ? 0 : error);
            return;
        }
        framer.append(chunk.data(), static_cast<std::size_t>(n));
        wire::ByteView message;
        while (framer.next(message)) ready.emplace_back(message.begin(), message.end());
        if (!ready.empty()) {
            {
                std::lock_guard lock(inMutex_);
                for (auto& m : ready) received_.push_back(std::move(m));
            }
            ready.clear();
            pipe::signalEvent(eventHandle_);
        }
        if (framer.corrupt()) {
            if (!closing_) end(ConnectionState::Failed, 0);
            return;
        }
    }
}

HRESULT Connection::dispatch(DispatchProc proc, void* context) {
    std::size_t waiting;
    {
        std::lock_guard lock(inMutex_);
        waiting = received_.size();
    }
    if (waiting == 0) return state_ == ConnectionState::Open ? S_OK : E_FAIL;
    for (std::size_t i = 0; i < waiting; ++i) {
        std::vector<std::uint8_t> message;
        {
            std::lock_guard lock(inMutex_);
            if (received_.empty()) break;
            message = std::move(received_.front());
            received_.pop_front();
        }
        if (proc)
            proc(reinterpret_cast<SIMCONNECT_RECV*>(message.data()), static_cast<DWORD>(message.size()), context);
    }
    return S_OK;
}

std::size_t Connection::pendingMessages() {
    std::lock_guard lock(inMutex_);
    return received_.size();
}

void Connection::close() {
    {
        std::unique_lock lock(outMutex_);
        if (!closing_) {
            outDrained_.wait_for(lock, kCloseFlushWait, [&] {
                return (outgoing_.empty() && !sending_) || state_ != ConnectionState::Open;
            });
            closing_ = true;
        }
    }
    ConnectionState expected = ConnectionState::Open;
    state_.compare_exchange_strong(expected, ConnectionState::Closed);
    stream_->cancel();
    outReady_.notify_all();
    outDrained_.notify_all();
    if (receiver_.joinable()) receiver_.join();
    if (sender_.joinable()) sender_.join();
}

std::unique_ptr<ByteStream> tcpByteStream(platform::net::Handle socket) {
    return std::make_unique<TcpStream>(socket, false);
}

}  // namespace vntx::simconnect
