// The airports catalogue: the airports RealTraffic supplies traffic for, read
// once per run from input/airports.enc, sorted by code, read-only afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vntx {

struct AirportEntry {
    std::string code;      // ICAO code, the key
    std::string iata;
    double lat = 0.0;      // degrees, north positive
    double lon = 0.0;      // degrees, east positive
    double alt = 0.0;      // elevation as given in the file
    std::int32_t stands = 0;  // 0: no stock park file; 1, 2, ...: stock park file class
};

// Great-circle distance in nautical miles (haversine, one minute of arc is
// one nautical mile).
double distanceNm(double lat1, double lon1, double lat2, double lon2);

// Loads the catalogue unless loaded already; true when it holds an airport.
// Throws UserErrorException(88, ...) when airports.xml cannot be used.
bool gf_readAirports();
// The preparation step (the cycle's readAirports hook).
bool readAirports();

// The catalogue in code order.
const std::vector<AirportEntry>& airportCatalogue();
// Exact, case-sensitive match of the whole code; nullptr when unknown.
const AirportEntry* findAirport(std::string_view code);
bool isRtSupportedAirport(std::string_view code);
// The closest catalogue airport within 5 nm of the position, or nullptr. When
// an airport was displaced as best during the walk, the one of the two with
// the nearer stand (by gf_readDestApfForClosestStand) is returned.
const AirportEntry* closestAirport(double lat, double lon);

// Distance in nautical miles from the position to the nearest stand of the
// airport's park file (100.0 when there is none) and that stand's id. The
// park files provide it through setClosestStandReader; until then every
// airport answers 100.0.
double gf_readDestApfForClosestStand(const AirportEntry& airport, double lat, double lon, std::string& standId);
using ClosestStandReader = std::function<double(const AirportEntry&, double, double, std::string&)>;
void setClosestStandReader(ClosestStandReader reader);

// Test support: forget the catalogue so that the next gf_readAirports reads again.
void resetAirportCatalogue();

// Fills hooks().readDataFiles (the database) and hooks().readAirports.
void installRefdataHooks();

}  // namespace vntx
