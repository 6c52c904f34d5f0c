#include "liveries/scan_walk.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include <fmt/format.h>

#include "core/files.h"
#include "core/log.h"
#include "core/status.h"
#include "liveries/scan_file.h"
#include "platform/folder.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

// Tasks queued before a sleeping worker is woken: waking one per file costs
// more than the file task itself.
constexpr std::size_t kWakeBatch = 8;

}  // namespace

// The file tasks of one scan. Workers are detached and hold the pool (and
// through it the scan state) by shared pointer, so a task that is still
// running when the scanner gives up on it writes into live memory.
struct TaskPool : std::enable_shared_from_this<TaskPool> {
    struct Task {
        fs::path file;
        std::uint32_t folderIndex = 0;
        std::shared_ptr<const FolderListing> listing;
        std::promise<std::vector<Livery>> promise;
    };

    explicit TaskPool(std::shared_ptr<ScanState> s) : state(std::move(s)) {}

    void start(unsigned workers) {
        for (unsigned i = 0; i < workers; ++i) std::thread([self = shared_from_this()] { self->work(); }).detach();
    }

    std::future<std::vector<Livery>> submit(fs::path file, std::uint32_t folderIndex,
                                            std::shared_ptr<const FolderListing> listing) {
        Task task{std::move(file), folderIndex, std::move(listing), {}};
        auto future = task.promise.get_future();
        bool wakeOne;
        {
            std::lock_guard lock(mutex);
            queue.push_back(std::move(task));
            wakeOne = idle > 0 && queue.size() >= kWakeBatch;
        }
        if (wakeOne) wake.notify_one();
        return future;
    }

    // Before waiting for a result: every queued task gets a worker.
    void wakeAll() {
        {
            std::lock_guard lock(mutex);
            if (idle == 0 || queue.empty()) return;
        }
        wake.notify_all();
    }

    // No more tasks; queued ones that have not started are dropped.
    void close() {
        {
            std::lock_guard lock(mutex);
            closed = true;
            queue.clear();
        }
        wake.notify_all();
    }

    void work() {
        while (true) {
            Task task;
            {
                std::unique_lock lock(mutex);
                if (!closed && queue.empty()) {
                    ++idle;
                    wake.wait(lock, [this] { return closed || !queue.empty(); });
                    --idle;
                }
                if (queue.empty()) return;
                task = std::move(queue.front());
                queue.pop_front();
            }
            try {
                task.promise.set_value(
                    lf_searchLiveriesinFile(*state, task.file, task.folderIndex, task.listing.get()));
            } catch (...) {
                try {
                    task.promise.set_exception(std::current_exception());
                } catch (...) {
                }
            }
            done.fetch_add(1, std::memory_order_relaxed);
        }
    }

    std::shared_ptr<ScanState> state;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Task> queue;
    unsigned idle = 0;
    bool closed = false;
    std::atomic<std::size_t> done{0};
};

struct LiveryFileTasks::Pending {
    std::deque<std::future<std::vector<Livery>>> futures;
};

bool isLiveryFileName(std::string_view name) { return iequals(name, "aircraft.cfg") || iequals(name, "sim.cfg"); }

bool skipLiveryFolder(const fs::path& folder) {
    const std::string utf8 = folder.string();
    return utf8.find("airport") != std::string::npos || utf8.size() >= 250;
}

LiveryFileTasks::LiveryFileTasks(std::shared_ptr<ScanState> state, unsigned workers, std::chrono::milliseconds timeout)
    : pool_(std::make_shared<TaskPool>(std::move(state))),
      pending_(std::make_unique<Pending>()),
      window_(std::max<std::size_t>(4 * kWakeBatch, 32 * static_cast<std::size_t>(workers))),
      timeout_(timeout) {
    pool_->start(workers);
}

LiveryFileTasks::~LiveryFileTasks() { pool_->close(); }

void LiveryFileTasks::scanFolder(const fs::path& folder, std::uint32_t index, std::vector<Livery>& out) {
    out_ = &out;
    if (!skipLiveryFolder(folder)) {
        platform::Folder dir;
        std::error_code ec;
        if (dir.open(folder, ec)) walk(dir, folder, index);
        else logf("{} exception {}", "walkFolder", ec.message());
    }
    while (!pending_->futures.empty()) collectOldest(out);
    progress();
}

// One folder: list its entries once (the file tasks check their model,
// texture and .air names against the list), start its livery files, then
// descend into its sub-folders.
void LiveryFileTasks::walk(platform::Folder& dir, const fs::path& path, std::uint32_t index) {
    std::vector<platform::FolderEntry> entries;
    std::error_code ec;
    if (!dir.list(entries, ec)) logf("{} exception {}", "walkFolder", ec.message());
    const bool hasLiveryFile = std::any_of(entries.begin(), entries.end(), [](const platform::FolderEntry& e) {
        return !e.directory && isLiveryFileName(e.name);
    });
    if (hasLiveryFile) {
        auto listing = std::make_shared<FolderListing>();
        for (const auto& e : entries) {
            if (e.directory) listing->folders.insert(listingName(e.name));
            else if (e.regularFile) listing->files.insert(listingName(e.name));
        }
        for (const auto& e : entries)
            if (!e.directory && isLiveryFileName(e.name)) submit(path / e.name, index, listing);
    }
    for (const auto& e : entries) {
        if (!e.directory) continue;
        const fs::path sub = path / e.name;
        if (skipLiveryFolder(sub)) continue;
        platform::Folder child;
        if (!child.openChild(dir, e.name, sub, ec)) {
            logf("{} exception {}", "walkFolder", ec.message());
            continue;
        }
        walk(child, sub, index);
    }
}

void LiveryFileTasks::submit(fs::path file, std::uint32_t index, std::shared_ptr<const FolderListing> listing) {
    pending_->futures.push_back(pool_->submit(std::move(file), index, std::move(listing)));
    ++found_;
    while (pending_->futures.size() > window_) collectOldest(*out_);
    if (found_ % 250 == 0) progress();
}

void LiveryFileTasks::collectOldest(std::vector<Livery>& out) {
    auto& future = pending_->futures.front();
    if (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        pool_->wakeAll();
        if (future.wait_for(timeout_) != std::future_status::ready)
            throw std::runtime_error(
                fmt::format("Future wait timed out after {} seconds",
                            std::chrono::duration_cast<std::chrono::duration<double>>(timeout_).count()));
    }
    auto liveries = future.get();
    pending_->futures.pop_front();
    for (auto& l : liveries) out.push_back(std::move(l));
}

void LiveryFileTasks::progress() {
    showStatus(fmt::format("Scanning liveries: {} files done / {} found", pool_->done.load(), found_), false);
}

}  // namespace vntx
