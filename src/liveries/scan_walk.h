// The folder walk of the livery scan and the pool of workers that runs one
// file task per livery file.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "liveries/livery.h"
#include "liveries/scan_state.h"

namespace vntx {

namespace platform {
class Folder;
}
struct TaskPool;

class LiveryFileTasks {
public:
    // workers: at most this many file tasks run at once. timeout: the
    // longest wait for one task's result.
    LiveryFileTasks(std::shared_ptr<ScanState> state, unsigned workers, std::chrono::milliseconds timeout);
    // Tasks that have not started are dropped; a running one finishes on its
    // own and keeps the state alive until then.
    ~LiveryFileTasks();
    LiveryFileTasks(const LiveryFileTasks&) = delete;
    LiveryFileTasks& operator=(const LiveryFileTasks&) = delete;

    // Walks one folder and appends the liveries of its files to out, in the
    // order the files were found. Throws "Future wait timed out after ..."
    // when a task's result does not come in time.
    void scanFolder(const std::filesystem::path& folder, std::uint32_t index, std::vector<Livery>& out);
    std::size_t files() const { return found_; }

private:
    void walk(platform::Folder& dir, const std::filesystem::path& path, std::uint32_t index);
    void submit(std::filesystem::path file, std::uint32_t index, std::shared_ptr<const FolderListing> listing);
    void collectOldest(std::vector<Livery>& out);
    void progress();

    struct Pending;
    std::shared_ptr<TaskPool> pool_;
    std::unique_ptr<Pending> pending_;
    std::size_t window_;
    std::chrono::milliseconds timeout_;
    std::size_t found_ = 0;
    std::vector<Livery>* out_ = nullptr;
};

// A livery file: "aircraft.cfg" or "sim.cfg" in any letter case.
bool isLiveryFileName(std::string_view name);
// Folders the walk does not enter: "airport" in the path, or 250 bytes of
// path or more.
bool skipLiveryFolder(const std::filesystem::path& folder);

}  // namespace vntx
