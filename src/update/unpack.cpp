// Unpacking an installer archive into a folder.
#include <fstream>
#include <system_error>

#include "core/log.h"
#include "core/zip.h"
#include "platform/platform.h"
#include "update/program_update.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

void removeQuietly(const fs::path& p) {
    std::error_code ec;
    fs::remove(p, ec);
}

// One file entry through a temporary name beside its place. False after a
// logged failure.
bool unpackEntry(const ZipReader& zip, std::size_t index, const std::string& name, const fs::path& target) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    fs::path tmp = target;
    tmp += ".unpacking";
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) {
        logf("Could not create output file {}", platform::pathToUtf8(target));
        return false;
    }
    const int rc = zip.read(index, kUnpackPieceBytes, [&](const char* data, std::size_t size) {
        out.write(data, static_cast<std::streamsize>(size));
        return static_cast<bool>(out);
    });
    out.close();
    if (rc != 0) {
        removeQuietly(tmp);
        if (rc == -1)
            logf("Could not create output file {}", platform::pathToUtf8(target));
        else
            logf("Unzipping error code: {}", rc);
        return false;
    }
    if (out.fail()) {
        removeQuietly(tmp);
        logf("Could not create output file {}", platform::pathToUtf8(target));
        return false;
    }
    fs::rename(tmp, target, ec);
    if (ec) {
        removeQuietly(tmp);
        logf("Could not create output file {}", platform::pathToUtf8(target));
        return false;
    }
    logf("{} unzipped to {}", name, platform::pathToUtf8(target));
    return true;
}

}  // namespace

bool unpackArchive(const fs::path& archive, const fs::path& folder) {
    ZipReader zip(archive);
    if (!zip.isOpen()) {
        logf("Could not open {}", platform::pathToUtf8(archive));
        return false;
    }
    const auto entries = zip.entries();
    // Every name is judged before anything is written: an archive with one
    // entry that escapes the folder is refused whole.
    for (const auto& e : entries) {
        if (!zipEntryNameIsSafe(e.name)) {
            logf("Refused zip entry '{}' of {}: it would be written outside {}", e.name,
                 platform::pathToUtf8(archive), platform::pathToUtf8(folder));
            return false;
        }
    }
    std::vector<fs::path> written;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string& name = entries[i].name;
        const fs::path target = folder / platform::pathFromUtf8(name);
        bool ok;
        if (name.back() == '/' || name.back() == '\\') {
            std::error_code ec;
            fs::create_directories(target, ec);
            ok = !ec;
            if (!ok) logf("Could not create output file {}", platform::pathToUtf8(target));
        } else {
            ok = unpackEntry(zip, i, name, target);
            if (ok) written.push_back(target);
        }
        if (!ok) {
            for (const auto& w : written) removeQuietly(w);
            return false;
        }
    }
    return true;
}

}  // namespace vntx
