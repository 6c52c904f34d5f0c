// Traffic recordings for the RealTraffic stand-in: one report per line, the
// converters from the real recordings, and the traffic and weather datagrams
// in the layout the program's traffic reader decodes.
//
// Recording line (comma separated, "#" starts a comment line):
//   time,hex,lat,lon,alt,vs,track,gs,callsign,type,registration,origin,
//   destination,tas,roll,heading,category,ground
// time: seconds since 1970 (decimals allowed); hex: ICAO address, 6 hex
// digits; alt in feet; vs in ft/min; track and heading in degrees true (empty
// heading: unknown); gs and tas in knots (tas -1: unknown); roll in degrees
// (-1: unknown); texts may be empty; ground: 1 on the ground, else 0.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rtfeed {

struct Report {
    double time = 0;
    std::uint32_t hex = 0;
    double lat = 0, lon = 0;
    double altitude = 0;
    double verticalRate = 0;
    double track = 0;
    double groundSpeed = 0;
    std::string callsign, type, registration, origin, destination;
    double trueAirspeed = -1;
    double roll = -1;
    std::optional<double> heading;
    std::string category;
    bool onGround = false;
};

// Registration and type by ICAO address.
struct AircraftInfo {
    std::string registration;
    std::string type;
};
class RegistrationDb {
public:
    // Reads "icao24,r,t" or the standing-data layout (ICAO,Registration,ModelICAO,...);
    // earlier loads win. Returns the number of entries read.
    std::size_t load(const std::string& path);
    const AircraftInfo* find(std::uint32_t hex) const;
    std::size_t size() const { return map_.size(); }
    // Fills registration and type where the report lacks them.
    void fill(Report& r) const;

private:
    std::unordered_map<std::uint32_t, AircraftInfo> map_;
};

std::string formatReport(const Report& r);
// Throws std::runtime_error naming the problem.
Report parseReport(std::string_view line);

std::vector<Report> readRecording(std::istream& in);
std::vector<Report> readRecordingFile(const std::string& path);
void writeRecording(std::ostream& out, const std::vector<Report>& reports, const std::string& header);

// Converters from the real recordings (each returns reports sorted by time).
std::vector<Report> convertFr24Csv(std::istream& in);       // timestamp,lat,long,alt,hangle,gspeed,icao24,...
std::vector<Report> convertOpenSkyJson(std::istream& in);   // JSON array with onground flags
std::vector<Report> convertReadsbTrace(std::istream& in);   // readsb trace_full file
std::vector<Report> convertReadsbPoints(std::istream& in);  // one readsb point per line

enum class Format { Recording, Fr24Csv, OpenSkyJson, ReadsbTrace, ReadsbPoints };
Format guessFormat(const std::string& path);
std::optional<Format> formatByName(std::string_view name);
std::vector<Report> loadAny(const std::string& path, Format format);

// The traffic datagram of one report, with the given time stamp.
// Recordings sampled sparsely (one report a minute) filled in to about one
// report every stepSeconds, as a live feed would send them: between two reports
// of an aircraft at most maxGap seconds apart, positions, altitude, speed and
// track are interpolated (longitude the short way round). Sorted by time.
std::vector<Report> densify(const std::vector<Report>& reports, double stepSeconds, double maxGap = 180);

std::string trafficDatagram(const Report& r, double timestamp);
// A weather datagram carrying the QNH (hPa).
std::string weatherDatagram(int qnh, std::string_view station);

std::uint32_t parseHex(std::string_view text);

}  // namespace rtfeed
