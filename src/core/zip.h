// Zip archives (libzip behind a small owner of its handles): reading entries
// piece by piece, and writing an archive whole through a temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct zip;

namespace vntx {

class ZipReader {
public:
    // Opens an archive read-only. A reader that did not open has isOpen()
    // false and the reason in error().
    explicit ZipReader(const std::filesystem::path& path);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    bool isOpen() const { return archive_ != nullptr; }
    const std::string& error() const { return error_; }

    struct Entry {
        std::string name;       // as stored: UTF-8, '/' between folders, "x/" for a folder
        std::uint64_t size = 0; // uncompressed bytes
    };
    std::vector<Entry> entries() const;

    // Hands the content of entry `index` to `sink` in pieces of at most
    // pieceBytes. Returns 0, or libzip's error code when the entry cannot be
    // read (damaged data, a wrong checksum) or the sink returned false (-1).
    int read(std::size_t index, std::size_t pieceBytes,
             const std::function<bool(const char* data, std::size_t size)>& sink) const;

private:
    ::zip* archive_ = nullptr;
    std::string error_;
};

// True when an entry name stays inside the folder it is unpacked into: not
// empty, not absolute (no leading slash or backslash, no drive letter), and
// no ".." among its parts (either slash separates parts).
bool zipEntryNameIsSafe(std::string_view name);

// One file of an archive to write: its name in the archive and its content,
// from a file on disk or from memory.
struct ZipWriteEntry {
    std::string name;
    std::filesystem::path source;  // used when not empty
    std::string bytes;             // used otherwise
};

// Writes an archive with these entries (deflated) to a temporary file beside
// path and renames it into place. Throws std::runtime_error on failure.
void writeZip(const std::filesystem::path& path, const std::vector<ZipWriteEntry>& entries);

}  // namespace vntx
