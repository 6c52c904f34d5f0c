// Replays a real traffic recording through the traffic decoder and the live
// traffic tick against the in-process simulator stand-in, tick by tick, and
// measures how faithfully the AI objects follow the reports.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "traffic/sim_port.h"

namespace vntx::fidelity {

struct ReplayOptions {
    std::string recording;          // path (any format rtfeed reads)
    std::vector<std::string> registrationFiles;  // fill type and registration by ICAO address
    double startOffset = 0;         // seconds into the recording
    double duration = 1800;         // seconds of reports to feed
    double tail = 120;              // seconds run after the last report
    double userLatitude = 0, userLongitude = 0;
    double rangeNm = 40;
    std::optional<traffic::ParkAirportInfo> park;
    std::uint32_t seed = 1;
    std::string svgPath;            // map of reports against flown paths
    std::string tracePath;          // CSV: frame,hexid,lat,lon,alt,heading (one line a second)
    std::vector<std::uint32_t> hexids;  // only these aircraft (empty: all); the start counts from their first report
    double densifySeconds = 0;      // sparse recordings filled in to a report this often (0: as recorded)
};

// How the aircraft moved on the ground.
struct GroundFigures {
    std::size_t samples = 0;        // ground reports measured at their due time
    std::size_t notInSim = 0;
    double median = 0, p95 = 0, max = 0;  // metres
    std::size_t headingSamples = 0;       // one-second windows on the ground
    double p99HeadingRate = 0, maxHeadingRate = 0;  // degrees per second
    double maxSideways = 0, p99Sideways = 0;  // degrees between nose and motion above 3 kt, not pushing back
    std::size_t landingsFlared = 0, touchdowns = 0, rolledOut = 0, runwayExits = 0;
    std::size_t landedEnded = 0;    // landed aircraft removed or parked by the end
    std::size_t takeOffs = 0;       // take-off runs that lifted off
    std::size_t pushBacks = 0, pullOuts = 0, parked = 0;
    std::vector<std::uint32_t> stillOnRunway;  // touched down, never turned off (yet)
};

struct Figures {
    std::size_t samples = 0;        // airborne reports measured at their due time
    std::size_t notInSim = 0;       // airborne reports whose aircraft was not (yet) in the simulator
    double median = 0, p95 = 0, max = 0;  // metres
    double maxStep = 0;             // metres between two frames, any object
    std::size_t teleports = 0;      // frames whose step exceeds what the speed allows
    double maxHeadingRate = 0;      // degrees per second
    double p99HeadingRate = 0;
};

struct ReplaySummary {
    std::size_t reportsFed = 0;     // datagrams decoded and handed to the tick
    std::size_t aircraftDecoded = 0;   // distinct aircraft among them
    std::size_t airborneDecoded = 0;   // distinct aircraft with an airborne report
    std::size_t created = 0;        // objects created in the simulator
    std::size_t airborneCreated = 0;   // of the airborne aircraft
    std::size_t removed = 0;
    std::size_t aliveAtEnd = 0;
    std::size_t noLivery = 0;
    std::size_t landings = 0;
    unsigned flareStagesSeen = 0;   // bit n: some aircraft was in flare stage n
    std::size_t extrapolated = 0;
    std::map<std::string, std::size_t> liverySteps;
    std::vector<std::uint32_t> airborneNotCreated;
    Figures figures;
    GroundFigures ground;
    std::int32_t ticks = 0;
};

ReplaySummary runReplay(const ReplayOptions& options);
std::string formatSummary(const ReplaySummary& s);

// A stand-in for the aircraft database: the size class of common types.
traffic::Category categoryOfType(const std::string& type);

}  // namespace vntx::fidelity
