#include "liveries/scan.h"

#include <algorithm>
#include <numeric>
#include <thread>
#include <tuple>
#include <unordered_map>

#include <fmt/format.h>

#include "core/errors.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/state.h"
#include "core/status.h"
#include "liveries/catalogue.h"
#include "liveries/matching.h"
#include "liveries/scan_reports.h"
#include "liveries/scan_walk.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace vntx {

void prioritizeLiveries(std::vector<Livery>& liveries) {
    std::unordered_map<std::string, std::uint32_t> best;
    for (const Livery& l : liveries) {
        auto key = l.airline + '\n' + l.model;
        auto [it, inserted] = best.try_emplace(std::move(key), l.folderIndex);
        if (!inserted) it->second = std::min(it->second, l.folderIndex);
    }
    std::erase_if(liveries, [&](const Livery& l) { return l.folderIndex > best[l.airline + '\n' + l.model]; });
}

void sortAndDeduplicate(std::vector<Livery>& liveries) {
    // Sorting positions and moving each livery once costs far less than
    // sorting the records themselves.
    auto key = [](const Livery& l) { return std::tie(l.airline, l.model, l.title, l.registration, l.cargo); };
    std::vector<std::uint32_t> order(liveries.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return key(liveries[a]) < key(liveries[b]); });
    std::vector<Livery> sorted;
    sorted.reserve(liveries.size());
    for (std::uint32_t i : order)
        if (sorted.empty() || !(sorted.back() == liveries[i])) sorted.push_back(std::move(liveries[i]));
    liveries = std::move(sorted);
}

ScanResult runLiveryScan(const std::vector<ScanFolder>& folders, const Database& db, TitleSet dontUseTitles,
                         const ScanOptions& options) {
    auto state = std::make_shared<ScanState>();
    state->db = &db;
    state->dontUseTitles = std::move(dontUseTitles);
    return runLiveryScan(folders, std::move(state), options);
}

ScanResult runLiveryScan(const std::vector<ScanFolder>& folders, std::shared_ptr<ScanState> state,
                         const ScanOptions& options) {
    ScanResult result;
    // The previous list stays until the new one replaces it whole: a scan
    // that is stopped or killed leaves the catalogue of the last one.
    removeScanOutputs(options.outputFolder, false);
    const unsigned workers = options.workers ? options.workers : std::max(1u, std::thread::hardware_concurrency());
    LiveryFileTasks tasks(state, workers, options.futureTimeout);

    std::vector<Livery> liveries;
    for (const ScanFolder& folder : folders) {
        const std::size_t before = liveries.size();
        std::error_code ec;
        if (!fs::exists(folder.path, ec)) {
            logLine(platform::pathToUtf8(folder.path) + " does not exist, skipped!");
            continue;
        }
        if (!fs::is_directory(folder.path, ec)) {
            logLine(platform::pathToUtf8(folder.path) + " is not a folder name, skipped!");
            continue;
        }
        if (!tasks.scanFolder(folder.path, folder.index, liveries, options.stopped)) {
            result.stopped = true;
            return result;
        }
        const std::size_t added = liveries.size() - before;
        if (added == 0) logf("No liveries {}", platform::pathToUtf8(folder.path));
        else logf("{} liverie{} {}", added, added == 1 ? "" : "s", fmt::format("found in {}", platform::pathToUtf8(folder.path)));
    }
    result.files = tasks.files();
    result.found = liveries.size();
    if (liveries.empty()) {
        removeScanOutputs(options.outputFolder, true);
        clearStatus();
        return result;
    }
    if (folders.size() > 1) logf("{} in total", liveries.size());

    std::vector<std::string> conversions;
    correctFromDatabase(liveries, *state->db, conversions);
    if (options.prioritize) prioritizeLiveries(liveries);
    sortAndDeduplicate(liveries);
    result.written = writeLiveriesScanned(liveries, options.outputFolder / "LiveriesScanned.xml");
    result.liveries = liveries.size();
    liveries.clear();

    writeScanReports(*state, std::move(conversions), options.outputFolder);
    requestRepaint();
    return result;
}

std::vector<ScanFolder> liveryFolders() {
    std::vector<ScanFolder> folders;
    Parameters& p = params();
    for (std::uint32_t i = 0; i < 10; ++i) {
        const std::string value = p.lfolder[i].get();
        if (value.empty()) continue;
        std::error_code ec;
        const fs::path folder = platform::pathFromUtf8(value);
        if (!fs::exists(folder, ec)) {
            logf("{}: '{}' does not exist", p.lfolder[i].key, value);
            throw UserErrorException(
                99, fmt::format("the path pointed to by parameter '{}' does not exist, see Log.txt!", p.lfolder[i].key));
        }
        folders.push_back({i, folder});
    }
    return folders;
}

void scanLiveries() {
    Parameters& p = params();
    const std::string text = fmt::format("Scanning {} for liveries ...", p.LIG_PRIORITIZE.get() ? "prioritized " : "");
    showStatus(text, true);
    logLine("\n++++++++++++++++++++++++ liveries scan manual starts ++++++++++++++++++++++++++++++++");
    std::vector<ScanFolder> folders = liveryFolders();
    if (folders.empty())
        throw UserErrorException(
            99, fmt::format("Exit {} first!   Then set one or more lfolder parameters to your liveries, see Manual 5.3",
                            "Ventrix_P3D"));
    ScanOptions options;
    options.prioritize = p.LIG_PRIORITIZE.get();
    options.outputFolder = liveryOutputFolder();
    // A stop that comes during the scan ends it; production mode asks for its
    // stop before the scans, which then run to the end.
    options.stopped = [before = stopRequested()] { return !before && stopRequested(); };
    ScanResult result = runLiveryScan(folders, database(), loadDontUseTitles(), options);
    if (result.stopped) {
        // SCAN_LIVERIES stays set: the next start scans again.
        logLine("Livery scan stopped, the previous LiveriesScanned.xml is kept");
        flushLog();
        return;
    }
    if (result.liveries == 0) throw UserErrorException(99, "no liveries found");
    if (!result.written) {
        // A full or read-only disk: the catalogue would be the last scan's. Scan again next time.
        showStatus("LiveriesScanned.xml could not be written, the liveries are scanned again at the next start", true);
        return;
    }
    p.SCAN_LIVERIES.set(false);
    p.writeParameter(p.SCAN_LIVERIES);
    if (WindowFrontEnd* fe = frontEnd()) fe->refreshControls();
    requestRepaint();
    logLine("\n++++++++++++++++++++++++ liveries scan ends ++++++++++++++++++++++++++++++++\n");
    flushLog();
}

void installLiveryHooks() {
    CycleHooks& h = hooks();
    h.scanLiveries = scanLiveries;
    h.processLiveries = processLiveries;
    h.noMatchReport = writeNoMatchReport;
    h.matchingSummary = writeMatchingSummary;
}

}  // namespace vntx
