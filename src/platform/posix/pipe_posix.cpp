#include "platform/pipe.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace vntx::platform::pipe {
namespace {

std::string lowerAscii(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Splits "\\server\pipe\name" into server and name; false when it is not a pipe name.
bool splitName(const std::string& full, std::string& server, std::string& name) {
    if (full.size() < 3 || full[0] != '\\' || full[1] != '\\') return false;
    auto slash = full.find('\\', 2);
    if (slash == std::string::npos) return false;
    server = full.substr(2, slash - 2);
    const std::string marker = "pipe\\";
    if (lowerAscii(full.substr(slash + 1, marker.size())) != marker) return false;
    name = full.substr(slash + 1 + marker.size());
    return !name.empty();
}

bool isLocalServer(const std::string& server) {
    auto s = lowerAscii(server);
    return s == "." || s == "localhost" || s == "127.0.0.1";
}

int errnoToWin32(int e) {
    switch (e) {
    case ENOENT:
    case ECONNREFUSED:
    case ENOTDIR: return kFileNotFound;
    case EAGAIN: return kPipeBusy;
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED: return kBrokenPipe;
    case ENOTCONN: return kPipeNotConnected;
    default: return kGenFailure;
    }
}

class LocalPipe final : public Pipe {
public:
    explicit LocalPipe(int fd) : fd_(fd) {}
    ~LocalPipe() override { ::close(fd_); }

    long read(void* data, std::size_t size, int& error) override {
        if (cancelled_) {
            error = kOperationAborted;
            return -1;
        }
        for (;;) {
            ssize_t n = ::recv(fd_, data, size, 0);
            if (n > 0) return static_cast<long>(n);
            if (n < 0 && errno == EINTR) continue;
            if (cancelled_) error = kOperationAborted;
            else error = n == 0 ? kBrokenPipe : errnoToWin32(errno);
            return -1;
        }
    }

    bool write(const void* data, std::size_t size, int& error) override {
        auto* p = static_cast<const char*>(data);
        while (size > 0) {
            if (cancelled_) {
                error = kOperationAborted;
                return false;
            }
            ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) continue;
                error = cancelled_ ? kOperationAborted : (errno == EPIPE ? kNoData : errnoToWin32(errno));
                return false;
            }
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    void cancel() override {
        cancelled_ = true;
        ::shutdown(fd_, SHUT_RDWR);
    }

private:
    int fd_;
    std::atomic<bool> cancelled_{false};
};

bool makeAddress(const std::string& path, sockaddr_un& a) {
    a = {};
    a.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof a.sun_path) return false;
    std::memcpy(a.sun_path, path.data(), path.size());
    return true;
}

class LocalServer final : public PipeServer {
public:
    LocalServer(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~LocalServer() override {
        close();
        ::close(fd_);
    }

    std::unique_ptr<Pipe> accept() override {
        for (;;) {
            if (closed_) return nullptr;
            int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
                if (closed_) {
                    ::close(c);
                    return nullptr;
                }
                return std::make_unique<LocalPipe>(c);
            }
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return nullptr;
        }
    }

    void close() override {
        std::lock_guard lock(mutex_);
        if (closed_.exchange(true)) return;
        ::shutdown(fd_, SHUT_RDWR);
        ::unlink(path_.c_str());
    }

private:
    int fd_;
    std::string path_;
    std::mutex mutex_;
    std::atomic<bool> closed_{false};
};

}  // namespace

std::string localPathFor(const std::string& fullName) {
    std::string server, name;
    if (!splitName(fullName, server, name) || !isLocalServer(server)) return {};
    const char* dirEnv = std::getenv("VNTX_RUNTIME_DIR");
    std::string dir = (dirEnv && *dirEnv) ? dirEnv : "/tmp";
    // Readable part plus a hash of the exact name, so that names differing only
    // in punctuation or case do not meet and long names still fit sun_path.
    std::uint32_t hash = 2166136261u;
    std::string readable;
    for (char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        if (readable.size() < 40)
            readable += ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) ? c : '_';
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", hash);
    return dir + "/vntx-pipe-" + readable + "-" + hex;
}

std::unique_ptr<Pipe> connect(const std::string& fullName, int& error) {
    std::string server, name;
    if (!splitName(fullName, server, name)) {
        error = kFileNotFound;
        return nullptr;
    }
    if (!isLocalServer(server)) {
        error = kBadNetPath;
        return nullptr;
    }
    sockaddr_un a;
    if (!makeAddress(localPathFor(fullName), a)) {
        error = kFileNotFound;
        return nullptr;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = kGenFailure;
        return nullptr;
    }
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } while (rc < 0 && errno == EINTR);
    if (rc != 0) {
        error = errnoToWin32(errno);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<LocalPipe>(fd);
}

bool waitForPipe(const std::string& fullName, int timeoutMs) {
    // A busy Unix socket frees up as soon as the server accepts: wait a moment
    // and report whether the pipe still exists.
    auto path = localPathFor(fullName);
    if (path.empty()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 20)));
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

std::unique_ptr<PipeServer> listen(const std::string& fullName, int& error) {
    auto path = localPathFor(fullName);
    sockaddr_un a;
    if (!makeAddress(path, a)) {
        error = kFileNotFound;
        return nullptr;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = kGenFailure;
        return nullptr;
    }
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        error = errnoToWin32(errno);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<LocalServer>(fd, path);
}

void signalEvent(void* handle) {
    if (!handle) return;
    int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
}

}  // namespace vntx::platform::pipe
