// The decoding tasks of one scanned folder: one worker thread per scenery
// file, at most `limit` at once, collected oldest first, every wait bounded.
//
// A task owns everything it touches (its file name, copies of the decoder and
// the airport filter, the promise it fills, and through a shared pointer the
// running count), so a task that is given up on after a time-out finishes on
// its own without writing into the scan that left it behind.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "scan/airport_scan.h"

namespace vntx::scan {

// No task finished (or no slot came free) within the time-out.
class TaskTimeout : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A task ended with an exception instead of a result.
class TaskFailed : public std::runtime_error {
public:
    TaskFailed(std::string file, const std::string& what) : std::runtime_error(what), file_(std::move(file)) {}
    const std::string& file() const { return file_; }

private:
    std::string file_;
};

struct FileOutcome {
    std::filesystem::path file;
    BglFileResult result;
};

class DecodeTasks {
public:
    DecodeTasks(unsigned limit, std::chrono::milliseconds timeout, BglDecoder decode, AirportFilter filter);
    DecodeTasks(const DecodeTasks&) = delete;
    DecodeTasks& operator=(const DecodeTasks&) = delete;
    // Tasks not collected are left to finish on their own.
    ~DecodeTasks() = default;

    // Waits until fewer than `limit` tasks run (at most the time-out, else
    // TaskTimeout), then starts the file's task.
    void start(const std::filesystem::path& file);
    // More tasks wait to be collected than may run at once.
    bool overfull() const { return pending_.size() > limit_; }
    bool empty() const { return pending_.empty(); }
    // The oldest task's outcome, waiting at most the time-out (TaskTimeout);
    // TaskFailed when it ended with an exception.
    FileOutcome collectOldest();
    // Tasks running now.
    unsigned running() const;

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable slotFree;
        unsigned running = 0;
    };

    std::string timeoutText() const;

    unsigned limit_;
    std::chrono::milliseconds timeout_;
    BglDecoder decode_;
    AirportFilter filter_;
    std::shared_ptr<Shared> shared_;
    std::deque<std::pair<std::filesystem::path, std::future<BglFileResult>>> pending_;
};

}  // namespace vntx::scan
