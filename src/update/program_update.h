// A newer program version: its installer archive fetched from the server's
// release folder and unpacked, the installer moved into "new_version" beside
// the program, and the note that tells the user how to run it.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/version.h"

namespace vntx {

inline constexpr const char* kNewVersionFolder = "new_version";
inline constexpr const char* kNewInstallerName = "install_new_version.exe";
inline constexpr const char* kReleaseNotesName = "ReleaseNotes.pdf";
// Archives are unpacked in pieces of this many bytes.
inline constexpr std::size_t kUnpackPieceBytes = 524288;

// "setup_Ventrix_P3D_d_v11.10.0.zip" and "setup_Ventrix_P3D_d_v11.10.0.exe".
std::string installerArchiveName(const VersionNumber& web);
std::string installerName(const VersionNumber& web);

// Downloads the installer archive of the web version into programFolder,
// unpacks it there and moves the installer into new_version as
// install_new_version.exe (through a ".part" copy whose size is checked).
// Every failure is logged; true when the installer is in place. Throws only
// when new_version cannot be created.
bool fetchNewProgram(const VersionNumber& web, const std::filesystem::path& programFolder);

// Unpacks every entry of the archive into folder, each file through a
// temporary name, in pieces of kUnpackPieceBytes. An entry that would land
// outside the folder (absolute, or with a ".." part) refuses the whole archive
// before anything is written. False after a logged failure; files already
// unpacked by a failed call are removed again.
bool unpackArchive(const std::filesystem::path& archive, const std::filesystem::path& folder);

// The installer needs an administrator when the program lies under a
// Program Files folder, a test file cannot be written there, and the process
// is not elevated.
bool installNeedsAdministrator(const std::filesystem::path& programFolder,
                               const std::vector<std::filesystem::path>& programFilesFolders,
                               const std::function<bool()>& isElevated);
// True when path is folder or lies below it (compared without regard to case,
// either slash).
bool isInsideFolder(const std::filesystem::path& path, const std::filesystem::path& folder);
// The text of README.txt in new_version.
std::string newVersionNote(bool needsAdministrator);

}  // namespace vntx
