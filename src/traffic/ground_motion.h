// Ground movement pieces that the stand allocation and the tests use
// directly: local metres around a point, the taxi curve, and the drive
// onto a stand.
#pragma once

#include <string>

#include "traffic/live_aircraft.h"

namespace vntx::traffic {

struct LocalPoint {
    double north = 0, east = 0;  // metres
};
LocalPoint toLocal(double originLatitude, double originLongitude, double latitude, double longitude);

// The point of a curve at parameter t (0..1) and its tangent (radians true,
// not-a-number where the curve has no direction); false when it cannot be
// evaluated.
bool curvePoint(const GroundCurve& c, double t, double& latitude, double& longitude, double& tangent);

// Appends the reports that lead the aircraft from its newest report onto a
// stand (heading in radians): one at the stand at the stand taxi speed, then
// a stationary copy half a second later. The course becomes the stand
// heading and extrapolation ends. Called once a stand is given.
void drive2Stand(LiveAircraft& ac, double standLatitude, double standLongitude, double standHeading);

// The stand label of per-aircraft log lines.
std::string standLabel(const LiveAircraft& ac);

}  // namespace vntx::traffic
