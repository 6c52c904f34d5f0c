// A program release in the download server's tree: the installer archive in
// downloads/release/, the release notes in downloads/docs/, and the "p3d"
// member of downloads/versions.json naming its version.
#pragma once

#include <filesystem>
#include <string>

namespace refdata {

// Writes downloads/release/setup_Ventrix_P3D_d_v<version>.zip holding the
// installer as setup_Ventrix_P3D_d_v<version>.exe, copies the release notes
// (when given) to downloads/docs/ReleaseNotes.pdf, and sets "p3d" in
// versions.json (created when missing). Throws std::runtime_error on failure.
void writeRelease(const std::filesystem::path& server, const std::filesystem::path& installer,
                  const std::string& version, const std::filesystem::path& releaseNotes);

}  // namespace refdata
