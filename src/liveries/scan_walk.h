// The folder walk of the livery scan: a pool of workers lists the folders
// and runs the file task of every livery file it finds.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "liveries/livery.h"
#include "liveries/scan_state.h"

namespace vntx {

struct WalkPool;

class LiveryFileTasks {
public:
    // workers: at most this many file tasks run at once. timeout: the
    // longest a file task may take.
    LiveryFileTasks(std::shared_ptr<ScanState> state, unsigned workers, std::chrono::milliseconds timeout);
    // Work not yet started is dropped; a running file task finishes on its
    // own and keeps the state alive until then.
    ~LiveryFileTasks();
    LiveryFileTasks(const LiveryFileTasks&) = delete;
    LiveryFileTasks& operator=(const LiveryFileTasks&) = delete;

    // Walks one folder and appends the liveries of its files to out. Throws
    // "Future wait timed out after ..." when a file task takes too long.
    // False, with out untouched, when stopped (asked between waits) said so.
    bool scanFolder(const std::filesystem::path& folder, std::uint32_t index, std::vector<Livery>& out,
                    const std::function<bool()>& stopped = {});
    // Livery files found so far.
    std::size_t files() const;

private:
    void progress(bool always);

    std::shared_ptr<WalkPool> pool_;
    std::chrono::milliseconds timeout_;
    std::size_t shownFiles_ = 0;
};

// A livery file: "aircraft.cfg" or "sim.cfg" in any letter case.
bool isLiveryFileName(std::string_view name);
// Folders the walk does not enter: "airport" in the (UTF-8) path, or 250
// bytes of path or more.
bool skipLiveryFolder(std::string_view utf8Path);

}  // namespace vntx
