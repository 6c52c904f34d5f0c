#include "liveries/scan_walk.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <thread>

#include <fmt/format.h>

#include "core/files.h"
#include "core/log.h"
#include "core/status.h"
#include "liveries/scan_file.h"
#include "platform/folder.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32
constexpr char kSeparator = '\\';
bool isSeparator(char c) { return c == '\\' || c == '/'; }
#else
constexpr char kSeparator = '/';
bool isSeparator(char c) { return c == '/'; }
#endif

// parent / name, as the path type joins them.
std::string joinPath(const std::string& parent, const std::string& name) {
    std::string path;
    path.reserve(parent.size() + 1 + name.size());
    path = parent;
    if (!path.empty() && !isSeparator(path.back())) path += kSeparator;
    path += name;
    return path;
}

// A folder still to be listed. Its parent stays open until then, so that it
// opens relative to it. Paths are UTF-8 text: cheaper to join than path
// objects, and the rules look at the text anyway.
struct FolderJob {
    std::shared_ptr<const platform::Folder> parent;
    std::string name;
    std::string path;
    std::uint32_t index = 0;
};

}  // namespace

// The workers of one scan. Each walks its folders depth first on a stack of
// its own (so that few folders are open at a time and the workers do not
// meet on every folder), listing a folder, keeping its sub-folders for
// later and running the file task of each livery file in it; when another
// worker is idle, half of its stack goes to a shared one. Workers are
// detached and hold the pool (and through it the scan state) by shared
// pointer, so a file task still running when the scan gives up on it writes
// into live memory.
struct WalkPool : std::enable_shared_from_this<WalkPool> {
    struct Worker {
        std::atomic<Clock::rep> fileSince{0};      // start of the running file task, 0: none
        std::vector<std::vector<Livery>> results;  // per file, taken when the walk is done
        std::size_t liveries = 0;
    };

    WalkPool(std::shared_ptr<ScanState> s, unsigned count) : state(std::move(s)) {
        for (unsigned i = 0; i < count; ++i) workers.push_back(std::make_unique<Worker>());
    }

    void start() {
        for (auto& w : workers)
            std::thread([self = shared_from_this(), worker = w.get()] { self->work(*worker); }).detach();
    }

    void pushRoot(FolderJob job) {
        {
            std::lock_guard lock(mutex);
            if (closed) return;
            outstanding.fetch_add(1);
            shared.push_back(std::move(job));
        }
        workAvailable.notify_one();
    }

    // The older half of a worker's stack (the larger pieces of work) for the
    // idle workers.
    void share(std::vector<FolderJob>& local) {
        if (sleeping.load(std::memory_order_relaxed) == 0 || local.size() < 2) return;
        {
            std::lock_guard lock(mutex);
            if (closed) return;
            const auto give = static_cast<std::ptrdiff_t>(local.size() / 2);
            std::move(local.begin(), local.begin() + give, std::back_inserter(shared));
            local.erase(local.begin(), local.begin() + give);
        }
        workAvailable.notify_all();
    }

    // No more work: folders not yet listed are dropped.
    void close() {
        {
            std::lock_guard lock(mutex);
            closed = true;
            shared.clear();
        }
        workAvailable.notify_all();
    }

    void work(Worker& worker) {
        std::vector<FolderJob> local;
        while (true) {
            if (local.empty()) {
                std::unique_lock lock(mutex);
                while (!closed && shared.empty()) {
                    sleeping.fetch_add(1);
                    workAvailable.wait(lock);
                    sleeping.fetch_sub(1);
                }
                if (closed) return;
                local.push_back(std::move(shared.back()));
                shared.pop_back();
            }
            if (closed.load(std::memory_order_relaxed)) return;  // what is left is dropped
            FolderJob job = std::move(local.back());
            local.pop_back();
            try {
                list(std::move(job), worker, local);
            } catch (const std::exception& e) {
                logf("{} exception {}", "walkFolder", e.what());
            } catch (...) {
                logf("Exception in {}", "walkFolder");
            }
            share(local);
            if (outstanding.fetch_sub(1) == 1) {
                std::lock_guard lock(mutex);
                allDone.notify_all();
            }
        }
    }

    void list(FolderJob job, Worker& worker, std::vector<FolderJob>& children) {
        auto dir = std::make_shared<platform::Folder>();
        std::error_code ec;
        const bool opened = job.parent ? dir->openChild(*job.parent, job.name, ec) : dir->open(platform::pathFromUtf8(job.path), ec);
        job.parent.reset();
        if (!opened) {
            logf("{} exception {}", "walkFolder", ec.message());
            return;
        }
        std::vector<platform::FolderEntry> entries;
        if (!dir->list(entries, ec)) logf("{} exception {}", "walkFolder", ec.message());

        bool hasLiveryFile = false;
        // The sub-folders count before the folder itself is done.
        const std::size_t before = children.size();
        try {
            for (auto& e : entries) {
                if (!e.directory) {
                    hasLiveryFile = hasLiveryFile || isLiveryFileName(e.name);
                    continue;
                }
                std::string sub = joinPath(job.path, e.name);
                if (!skipLiveryFolder(sub)) children.push_back({dir, e.name, std::move(sub), job.index});
            }
        } catch (...) {
            outstanding.fetch_add(children.size() - before);
            throw;
        }
        outstanding.fetch_add(children.size() - before);
        if (!hasLiveryFile) return;
        share(children);  // an idle worker may take some while this one reads its files

        FolderListing listing;
        for (const auto& e : entries)
            if (e.directory || e.regularFile) listing.add(listingName(e.name), e.directory);
        listing.seal();
        for (const auto& e : entries) {
            if (e.directory || !isLiveryFileName(e.name)) continue;
            filesFound.fetch_add(1, std::memory_order_relaxed);
            const fs::path file = platform::pathFromUtf8(joinPath(job.path, e.name));
            worker.fileSince = std::max<Clock::rep>(1, Clock::now().time_since_epoch().count());
            auto liveries = lf_searchLiveriesinFile(*state, file, job.index, &listing, dir.get());
            worker.fileSince = 0;
            worker.liveries += liveries.size();
            if (!liveries.empty()) worker.results.push_back(std::move(liveries));
            filesDone.fetch_add(1, std::memory_order_relaxed);
        }
    }

    std::shared_ptr<ScanState> state;
    std::vector<std::unique_ptr<Worker>> workers;
    std::mutex mutex;
    std::condition_variable workAvailable, allDone;
    std::vector<FolderJob> shared;          // folders for any worker
    std::atomic<std::size_t> outstanding{0};  // folders found and not yet listed
    std::atomic<unsigned> sleeping{0};
    std::atomic<bool> closed{false};        // set under the mutex
    std::atomic<std::size_t> filesFound{0}, filesDone{0};
};

bool isLiveryFileName(std::string_view name) { return iequals(name, "aircraft.cfg") || iequals(name, "sim.cfg"); }

bool skipLiveryFolder(std::string_view utf8Path) {
    return utf8Path.find("airport") != std::string_view::npos || utf8Path.size() >= 250;
}

LiveryFileTasks::LiveryFileTasks(std::shared_ptr<ScanState> state, unsigned workers, std::chrono::milliseconds timeout)
    : pool_(std::make_shared<WalkPool>(std::move(state), std::max(1u, workers))), timeout_(timeout) {
    pool_->start();
}

LiveryFileTasks::~LiveryFileTasks() { pool_->close(); }

std::size_t LiveryFileTasks::files() const { return pool_->filesFound.load(); }

bool LiveryFileTasks::scanFolder(const fs::path& folder, std::uint32_t index, std::vector<Livery>& out,
                                 const std::function<bool()>& stopped) {
    if (std::string root = platform::pathToUtf8(folder); !skipLiveryFolder(root)) pool_->pushRoot({nullptr, {}, std::move(root), index});
    const auto timeout = std::chrono::duration_cast<Clock::duration>(timeout_);
    const auto poll = std::min<Clock::duration>(timeout / 4, std::chrono::milliseconds(100));
    while (true) {
        if (stopped && stopped()) {
            pool_->close();
            return false;
        }
        {
            std::unique_lock lock(pool_->mutex);
            if (pool_->allDone.wait_for(lock, poll, [this] { return pool_->outstanding.load() == 0; })) break;
        }
        const Clock::rep now = Clock::now().time_since_epoch().count();
        for (const auto& w : pool_->workers) {
            const Clock::rep since = w->fileSince.load();
            if (since != 0 && Clock::duration(now - since) > timeout)
                throw std::runtime_error(
                    fmt::format("Future wait timed out after {} seconds",
                                std::chrono::duration_cast<std::chrono::duration<double>>(timeout_).count()));
        }
        progress(false);
    }
    std::size_t total = out.size();
    for (const auto& w : pool_->workers) total += w->liveries;
    out.reserve(total);
    for (const auto& w : pool_->workers) {
        for (auto& list : w->results)
            out.insert(out.end(), std::make_move_iterator(list.begin()), std::make_move_iterator(list.end()));
        w->results.clear();
        w->liveries = 0;
    }
    progress(true);
    return true;
}

// Every 250 files found, and at the end of a folder.
void LiveryFileTasks::progress(bool always) {
    const std::size_t found = pool_->filesFound.load();
    if (!always && found / 250 == shownFiles_ / 250) return;
    shownFiles_ = found;
    showStatus(fmt::format("Scanning liveries: {} files done / {} found", pool_->filesDone.load(), found), false);
}

}  // namespace vntx
