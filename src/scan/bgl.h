// Compiled scenery files (BGL) of add-on airports: which files hold airports,
// and the airports and stands inside them.
//
// A BGL file is read as 32-bit little-endian words; offsets inside the
// decoder are word indexes. Every read is checked against the file's size:
// a damaged or hostile file ends with a report line, never a read past the
// buffer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vntx {

// One stand decoded from a parking or helipad subrecord.
struct BglStand {
    std::string id;          // "g12", "g12a", "helipad1", ...
    double lat = 0.0;        // degrees
    double lon = 0.0;        // degrees
    double heading = 0.0;    // radians, 0 given as 2 pi
    double radiusM = 0.0;    // metres
    unsigned name = 0;       // parking name value (0..63), 0 for helipads
    unsigned number = 0;     // parking number (0..4095), 0 for helipads
    unsigned type = 0;       // parking type (1..11), 0 for helipads
    bool cargo = false;      // type 5
    bool ramp = false;       // types 1..7
    bool heli = false;       // a helipad
};

// One airport record of a BGL file.
struct BglAirport {
    std::string ident;       // four-character ICAO code
    std::string name;        // UTF-8; empty when the file's names disagree
    double lat = 0.0;        // airport reference point, degrees
    double lon = 0.0;
    std::int32_t altitudeFt = 0;  // 0 when outside -20 .. 10000 ft
    bool newLayout = false;  // record id 171 (parkings ten words long)
    unsigned helipads = 0;   // stands that are helipads
    std::vector<BglStand> stands;  // helipads first, then parkings, in file order
};

// What one file gave: its airports and the lines for the scan report.
struct BglFileResult {
    std::vector<BglAirport> airports;
    std::vector<std::string> report;
};

// Whether an airport code is one RealTraffic supplies traffic for.
using AirportFilter = std::function<bool(std::string_view code)>;

// A read outside the file (or outside the record that holds it).
class BglRangeError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// The file's bytes as 32-bit little-endian words; a trailing partial word
// is not part of the data.
class BglWords {
public:
    explicit BglWords(std::span<const std::uint8_t> bytes) : bytes_(bytes), count_(bytes.size() / 4) {}
    std::uint64_t size() const { return count_; }
    // Throws BglRangeError past the end.
    std::uint32_t at(std::uint64_t index) const;
    float floatAt(std::uint64_t index) const;
    // A byte of the word data (byte index = 4 x word index + 0..3).
    std::uint8_t byteAt(std::uint64_t index) const;

private:
    std::span<const std::uint8_t> bytes_;
    std::uint64_t count_;
};

// The size field of the record or subrecord starting at word `offset` (the
// 32 bits from its byte 2), in words (bytes / 4).
std::uint64_t decodeSizeAtBoundary(const BglWords& words, std::uint64_t offset);

// An ICAO ident or region code: shifted right by 5, written in base 38,
// most significant digit first (0 blank, 2..11 "0".."9", else code d + 53).
std::string lf_decodeIdentifierOrRegionCode(std::uint32_t packed);

// The text of the name subrecord at word `offset`: its bytes after the
// 6-byte head up to the first zero byte, as UTF-8 (Latin-1 bytes that are
// not UTF-8 are converted). A subrecord reaching past the file adds
// "! o3: {} out of range, nrDWORDS: {}" to the report and gives what was read.
std::string lf_decodeAirportNAME(const BglWords& words, std::uint64_t offset, std::vector<std::string>& report);

// Packed coordinates of the scenery files.
double bglLongitude(std::uint32_t packed);
double bglLatitude(std::uint32_t packed);

// Reads only the file header and the section headers: true when the header
// is 56 bytes and a section of type 3 (airports) is listed. False for a file
// that cannot be read.
bool hasAirportSection(const std::filesystem::path& file);
bool hasAirportSection(std::span<const std::uint8_t> head);

// Decodes the airports of a file held in memory. `path` only names the file
// in report lines. Airports whose code fails `supported` are left out
// ("{} is not an airport supported by RealTraffic " for four-letter codes).
// An error inside the file ends its decoding; the airports decoded before it
// stay and the error is the last report line.
BglFileResult decodeBglData(std::span<const std::uint8_t> bytes, std::string_view path, const AirportFilter& supported);

// Reads the file whole and decodes it. Never throws.
BglFileResult decodeBglFile(const std::filesystem::path& file, const AirportFilter& supported);

}  // namespace vntx
