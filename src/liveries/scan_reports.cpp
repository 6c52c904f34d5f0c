#include "liveries/scan_reports.h"

#include <algorithm>

#include <fmt/format.h>

#include "core/files.h"
#include "core/log.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

const char* plural(std::size_t n) { return n == 1 ? "" : "s"; }

const char* const kReportFiles[][2] = {
    {"errors", "InvalidAirlineCodes.txt"},   {"errors", "InvalidAircraftCodes.txt"},
    {"errors", "Fixes.txt"},                 {"errors", "InvalidAircraftCfgFiles.txt"},
    {"errors", "IncompleFltsimSections.txt"}, {"info", "AircraftCfgWithNoFltsimSection.txt"},
    {"info", "AirlineModelConversions.txt"},
};

struct Report {
    std::vector<std::string> lines;
    fs::path path;
};

// Sorted (and without repeats when asked) into the file.
void writeReport(Report& r, bool unique) {
    std::sort(r.lines.begin(), r.lines.end());
    if (unique) r.lines.erase(std::unique(r.lines.begin(), r.lines.end()), r.lines.end());
    if (r.lines.empty()) return;
    std::string text;
    for (const auto& l : r.lines) {
        text += l;
        text += '\n';
    }
    std::error_code ec;
    fs::create_directories(r.path.parent_path(), ec);
    if (!writeFileAtomically(r.path, text)) logf("Error writing file {}: {}", r.path.string(), "cannot write");
}

}  // namespace

void correctFromDatabase(std::vector<Livery>& liveries, const Database& db, std::vector<std::string>& lines) {
    for (Livery& l : liveries) {
        if (l.registration.empty()) continue;
        const RegistrationRecord* rec = db.registration(l.registration);
        if (!rec) continue;
        if (rec->cargo != l.cargo) {
            lines.push_back(fmt::format("{:80} {} cargo {} => {}", l.title, l.registration, l.cargo, rec->cargo));
            l.cargo = rec->cargo;
        }
        if (!rec->airline.empty() && rec->airline != l.airline) {
            lines.push_back(fmt::format("{:80} {} airl {} => {}", l.title, l.registration, l.airline, rec->airline));
            l.airline = rec->airline;
        }
        if (!rec->model.empty() && rec->model != l.model) {
            lines.push_back(fmt::format("{:80} {} model {} => {}", l.title, l.registration, l.model, rec->model));
            l.model = rec->model;
        }
    }
}

void removeScanOutputs(const fs::path& outputFolder, bool withLiveryList) {
    std::error_code ec;
    for (const auto& r : kReportFiles) fs::remove(outputFolder / r[0] / r[1], ec);
    if (withLiveryList) fs::remove(outputFolder / "LiveriesScanned.xml", ec);
}

void writeScanReports(ScanState& state, std::vector<std::string> corrections, const fs::path& outputFolder) {
    const fs::path errors = outputFolder / "errors";
    const fs::path info = outputFolder / "info";
    Report invalidAirlines{state.invalidAirlines.take(), errors / "InvalidAirlineCodes.txt"};
    Report invalidModels{state.invalidModels.take(), errors / "InvalidAircraftCodes.txt"};
    Report fixes{state.modelFixes.take(), errors / "Fixes.txt"};
    Report invalidFiles{state.invalidCfgFiles.take(), errors / "InvalidAircraftCfgFiles.txt"};
    Report incomplete{state.incompleteSections.take(), errors / "IncompleFltsimSections.txt"};
    Report noSections{state.filesWithoutSections.take(), info / "AircraftCfgWithNoFltsimSection.txt"};
    Report conversions{std::move(corrections), info / "AirlineModelConversions.txt"};
    for (Report* r : {&invalidAirlines, &invalidModels, &fixes, &invalidFiles, &noSections, &conversions})
        writeReport(*r, false);
    writeReport(incomplete, true);

    auto n = [](const Report& r) { return r.lines.size(); };
    if (!n(invalidAirlines) && !n(invalidModels) && !n(fixes) && !n(invalidFiles) && !n(incomplete)) {
        logLine("\nNo errors");
    } else {
        logLine("\nErrors:");
        if (n(invalidAirlines))
            logf("{} invalid airline code{}, see {}", n(invalidAirlines), plural(n(invalidAirlines)),
                 invalidAirlines.path.string());
        if (n(invalidModels))
            logf("{} invalid model code{}, see {}", n(invalidModels), plural(n(invalidModels)),
                 invalidModels.path.string());
        if (n(fixes)) logf("{} code fixes, see {}", n(fixes), fixes.path.string());
        if (n(invalidFiles)) logf("{} invalid aircraft.cfg files, see {}", n(invalidFiles), invalidFiles.path.string());
        if (n(incomplete)) logf("{} incomplete [fltsim.x] sections, see {}", n(incomplete), incomplete.path.string());
    }
    if (n(noSections) || n(conversions)) {
        logLine("\nInformation:");
        if (n(noSections)) logf("{} empty aircraft.cfg files, see {}", n(noSections), noSections.path.string());
        if (n(conversions))
            logf("{} liveries updated with real live data from dbase, see {}", n(conversions),
                 conversions.path.string());
    }
}

}  // namespace vntx
