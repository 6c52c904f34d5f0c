#include "update/version_check.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "core/files.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/state.h"
#include "core/status.h"
#include "platform/platform.h"
#include "refdata/crypt.h"
#include "update/data_update.h"
#include "update/downloader.h"
#include "update/program_update.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

constexpr const char* kVersionsFile = "versions.json";

bool readWhole(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

// A scan whose version on the web is newer: its setting on (box ticked,
// window repainted), the new version stored.
void switchScanOn(BoolParam& scan, TextParam& version, const char* member, const VersionNumber& web) {
    auto& p = params();
    scan.set(true);
    p.writeParameter(scan);
    if (auto* fe = frontEnd()) fe->refreshControls();
    requestRepaint();
    version.set(formatVersion(web));
    p.writeParameter(version);
    logf("{} updated to {}", member, formatVersion(web));
}

// The program member; false when the program is to stop for the new version.
bool checkProgram(const WebVersions& web, const UpdateSurroundings& s) {
    const auto v = web.find("p3d");
    if (!v) {
        logf("{} version not found", "p3d");
        return true;
    }
    logf("{} program version at web = {}", kProgramName, formatVersion(*v));
    if (!isNewer(*v, kRunningVersion)) {
        logf("{} version up-to-date", kProgramName);
        return true;
    }
    if (!fetchNewProgram(*v, s.programFolder)) {
        showStatus("The downloading/unzipping of the new version failed? Try manually via the Corlinde website.", true);
        return true;
    }
    const fs::path newVersion = s.programFolder / kNewVersionFolder;
    const fs::path notes = newVersion / kReleaseNotesName;
    if (!download(docsUrl(kReleaseNotesName), notes, true))
        logf("could not download {} to {}", kReleaseNotesName, platform::pathToUtf8(notes));
    const bool admin = installNeedsAdministrator(s.programFolder, s.programFilesFolders, s.isElevated);
    if (!writeFileAtomically(newVersion / "README.txt", newVersionNote(admin)))
        logf("could not write {}", platform::pathToUtf8(newVersion / "README.txt"));
    const fs::path installer = newVersion / kNewInstallerName;
    std::error_code ec;
    const bool opened = fs::exists(installer, ec) && s.openFolder && s.openFolder(installer.parent_path());
    if (!opened) {
        if (s.warningBox) s.warningBox("Could not open File Explorer at new version", "VNTX");
        showStatus("Opening file explorer at the new version failed? Try manually via the Corlinde website.", true);
    }
    requestStop(ExitReason::NewVersion, 0);
    return false;
}

void checkScans(const WebVersions& web, const UpdateSurroundings& s) {
    auto& p = params();
    if (const auto v = web.find("liveries")) {
        std::error_code ec;
        if (isNewer(*v, storedVersion(p.LIV_SCAN_VERSION.get())) || !fs::exists(s.liveriesScanned, ec))
            switchScanOn(p.SCAN_LIVERIES, p.LIV_SCAN_VERSION, "liveries", *v);
    } else {
        logf("{} version not found", "liveries");
    }
    if (const auto v = web.find("addons")) {
        if (isNewer(*v, storedVersion(p.ADDONS_SCAN_VERSION.get())))
            switchScanOn(p.SCAN_AIRPORTS, p.ADDONS_SCAN_VERSION, "addons", *v);
    } else {
        logf("{} version not found", "addons");
    }
}

}  // namespace

std::optional<VersionNumber> WebVersions::find(std::string_view member) const {
    const auto it = members.find(member);
    if (it == members.end()) return std::nullopt;
    return it->second;
}

WebVersions parseWebVersions(std::string_view json) {
    const auto doc = nlohmann::json::parse(json);
    if (!doc.is_object()) throw std::runtime_error("not a JSON object");
    WebVersions out;
    for (const auto& [name, value] : doc.items()) {
        if (!value.is_object()) continue;
        VersionNumber v;
        bool ok = true;
        for (auto [key, field] : {std::pair{"major", &v.major}, {"minor", &v.minor}, {"patch", &v.patch}}) {
            const auto it = value.find(key);
            if (it == value.end() || !it->is_number_integer() || it->get<long long>() < 0 ||
                it->get<long long>() > 1000000000) {
                ok = false;
                break;
            }
            *field = static_cast<int>(it->get<long long>());
        }
        if (ok) out.members.emplace(name, v);
    }
    return out;
}

std::optional<VersionNumber> storedVersion(const std::string& text) {
    try {
        return parseVersion(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool isNewer(const VersionNumber& web, const std::optional<VersionNumber>& local) { return !local || web > *local; }

UpdateSurroundings programSurroundings() {
    UpdateSurroundings s;
    std::error_code ec;
    s.programFolder = fs::current_path(ec);
    s.dataFolder = programDataFolder();
    s.inputFolder = inputFolder();
    s.liveriesScanned = fs::path("output") / "LiveriesScanned.xml";
    for (auto k : {platform::KnownFolder::ProgramFiles, platform::KnownFolder::ProgramFilesX86}) {
        fs::path f = platform::knownFolder(k);
        if (!f.empty()) s.programFilesFolders.push_back(std::move(f));
    }
    s.isElevated = [] { return platform::isElevated(); };
    s.openFolder = [](const fs::path& folder) { return platform::shellOpen(platform::pathToUtf8(folder)); };
    s.warningBox = [](const std::string& text, const std::string& caption) { platform::warningBox(text, caption); };
    return s;
}

bool checkVersions(const UpdateSurroundings& s) {
    const fs::path versions = s.dataFolder / kVersionsFile;
    if (!download(downloadBase() + kVersionsFile, versions, false)) {
        logLine("Downloading version info from my web site failed!");
        return true;
    }
    std::string text;
    if (!readWhole(versions, text)) {
        logLine("Cannot open versions.json");
        return true;
    }
    WebVersions web;
    bool parsed = true;
    try {
        web = parseWebVersions(text);
    } catch (const std::exception& e) {
        // A damaged list from the server must not stop the program.
        logf("Cannot read versions.json: {}", e.what());
        parsed = false;
    }
    std::error_code ec;
    fs::remove(versions, ec);
    if (ec) throw fs::filesystem_error("remove", versions, ec);
    if (!parsed) return true;

    if (!checkProgram(web, s)) return false;
    for (const auto& file : dataFiles()) updateDataFile(web, file, s.inputFolder);
    checkScans(web, s);
    return true;
}

bool checkVersions() { return checkVersions(programSurroundings()); }

void installUpdateHooks(std::function<fs::path()> liveriesScannedFile) {
    hooks().updateCheck = [liveriesScannedFile = std::move(liveriesScannedFile)] {
        UpdateSurroundings s = programSurroundings();
        if (liveriesScannedFile) s.liveriesScanned = liveriesScannedFile();
        return checkVersions(s);
    };
}

}  // namespace vntx
