// Writer of compiled scenery files (BGL) with airport records, for tests and
// benchmarks: the cases real add-on files rarely have (heliports, repeated
// stand ids, radii at the limits, stands at 0,0, the newer record layout)
// and trees of many add-on airports.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bglgen {

// Parking name values (the stand id prefix) and types as the files hold them.
enum Name : unsigned { kNoName = 0, kParking = 1, kNParking = 2, kGate = 10, kDock = 11, kGateA = 12 };
enum Type : unsigned {
    kRampGa = 1, kRampGaSmall = 2, kRampGaMedium = 3, kRampGaLarge = 4, kRampCargo = 5, kRampMilCargo = 6,
    kRampMilCombat = 7, kGateSmall = 8, kGateMedium = 9, kGateHeavy = 10, kDockGa = 11, kFuel = 12, kVehicle = 13,
};

struct Parking {
    unsigned name = kParking;
    unsigned number = 1;
    unsigned type = kRampGaSmall;
    float radius = 15.0f;   // metres
    float heading = 90.0f;  // degrees
    double lat = 0.0;
    double lon = 0.0;
    unsigned airlineCodes = 0;  // "AAA" words after the parking
    // Raw packed values written instead of lat/lon when set.
    std::optional<std::uint32_t> packedLat, packedLon;
};

struct Helipad {
    double lat = 0.0;
    double lon = 0.0;
    float length = 20.0f;   // metres
    float width = 20.0f;
    float heading = 0.0f;   // degrees
};

struct Airport {
    std::string ident;                // up to six of " 0-9A-Z"
    std::vector<std::string> names;   // one name subrecord each (usually one)
    double lat = 0.0;
    double lon = 0.0;
    std::int32_t altitudeMm = 0;
    bool newLayout = false;           // record 171 with ten-word parkings
    std::vector<Helipad> helipads;
    std::vector<Parking> parkings;    // no parking subrecord when empty
    unsigned taxiPoints = 8;          // taxiway point and path subrecords around the parkings
    unsigned fillers = 0;             // further small subrecords before the parkings
};

struct File {
    std::vector<Airport> airports;
    std::uint32_t headerSize = 56;
    bool exclusion = false;           // an exclusion section (type 0x65) after the airports
    unsigned objectSections = 0;      // scenery object sections without airports
    bool airportsLast = false;        // the airport section after the others
};

std::uint32_t packIdent(std::string_view ident);
std::uint32_t packLon(double lon);
std::uint32_t packLat(double lat);

// The file's bytes.
std::string write(const File& file);
// Writes the bytes to a file, creating its folder.
void writeFile(const std::filesystem::path& path, const File& file);

// An airport near the given point: `gates` gates and `ramps` ramp stands
// on a grid, a name and an altitude.
Airport sampleAirport(std::string ident, double lat, double lon, unsigned gates, unsigned ramps, bool newLayout);

// A tree of add-on sceneries: one folder per airport ("<root>/<Publisher>
// <CODE>/scenery/<CODE>_ADE.bgl"), each beside scenery files without
// airports (objects, exclusions) so that about `otherPerAirport` of every
// folder's files hold no airport.
struct TreeOptions {
    unsigned otherPerAirport = 3;
    unsigned gates = 20;
    unsigned ramps = 20;
    std::uint64_t seed = 1;
};
struct TreeAirport {
    std::string code;
    std::filesystem::path file;
    std::size_t stands = 0;
};
std::vector<TreeAirport> writeTree(const std::filesystem::path& root, const std::vector<std::string>& codes,
                                   const TreeOptions& options);

}  // namespace bglgen
