// The airport record of a BGL file: altitude, name, helipads and parkings
// with their stand ids.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <unordered_set>
#include <utility>

#include <fmt/format.h>

#include "scan/bgl_records.h"

namespace vntx {

namespace {

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kTwoPi = 6.283185307179586;

bool validPosition(double lat, double lon) {
    if (!(lat >= -90.0 && lat <= 90.0 && lon >= -180.0 && lon <= 180.0)) return false;
    return !(std::fabs(lat) < 0.0001 && std::fabs(lon) < 0.0001);
}

// Degrees to radians; a heading of 0 is given as 2 pi (a stand heading of 0
// reads as "none" further on). A value that is no number counts as 0.
double standHeading(float degrees) {
    const double rad = std::isfinite(degrees) ? degrees * kDegToRad : 0.0;
    return rad == 0.0 ? kTwoPi : rad;
}

// Lead bytes C2..F4 followed by the right number of continuation bytes.
bool isUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n;
        if (c < 0x80) n = 0;
        else if (c >= 0xC2 && c <= 0xDF) n = 1;
        else if (c >= 0xE0 && c <= 0xEF) n = 2;
        else if (c >= 0xF0 && c <= 0xF4) n = 3;
        else return false;
        if (i + n >= s.size() && n > 0) return false;
        for (std::size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

std::string latin1ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

class AirportDecoder {
public:
    AirportDecoder(const BglWords& words, std::uint64_t end, bool newLayout, std::string_view path,
                   BglAirport& airport, std::vector<std::string>& report)
        : words_(words), end_(end), newLayout_(newLayout), path_(path), airport_(airport), report_(report) {}

    void subrecords(std::uint64_t o3) {
        for (int step = 0; o3 < end_; ++step) {
            if (step == bgl::kMaxSubrecords) {
                report_.push_back("   Error: Maximum loop iterations reached");
                break;
            }
            const std::uint16_t id = bgl::recordId(words_, o3);
            const std::uint64_t size = decodeSizeAtBoundary(words_, o3);
            if (size == 0) {
                report_.push_back(fmt::format("   Warning: decodeSizeAtBoundary returned 0 at o3 = {}", o3));
                break;
            }
            if (id == bgl::kNameRecord) {
                name(lf_decodeAirportNAME(words_, o3, report_));
            } else if (id == bgl::kHelipadRecord) {
                helipad(o3, size);
            } else if (id == (newLayout_ ? bgl::kParkingRecordNew : bgl::kParkingRecord)) {
                parkings(o3, size);
                break;
            }
            o3 += size;
            if (o3 == end_) break;
            if (o3 >= words_.size()) {
                report_.push_back(
                    fmt::format("   Error: o3={} exceeded data buffer size ({}), aborting.", o3, words_.size()));
                break;
            }
            if (o3 > end_) {
                report_.push_back(fmt::format("   Error: o3={} exceeded airport record end ({}), aborting.", o3, end_));
                break;
            }
        }
        if (namesDisagree_) airport_.name.clear();
    }

private:
    void name(std::string text) {
        if (!haveName_) {
            airport_.name = std::move(text);
            haveName_ = true;
        } else if (text != airport_.name) {
            namesDisagree_ = true;
        }
    }

    // The words [first, first + count) of a subrecord `size` words long at
    // `o3` must lie inside it and inside the airport record.
    void require(std::uint64_t o3, std::uint64_t size, std::uint64_t first, std::uint64_t count, const char* what) {
        const std::uint64_t limit = std::min(o3 + size, end_);
        if (first + count > limit)
            throw BglRangeError(fmt::format("{} at o3 = {} runs past its subrecord ({} words)", what, o3, size));
    }

    void helipad(std::uint64_t o3, std::uint64_t size) {
        require(o3, size, o3, 9, "helipad");
        const double lon = bglLongitude(words_.at(o3 + 3));
        const double lat = bglLatitude(words_.at(o3 + 4));
        const float length = words_.floatAt(o3 + 6);
        const float heading = words_.floatAt(o3 + 8);
        if (!validPosition(lat, lon)) {
            report_.push_back(fmt::format("lat/lon helipad incorrect (skipped): {:.6f},{:.6f}", lat, lon));
            return;
        }
        for (const auto& [plat, plon] : helipadPositions_) {
            if (std::fabs(plat - lat) < 1e-8 && std::fabs(plon - lon) < 1e-8) {
                report_.push_back(fmt::format("double helipad {:.6f},{:.6f} (skipped) ", lat, lon));
                return;
            }
        }
        helipadPositions_.emplace_back(lat, lon);
        BglStand s;
        s.id = fmt::format("helipad{}", ++airport_.helipads);
        s.lat = lat;
        s.lon = lon;
        s.heading = standHeading(heading);
        s.radiusM = std::isfinite(length) && length > 0.0f ? length / 2.0 : 0.0;
        s.heli = true;
        ids_.insert(s.id);
        airport_.stands.push_back(std::move(s));
    }

    void parkings(std::uint64_t o3, std::uint64_t size) {
        require(o3, size, o3, 2, "parking list");
        const std::uint32_t count = words_.at(o3 + 1) >> 16;
        const std::uint64_t stride = newLayout_ ? 10 : 9;
        std::uint64_t q = o3 + 2;
        for (std::uint32_t i = 0; i < count; ++i) {
            require(o3, size, q, stride, "parking");
            const std::uint32_t packed = words_.at(q);
            const float radius = words_.floatAt(q + 1);
            const float heading = words_.floatAt(q + 2);
            const double lon = bglLongitude(words_.at(q + 7));
            const double lat = bglLatitude(words_.at(q + 8));
            q += stride + (packed >> 24);
            parking(packed, radius, heading, lat, lon);
        }
    }

    void parking(std::uint32_t packed, float radius, float heading, double lat, double lon) {
        const unsigned nameValue = packed & 0x3F;
        const unsigned type = (packed >> 8) & 0xF;
        const unsigned number = (packed >> 12) & 0xFFF;
        if (!(radius > 1.0f && radius < 200.0f)) {
            report_.push_back(fmt::format("Skipped position with radius {:.1F} m in {}", radius, path_));
            return;
        }
        if (type < 1 || type > 11) return;
        if (!validPosition(lat, lon)) {
            report_.push_back(fmt::format("LatLon {} invalid (skipped)", fmt::format("{:.6f},{:.6f}", lat, lon)));
            return;
        }
        const std::string base = bgl::parkingId(nameValue, number);
        std::optional<std::string> id;
        if (!ids_.contains(base)) id = base;
        for (char suffix = 'a'; !id && suffix <= 'j'; ++suffix)
            if (!ids_.contains(base + suffix)) id = base + suffix;
        if (!id) {
            report_.push_back(
                fmt::format("===> {}", fmt::format("Warning: more than 10 duplicate IDs {} in {}", base, path_)));
            return;
        }
        ids_.insert(*id);
        BglStand s;
        s.id = std::move(*id);
        s.lat = lat;
        s.lon = lon;
        s.heading = standHeading(heading);
        s.radiusM = radius;
        s.name = nameValue;
        s.number = number;
        s.type = type;
        s.cargo = type == 5;
        s.ramp = type <= 7;
        airport_.stands.push_back(std::move(s));
    }

    const BglWords& words_;
    std::uint64_t end_;
    bool newLayout_;
    std::string_view path_;
    BglAirport& airport_;
    std::vector<std::string>& report_;
    bool haveName_ = false;
    bool namesDisagree_ = false;
    std::vector<std::pair<double, double>> helipadPositions_;
    std::unordered_set<std::string> ids_;
};

}  // namespace

std::string lf_decodeAirportNAME(const BglWords& words, std::uint64_t offset, std::vector<std::string>& report) {
    std::string raw;
    try {
        const std::uint32_t bytes = (words.at(offset) >> 16) | (words.at(offset + 1) & 0xFFFF) << 16;
        const std::uint64_t first = 4 * offset + 6;
        const std::uint64_t last = 4 * offset + bytes;
        for (std::uint64_t b = first; b < last; ++b) {
            const std::uint8_t c = words.byteAt(b);
            if (c == 0) break;
            raw += static_cast<char>(c);
        }
    } catch (const BglRangeError&) {
        report.push_back(fmt::format("! o3: {} out of range, nrDWORDS: {}", offset, words.size()));
    }
    return isUtf8(raw) ? raw : latin1ToUtf8(raw);
}

namespace bgl {

std::string parkingId(unsigned name, unsigned number) {
    static constexpr const char* kPrefixes[] = {"", "r", "p", "np", "ep", "sep", "sp", "swp", "wp", "nwp", "g", ""};
    std::string id;
    if (name < std::size(kPrefixes)) id = kPrefixes[name];
    else id = static_cast<char>(name + 53);
    return id + std::to_string(number);
}

void decodeAirportRecord(const BglWords& words, std::uint64_t offset, std::uint64_t size, bool newLayout,
                         std::string_view path, BglAirport& airport, std::vector<std::string>& report) {
    airport.newLayout = newLayout;
    airport.lon = bglLongitude(words.at(offset + 3));
    airport.lat = bglLatitude(words.at(offset + 4));
    const auto millimetres = static_cast<std::int32_t>(words.at(offset + 5));
    const long long feet = std::llround(millimetres * 3.2808399 / 1000.0);
    airport.altitudeFt = feet < -20 || feet > 10000 ? 0 : static_cast<std::int32_t>(feet);
    AirportDecoder decoder(words, offset + size, newLayout, path, airport, report);
    decoder.subrecords(offset + (newLayout ? 15 : 14));
}

}  // namespace bgl

}  // namespace vntx
