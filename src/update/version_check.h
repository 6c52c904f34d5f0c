// The start-up check of program and data versions against versions.json on
// the download server: newer data files are fetched in place, newer scan
// versions switch their scan on, and a newer program is downloaded and
// unpacked into "new_version" before the program stops with NEW VERSION.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/version.h"

namespace vntx {

// What the check works on and the shell actions it takes. The program's own
// (programSurroundings) are the current directory, the program's data folder,
// the "input" folder, the platform's shell and the known Program Files folders.
struct UpdateSurroundings {
    std::filesystem::path programFolder;    // the installation folder
    std::filesystem::path dataFolder;       // versions.json goes here
    std::filesystem::path inputFolder;      // dbase.enc, airports.enc, AIG-regcodes.enc
    std::filesystem::path liveriesScanned;  // output/LiveriesScanned.xml
    std::vector<std::filesystem::path> programFilesFolders;
    std::function<bool()> isElevated;
    std::function<bool(const std::filesystem::path& folder)> openFolder;  // File Explorer
    std::function<void(const std::string& text, const std::string& caption)> warningBox;
};
UpdateSurroundings programSurroundings();

// Run once per start before the data files are read. False only when the
// program is to stop for a new version (the stop is already requested);
// every failure is logged and answered with true.
bool checkVersions(const UpdateSurroundings& surroundings);
bool checkVersions();

// versions.json: its members that are objects of three non-negative integers
// "major", "minor" and "patch". parseWebVersions throws std::exception when
// the text is not a JSON object.
struct WebVersions {
    std::map<std::string, VersionNumber, std::less<>> members;
    std::optional<VersionNumber> find(std::string_view member) const;
};
WebVersions parseWebVersions(std::string_view json);

// A local version as stored in a *_VERSION setting; one that is empty or does
// not parse counts as older than every web version.
std::optional<VersionNumber> storedVersion(const std::string& text);
bool isNewer(const VersionNumber& web, const std::optional<VersionNumber>& local);

// Plugs the check into the cycle (the updateCheck hook).
void installUpdateHooks(std::function<std::filesystem::path()> liveriesScannedFile);

}  // namespace vntx
