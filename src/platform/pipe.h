// Named pipes for the simulator connection. On Windows these are real named
// pipes with overlapped I/O; elsewhere a Unix domain socket whose path is
// derived from the pipe name stands in for them. Error codes are always the
// Win32 codes, so callers read the same numbers everywhere.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vntx::platform::pipe {

inline constexpr int kFileNotFound = 2;       // ERROR_FILE_NOT_FOUND: no such pipe
inline constexpr int kBadNetPath = 53;        // ERROR_BAD_NETPATH: remote server not reachable
inline constexpr int kBrokenPipe = 109;       // ERROR_BROKEN_PIPE: the other end has gone
inline constexpr int kSemTimeout = 121;       // ERROR_SEM_TIMEOUT
inline constexpr int kPipeBusy = 231;         // ERROR_PIPE_BUSY: all instances busy
inline constexpr int kNoData = 232;           // ERROR_NO_DATA: pipe being closed
inline constexpr int kPipeNotConnected = 233; // ERROR_PIPE_NOT_CONNECTED
inline constexpr int kMoreData = 234;         // ERROR_MORE_DATA: message continues
inline constexpr int kOperationAborted = 995; // ERROR_OPERATION_ABORTED: cancelled
inline constexpr int kGenFailure = 31;        // ERROR_GEN_FAILURE: anything else

// One connected end of a pipe. read and write may run on different threads
// at the same time; cancel may be called from any thread and makes blocked
// and later calls return with kOperationAborted.
class Pipe {
public:
    virtual ~Pipe() = default;
    // Bytes read (> 0), or -1 with error set. A read that stops inside a
    // longer pipe message returns its bytes with error == kMoreData.
    virtual long read(void* data, std::size_t size, int& error) = 0;
    // Writes every byte; false with error set otherwise.
    virtual bool write(const void* data, std::size_t size, int& error) = 0;
    virtual void cancel() = 0;
};

// Opens "\\server\pipe\name" for reading and writing. nullptr with error
// set on failure (kPipeBusy when every instance is in use).
std::unique_ptr<Pipe> connect(const std::string& fullName, int& error);

// Waits up to timeoutMs for an instance of the pipe to become free.
bool waitForPipe(const std::string& fullName, int timeoutMs);

// The listening end, for the simulator stand-in.
class PipeServer {
public:
    virtual ~PipeServer() = default;
    // Blocks until a client connects; nullptr once close() was called.
    virtual std::unique_ptr<Pipe> accept() = 0;
    virtual void close() = 0;
};
std::unique_ptr<PipeServer> listen(const std::string& fullName, int& error);

// Signals an event handle a caller handed over: SetEvent on Windows, a write
// to the eventfd (given as its number) elsewhere. Null handles are ignored.
void signalEvent(void* handle);

// Where the pipe's stand-in lives off Windows (empty on Windows, and empty
// when the name is not a local pipe name).
std::string localPathFor(const std::string& fullName);

}  // namespace vntx::platform::pipe
