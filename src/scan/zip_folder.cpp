// tblo.zip: the generated park files of the airports the maker does not know
// yet, packed for the user to send in. libzip writes the archive to a
// temporary file and renames it into place when it is closed.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

#include <fmt/format.h>
#include <zip.h>

#include "core/log.h"
#include "platform/platform.h"
#include "scan/airport_scan.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

struct ArchiveCloser {
    void operator()(zip_t* archive) const {
        if (archive) zip_discard(archive);
    }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;

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

    int error = 0;
    Archive archive(zip_open(platform::pathToUtf8(target).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
    if (!archive) {
        logLine("[zip] Could not open archive for writing");
        return false;
    }
    // libzip reads the buffers when the archive is closed.
    std::vector<std::string> contents;
    contents.reserve(files.size());
    std::size_t added = 0;
    for (const fs::path& file : files) {
        const std::string name = platform::pathToUtf8(file.filename());
        std::string data;
        if (!readWhole(file, data)) {
            logf("[zip] READ FAIL: {}", platform::pathToUtf8(file));
            continue;
        }
        contents.push_back(std::move(data));
        const std::string& bytes = contents.back();
        zip_source_t* src = zip_source_buffer(archive.get(), bytes.data(), bytes.size(), 0);
        if (!src || zip_file_add(archive.get(), name.c_str(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
            if (src) zip_source_free(src);
            logf("[zip] ERROR addData({})", name);
            continue;
        }
        logf("[zip] Adding (data) {} -> {} ({} bytes)", platform::pathToUtf8(file), name, bytes.size());
        ++added;
    }
    const bool closed = zip_close(archive.get()) == 0;
    if (closed) archive.release();
    const bool exists = fs::exists(target, ec);
    const auto size = exists ? fs::file_size(target, ec) : 0;
    logf("[zip] Added {} files, ok_close={}, exists={}, size={} bytes", added, closed, exists, ec ? 0 : size);
    return closed && exists;
}

}  // namespace vntx
