// The file level of the BGL decoder: header, section list and the walk
// over the airport section's records.
#include "scan/bgl.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <fstream>
#include <iterator>

#include <fmt/format.h>

#include "platform/platform.h"
#include "scan/bgl_records.h"

namespace fs = std::filesystem;

namespace vntx {

using namespace bgl;

std::uint32_t BglWords::at(std::uint64_t index) const {
    if (index >= count_) throw BglRangeError(fmt::format("word {} out of range, nrDWORDS: {}", index, count_));
    const std::uint8_t* p = bytes_.data() + 4 * index;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

float BglWords::floatAt(std::uint64_t index) const { return std::bit_cast<float>(at(index)); }

std::uint8_t BglWords::byteAt(std::uint64_t index) const {
    if (index / 4 >= count_) throw BglRangeError(fmt::format("byte {} out of range, nrDWORDS: {}", index, count_));
    return bytes_[index];
}

std::uint64_t decodeSizeAtBoundary(const BglWords& words, std::uint64_t offset) {
    const std::uint32_t bytes = (words.at(offset) >> 16) | (words.at(offset + 1) & 0xFFFF) << 16;
    return bytes / 4;
}

std::string lf_decodeIdentifierOrRegionCode(std::uint32_t packed) {
    std::uint32_t value = packed >> 5;
    std::string text;
    while (value != 0) {
        const std::uint32_t digit = value % 38;
        value /= 38;
        char c;
        if (digit == 0) c = ' ';
        else if (digit >= 2 && digit <= 11) c = static_cast<char>('0' + digit - 2);
        else c = static_cast<char>(digit + 53);
        text.insert(text.begin(), c);
    }
    return text;
}

double bglLongitude(std::uint32_t packed) { return packed * 4.470348358154297e-7 - 180.0; }
double bglLatitude(std::uint32_t packed) { return 90.0 - packed * 3.3527612686157227e-7; }

bool hasAirportSection(std::span<const std::uint8_t> head) {
    const BglWords words(head);
    if (words.size() < 6 || words.at(1) != kHeaderSize) return false;
    const std::uint64_t sections = words.at(5);
    for (std::uint64_t i = 0; i < sections; ++i) {
        const std::uint64_t type = 14 + 5 * i;
        if (type >= words.size()) return false;
        if (words.at(type) == kAirportSection) return true;
    }
    return false;
}

bool hasAirportSection(const fs::path& file) {
    // One read covers the header and the first 23 section headers; files
    // with more sections get a second read for the rest.
    constexpr std::size_t kFirstRead = 512;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::vector<std::uint8_t> head(kFirstRead);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    if (head.size() < 24) return false;
    const std::uint32_t sections = BglWords(head).at(5);
    const std::uint64_t needed = kHeaderSize + 20ull * sections;
    if (needed > head.size() && head.size() == kFirstRead) {
        std::error_code ec;
        const std::uint64_t fileSize = fs::file_size(file, ec);
        if (ec) return false;
        constexpr std::uint64_t kMostHeaders = 1u << 20;  // 52,000 sections; a count beyond is damage
        head.resize(static_cast<std::size_t>(std::min({needed, fileSize, kMostHeaders})));
        in.clear();
        in.read(reinterpret_cast<char*>(head.data() + kFirstRead),
                static_cast<std::streamsize>(head.size() - kFirstRead));
        head.resize(kFirstRead + static_cast<std::size_t>(in.gcount()));
    }
    return hasAirportSection(std::span<const std::uint8_t>(head));
}

namespace {

// The walk over one airport section: records one after another from the
// first subsection's data to the end of the file. Walks of several sections
// stop where an earlier one has been, so each record is decoded once.
class FileDecoder {
public:
    FileDecoder(const BglWords& words, std::string_view path, const AirportFilter& supported, BglFileResult& result)
        : words_(words), path_(path), supported_(supported), result_(result), walked_(words.size(), false) {}

    void run() {
        if (words_.size() < 2 || words_.at(1) != kHeaderSize) return;
        const std::uint64_t sections = words_.at(5);
        for (std::uint64_t i = 0; i < sections; ++i) {
            const std::uint64_t h = 14 + 5 * i;
            const std::uint32_t type = words_.at(h);
            const std::uint32_t flags = words_.at(h + 1);
            const std::uint32_t subsections = words_.at(h + 2);
            const std::uint32_t firstSubsection = words_.at(h + 3);
            if (type != kAirportSection || (flags & kWideSubsections) != 0 || subsections == 0) continue;
            if (!walk(words_.at(firstSubsection / 4 + 2) / 4)) return;
        }
    }

private:
    // False when the file's decoding ends.
    bool walk(std::uint64_t o2) {
        while (true) {
            if (o2 < walked_.size() && walked_[o2]) return true;
            const std::uint16_t id = recordId(words_, o2);  // a start beyond the file throws
            walked_[o2] = true;
            const std::uint64_t size = decodeSizeAtBoundary(words_, o2);
            if (id == kAirportRecord || id == kAirportRecordNew) {
                if (size == 0) {
                    result_.report.push_back(
                        fmt::format("==> {}", fmt::format("   Warning: decodeSizeAtBoundary returned 0 at o2 = {}", o2)));
                    return false;
                }
                airport(o2, size, id == kAirportRecordNew);
            }
            if (size == 0) return true;
            const std::uint64_t next = o2 + size;
            if (next >= words_.size()) return true;
            o2 = next;
        }
    }

    void airport(std::uint64_t o2, std::uint64_t size, bool newLayout) {
        std::string ident;
        try {
            ident = lf_decodeIdentifierOrRegionCode(words_.at(o2 + 10));
        } catch (const BglRangeError&) {
            throw;
        } catch (const std::exception&) {
            result_.report.push_back(fmt::format("! Exception in {}", "lf_decodeIdentifierOrRegionCode"));
            ident.clear();
        }
        if (ident.size() != 4) return;
        if (supported_ && !supported_(ident)) {
            result_.report.push_back(fmt::format("{} is not an airport supported by RealTraffic ", ident));
            return;
        }
        BglAirport a;
        a.ident = std::move(ident);
        decodeAirportRecord(words_, o2, size, newLayout, path_, a, result_.report);
        result_.airports.push_back(std::move(a));
    }

    const BglWords& words_;
    std::string_view path_;
    const AirportFilter& supported_;
    BglFileResult& result_;
    std::vector<bool> walked_;
};

}  // namespace

BglFileResult decodeBglData(std::span<const std::uint8_t> bytes, std::string_view path, const AirportFilter& supported) {
    BglFileResult result;
    const BglWords words(bytes);
    try {
        FileDecoder(words, path, supported, result).run();
    } catch (const std::exception& e) {
        result.report.push_back(fmt::format("Exception in {} {}: {}", "decodeBglFile", path, e.what()));
    }
    return result;
}

BglFileResult decodeBglFile(const fs::path& file, const AirportFilter& supported) {
    // Airport files are a few megabytes at most; anything far larger is not
    // read into memory.
    constexpr std::uint64_t kMaxFileSize = 512ull << 20;
    const std::string path = platform::pathToUtf8(file);
    try {
        std::error_code ec;
        const std::uint64_t size = fs::file_size(file, ec);
        if (ec) return {{}, {fmt::format("Exception in {} {}: {}", "decodeBglFile", path, ec.message())}};
        if (size > kMaxFileSize)
            return {{}, {fmt::format("Exception in {} {}: file of {} bytes too large, skipped", "decodeBglFile", path,
                                     size)}};
        std::ifstream in(file, std::ios::binary);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!in || static_cast<std::uint64_t>(in.gcount()) != size)
            return {{}, {fmt::format("Exception in {} {}: {}", "decodeBglFile", path, "read failed")}};
        return decodeBglData(bytes, path, supported);
    } catch (const std::exception& e) {
        return {{}, {fmt::format("Exception in {} {}: {}", "decodeBglFile", path, e.what())}};
    }
}

}  // namespace vntx
