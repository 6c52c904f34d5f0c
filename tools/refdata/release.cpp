#include "release.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "core/files.h"
#include "core/zip.h"
#include "update/program_update.h"

namespace fs = std::filesystem;

namespace refdata {

void writeRelease(const fs::path& server, const fs::path& installer, const std::string& version,
                  const fs::path& releaseNotes) {
    const vntx::VersionNumber v = vntx::parseVersion(version);
    if (!fs::is_regular_file(installer)) throw std::runtime_error("no installer " + installer.string());
    const fs::path downloads = server / "downloads";
    fs::create_directories(downloads / "release");
    const fs::path archive = downloads / "release" / vntx::installerArchiveName(v);
    vntx::writeZip(archive, {{vntx::installerName(v), installer, {}}});
    fmt::print("{:<40} {:>9} bytes\n", archive.filename().string(), fs::file_size(archive));

    if (!releaseNotes.empty()) {
        fs::create_directories(downloads / "docs");
        const fs::path notes = downloads / "docs" / vntx::kReleaseNotesName;
        fs::remove(notes);  // mingw's libstdc++ refuses overwrite_existing on Windows
        fs::copy_file(releaseNotes, notes);
    }

    const fs::path list = downloads / "versions.json";
    nlohmann::json versions = nlohmann::json::object();
    if (std::ifstream in{list}) {
        std::stringstream s;
        s << in.rdbuf();
        versions = nlohmann::json::parse(s.str());
    }
    versions["p3d"] = {{"major", v.major}, {"minor", v.minor}, {"patch", v.patch}};
    if (!vntx::writeFileAtomically(list, versions.dump(2) + "\n")) throw std::runtime_error("cannot write versions.json");
    fmt::print("release {} written to {}\n", vntx::formatVersion(v), server.string());
}

}  // namespace refdata
