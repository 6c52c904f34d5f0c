#include "platform/pipe.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace vntx::platform::pipe {
namespace {

std::wstring widen(const std::string& s) {
    if (s.empty()) return {};
    int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

HANDLE makeEvent(bool manualReset) {
    HANDLE h = ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
    if (!h) {
        char text[64];
        std::snprintf(text, sizeof text, "CreateEvent failed with %d.\n", static_cast<int>(::GetLastError()));
        ::OutputDebugStringA(text);
    }
    return h;
}

// Waits for an overlapped operation or the cancel event. On cancel the
// operation is cancelled and awaited, so the OVERLAPPED may go out of scope.
// Returns the Win32 result code and the byte count.
DWORD finishOverlapped(HANDLE file, OVERLAPPED& ov, HANDLE cancelEvent, DWORD& bytes) {
    HANDLE waits[2] = {ov.hEvent, cancelEvent};
    DWORD w = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (w == WAIT_OBJECT_0 + 1) {
        ::CancelIoEx(file, &ov);
        ::GetOverlappedResult(file, &ov, &bytes, TRUE);
        return ERROR_OPERATION_ABORTED;
    }
    if (!::GetOverlappedResult(file, &ov, &bytes, TRUE)) return ::GetLastError();
    return ERROR_SUCCESS;
}

class NamedPipe final : public Pipe {
public:
    NamedPipe(HANDLE file, bool serverEnd)
        : file_(file), serverEnd_(serverEnd), readEvent_(makeEvent(true)), writeEvent_(makeEvent(true)),
          cancelEvent_(makeEvent(true)) {}
    ~NamedPipe() override {
        cancel();
        if (serverEnd_) ::DisconnectNamedPipe(file_);
        ::CloseHandle(file_);
        for (HANDLE h : {readEvent_, writeEvent_, cancelEvent_})
            if (h) ::CloseHandle(h);
    }
    bool ready() const { return readEvent_ && writeEvent_ && cancelEvent_; }

    long read(void* data, std::size_t size, int& error) override {
        if (::WaitForSingleObject(cancelEvent_, 0) == WAIT_OBJECT_0) {
            error = kOperationAborted;
            return -1;
        }
        OVERLAPPED ov{};
        ov.hEvent = readEvent_;
        ::ResetEvent(readEvent_);
        DWORD chunk = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
        DWORD bytes = 0;
        DWORD rc = ERROR_SUCCESS;
        if (!::ReadFile(file_, data, chunk, nullptr, &ov)) {
            rc = ::GetLastError();
            if (rc == ERROR_IO_PENDING || rc == ERROR_MORE_DATA)
                rc = finishOverlapped(file_, ov, cancelEvent_, bytes);
        } else {
            rc = finishOverlapped(file_, ov, cancelEvent_, bytes);
        }
        if (rc == ERROR_SUCCESS && bytes > 0) return static_cast<long>(bytes);
        if (rc == ERROR_MORE_DATA && bytes > 0) {
            error = kMoreData;
            return static_cast<long>(bytes);
        }
        error = rc == ERROR_SUCCESS ? kBrokenPipe : static_cast<int>(rc);
        return -1;
    }

    bool write(const void* data, std::size_t size, int& error) override {
        std::lock_guard lock(writeMutex_);
        auto* p = static_cast<const char*>(data);
        while (size > 0) {
            OVERLAPPED ov{};
            ov.hEvent = writeEvent_;
            ::ResetEvent(writeEvent_);
            DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
            DWORD bytes = 0;
            DWORD rc = ERROR_SUCCESS;
            if (!::WriteFile(file_, p, chunk, nullptr, &ov)) {
                rc = ::GetLastError();
                if (rc == ERROR_IO_PENDING) rc = finishOverlapped(file_, ov, cancelEvent_, bytes);
            } else {
                rc = finishOverlapped(file_, ov, cancelEvent_, bytes);
            }
            if (rc != ERROR_SUCCESS) {
                error = static_cast<int>(rc);
                return false;
            }
            p += bytes;
            size -= bytes;
        }
        return true;
    }

    void cancel() override {
        if (cancelEvent_) ::SetEvent(cancelEvent_);
    }

private:
    HANDLE file_;
    bool serverEnd_;
    HANDLE readEvent_;
    HANDLE writeEvent_;
    HANDLE cancelEvent_;
    std::mutex writeMutex_;
};

// Always keeps one instance of the pipe waiting, created before the previous
// one is handed out, so a client never finds the name missing between two
// connections (or before the accepting thread first runs).
class NamedPipeServer final : public PipeServer {
public:
    explicit NamedPipeServer(std::wstring name)
        : name_(std::move(name)), cancelEvent_(makeEvent(true)), pending_(createInstance()) {}
    ~NamedPipeServer() override {
        close();
        if (pending_ != INVALID_HANDLE_VALUE) ::CloseHandle(pending_);
        if (cancelEvent_) ::CloseHandle(cancelEvent_);
    }

    bool listening() const { return pending_ != INVALID_HANDLE_VALUE; }

    std::unique_ptr<Pipe> accept() override {
        if (!cancelEvent_ || ::WaitForSingleObject(cancelEvent_, 0) == WAIT_OBJECT_0) return nullptr;
        HANDLE h = pending_ != INVALID_HANDLE_VALUE ? pending_ : createInstance();
        pending_ = INVALID_HANDLE_VALUE;
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        HANDLE ev = makeEvent(true);
        if (!ev) {
            ::CloseHandle(h);
            return nullptr;
        }
        OVERLAPPED ov{};
        ov.hEvent = ev;
        DWORD rc = ERROR_SUCCESS;
        if (!::ConnectNamedPipe(h, &ov)) {
            rc = ::GetLastError();
            if (rc == ERROR_IO_PENDING) {
                DWORD bytes = 0;
                rc = finishOverlapped(h, ov, cancelEvent_, bytes);
            } else if (rc == ERROR_PIPE_CONNECTED) {
                rc = ERROR_SUCCESS;
            }
        }
        ::CloseHandle(ev);
        if (rc != ERROR_SUCCESS) {
            ::CloseHandle(h);
            return nullptr;
        }
        pending_ = createInstance();
        auto pipe = std::make_unique<NamedPipe>(h, true);
        if (!pipe->ready()) return nullptr;
        return pipe;
    }

    void close() override {
        if (cancelEvent_) ::SetEvent(cancelEvent_);
    }

private:
    HANDLE createInstance() const {
        return ::CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 65536,
                                  65536, 0, nullptr);
    }

    std::wstring name_;
    HANDLE cancelEvent_;
    HANDLE pending_;  // the instance waiting for the next client (accept thread only after start)
};

}  // namespace

std::string localPathFor(const std::string&) { return {}; }

std::unique_ptr<Pipe> connect(const std::string& fullName, int& error) {
    auto name = widen(fullName);
    HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(::GetLastError());
        return nullptr;
    }
    auto pipe = std::make_unique<NamedPipe>(h, false);
    if (!pipe->ready()) {
        error = kGenFailure;
        return nullptr;
    }
    return pipe;
}

bool waitForPipe(const std::string& fullName, int timeoutMs) {
    auto name = widen(fullName);
    return ::WaitNamedPipeW(name.c_str(), static_cast<DWORD>(timeoutMs)) != FALSE;
}

std::unique_ptr<PipeServer> listen(const std::string& fullName, int& error) {
    auto server = std::make_unique<NamedPipeServer>(widen(fullName));
    if (!server->listening()) {
        error = static_cast<int>(::GetLastError());
        return nullptr;
    }
    error = 0;
    return server;
}

void signalEvent(void* handle) {
    if (handle) ::SetEvent(static_cast<HANDLE>(handle));
}

}  // namespace vntx::platform::pipe
