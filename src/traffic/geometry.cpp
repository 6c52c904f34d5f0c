// Geometry on the sphere: distances, bearings and headings in the units of
// the traffic code (nautical miles, degrees in, radians out).
#include "traffic/traffic_manager.h"

#include <cmath>

#include "airports/catalogue.h"

namespace vntx::traffic {

double distanceNm(double lat1, double lon1, double lat2, double lon2) {
    return vntx::distanceNm(lat1, lon1, lat2, lon2);
}

double bearingRad(double lat1, double lon1, double lat2, double lon2) {
    const double p1 = lat1 * kDeg, p2 = lat2 * kDeg;
    const double dl = (lon2 - lon1) * kDeg;
    const double y = std::sin(dl) * std::cos(p2);
    const double x = std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl);
    return normalizeHeading(std::atan2(y, x));
}

double normalizeHeading(double a) {
    a = std::fmod(a, 2 * kPi);
    if (a < 0) a += 2 * kPi;
    return a;
}

double wrapLongitudeDelta(double d) {
    while (d > 180) d -= 360;
    while (d < -180) d += 360;
    return d;
}

bool samePosition(const TrafficRecord& a, const TrafficRecord& b) {
    return std::fabs(a.latitude - b.latitude) < 1e-8 && std::fabs(a.longitude - b.longitude) < 1e-8;
}

double angleDiff(double a, double b) {
    double d = std::fmod(a - b, 2 * kPi);
    if (d > kPi) d -= 2 * kPi;
    if (d < -kPi) d += 2 * kPi;
    return d;
}

void movePoint(double& lat, double& lon, double headingRad, double distNm) {
    const double r = 3437.7467707849;  // nm, the haversine factor halved
    const double d = distNm / r;
    const double p1 = lat * kDeg, l1 = lon * kDeg;
    const double p2 = std::asin(std::sin(p1) * std::cos(d) + std::cos(p1) * std::sin(d) * std::cos(headingRad));
    const double l2 = l1 + std::atan2(std::sin(headingRad) * std::sin(d) * std::cos(p1),
                                      std::cos(d) - std::sin(p1) * std::sin(p2));
    lat = p2 / kDeg;
    lon = l2 / kDeg;
    if (lon > 180) lon -= 360;
    if (lon < -180) lon += 360;
}

}  // namespace vntx::traffic
