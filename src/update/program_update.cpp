#include "update/program_update.h"

#include <fstream>
#include <system_error>

#include <fmt/format.h>

#include "core/files.h"
#include "core/log.h"
#include "platform/platform.h"
#include "update/downloader.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

std::string text(const fs::path& p) { return platform::pathToUtf8(p); }

// Logs the warning when an existing file cannot be removed.
void removeWithWarning(const fs::path& p, const char* warning) {
    std::error_code ec;
    fs::remove(p, ec);
    if (ec) logLine(fmt::format(fmt::runtime(warning), text(p)));
}

// The unpacked installer into new_version: copied to a ".part" name, checked
// for its size, renamed to its final name; then the unpacked file goes.
bool moveIntoNewVersion(const fs::path& unpacked, const fs::path& newVersion) {
    std::error_code ec;
    if (!fs::exists(unpacked, ec)) {
        logf("{} does not exists?", text(unpacked));
        return false;
    }
    const fs::path final = newVersion / kNewInstallerName;
    fs::path part = final;
    part += ".part";
    fs::remove(part, ec);
    fs::copy_file(unpacked, part, ec);
    if (ec) {
        logf("could not rename {} => {}: {}", text(unpacked), text(part), ec.message());
        fs::remove(part, ec);
        return false;
    }
    const auto sizeOf = [](const fs::path& p, std::uintmax_t& size) {
        std::error_code e;
        size = fs::file_size(p, e);
        if (e) logf("file_size({}) failed: {}", text(p), e.message());
        return !e;
    };
    std::uintmax_t before = 0, after = 0;
    if (!sizeOf(unpacked, before) || !sizeOf(part, after)) {
        fs::remove(part, ec);
        return false;
    }
    if (before != after) {
        logf("rename {} => {} suspicious: size {} != {}", text(unpacked), text(part), before, after);
        fs::remove(part, ec);
        return false;
    }
    fs::rename(part, final, ec);
    if (ec) {
        logf("could not finalize rename {} => {}: {}", text(part), text(final), ec.message());
        fs::remove(part, ec);
        return false;
    }
    removeWithWarning(unpacked, "Warning: could not remove extracted: {}");
    return true;
}

}  // namespace

std::string installerArchiveName(const VersionNumber& web) {
    return fmt::format("setup_{}_d_v{}.zip", kProgramName, formatVersion(web));
}

std::string installerName(const VersionNumber& web) {
    return fmt::format("setup_{}_d_v{}.exe", kProgramName, formatVersion(web));
}

bool fetchNewProgram(const VersionNumber& web, const fs::path& programFolder) {
    const fs::path unpacked = programFolder / installerName(web);
    removeWithWarning(unpacked, "Warning: could not remove old installer: {}");

    const std::string archiveName = installerArchiveName(web);
    const fs::path archive = programFolder / archiveName;
    if (!download(releaseUrl(archiveName), archive, true)) {
        logf("Downloading program installer file version {} failed", formatVersion(web));
        return false;
    }
    logf("Downloaded {}", text(archive));
    if (!unpackArchive(archive, programFolder)) {
        std::error_code ec;
        fs::remove(archive, ec);
        return false;
    }

    const fs::path newVersion = programFolder / kNewVersionFolder;
    std::error_code ec;
    if (!fs::is_directory(newVersion, ec)) {
        fs::create_directory(newVersion, ec);
        if (ec) throw fs::filesystem_error("create_directory", newVersion, ec);
    }
    removeWithWarning(archive, "Warning: could not remove downloaded zip: {}");
    return moveIntoNewVersion(unpacked, newVersion);
}

bool isInsideFolder(const fs::path& path, const fs::path& folder) {
    if (folder.empty()) return false;
    auto parts = [](const fs::path& p) {
        std::vector<std::string> out;
        for (const auto& part : p.lexically_normal()) {
            std::string s = toLower(platform::pathToUtf8(part));
            if (!s.empty() && s != "/" && s != "\\" && s != ".") out.push_back(std::move(s));
        }
        return out;
    };
    const auto a = parts(path);
    const auto b = parts(folder);
    if (b.empty() || a.size() < b.size()) return false;
    for (std::size_t i = 0; i < b.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}

bool installNeedsAdministrator(const fs::path& programFolder, const std::vector<fs::path>& programFilesFolders,
                               const std::function<bool()>& isElevated) {
    bool underProgramFiles = false;
    for (const auto& pf : programFilesFolders)
        if (isInsideFolder(programFolder, pf)) underProgramFiles = true;
    if (!underProgramFiles) return false;
    // A one-byte test file, created whatever is there, removed at once.
    const fs::path probe = programFolder / ".write_test.tmp";
    bool writable;
    {
        std::ofstream out(probe, std::ios::binary | std::ios::trunc);
        writable = static_cast<bool>(out) && static_cast<bool>(out.put('\0'));
        out.close();
        writable = writable && !out.fail();
    }
    std::error_code ec;
    fs::remove(probe, ec);
    if (writable) return false;
    return !(isElevated && isElevated());
}

std::string newVersionNote(bool needsAdministrator) {
    return needsAdministrator
               ? "A new version is available. Run the installer as Administrator"
               : "A new version is available.\nThe installer can be executed normally (no Administrator rights required).";
}

}  // namespace vntx
