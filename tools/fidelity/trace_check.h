// Fidelity of a live run: the traffic datagrams the feed sent (with their send
// times) laid beside the AI object positions simhost traced, both on the
// system clock. Each airborne report is due a fixed delay after it was sent;
// the object flying that aircraft is measured against it at that time.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "input/traffic_decoder.h"

namespace vntx::fidelity {

struct SentReport {
    double sentAt = 0;  // seconds since 1970
    TrafficRecord record;
};

// Lines "<send time>\t<datagram>"; only datagrams the decoder accepts under
// these settings are kept (the program sees the same).
std::vector<SentReport> readSentLog(std::istream& in, const input::DecoderSettings& settings);

struct TracePoint {
    double t = 0;  // seconds since the trace started
    double lat = 0, lon = 0, alt = 0, heading = 0;  // degrees, feet, degrees
    bool onGround = false;
};

struct TraceObject {
    std::uint32_t objectId = 0;
    std::string tail, title;
    bool removed = false;
    double createdAt = -1, removedAt = -1;  // trace seconds; -1: not seen
    bool tied = false;        // released or frozen: the program took it over
    std::size_t placed = 0;   // positions set by the program (the creation not counted)
    std::vector<TracePoint> points;
};

struct SimTrace {
    double wallStart = 0;  // system clock at t = 0
    double end = 0;        // the last time stamp of the trace
    std::map<std::uint32_t, TraceObject> objects;  // AI objects only
};

// simhost's JSON-lines trace: the start record, creations, positions, removals.
SimTrace readSimTrace(std::istream& in);

struct TraceFigures {
    std::size_t objectsCreated = 0, objectsRemoved = 0, objectsMoved = 0;
    std::size_t objectsMatched = 0;  // tied to one aircraft of the reports
    // Objects that lived long enough to be taken over and moved, and those of
    // them the program never took over, or never placed.
    std::size_t objectsLivedLong = 0;
    std::vector<std::uint32_t> neverTied, neverPlaced;
    std::size_t airborneAircraft = 0;   // distinct aircraft with an accepted airborne report
    std::size_t airborneCreated = 0;    // of them, flown by an object
    std::vector<std::uint32_t> airborneNotCreated;
    std::size_t samples = 0;            // airborne reports measured at their due time
    std::size_t notInSim = 0;           // due while their aircraft had no object
    double median = 0, p95 = 0, max = 0;  // metres
    // The same reports measured a little after their due time: the delay
    // (0 to kMaxLagSeconds) at which the objects fit them best, and the
    // figures there. A run whose messages take longer to reach the
    // simulator flies the same paths that much later.
    double lag = 0;                          // seconds
    double lagMedian = 0, lagP95 = 0;        // metres
    double maxStep = 0;                 // metres between two positions of one object
    double maxStepSpeed = 0;            // knots implied by the largest step for its time
    std::uint32_t maxStepObject = 0;    // where it was: object and trace seconds
    double maxStepAt = 0;
    std::size_t teleports = 0;          // steps longer than twice the aircraft's top speed allows
    double maxHeadingRate = 0;          // degrees per second over one-second windows
    // on the ground
    std::size_t groundSamples = 0, groundNotInSim = 0;  // ground reports measured at their due time
    double groundMedian = 0, groundP95 = 0, groundMax = 0;  // metres
    double groundP99HeadingRate = 0, groundMaxHeadingRate = 0;  // degrees per second, one-second windows
    // Landings seen in the trace: touchdowns (airborne, then on the ground),
    // of them those that slowed below 30 kt, turned 15 degrees or more off
    // the touchdown heading (off the runway), and that ended removed or
    // standing still.
    std::size_t touchdowns = 0, rolledOut = 0, runwayExits = 0, landedEnded = 0;
};

// How far the simulator's receipt of a position may lag its sending.
inline constexpr double kReceiptJitterSeconds = 0.5;

// The longest lag behind the due time looked for, and its step.
inline constexpr double kMaxLagSeconds = 0.3;
inline constexpr double kLagStepSeconds = 0.005;

// An object that lives this long must have been taken over and placed.
inline constexpr double kTakeOverSeconds = 10;

// delaySeconds: how long after its arrival a report is due. Reports due
// before firstDue or after lastDue (seconds since 1970, 0: no limit) are
// not measured.
TraceFigures checkTrace(const SimTrace& trace, const std::vector<SentReport>& reports, double delaySeconds = 30,
                        double lastDue = 0);

std::string formatTraceFigures(const TraceFigures& f);

// One stand of a park file, for the map.
struct StandMark {
    double lat = 0, lon = 0;
    double radiusM = 0;
    std::string id;
};
// The stands ("parkpos") of a park file; empty when it cannot be read.
std::vector<StandMark> readStandMarks(const std::string& parkFileText);

// The airport of a park file as the decoder's park airport (the middle of
// its stands, its "altitude"), so that ground reports around it are kept as
// the program keeps them; none without stands.
std::optional<input::ParkAirportRef> parkAirportOf(const std::string& parkFileText);

// The area a map shows, in degrees.
struct MapFrame {
    double minLat = 0, minLon = 0, maxLat = 0, maxLon = 0;
};
// "LAT1,LON1,LAT2,LON2" (corners in either order); none when it is not four
// numbers or encloses no area.
std::optional<MapFrame> parseMapFrame(const std::string& text);

// A map of reported positions (dots) against the traced paths (lines), with
// the stands (circles) and the objects that never moved, the parked aircraft
// (green squares). It spans all traffic unless a frame is given: then only
// the frame (an airport), with what lies outside cut off at its edge.
std::string traceSvg(const SimTrace& trace, const std::vector<SentReport>& reports,
                     const std::vector<StandMark>& stands = {}, const std::optional<MapFrame>& frame = std::nullopt);

}  // namespace vntx::fidelity
