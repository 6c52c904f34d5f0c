// The airport scan driver: folders, the walk, the report, the tblo step.
#include "scan/airport_scan.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_set>

#include <fmt/format.h>

#include "airports/catalogue.h"
#include "airports/park_file.h"
#include "core/cycle.h"
#include "core/errors.h"
#include "core/files.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/state.h"
#include "core/status.h"
#include "platform/platform.h"
#include "refdata/dbase.h"
#include "scan/addon_parkfiles.h"
#include "scan/scan_tasks.h"
#include "ui/layout.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

// The kind of scan in the report's lines ("Scanning for addon  airports in ...").
constexpr const char* kKind = "addon ";
constexpr std::size_t kProgressEvery = 25;

std::string marked(const std::string& text) { return "===> " + text; }

// Lower case, "/" separators, no trailing "/".
std::string comparable(std::string text) {
    for (char& c : text) {
        if (c == '\\') c = '/';
        else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

bool isBglName(const std::string& name) {
    return name.size() >= 4 && (name.ends_with(".BGL") || name.ends_with(".bgl"));
}

bool isSkippedPath(const std::string& path) {
    return path.find("statics") != std::string::npos || path.find("_heliports") != std::string::npos;
}

AirportFilter catalogueFilter() {
    auto codes = std::make_shared<std::unordered_set<std::string>>();
    for (const AirportEntry& a : airportCatalogue()) codes->insert(a.code);
    return [codes](std::string_view code) { return codes->count(std::string(code)) != 0; };
}

// The report: lines in order, with each decoded file's place kept so that the
// decisions taken after all files are decoded appear beside the file's lines.
class ScanReport {
public:
    void add(std::string line) { entries_.push_back({std::move(line), std::nullopt}); }
    void addFile(scan::DecodedFile file) {
        entries_.push_back({{}, files_.size()});
        files_.push_back(std::move(file));
    }
    std::vector<scan::DecodedFile>& files() { return files_; }
    std::string text() const {
        std::string out;
        auto line = [&](const std::string& l) {
            out += l;
            out += '\n';
        };
        for (const Entry& e : entries_) {
            if (!e.file) {
                line(e.line);
                continue;
            }
            const scan::DecodedFile& f = files_[*e.file];
            for (const auto& l : f.lines) line(l);
            for (const auto& l : f.decisions) line(l);
        }
        return out;
    }

private:
    struct Entry {
        std::string line;
        std::optional<std::size_t> file;
    };
    std::vector<Entry> entries_;
    std::vector<scan::DecodedFile> files_;
};

class FolderWalker {
public:
    FolderWalker(const AirportScanOptions& options, unsigned workers, AirportFilter filter, BglDecoder decode,
                 ScanReport& report, AirportScanResult& result)
        : options_(options), workers_(workers), filter_(std::move(filter)), decode_(std::move(decode)),
          report_(report), result_(result) {}

    void scanFolder(const std::string& folder) {
        report_.add(fmt::format("Scanning for {} airports in {}", kKind, folder));
        scan::DecodeTasks tasks(workers_, options_.taskTimeout, decode_, filter_);
        try {
            walk(folder, tasks);
            while (!tasks.empty()) collect(tasks);
        } catch (const scan::TaskTimeout& e) {
            report_.add(marked(fmt::format("{} airports search in {} aborted, futs outer error: {}", kKind, folder,
                                           e.what())));
        } catch (const scan::TaskFailed& e) {
            report_.add(marked(
                fmt::format("{} airports search aborted, futs inner,\n{}\n{}\n{}", kKind, folder, e.file(), e.what())));
        } catch (const std::exception& e) {
            report_.add(marked(fmt::format("{} airports search in folder {} aborted, cause: {}", kKind, folder,
                                           e.what())));
        }
        progress();
    }

private:
    void walk(const std::string& folder, scan::DecodeTasks& tasks) {
        const fs::path root = platform::pathFromUtf8(folder);
        for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
            if (stopRequested()) {
                result_.interrupted = true;
                return;
            }
            const std::string path = platform::pathToUtf8(it->path());
            if (isSkippedPath(path) || isStockScenery(path, options_.stockScenery)) {
                if (it->is_directory()) it.disable_recursion_pending();
                continue;
            }
            if (!it->is_regular_file() || !isBglName(platform::pathToUtf8(it->path().filename()))) continue;
            if (!hasAirportSection(it->path())) continue;
            tasks.start(it->path());
            ++started_;
            while (tasks.overfull()) collect(tasks);
        }
    }

    void collect(scan::DecodeTasks& tasks) {
        scan::FileOutcome outcome = tasks.collectOldest();
        ++result_.files;
        report_.addFile({platform::pathToUtf8(outcome.file), std::move(outcome.result.report),
                         std::move(outcome.result.airports), {}});
        if (result_.files % kProgressEvery == 0) progress();
    }

    void progress() const {
        showStatus(fmt::format("Scanning for addon airports ... {} of {} airport files decoded", result_.files,
                               started_),
                   false);
    }

    const AirportScanOptions& options_;
    unsigned workers_;
    AirportFilter filter_;
    BglDecoder decode_;
    ScanReport& report_;
    AirportScanResult& result_;
    std::size_t started_ = 0;
};

// Copies the generated files of the airports the maker does not know into
// tblo and packs them into tblo.zip.
void tbloStep(const std::vector<scan::Unrecognised>& unrecognised) {
    std::error_code ec;
    fs::create_directories(kTbloFolder, ec);
    for (const scan::Unrecognised& u : unrecognised) {
        const fs::path target = fs::path(kTbloFolder) / u.parkFile.filename();
        const std::string from = u.parkFile.generic_string(), to = target.generic_string();
        const bool exists = fs::exists(target, ec);
        if (ec) {
            logf("exists({}) failed: {}", to, ec.message());
            continue;
        }
        if (exists && !fs::remove(target, ec)) {
            logf("remove({}) failed: {}", to, ec.message());
            continue;
        }
        if (!fs::copy_file(u.parkFile, target, ec))
            logf("'{}' failed to copy '{}': {}", from, to, ec.message());
        else
            logf("{} copied to {}", from, to);
    }
    if (unrecognised.empty()) {
        logLine("All your third party airports are recognised, no off line learning needed.");
        return;
    }
    if (!zipFolder(kTbloFolder, kTbloZip)) {
        logLine("Zippen TBLO folder failed");
        return;
    }
    if (WindowFrontEnd* fe = frontEnd()) fe->enableControl(ui::kButtonTblo, true);
    const std::string zip = platform::pathToUtf8(fs::absolute(kTbloZip, ec));
    showStatus(fmt::format("! Mail {} to the support address on the {} website, so that these airports can be added",
                           zip, "Ventrix_P3D"),
               true);
}

}  // namespace

fs::path simulatorSceneryFolder() {
    const std::string install = params().ALL_INSTALL_PATH.get();
    if (install.empty()) return {};
    return platform::pathFromUtf8(install) / "Scenery";
}

bool isStockScenery(const std::string& path, const fs::path& stockScenery) {
    if (stockScenery.empty()) return false;
    const std::string stock = comparable(platform::pathToUtf8(stockScenery));
    const std::string text = comparable(path);
    for (std::size_t at = text.find(stock); at != std::string::npos; at = text.find(stock, at + 1)) {
        const std::size_t after = at + stock.size();
        if (after == text.size() || text[after] == '/') return true;
    }
    return false;
}

std::vector<std::string> readAfolders(const fs::path& stockScenery) {
    std::vector<std::string> folders;
    Parameters& p = params();
    for (const TextParam& folder : p.afolder) {
        const std::string value = folder.get();
        if (value.empty()) continue;
        if (isStockScenery(value, stockScenery))
            throw UserErrorException(
                42, fmt::format("parameter {} points to stock airports instead of add-on airports!", folder.key));
        logf("From parameter {}: {}", folder.key, value);
        folders.push_back(value);
    }
    return folders;
}

void removePreviousScanFiles() {
    for (const char* folder : {kThirdpartyFolder, kOrbxFolder}) {
        try {
            if (!fs::is_directory(folder)) continue;
            std::vector<fs::path> old;
            for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
                if (!e.is_regular_file()) continue;
                const std::string ext = e.path().extension().string();
                if (iequals(ext, ".txt") || (iequals(ext, ".xml") && scan::isGeneratedParkFile(e.path())))
                    old.push_back(e.path());
                else if (iequals(ext, ".xml"))
                    logf("Your own park file {} is kept", e.path().generic_string());
            }
            for (const fs::path& f : old) fs::remove(f);
        } catch (const fs::filesystem_error& e) {
            logErrorf("{} exception: {}", "removePreviousScanFiles", e.what());
        }
    }
}

AirportScanResult scanFolders(const std::vector<std::string>& folders, const AirportScanOptions& options) {
    AirportScanResult result;
    logf("The scan will search {} folder{}", folders.size(), folders.size() == 1 ? "" : "s");
    std::error_code ec;
    fs::remove(kScanReportFile, ec);
    if (ec) logf("problems with removing previous files (maybe still open?): {}", ec.message());

    unsigned workers = options.workers;
    if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
    ScanReport report;
    FolderWalker walker(options, workers, options.supported ? options.supported : catalogueFilter(),
                        options.decode ? options.decode : BglDecoder(decodeBglFile), report, result);
    for (const std::string& folder : folders) {
        if (stopRequested()) {
            result.interrupted = true;
            break;
        }
        const fs::path path = platform::pathFromUtf8(folder);
        if (!fs::exists(path, ec)) {
            report.add(folder + " does not exist, skipped!");
            continue;
        }
        if (!fs::is_directory(path, ec)) {
            report.add(folder + " is not a folder name, skipped!");
            continue;
        }
        if (isStockScenery(folder, options.stockScenery)) continue;
        walker.scanFolder(folder);
    }

    const scan::Placement placement = placeAirports(report.files(), options.db ? *options.db : database());
    result.airports = placement.airports;
    result.linked = placement.linked;
    result.generated = placement.generated;
    for (const auto& u : placement.unrecognised) result.unrecognised.push_back(u.code);

    fs::create_directories(fs::path(kScanReportFile).parent_path(), ec);
    if (writeFileAtomically(kScanReportFile, report.text()))
        logf("{} written", kScanReportFile);
    else
        logf("Error writing file {}: {}", kScanReportFile, "cannot write");
    logf("{} add-on airport{} found in {} scenery files: {} linked, {} park file{} generated", result.airports,
         result.airports == 1 ? "" : "s", result.files, result.linked, result.generated,
         result.generated == 1 ? "" : "s");

    // The success line first: the mail request of the tblo step is the one
    // the user has to act on, so it stays on the status line.
    if (result.airports > 0) showStatus("Airports scan successful", true);
    tbloStep(placement.unrecognised);
    return result;
}

AirportScanResult scanAddonAirports(bool manual, const AirportScanOptions& options) {
    showStatus("Scanning for addon airports ...", false);
    logf("\n++++++++++++++++++++++++ airports scan {} starts +++++++++++++++++++++++++++++", manual ? "manual " : "");
    std::error_code ec;
    if (fs::is_directory(kTbloFolder, ec))
        gf_removeFilesFromDirectory(kTbloFolder);
    else
        fs::create_directories(kTbloFolder, ec);
    // The archive of an earlier scan is gone: the button that opens it waits for the new one.
    if (WindowFrontEnd* fe = frontEnd()) fe->enableControl(ui::kButtonTblo, false);

    AirportScanOptions o = options;
    if (o.stockScenery.empty()) o.stockScenery = simulatorSceneryFolder();
    const std::vector<std::string> folders = readAfolders(o.stockScenery);
    if (folders.empty())
        throw UserErrorException(
            49, fmt::format("Exit {} first!   Then set one or more afolder parameters to your add-on airports, see "
                            "Manual 6.2",
                            "Ventrix_P3D"));
    removePreviousScanFiles();
    AirportScanResult result = scanFolders(folders, o);
    if (result.airports == 0) showStatus("Warning: Scan has not found any add-on airports", true);
    logLine("-------------------------- airports scan ends    ----------------------------\n");
    flushLog();
    return result;
}

void installAirportScanHooks() {
    hooks().scanAirports = [] {
        const AirportScanResult result = scanAddonAirports(cycleState().restartPending);
        if (result.interrupted || stopRequested()) return;
        Parameters& p = params();
        p.SCAN_AIRPORTS.set(false);
        p.writeParameter(p.SCAN_AIRPORTS);
        if (WindowFrontEnd* fe = frontEnd()) fe->refreshControls();
        requestRepaint();
    };
}

}  // namespace vntx
