// Stock park files from real stands and real schedules: every flight that
// stands at an airport is placed on a free stand that fits it, and becomes
// that stand's occurrences (airline, type, registration, callsign, weekday,
// half hours).
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "airports/park_file.h"

namespace refdata {

// One stand as the stand tables give it.
struct StandRow {
    std::string id;
    double lat = 0, lon = 0, headingDeg = 0, radiusM = 0;
    bool cargo = false, heli = false, ramp = false;
    std::set<std::string> airlines;  // operators the stand is meant for, may be empty
};

// One aircraft standing at the airport on one weekday from a half hour on.
struct Visit {
    std::string reg, airline, type;
    std::string arrival, departure;  // callsigns; departure may be empty
    int day = 1;                     // 1 = Monday .. 7
    int slot = 0;                    // first half hour, 0..47
    int slots = 1;                   // how many half hours (may run into the next day)
    double halfSpanM = 0;
    bool cargo = false;
    bool rotorcraft = false;
};

struct Placement {
    std::vector<vntx::ParkPosition> stands;
    std::size_t placed = 0;
    std::size_t dropped = 0;  // no free stand fitted, or the aircraft stood elsewhere
};

// Greedy in time order. A visit whose aircraft already stands elsewhere at
// that time is dropped; any other goes to a free stand it fits (half span at
// most 1.8 m over the radius; rotorcraft on helicopter stands only, nothing
// else there), preferring the stand its flight had on another day, a stand
// meant for its airline, a stand of its kind (cargo or not), a gate over a
// remote stand, and the tightest fit.
Placement placeVisits(const std::vector<StandRow>& stands, const std::vector<Visit>& visits);

std::vector<StandRow> readStandTable(const std::filesystem::path& csv);

// Writes downloads/P3D/archive/stock/<ICAO>.xml into the server tree for
// every airport with a stand table in data/stands or data/stands_osm; the
// program's database must be loaded (registrations, wingspans, classes).
// Adds its figures to counts.
void writeStockParkFiles(const std::filesystem::path& data, const std::filesystem::path& server,
                         std::map<std::string, std::size_t>& counts);

}  // namespace refdata
