#include "stock_parking.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <numeric>
#include <sstream>
#include <tuple>
#include <unordered_map>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/files.h"
#include "csv.h"
#include "refdata/dbase.h"

namespace fs = std::filesystem;

namespace refdata {

namespace {

constexpr int kWeekSlots = 7 * 48;
constexpr double kDegToRad = 0.017453292519943295;
constexpr double kMetresToNm = 0.0005399568034557236;
constexpr double kFitToleranceM = 1.8;

using WeekSlots = std::bitset<kWeekSlots>;

int weekSlot(const Visit& v) { return ((v.day - 1) % 7) * 48 + v.slot; }

bool isFree(const WeekSlots& taken, int start, int length) {
    for (int k = 0; k < length; ++k)
        if (taken.test((start + k) % kWeekSlots)) return false;
    return true;
}

// The visit's half hours on the stand, one occurrence per weekday it touches.
void addOccurrences(vntx::ParkPosition& stand, const Visit& v, int start, int length) {
    for (int w = start, left = length; left > 0;) {
        const int inDay = w % 48;
        const auto day = static_cast<std::uint32_t>((w / 48) % 7 + 1);
        const int n = std::min(left, 48 - inDay);
        auto same = std::find_if(stand.occupancies.begin(), stand.occupancies.end(), [&](const vntx::StandOccupancy& o) {
            return o.reg == v.reg && o.day == day && o.callsign == v.arrival;
        });
        if (same == stand.occupancies.end()) {
            vntx::StandOccupancy o;
            o.airline = v.airline;
            o.type = v.type;
            o.reg = v.reg;
            o.callsign = v.arrival;
            if (v.departure != v.arrival) o.callsign_extra = v.departure;
            o.day = day;
            o.source = 1;
            o.real = true;
            stand.occupancies.push_back(std::move(o));
            same = stand.occupancies.end() - 1;
        }
        for (int k = 0; k < n; ++k) same->hours.set(static_cast<std::size_t>(inDay + k));
        w = (w + n) % kWeekSlots;
        left -= n;
    }
}

bool truthy(const std::string& s) { return s == "1" || s == "true"; }

}  // namespace

Placement placeVisits(const std::vector<StandRow>& rows, const std::vector<Visit>& visits) {
    Placement out;
    out.stands.reserve(rows.size());
    for (const StandRow& r : rows) {
        vntx::ParkPosition p;
        p.id = r.id;
        p.lat = r.lat;
        p.lon = r.lon;
        p.heading = r.headingDeg * kDegToRad;
        p.radius = r.radiusM * kMetresToNm;
        p.cargo = r.cargo;
        p.heli = r.heli;
        p.ramp = r.ramp;
        out.stands.push_back(std::move(p));
    }
    std::vector<WeekSlots> taken(rows.size());
    std::vector<std::size_t> order(visits.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int wa = weekSlot(visits[a]), wb = weekSlot(visits[b]);
        return wa != wb ? wa < wb : visits[a].reg < visits[b].reg;
    });
    std::unordered_map<std::string, std::size_t> standOfFlight;
    std::unordered_map<std::string, WeekSlots> onGround;  // by registration
    for (std::size_t i : order) {
        const Visit& v = visits[i];
        const int start = weekSlot(v);
        const int length = std::clamp(v.slots, 1, kWeekSlots);
        WeekSlots& aircraft = onGround[v.reg];
        if (!isFree(aircraft, start, length)) {  // one aircraft cannot stand in two places
            ++out.dropped;
            continue;
        }
        const auto before = standOfFlight.find(v.airline + "|" + v.arrival);
        std::size_t best = rows.size();
        std::tuple<int, int, int, int, double> bestKey{};
        for (std::size_t s = 0; s < rows.size(); ++s) {
            const StandRow& r = rows[s];
            if (v.rotorcraft != r.heli) continue;
            if (v.halfSpanM - r.radiusM > kFitToleranceM + 1e-9) continue;
            if (!isFree(taken[s], start, length)) continue;
            const int airline = r.airlines.empty() ? 1 : (r.airlines.count(v.airline) ? 0 : 2);
            const std::tuple<int, int, int, int, double> key{
                before != standOfFlight.end() && before->second == s ? 0 : 1, airline, v.cargo == r.cargo ? 0 : 1,
                r.ramp ? 1 : 0, r.radiusM};
            if (best == rows.size() || key < bestKey) {
                best = s;
                bestKey = key;
            }
        }
        if (best == rows.size()) {
            ++out.dropped;
            continue;
        }
        for (int k = 0; k < length; ++k) {
            taken[best].set(static_cast<std::size_t>((start + k) % kWeekSlots));
            aircraft.set(static_cast<std::size_t>((start + k) % kWeekSlots));
        }
        standOfFlight[v.airline + "|" + v.arrival] = best;
        addOccurrences(out.stands[best], v, start, length);
        ++out.placed;
    }
    for (vntx::ParkPosition& p : out.stands) {
        std::uint32_t n = 0;
        for (vntx::StandOccupancy& o : p.occupancies) o.number = ++n;
    }
    return out;
}

std::vector<StandRow> readStandTable(const fs::path& csv) {
    const CsvTable t = readCsv(csv);
    const int cId = t.column("id"), cLat = t.column("lat"), cLon = t.column("lon"), cH = t.column("heading_deg"),
              cR = t.column("radius_m"), cC = t.column("cargo"), cHeli = t.column("heli"), cRamp = t.column("ramp"),
              cA = t.column("airlines");
    std::vector<StandRow> out;
    for (const auto& r : t.rows) {
        if (r.size() <= static_cast<std::size_t>(cA)) continue;
        StandRow s;
        s.id = r[cId];
        s.lat = std::stod(r[cLat]);
        s.lon = std::stod(r[cLon]);
        s.headingDeg = std::stod(r[cH]);
        s.radiusM = std::stod(r[cR]);
        s.cargo = truthy(r[cC]);
        s.heli = truthy(r[cHeli]);
        s.ramp = truthy(r[cRamp]);
        std::istringstream words(r[cA]);
        for (std::string w; words >> w;) s.airlines.insert(w);
        out.push_back(std::move(s));
    }
    return out;
}

namespace {

struct Aircraft {
    std::string airline, type;
    bool cargo = false;
};

struct AirportInfo {
    std::string name;
    int altitudeFt = 0;
};

std::vector<Visit> readVisits(const fs::path& csv, const std::unordered_map<std::string, Aircraft>& fleet) {
    std::vector<Visit> out;
    if (!fs::exists(csv)) return out;
    const CsvTable t = readCsv(csv);
    const int cReg = t.column("registration"), cArr = t.column("arrival"), cDep = t.column("departure"),
              cSlot = t.column("slot"), cSlots = t.column("slots"), cDays = t.column("days");
    for (const auto& r : t.rows) {
        if (r.size() <= static_cast<std::size_t>(cDays)) continue;
        const auto a = fleet.find(r[cReg]);
        if (a == fleet.end() || a->second.type.empty() || a->second.airline.empty()) continue;
        Visit v;
        v.reg = r[cReg];
        v.airline = a->second.airline;
        v.type = a->second.type;
        // The program takes airline and type of a registration it knows from
        // its database (the file then leaves them out): place it as that.
        if (const vntx::RegistrationRecord* known = vntx::registrationRecord(v.reg)) {
            if (!known->airline.empty()) v.airline = known->airline;
            if (!known->model.empty()) v.type = known->model;
        }
        v.arrival = a->second.airline + r[cArr];
        v.departure = r[cDep].empty() ? std::string() : a->second.airline + r[cDep];
        v.slot = std::stoi(r[cSlot]);
        v.slots = std::stoi(r[cSlots]);
        v.halfSpanM = vntx::halfWingspan(v.type) * 1852.0;
        v.cargo = a->second.cargo;
        v.rotorcraft = vntx::aircraftCategory(v.type) == vntx::AircraftCategory::Rotorcraft;
        for (char d : r[cDays]) {
            if (d < '1' || d > '7') continue;
            v.day = d - '0';
            out.push_back(v);
        }
    }
    return out;
}

}  // namespace

void writeStockParkFiles(const fs::path& data, const fs::path& server, std::map<std::string, std::size_t>& counts) {
    std::unordered_map<std::string, Aircraft> fleet;
    {
        const CsvTable t = readCsv(data / "registrations" / "fg_ai_fleet.csv");
        const int cR = t.column("registration"), cA = t.column("airline_icao"), cT = t.column("icao_type"),
                  cF = t.column("flight_type");
        for (const auto& r : t.rows)
            if (r.size() > static_cast<std::size_t>(cF))
                fleet[r[cR]] = {r[cA], r[cT], r[cF] == "cargo" || vntx::database().isCargoOperator(r[cA])};
    }
    std::unordered_map<std::string, AirportInfo> airports;
    {
        const CsvTable t = readCsv(data / "airports" / "vrs_standing_data_airports.csv");
        const int cI = t.column("ICAO"), cN = t.column("Name"), cAlt = t.column("AltitudeFeet");
        for (const auto& r : t.rows)
            if (r.size() > static_cast<std::size_t>(cAlt) && !r[cI].empty() && !airports.count(r[cI])) {
                double alt = 0;
                try {
                    alt = std::stod(r[cAlt]);
                } catch (const std::exception&) {
                }
                airports[r[cI]] = {r[cN], static_cast<int>(std::lround(alt))};
            }
    }
    // The stand table of each airport; the OpenStreetMap one replaces the other.
    std::map<std::string, std::pair<fs::path, const char*>> tables;
    const std::pair<const char*, const char*> sources[] = {
        {"stands", "stands: FlightGear ground network (GPL-2+); flights: FlightGear AI traffic (GPL-2+)"},
        {"stands_osm",
         "stands: (c) OpenStreetMap contributors, ODbL 1.0; flights: FlightGear AI traffic (GPL-2+)"}};
    for (const auto& [folder, note] : sources) {
        if (!fs::is_directory(data / folder)) continue;
        for (const auto& e : fs::directory_iterator(data / folder)) {
            const std::string stem = e.path().stem().string();
            if (e.path().extension() == ".csv" && stem.size() == 4) tables[stem] = {e.path(), note};
        }
    }
    const fs::path stock = server / "downloads" / "P3D" / "archive" / "stock";
    fs::create_directories(stock);
    std::size_t files = 0, stands = 0, occurrences = 0, dropped = 0;
    for (const auto& [code, table] : tables) {
        const Placement placed = placeVisits(readStandTable(table.first), readVisits(data / "parking" / (code + ".csv"), fleet));
        vntx::ParkAirport airport;
        airport.code = code;
        airport.publisher = "stock";
        if (const auto a = airports.find(code); a != airports.end()) {
            airport.airport_name = a->second.name;
            airport.altitude = a->second.altitudeFt;
        }
        airport.positions = placed.stands;
        std::tie(airport.Qf_real, airport.Qf_soft) = vntx::computeQualityFactors(airport.positions);
        pugi::xml_document doc;
        vntx::buildParkFile(airport, vntx::ParkFileMode::Archive, doc);
        pugi::xml_node info = doc.child("meta").append_child("info");
        info.append_attribute("name") = "source";
        info.append_attribute("value") = table.second;
        if (!vntx::saveXmlDocument(doc, stock / (code + ".xml"))) throw std::runtime_error("cannot write " + code + ".xml");
        std::size_t opts = 0;
        for (const auto& p : airport.positions) opts += p.occupancies.size();
        fmt::print("{}.xml {:>4} stands {:>6} occurrences, {:>5} flights placed, {:>4} without a stand, qf {}/{}\n",
                   code, airport.positions.size(), opts, placed.placed, placed.dropped, airport.Qf_real, airport.Qf_soft);
        ++files;
        stands += airport.positions.size();
        occurrences += opts;
        dropped += placed.dropped;
    }
    counts["stock park files"] = files;
    counts["stock park file stands"] = stands;
    counts["stock park file occurrences"] = occurrences;
    counts["stock park file flights without a stand"] = dropped;
}

}  // namespace refdata
