// Airport park files: an airport's stands and the aircraft real traffic was
// seen parking on each, read from the maker's archive (downloaded on demand),
// the user's own folders or the airport scan, merged with what the program
// learned itself, and written back as learned files.
//
// The stand list is a plain table: static parking and stand allocation search
// it with free functions and mark stands through `marks`.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/files.h"

namespace pugi {
class xml_document;
}

namespace vntx {

// One "opt": an aircraft seen parked at a stand.
struct StandOccupancy {
    std::string airline;         // ICAO airline code
    std::string type;            // aircraft type code
    std::string reg;             // registration
    std::string callsign;        // "cs" up to the first ":"
    std::string callsign_extra;  // "cs" after the first ":", shown when it leaves within the half hour
    HalfHourSet hours;           // half-hour slots 0..47 of the day
    std::uint32_t number = 0;    // 1-based within the stand; 0: withdrawn, not written back
    std::uint32_t day = 0;       // 1 = Monday .. 7 = Sunday; others count as no day
    std::uint32_t source = 0;    // 1: from the archived or generated file, 0: learned
    bool real = true;            // false: a "soft" occurrence
};

// Run-time marks of a stand (static parking), cleared before each use.
inline constexpr std::uint8_t kStandTaken = 1;
inline constexpr std::uint8_t kStandReserved = 2;
inline constexpr std::uint8_t kStandBlocked = 4;

struct ParkPosition {
    std::vector<StandOccupancy> occupancies;
    std::string id;                        // unique within the file
    std::vector<std::uint32_t> neighbours; // indexes of overlapping stands
    double lat = 0.0, lon = 0.0;           // degrees
    double heading = 0.0;                  // radians
    double radius = 0.0;                   // nautical miles
    std::uint32_t index = 0;               // 1-based place in the list
    std::uint8_t marks = 0;
    bool manual = false;                   // made by hand in a learned file
    bool radius_change = false;
    bool cargo_change = false;
    bool cargo = false;
    bool ramp = false;
    bool heli = false;
};

struct ParkAirport {
    std::string code;          // ICAO code of the park airport (the caller sets it)
    std::string airport_name;
    std::string publisher;     // "stock", "simaddon", or the add-on's publisher
    std::int32_t altitude = 0; // feet
    std::string BGLpath;
    std::int32_t Qf_real = -1, Qf_soft = -1;  // 0..100, -1 unknown
    bool handmade = false;
    std::int32_t RT_traffic_week = 0;
    std::vector<ParkPosition> positions;
    unsigned updates = 0;      // learned changes since the last save
};

// The program's current park airport.
ParkAirport& currentParkAirport();

// ------------------------------------------------------------------ places

// Folders under the program folder.
inline constexpr const char* kLearnedFolder = "airports/learned";
inline constexpr const char* kThirdpartyFolder = "airports/my_thirdparty";
inline constexpr const char* kOrbxFolder = "airports/my_ORBX";
// Park files downloaded from the maker's archive are kept here, by location.
inline constexpr const char* kStockFolder = "airports/stock";

// The location of the airport's park file: a local path ("airports/...") or
// a path on the maker's server ("archive/..."); empty when there is none.
// Throws std::filesystem::filesystem_error when existence cannot be tested.
std::string findParkFileLocation(std::string_view code);
// A redirect file's location: its line without trailing blanks, up to and
// including the first ".xml"; nothing when the file holds none.
std::optional<std::string> readRedirect(const std::filesystem::path& txt);
bool isLocalLocation(std::string_view location);
// Where a server location is kept on disk.
std::filesystem::path archiveCachePath(std::string_view location);
// The park file of a location on disk: the local file itself, the kept
// archive copy, or a fresh download of it. Empty path and the error text
// ("failed to download: '{url}'") when the download failed.
std::filesystem::path parkFileOnDisk(std::string_view location, std::string& error);
// The learned file of an airport: by publisher, "stock" and "simaddon" in
// their own folders, any other under thirdparty/<publisher>.
std::filesystem::path learnedFilePath(std::string_view code, std::string_view publisher);

// ------------------------------------------------------------------ reading

// Reads the park file at location into airport (airport.code must be set) and
// merges its learned file. Empty on success, else the error text. Throws
// UserErrorException 65 (no altitude) and 94 (a stand id twice).
std::string gf_readApf(std::string_view location, ParkAirport& airport);
// Merges a learned file into airport (restoring the settings it stores).
void lf_readLearned(const std::filesystem::path& learnedPath, ParkAirport& airport);
// The number of stands the park file holds as reading takes them (stands at
// 0,0 left out); nothing when it cannot be read.
std::optional<std::size_t> countParkFileStands(const std::filesystem::path& file);
// Numbers the stands 1..n and fills their neighbour lists: b is a neighbour
// of a when radius(a) + radius(b) > 1.1 x distance(a, b).
void linkStands(std::vector<ParkPosition>& positions);
// True when the stand already holds an occurrence that this one repeats: same
// day, same kind, same registration, airline and type, a common half hour.
bool repeatsOccurrence(const ParkPosition& stand, const StandOccupancy& occupancy);
// (Qf_real, Qf_soft) of the stands, 0..100 each, -1 when no stand has any occurrence.
std::pair<std::int32_t, std::int32_t> computeQualityFactors(const std::vector<ParkPosition>& positions);

// Distance in nautical miles to the nearest stand of the airport's park file
// and that stand's id; 100.0 when the airport has no park file or it cannot
// be had. The airports catalogue asks it to choose between neighbours.
double nearestStandDistance(std::string_view code, double lat, double lon, std::string& standId);

// ------------------------------------------------------------------ writing

enum class ParkFileMode {
    Learned = 0,    // what this program learned: occurrences, changes, hand-made stands, settings
    Generated = 1,  // the airport scan's file: every stand in full, no occurrences
    Archive = 2,    // the maker's archive file: every stand in full with its occurrences
};
// The park file of airport in the given mode (meta, parameters, parkpositions).
void buildParkFile(const ParkAirport& airport, ParkFileMode mode, pugi::xml_document& doc);
// buildParkFile, saved through a temporary file; false when it could not be written.
bool writeParkFile(const ParkAirport& airport, ParkFileMode mode, const std::filesystem::path& path);
// Writes the learned file of the current park airport and resets its update count.
bool saveLearnedFile();
bool saveLearnedFile(ParkAirport& airport);

// The window's counts: park files in airports/learned and airports/my_thirdparty.
void countParkFiles();
// Fills hooks().countParkFiles and checkStockAirports and gives the airports
// catalogue its closest-stand reader.
void installParkFileHooks();

}  // namespace vntx
