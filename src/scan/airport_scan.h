// The add-on airport scan: walks the afolder folders, decodes every scenery
// file with an airport section in parallel worker tasks, links each
// RealTraffic airport to the maker's park file when the maker has one and
// generates a park file from the decoded stands for the rest, writes the scan
// report AirportsScanLog.txt and packs the generated files of airports the
// maker does not know into tblo/tblo.zip for the user to send in.
//
// Paths are relative to the program folder (the current directory), as for
// the park files themselves.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "scan/bgl.h"

namespace vntx {

class Database;

inline constexpr const char* kScanReportFile = "output/info/AirportsScanLog.txt";
inline constexpr const char* kTbloFolder = "tblo";
inline constexpr const char* kTbloZip = "tblo/tblo.zip";

// Decodes one scenery file; runs on a worker thread.
using BglDecoder = std::function<BglFileResult(const std::filesystem::path&, const AirportFilter&)>;

struct AirportScanOptions {
    unsigned workers = 0;                          // tasks at once; 0: the machine's hardware threads
    std::chrono::milliseconds taskTimeout{10000};  // longest wait for one task
    std::filesystem::path stockScenery;            // the simulator's own "Scenery" folder; empty: none
    AirportFilter supported;                       // RealTraffic airports; empty: the airports catalogue
    const Database* db = nullptr;                  // publishers and their airports; null: the program's
    BglDecoder decode;                             // empty: decodeBglFile
};

struct AirportScanResult {
    std::size_t files = 0;       // scenery files decoded
    std::size_t airports = 0;    // RealTraffic airports found (each code once)
    std::size_t linked = 0;      // linked to the maker's park file
    std::size_t generated = 0;   // park files generated
    std::vector<std::string> unrecognised;  // codes the maker has no park file for
    bool interrupted = false;    // a stop request ended the walk early
};

// The simulator's scenery folder: ALL_INSTALL_PATH/Scenery, empty without an install path.
std::filesystem::path simulatorSceneryFolder();
// Whether a path lies inside the simulator's own scenery folder (compared as
// text without regard to letter case or separator kind).
bool isStockScenery(const std::string& path, const std::filesystem::path& stockScenery);

// The folders of afolder0..9 that are set, in order. Throws
// UserErrorException 42 for one inside the simulator's own scenery.
std::vector<std::string> readAfolders(const std::filesystem::path& stockScenery);

// Removes what an earlier scan left in airports/my_thirdparty and
// airports/my_ORBX: redirect files and generated park files. The user's own
// park files stay.
void removePreviousScanFiles();

// The scan of the given folders: tasks, linking and generation, the report,
// the tblo step. The caller has emptied the output folders.
AirportScanResult scanFolders(const std::vector<std::string>& folders, const AirportScanOptions& options);

// The whole scan as the cycle runs it (SCAN_AIRPORTS set). manual: the user
// asked for it. Throws UserErrorException 49 without any afolder.
AirportScanResult scanAddonAirports(bool manual, const AirportScanOptions& options = {});

// Packs the regular files of source (not its sub-folders, not target itself)
// into the zip archive target; true when the archive was written.
bool zipFolder(const std::filesystem::path& source, const std::filesystem::path& target);

// The cycle's scanAirports hook: the scan, then SCAN_AIRPORTS off unless a
// stop cut it short.
void installAirportScanHooks();

}  // namespace vntx
