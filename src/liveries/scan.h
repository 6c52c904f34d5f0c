// The livery scan: walks the lfolder folders, reads every aircraft.cfg and
// sim.cfg on a bounded set of worker threads, turns each [fltsim.N] section
// into a Livery, checks it against the database, writes LiveriesScanned.xml
// and the report files.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "liveries/livery.h"
#include "liveries/scan_state.h"
#include "refdata/dbase.h"
#include "refdata/regcodes.h"

namespace vntx {

struct ScanFolder {
    std::uint32_t index = 0;
    std::filesystem::path path;
};

// The folders of lfolder0..9 that are set. Throws UserErrorException for a
// path that does not exist.
std::vector<ScanFolder> liveryFolders();

struct ScanOptions {
    bool prioritize = true;  // LIG_PRIORITIZE
    std::filesystem::path outputFolder = "output";
    unsigned workers = 0;    // 0: the hardware concurrency
    std::chrono::milliseconds futureTimeout{10000};  // longest wait for one file task
    // Asked while the folders are walked; true ends the scan early, writing
    // nothing, so that the previous LiveriesScanned.xml stays as it was.
    std::function<bool()> stopped;
};

struct ScanResult {
    std::size_t liveries = 0;   // written to LiveriesScanned.xml
    std::size_t files = 0;      // livery files read
    std::size_t found = 0;      // liveries before correction, priority and de-duplication
    bool stopped = false;       // ended early by ScanOptions::stopped: nothing written
    bool written = false;       // LiveriesScanned.xml was written whole
};

// The folder scans and the finishing steps (everything but the driver's
// settings and user errors). The don't-use titles come from the caller.
ScanResult runLiveryScan(const std::vector<ScanFolder>& folders, const Database& db, TitleSet dontUseTitles,
                         const ScanOptions& options);
// The same on a state the caller made (database and don't-use titles set)
// and may keep: file tasks that outlive the scan report into it.
ScanResult runLiveryScan(const std::vector<ScanFolder>& folders, std::shared_ptr<ScanState> state,
                         const ScanOptions& options);

// Drops the liveries of an airline and model that a folder of lower index
// already provides.
void prioritizeLiveries(std::vector<Livery>& liveries);
// Catalogue order, without repeats.
void sortAndDeduplicate(std::vector<Livery>& liveries);

// The scan driver as the cycle calls it (SCAN_LIVERIES set).
void scanLiveries();

// The cycle's hooks: scanLiveries, processLiveries, noMatchReport, matchingSummary.
void installLiveryHooks();

}  // namespace vntx
