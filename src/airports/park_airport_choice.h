// The choice of the park airport: the user's list of park airports
// (my_park_airports.txt and the my_thirdparty folder), and the rules that
// take, keep and drop an airport as the user's aircraft comes and goes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vntx {

inline constexpr const char* kMyParkAirportsFile = "airports/my_park_airports.txt";

struct ParkAirportEntry {
    std::string code;
    std::string stand;  // where the user's aircraft last stood here; kept free of static aircraft
    double lat = 0, lon = 0;
    double distance = 0;  // nm from the user's last position
};

// Reads the list file and adds every catalogue airport with a park file in
// the third-party folder. Logs what it skipped.
std::vector<ParkAirportEntry> lf_readMyParkAirports(const std::filesystem::path& file,
                                                    const std::filesystem::path& thirdpartyFolder);

// Remembers the stand the user's aircraft stands on at an airport: a new
// entry in front of the list and a new line in the file, or the stand of a
// listed airport replaced and its line rewritten.
void rememberUserStand(std::vector<ParkAirportEntry>& list, const std::filesystem::path& file, const std::string& code,
                       const std::string& stand);

// Distances from the position; sorted nearest first when `all`, else only
// the first entry's distance is refreshed.
void refreshDistances(std::vector<ParkAirportEntry>& list, double lat, double lon, bool all);

// In sight: at most `range` nm away and at most `height` ft high (both inclusive).
bool inSight(double distance, double altitude, int range, int height);

enum class SightChange {
    Keep,          // the park airport stays
    NearerInSight, // another listed airport is nearer and in sight: leave for it
    OutOfSight,    // leave
};
// The airborne check of the current park airport at distance d.
SightChange checkSight(double d, double altitude, int range, int height, const ParkAirportEntry* nearest,
                       std::string_view parkCode);

}  // namespace vntx
