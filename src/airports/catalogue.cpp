#include "airports/catalogue.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/errors.h"
#include "core/log.h"
#include "platform/platform.h"
#include "refdata/crypt.h"
#include "refdata/dbase.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kTwiceEarthRadiusNm = 6875.493541569878;
constexpr double kClosestLimitNm = 5.0;
constexpr double kNoStandNm = 100.0;

struct Catalogue {
    std::vector<AirportEntry> entries;
    bool loaded = false;
};

Catalogue& catalogue() {
    static Catalogue c;
    return c;
}

ClosestStandReader& standReader() {
    static ClosestStandReader reader;
    return reader;
}

// One "airport" element; false when the entry is to be skipped.
bool readEntry(const pugi::xml_node& node, AirportEntry& e) {
    e.code = node.attribute("code").as_string();
    const pugi::xml_attribute lat = node.attribute("lat"), lon = node.attribute("lon");
    if (!lat || !lon) {
        logErrorf("Missing latLons for airport '{}'", e.code);
        return false;
    }
    const pugi::xml_attribute alt = node.attribute("alt");
    if (!alt) {
        logErrorf("Missing alt for airport '{}'", e.code);
        return false;
    }
    const pugi::xml_attribute stands = node.attribute("stands");
    if (!stands) logErrorf("Missing stands for airport '{}'", e.code);
    const pugi::xml_attribute iata = node.attribute("iata");
    if (!iata) {
        logErrorf("Missing IATA for airport '{}'", e.code);
        return false;
    }
    try {
        e.lat = lat.as_double();
        e.lon = lon.as_double();
        e.alt = alt.as_double();
        e.stands = stands ? stands.as_int() : 0;
        e.iata = iata.as_string();
    } catch (const std::exception& ex) {
        logf("Error parsing coordinates for airport '{}': {}", e.code, ex.what());
        return false;
    }
    return true;
}

void load(Catalogue& c, const fs::path& xml) {
    const std::string xmlText = platform::pathToUtf8(xml);
    if (c.entries.capacity() < 15000) c.entries.reserve(15000);
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_file(xml.c_str());
    if (!parsed) {
        removeFileQuietly(xml);
        throw UserErrorException(88, xmlText + " not loaded: " + parsed.description());
    }
    const pugi::xml_node root = doc.child("airports");
    if (!root) {
        removeFileQuietly(xml);
        throw UserErrorException(88, "Missing <airports> root in: " + xmlText);
    }
    try {
        for (pugi::xml_node node : root.children("airport")) {
            AirportEntry e;
            if (readEntry(node, e)) c.entries.push_back(std::move(e));
        }
        std::stable_sort(c.entries.begin(), c.entries.end(),
                         [](const AirportEntry& a, const AirportEntry& b) { return a.code < b.code; });
        logf("{} airports read", c.entries.size());
        removeFileQuietly(xml);
        c.entries.shrink_to_fit();
        c.loaded = true;
    } catch (const UserErrorException&) {
        throw;
    } catch (const std::exception& ex) {
        c.entries.clear();
        removeFileQuietly(xml);
        throw UserErrorException(88, ex.what());
    }
}

}  // namespace

double distanceNm(double lat1, double lon1, double lat2, double lon2) {
    const double p1 = lat1 * kDegToRad, p2 = lat2 * kDegToRad;
    const double sLat = std::sin((p2 - p1) / 2);
    const double sLon = std::sin((lon2 - lon1) * kDegToRad / 2);
    double h = sLat * sLat + std::cos(p1) * std::cos(p2) * sLon * sLon;
    h = std::clamp(h, 0.0, 1.0);  // rounding can push antipodal points just past 1
    return std::atan2(std::sqrt(h), std::sqrt(1 - h)) * kTwiceEarthRadiusNm;
}

bool gf_readAirports() {
    Catalogue& c = catalogue();
    if (c.loaded) return !c.entries.empty();
    const fs::path folder = inputFolder();
    const fs::path xml = folder / "airports.xml";
    try {
        // A failure leaves no plain file; the parse below then reports it.
        gf_streamDecrypt(folder / "airports.enc", xml);
    } catch (const std::exception& ex) {
        logErrorf("{} exception : {}", "gf_readAirports", ex.what());
        throw;
    }
    load(c, xml);
    return !c.entries.empty();
}

bool readAirports() { return gf_readAirports(); }

const std::vector<AirportEntry>& airportCatalogue() { return catalogue().entries; }

const AirportEntry* findAirport(std::string_view code) {
    const auto& entries = catalogue().entries;
    const auto it = std::lower_bound(entries.begin(), entries.end(), code,
                                     [](const AirportEntry& e, std::string_view k) { return e.code < k; });
    return it != entries.end() && it->code == code ? &*it : nullptr;
}

bool isRtSupportedAirport(std::string_view code) { return findAirport(code) != nullptr; }

const AirportEntry* closestAirport(double lat, double lon) {
    double bestDist = kNoStandNm;
    const AirportEntry* best = nullptr;
    const AirportEntry* neighbour = nullptr;
    for (const AirportEntry& e : catalogue().entries) {
        const double d = distanceNm(lat, lon, e.lat, e.lon);
        if (d <= kClosestLimitNm && d < bestDist) {
            if (best) neighbour = best;
            best = &e;
            bestDist = d;
        }
    }
    if (!best || !neighbour) return best;
    logf("Airport {} is closest, neighbour is {}", best->code, neighbour->code);
    std::string bestStand, neighbourStand;
    const double s1 = gf_readDestApfForClosestStand(*best, lat, lon, bestStand);
    const double s2 = gf_readDestApfForClosestStand(*neighbour, lat, lon, neighbourStand);
    if (s2 >= s1) return best;
    logf("Airport {} is closest, but stand {} at neighbouring airport {} is closer at {:.0F} meters ...", best->code,
         neighbourStand, neighbour->code, s2 * 1852);
    return neighbour;
}

double gf_readDestApfForClosestStand(const AirportEntry& airport, double lat, double lon, std::string& standId) {
    try {
        if (const ClosestStandReader& reader = standReader()) return reader(airport, lat, lon, standId);
    } catch (const std::exception& ex) {
        logErrorf("{}: {}", "gf_readDestApfForClosestStand", ex.what());
    }
    return kNoStandNm;
}

void setClosestStandReader(ClosestStandReader reader) { standReader() = std::move(reader); }

void resetAirportCatalogue() {
    Catalogue& c = catalogue();
    c.entries.clear();
    c.loaded = false;
}

}  // namespace vntx
