#include "scan/scan_tasks.h"

#include <optional>
#include <thread>

#include <fmt/format.h>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace vntx::scan {

DecodeTasks::DecodeTasks(unsigned limit, std::chrono::milliseconds timeout, BglDecoder decode, AirportFilter filter)
    : limit_(limit == 0 ? 1 : limit),
      timeout_(timeout),
      decode_(std::move(decode)),
      filter_(std::move(filter)),
      shared_(std::make_shared<Shared>()) {}

std::string DecodeTasks::timeoutText() const {
    return fmt::format("Future wait timed out after {} seconds",
                       std::chrono::duration_cast<std::chrono::duration<double>>(timeout_).count());
}

unsigned DecodeTasks::running() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->running;
}

void DecodeTasks::start(const fs::path& file) {
    {
        std::unique_lock lock(shared_->mutex);
        if (!shared_->slotFree.wait_for(lock, timeout_, [this] { return shared_->running < limit_; }))
            throw TaskTimeout(timeoutText());
        ++shared_->running;
    }
    std::promise<BglFileResult> promise;
    std::future<BglFileResult> future = promise.get_future();
    try {
        std::thread([shared = shared_, decode = decode_, filter = filter_, file, promise = std::move(promise)]() mutable {
            platform::setThreadName("BGL decoder");
            try {
                promise.set_value(decode(file, filter));
            } catch (...) {
                try {
                    promise.set_exception(std::current_exception());
                } catch (...) {
                }
            }
            {
                std::lock_guard lock(shared->mutex);
                --shared->running;
            }
            shared->slotFree.notify_all();
        }).detach();
    } catch (...) {
        std::lock_guard lock(shared_->mutex);
        --shared_->running;
        throw;
    }
    pending_.emplace_back(file, std::move(future));
}

FileOutcome DecodeTasks::collectOldest() {
    auto& [file, future] = pending_.front();
    if (future.wait_for(timeout_) != std::future_status::ready) throw TaskTimeout(timeoutText());
    FileOutcome outcome{file, {}};
    std::optional<std::string> failure;
    try {
        outcome.result = future.get();
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "unknown exception";
    }
    pending_.pop_front();
    if (failure) throw TaskFailed(platform::pathToUtf8(outcome.file), *failure);
    return outcome;
}

}  // namespace vntx::scan
