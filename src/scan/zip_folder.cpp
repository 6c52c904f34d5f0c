// tblo.zip: the generated park files of the airports the maker does not know
// yet, packed for the user to send in, through the one archive writer (a
// temporary file renamed into place).
#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "core/log.h"
#include "core/zip.h"
#include "platform/platform.h"
#include "scan/airport_scan.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

bool readWhole(const fs::path& file, std::string& out) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

bool zipFolder(const fs::path& source, const fs::path& target) {
    std::error_code ec;
    if (!fs::is_directory(source, ec)) {
        logf("[zip] Not a directory: {}", platform::pathToUtf8(source));
        return false;
    }
    logf("[zip] Target file: {}", platform::pathToUtf8(target));
    logf("[zip] Source dir : {}", platform::pathToUtf8(source));
    if (fs::exists(target, ec)) {
        logf("[zip] Removing old zip {}", platform::pathToUtf8(target));
        fs::remove(target, ec);
    }

    std::vector<fs::path> files;
    const fs::path targetAbsolute = fs::weakly_canonical(target, ec);
    for (fs::directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (!it->is_regular_file(e2)) continue;
        if (fs::weakly_canonical(it->path(), e2) == targetAbsolute) continue;
        files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());

    std::vector<ZipWriteEntry> entries;
    entries.reserve(files.size());
    for (const fs::path& file : files) {
        ZipWriteEntry e;
        e.name = platform::pathToUtf8(file.filename());
        if (!readWhole(file, e.bytes)) {
            logf("[zip] READ FAIL: {}", platform::pathToUtf8(file));
            continue;
        }
        logf("[zip] Adding (data) {} -> {} ({} bytes)", platform::pathToUtf8(file), e.name, e.bytes.size());
        entries.push_back(std::move(e));
    }
    bool closed = true;
    try {
        writeZip(target, entries);
    } catch (const std::runtime_error& e) {
        logf("[zip] Could not write the archive: {}", e.what());
        closed = false;
    }
    const bool exists = fs::exists(target, ec);
    const auto size = exists ? fs::file_size(target, ec) : 0;
    logf("[zip] Added {} files, ok_close={}, exists={}, size={} bytes", entries.size(), closed, exists, ec ? 0 : size);
    return closed && exists;
}

}  // namespace vntx
