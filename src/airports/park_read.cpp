// Reading park files and merging learned files into them.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "airports/catalogue.h"
#include "airports/park_file.h"
#include "airports/park_settings.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/parameters.h"
#include "refdata/dbase.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kMetresToNm = 0.0005399568034557236;

StandOccupancy readOccurrence(const pugi::xml_node& opt, std::uint32_t source) {
    StandOccupancy o;
    o.reg = opt.attribute("reg").as_string();
    if (const RegistrationRecord* r = registrationRecord(o.reg)) {
        o.airline = r->airline;
        o.type = r->model;
    } else {
        o.airline = opt.attribute("airl").as_string();
        o.type = opt.attribute("type").as_string();
    }
    o.real = !opt.attribute("soft").as_bool();
    o.day = opt.attribute("day").as_uint();
    o.hours = gf_hours2bitset(opt.attribute("hh").as_string());
    const std::string_view cs = opt.attribute("cs").as_string();
    const std::size_t colon = cs.find(':');
    o.callsign = std::string(cs.substr(0, colon));
    if (colon != std::string_view::npos) o.callsign_extra = std::string(cs.substr(colon + 1));
    o.source = source;
    return o;
}

// A stand with every attribute; false for one at 0,0 (skipped).
bool readStand(const pugi::xml_node& n, std::uint32_t source, ParkPosition& p) {
    p.lat = n.attribute("latitude").as_double();
    p.lon = n.attribute("longitude").as_double();
    if (p.lat == 0.0 && p.lon == 0.0) return false;
    p.heading = n.attribute("heading").as_double() * kDegToRad;
    p.radius = n.attribute("radius").as_double() * kMetresToNm;
    p.heli = n.attribute("heli").as_bool();
    p.cargo = n.attribute("cargo").as_bool();
    p.ramp = n.attribute("ramp").as_bool();
    p.manual = n.attribute("manual").as_bool();
    p.occupancies.reserve(static_cast<std::size_t>(std::distance(n.children("opt").begin(), n.children("opt").end())));
    std::uint32_t number = 0;
    for (pugi::xml_node opt : n.children("opt")) {
        StandOccupancy o = readOccurrence(opt, source);
        o.number = ++number;
        p.occupancies.push_back(std::move(o));
    }
    return true;
}

void readStands(const pugi::xml_document& doc, std::uint32_t source, std::vector<ParkPosition>& out) {
    std::unordered_set<std::string> seen;
    for (pugi::xml_node n : doc.child("parkpositions").children("parkpos")) {
        std::string id = n.attribute("id").as_string();
        if (!seen.insert(id).second)
            throw UserErrorException(94, fmt::format("Parking position {} appears more than once?", id));
        ParkPosition p;
        p.id = std::move(id);
        if (readStand(n, source, p)) out.push_back(std::move(p));
    }
}

std::uint32_t lastNumber(const ParkPosition& p) {
    std::uint32_t last = 0;
    for (const auto& o : p.occupancies) last = std::max(last, o.number);
    return last;
}

void mergeLearnedStand(const pugi::xml_node& n, ParkPosition& p) {
    if (n.attribute("radius_change").as_bool()) {
        p.radius = n.attribute("radius").as_double() * kMetresToNm;
        p.radius_change = true;
    }
    if (n.attribute("cargo_change").as_bool()) {
        p.cargo = n.attribute("cargo").as_bool();
        p.cargo_change = true;
    }
    for (pugi::xml_node opt : n.children("opt")) {
        StandOccupancy o = readOccurrence(opt, 0);
        if (repeatsOccurrence(p, o)) continue;
        o.number = lastNumber(p) + 1;
        p.occupancies.push_back(std::move(o));
    }
}

void mergeLearnedStands(const pugi::xml_document& doc, const std::string& path, ParkAirport& airport) {
    std::unordered_map<std::string, std::size_t> byId;
    for (std::size_t i = 0; i < airport.positions.size(); ++i) byId.emplace(airport.positions[i].id, i);
    for (pugi::xml_node n : doc.child("parkpositions").children("parkpos")) {
        const std::string id = n.attribute("id").as_string();
        if (n.attribute("manual").as_bool()) {
            if (byId.count(id)) {
                logf("manually created standid {} already exists in {}", id, path);
                continue;
            }
            ParkPosition p;
            p.id = id;
            if (!n.attribute("latitude") || !n.attribute("longitude") || !n.attribute("radius") ||
                !readStand(n, 0, p)) {
                logf("manually created standid {} misses correct attributes in {}", id, path);
                continue;
            }
            byId.emplace(id, airport.positions.size());
            airport.positions.push_back(std::move(p));
            continue;
        }
        const auto it = byId.find(id);
        if (it == byId.end()) {
            logf("learned stand {} in {} not found?", id, path);
            continue;
        }
        mergeLearnedStand(n, airport.positions[it->second]);
    }
}

std::string qualityText(std::int32_t real, std::int32_t soft) {
    if (real >= 45) return std::to_string(real);
    if (real == -1 && soft == -1) return "  ";
    return fmt::format("{:2}/{:2}", real, soft);
}

}  // namespace

bool repeatsOccurrence(const ParkPosition& stand, const StandOccupancy& o) {
    return std::any_of(stand.occupancies.begin(), stand.occupancies.end(), [&](const StandOccupancy& e) {
        return e.day == o.day && e.real == o.real && e.reg == o.reg && e.airline == o.airline && e.type == o.type &&
               (e.hours & o.hours).any();
    });
}

std::optional<std::size_t> countParkFileStands(const fs::path& file) {
    pugi::xml_document doc;
    if (!doc.load_file(file.c_str())) return std::nullopt;
    std::vector<ParkPosition> stands;
    try {
        readStands(doc, 1, stands);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return stands.size();
}

void linkStands(std::vector<ParkPosition>& positions) {
    for (std::size_t i = 0; i < positions.size(); ++i) {
        positions[i].index = static_cast<std::uint32_t>(i + 1);
        positions[i].neighbours.clear();
        positions[i].neighbours.reserve(8);
    }
    for (ParkPosition& a : positions) {
        for (const ParkPosition& b : positions) {
            if (&a == &b) continue;
            // The great-circle distance is at least the distance in latitude.
            const double reach = a.radius + b.radius;
            if (std::abs(a.lat - b.lat) * 60.0 * 1.1 >= reach) continue;
            if (reach > 1.1 * distanceNm(a.lat, a.lon, b.lat, b.lon)) a.neighbours.push_back(b.index);
        }
    }
}

void lf_readLearned(const fs::path& learnedPath, ParkAirport& airport) {
    const std::string path = learnedPath.string();
    try {
        pugi::xml_document doc;
        const pugi::xml_parse_result parsed = doc.load_file(learnedPath.c_str());
        if (!parsed) {
            gf_save1GenerationOf(learnedPath);
            logf("{} found, but could not be loaded, saved as *.0.xml: {}", path, parsed.description());
            return;
        }
        logf("Read from learned airport file: '{}'", path);
        if (pugi::xml_attribute name = parkFileParameter(doc, "airport_name"); name && airport.airport_name != name.as_string())
            logf("Warning: learned file airport name: '{}' differs from archived file airport name: '{}'",
                 name.as_string(), airport.airport_name);
        restoreParkSettings(doc);
        if (parkFileParameter(doc, "handmade").as_bool()) {
            airport.handmade = true;
            std::vector<ParkPosition> own;
            readStands(doc, 0, own);
            airport.positions = std::move(own);
            if (pugi::xml_attribute alt = parkFileParameter(doc, "altitude")) airport.altitude = alt.as_int();
            return;
        }
        mergeLearnedStands(doc, path, airport);
    } catch (const UserErrorException&) {
        throw;
    } catch (const std::exception& e) {
        logf("{}: {}", "lf_readLearned", e.what());
    }
}

std::string gf_readApf(std::string_view location, ParkAirport& airport) {
    if (location.empty()) return fmt::format("{}: xml is empty", "gf_readApf");
    if (airport.code.empty()) return fmt::format("{}: no park airport set", "gf_readApf");
    airport.positions.clear();
    airport.handmade = false;

    std::string error;
    const fs::path file = parkFileOnDisk(location, error);
    if (file.empty()) return error;
    pugi::xml_document doc;
    if (const pugi::xml_parse_result parsed = doc.load_file(file.c_str()); !parsed) {
        // A kept archive copy that does not parse is fetched again next time.
        if (!isLocalLocation(location)) {
            std::error_code ec;
            fs::remove(file, ec);
        }
        return fmt::format("{}: could not load file: {}", location, parsed.description());
    }

    airport.RT_traffic_week = parkFileParameter(doc, "RT_traffic_week").as_int(0);
    airport.publisher = parkFileParameter(doc, "publisher").as_string();
    const pugi::xml_attribute altitude = parkFileParameter(doc, "altitude");
    if (!altitude) throw UserErrorException(65, "Parameter altitude not found");
    airport.altitude = altitude.as_int();
    airport.airport_name = parkFileParameter(doc, "airport_name").as_string();
    airport.BGLpath = parkFileParameter(doc, "BGLpath").as_string();
    readStands(doc, 1, airport.positions);
    airport.Qf_real = parkFileParameter(doc, "Qf_real").as_int(-1);
    airport.Qf_soft = parkFileParameter(doc, "Qf_soft").as_int(-1);

    const fs::path learned = learnedFilePath(airport.code, airport.publisher);
    if (fs::exists(learned)) {
        lf_readLearned(learned, airport);
        std::tie(airport.Qf_real, airport.Qf_soft) = computeQualityFactors(airport.positions);
        if (airport.handmade) logf("A handmade airport file overruled the archived file!");
    } else {
        const AirportEntry* entry = findAirport(airport.code);
        applyDefaultParkSettings(airport.Qf_real, airport.Qf_soft, entry ? entry->stands : 0);
    }
    linkStands(airport.positions);

    logf("{:24}: {}", "publisher", airport.publisher);
    logf("{:24}: {}", "num_parkpos", airport.positions.size());
    logf("{:24}: {}", "quality factor", qualityText(airport.Qf_real, airport.Qf_soft));
    logf("{:24}: {} ft", "altitude", airport.altitude);
    logf("{:24}: {}%", "parking_percentage", params().parking_percentage.get());
    logf("{:24}: {}", "RT traffic week", airport.RT_traffic_week);
    logf("Airport file read from '{}' for {}", location, airport.code);
    return airport.positions.empty() ? "no stands found" : "";
}

}  // namespace vntx
