// A busy sky made of real tracks: the recorded flights of several recordings,
// moved from their own airport to one airport, turned by a random angle and
// flown one after the other in each of a fixed number of slots, so that that
// many aircraft report at once for as long as asked, each at the rate it was
// recorded at. Every copy of a flight is a new aircraft: its own address and
// call sign; type and registration stay the recorded ones. The random choices
// come from one seed: the same seed and recordings give the same scenario.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "recording.h"

namespace rtfeed {

// One recorded flight: the reports of one aircraft, sorted by time, and the
// centre of the recording it came from.
struct Track {
    std::vector<Report> reports;
    double originLat = 0, originLon = 0;
    double start() const { return reports.front().time; }
    double duration() const { return reports.back().time - reports.front().time; }
};

struct TrackLimits {
    double maxGapSeconds = 300;  // a longer silence ends the flight
    double minSeconds = 120;
    std::size_t minReports = 10;
    double radiusNm = 80;  // reports farther from the recording's centre are left out
};

// The airport a recording was made around: the median position of its
// reports on the ground (at least 20), else of those below 3,000 ft, else of all.
std::pair<double, double> recordingCentre(const std::vector<Report>& reports);

// The flights of a recording: split per aircraft at silences and where the
// aircraft leaves the radius; flights without a type or registration, too
// short or with too few reports are left out.
std::vector<Track> splitTracks(const std::vector<Report>& reports, double originLat, double originLon,
                               const TrackLimits& limits = {});

// A report moved from (fromLat, fromLon) to (toLat, toLon), turned by
// `degrees` clockwise about it: position, track and heading turn together.
Report moveReport(const Report& r, double fromLat, double fromLon, double toLat, double toLon, double degrees);

struct DenseOptions {
    int aircraft = 1000;
    std::uint64_t seed = 1;
    double centreLat = 0, centreLon = 0;
    double startTime = 1700000000;  // time stamp of the scenario's first second
    double seconds = 1800;
    double maxPauseSeconds = 20;  // a slot rests up to this long between two flights
};

// The scenario's reports, sorted by time (ties by address). Throws
// std::invalid_argument when there is no track to fly.
std::vector<Report> denseScenario(const std::vector<Track>& tracks, const DenseOptions& o);

}  // namespace rtfeed
