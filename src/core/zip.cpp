#include "core/zip.h"

#include <atomic>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>
#include <zip.h>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace vntx {

ZipReader::ZipReader(const fs::path& path) {
    int code = 0;
    archive_ = zip_open(platform::pathToUtf8(path).c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!archive_) {
        zip_error_t e;
        zip_error_init_with_code(&e, code);
        error_ = zip_error_strerror(&e);
        zip_error_fini(&e);
    }
}

ZipReader::~ZipReader() {
    if (archive_) zip_discard(archive_);
}

std::vector<ZipReader::Entry> ZipReader::entries() const {
    std::vector<Entry> out;
    if (!archive_) return out;
    const zip_int64_t n = zip_get_num_entries(archive_, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        Entry e;
        if (zip_stat_index(archive_, static_cast<zip_uint64_t>(i), 0, &st) == 0) {
            if (st.valid & ZIP_STAT_NAME) e.name = st.name;
            if (st.valid & ZIP_STAT_SIZE) e.size = st.size;
        }
        out.push_back(std::move(e));
    }
    return out;
}

int ZipReader::read(std::size_t index, std::size_t pieceBytes,
                    const std::function<bool(const char*, std::size_t)>& sink) const {
    if (!archive_) return ZIP_ER_INVAL;
    zip_file_t* file = zip_fopen_index(archive_, index, 0);
    if (!file) return zip_error_code_zip(zip_get_error(archive_));
    std::vector<char> piece(pieceBytes);
    int result = 0;
    while (true) {
        const zip_int64_t got = zip_fread(file, piece.data(), piece.size());
        if (got < 0) {
            result = zip_error_code_zip(zip_file_get_error(file));
            if (result == 0) result = ZIP_ER_READ;
            break;
        }
        if (got == 0) break;
        if (!sink(piece.data(), static_cast<std::size_t>(got))) {
            result = -1;
            break;
        }
    }
    zip_fclose(file);
    return result;
}

bool zipEntryNameIsSafe(std::string_view name) {
    if (name.empty()) return false;
    if (name.front() == '/' || name.front() == '\\') return false;
    if (name.size() >= 2 && name[1] == ':') return false;  // C:..., also "C:x" (relative to a drive)
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = name.size();
        if (name.substr(start, end - start) == "..") return false;
        start = end + 1;
    }
    return true;
}

void writeZip(const fs::path& path, const std::vector<ZipWriteEntry>& entries) {
    static std::atomic<unsigned> counter{0};
    fs::path tmp = path;
    tmp += fmt::format(".{}.tmp", counter++);
    int code = 0;
    zip_t* za = zip_open(platform::pathToUtf8(tmp).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!za) throw std::runtime_error(fmt::format("cannot create {}: libzip error {}", path.string(), code));
    auto fail = [&](const std::string& what) {
        const std::string text = fmt::format("{}: {}", what, zip_strerror(za));
        zip_discard(za);
        std::error_code ec;
        fs::remove(tmp, ec);
        throw std::runtime_error(text);
    };
    for (const auto& e : entries) {
        zip_source_t* src = e.source.empty()
                                ? zip_source_buffer(za, e.bytes.data(), e.bytes.size(), 0)
                                : zip_source_file(za, platform::pathToUtf8(e.source).c_str(), 0, -1);
        if (!src) fail(fmt::format("cannot read {}", e.source.empty() ? e.name : e.source.string()));
        if (zip_file_add(za, e.name.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(src);
            fail(fmt::format("cannot add {}", e.name));
        }
    }
    if (zip_close(za) != 0) fail(fmt::format("cannot write {}", path.string()));
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) {
        fs::remove(tmp, ec);
        throw std::runtime_error(fmt::format("cannot write {}", path.string()));
    }
}

}  // namespace vntx
