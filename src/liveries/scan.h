// The livery scan: walks the lfolder folders, reads every aircraft.cfg and
// sim.cfg on a bounded set of worker threads, turns each [fltsim.N] section
// into a Livery, checks it against the database, writes LiveriesScanned.xml
// and the report files.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "liveries/livery.h"
#include "refdata/dbase.h"
#include "refdata/regcodes.h"

namespace vntx {

// One "key = value" line: the value when the line is that key, else nullopt.
// Same as the whole-line pattern \s*(key)\s*=\s*(.*\S)\s* without case.
std::optional<std::string_view> matchKeyLine(std::string_view line, std::string_view key);
// A [fltsim.N] header by \s*(\[fltsim\.)(\d+)\]\s* without case: the digits.
std::optional<std::string_view> matchHeaderLine(std::string_view line);

// A report list shared by the file tasks.
class ReportList {
public:
    void add(std::string line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex_);
        return std::move(lines_);
    }
    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return lines_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// What the file tasks share. Held by shared pointer: a task that outlives
// its scan (a timed-out wait) keeps it alive.
struct ScanState {
    const Database* db = nullptr;
    TitleSet dontUseTitles;

    std::mutex titlesMutex;
    TitleSet knownTitles;

    ReportList filesWithoutSections;
    ReportList invalidAirlines;
    ReportList invalidModels;
    ReportList modelFixes;
    ReportList invalidCfgFiles;
    ReportList incompleteSections;

    bool insertTitle(const std::string& title) {
        std::lock_guard lock(titlesMutex);
        return knownTitles.insert(title).second;
    }
};

// The names in one folder, as the folder walk saw them: the section checks
// look the model, texture and .air names up here instead of asking the file
// system again.
struct FolderListing {
    TitleSet folders;
    TitleSet files;
};

// The file task: every livery of one aircraft.cfg / sim.cfg. listing: the
// entries of the file's folder when the caller has them.
std::vector<Livery> lf_searchLiveriesinFile(ScanState& state, const std::filesystem::path& file,
                                            std::uint32_t folderIndex, const FolderListing* listing = nullptr);

// One section (header line first). ivao: the airline comes from the title.
std::optional<Livery> lf_procesFltSimSection(ScanState& state, const std::vector<std::string_view>& lines,
                                             std::uint32_t folderIndex, const std::string& fileModel,
                                             const std::filesystem::path& file, bool ivao = false);

// The raw model of an IVAO_MTL path, cut to an ICAO code; empty when the
// path does not name one.
std::string ivaoModelFromPath(const std::filesystem::path& file);

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
};

struct ScanResult {
    std::size_t liveries = 0;   // written to LiveriesScanned.xml
    std::size_t files = 0;      // livery files read
    std::size_t found = 0;      // liveries before correction, priority and de-duplication
};

// The folder scans and the finishing steps (everything but the driver's
// settings and user errors). The don't-use titles come from the caller.
ScanResult runLiveryScan(const std::vector<ScanFolder>& folders, const Database& db, TitleSet dontUseTitles,
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
