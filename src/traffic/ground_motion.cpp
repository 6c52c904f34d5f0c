// Taxiing: the shape of each ground leg (curves through the reports instead
// of pivots, halfway reports for long turns and speed changes), the ground
// schedule with its turn rate, the per-leg heading and throttle step, the
// runway exit after a landing roll and the move onto a stand.
#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "core/log.h"
#include "traffic/ground_motion.h"
#include "traffic/traffic_manager.h"

namespace vntx::traffic {

namespace {

constexpr double kMetresPerDegree = 111132.95;
constexpr double kNmPerMetre = 0.0005399568034557236;

}  // namespace

LocalPoint toLocal(double originLatitude, double originLongitude, double latitude, double longitude) {
    return {(latitude - originLatitude) * kMetresPerDegree,
            wrapLongitudeDelta(longitude - originLongitude) * std::cos(originLatitude * kDeg) * kMetresPerDegree};
}

bool curvePoint(const GroundCurve& c, double t, double& latitude, double& longitude, double& tangent) {
    if (!(t >= 0 && t <= 1)) return false;
    const double u = 1 - t;
    const double n = 2 * u * t * c.controlNorth + t * t * c.endNorth;
    const double e = 2 * u * t * c.controlEast + t * t * c.endEast;
    const double dn = 2 * u * c.controlNorth + 2 * t * (c.endNorth - c.controlNorth);
    const double de = 2 * u * c.controlEast + 2 * t * (c.endEast - c.controlEast);
    const double cosLat = std::cos(c.originLatitude * kDeg);
    if (!std::isfinite(n) || !std::isfinite(e) || cosLat <= 1e-9) return false;
    latitude = c.originLatitude + n / kMetresPerDegree;
    longitude = c.originLongitude + e / (cosLat * kMetresPerDegree);
    if (longitude > 180) longitude -= 360;
    if (longitude < -180) longitude += 360;
    tangent = (dn == 0 && de == 0) ? std::nan("") : normalizeHeading(std::atan2(de, dn));
    return true;
}

void drive2Stand(LiveAircraft& ac, double standLatitude, double standLongitude, double standHeading) {
    if (ac.stream.empty()) {
        logErrorf("{} empty sz?", "drive2Stand");
        return;
    }
    const TrafficRecord& newest = ac.stream.back();
    const double taxi = std::max(1.0, ac.motion.standTaxiSpeed);
    const double dist = distanceNm(newest.latitude, newest.longitude, standLatitude, standLongitude);
    const auto travel = std::max<long>(100, std::lround(dist * 360000 / taxi));
    TrafficRecord at = newest;
    at.latitude = standLatitude;
    at.longitude = standLongitude;
    at.airborne = false;
    at.groundSpeed = taxi;
    at.track = standHeading / kDeg;
    at.trueHeading = standHeading;
    at.headingValid = true;
    at.scheduledTick = newest.scheduledTick + static_cast<std::int32_t>(travel);
    at.timestamp = newest.timestamp + travel / 100.0;
    setStationary(at, samePosition(newest, at));
    TrafficRecord still = at;
    still.groundSpeed = 0;
    setStationary(still, true);
    still.scheduledTick = at.scheduledTick + 50;
    still.timestamp = at.timestamp + 0.5;
    ac.stream.push_back(at);
    ac.stream.push_back(still);
    ac.course = standHeading;
    ac.extensionCounter = 0;
    ac.earlierWindow = 3000;
    ac.laterWindow = 5000;
}

std::string standLabel(const LiveAircraft& ac) {
    if (ac.standId == 0) return "sid==0?";
    return ac.standName.empty() ? std::string("sid==?") : ac.standName;
}

void TrafficManager::setFlightState(LiveAircraft& ac, FlightState fs) {
    if (ac.flightState == fs) return;
    ac.previousFlightState = ac.flightState;
    ac.flightState = fs;
}

// The halfway report between stream[i - 1] and stream[i].
void TrafficManager::insertHalfway(LiveAircraft& ac, std::size_t i) {
    const TrafficRecord& a = ac.stream[i - 1];
    const TrafficRecord& b = ac.stream[i];
    TrafficRecord h = b;
    h.latitude = (a.latitude + b.latitude) / 2;
    h.longitude = a.longitude + wrapLongitudeDelta(b.longitude - a.longitude) / 2;
    h.groundSpeed = (a.groundSpeed + b.groundSpeed) / 2;
    h.altitude = (a.altitude + b.altitude) / 2;
    h.scheduledTick = a.scheduledTick + (b.scheduledTick - a.scheduledTick) / 2;
    h.timestamp = (a.timestamp + b.timestamp) / 2;
    setStationary(h, false);
    ac.stream.insert(ac.stream.begin() + static_cast<std::ptrdiff_t>(i), h);
}

void TrafficManager::makeCurve(LiveAircraft& ac, double turnDegrees) {
    TrafficRecord& third = ac.stream[2];
    if (third.groundSpeed == 0) third.groundSpeed = (ac.stream[0].groundSpeed + ac.stream[1].groundSpeed) / 2;
    const TrafficRecord& next = ac.stream[1];
    GroundCurve& c = ac.curve;
    c.originLatitude = ac.pos.latitude;
    c.originLongitude = ac.pos.longitude;
    const LocalPoint control = toLocal(c.originLatitude, c.originLongitude, next.latitude, next.longitude);
    const LocalPoint end = toLocal(c.originLatitude, c.originLongitude, third.latitude, third.longitude);
    c.controlNorth = control.north;
    c.controlEast = control.east;
    c.endNorth = end.north;
    c.endEast = end.east;
    c.t = 0;
    c.step = 0;
    ac.curveTurn = turnDegrees;
    ac.groundCurveActive = true;
    ac.turnToCourse = false;
    ac.stream.erase(ac.stream.begin() + 1);
}

void TrafficManager::groundStep(LiveAircraft& ac) {
    switch (ac.flightState) {
        case FlightState::pushing_back:
            pushBackPhaseStep(ac);
            return;  // the push-back points carry their own times
        case FlightState::parked:
            ac.earlierWindow = 3000;
            ac.laterWindow = ac.takeOffRun ? 5000 : 3000;
            if (!isStationary(ac.stream[1])) {
                leaveStand(ac);
                if (ac.flightState == FlightState::pushing_back) return;
            }
            break;
        case FlightState::pushed_back:
            if (!isStationary(ac.stream[1])) {
                setFlightState(ac, FlightState::taxi);
                shapeLeg(ac);
            }
            break;
        case FlightState::parking:
            break;  // drive2Stand set the course to the stand heading
        default:
            shapeLeg(ac);
            break;
    }
    standEntry(ac);
    if (ac.stream.size() >= 2) groundSchedule(ac);
}

void TrafficManager::shapeLeg(LiveAircraft& ac) {
    if (isStationary(ac.stream[1])) return;
    bool curved = false;
    if (ac.stream.size() >= 3 && !isStationary(ac.stream[2])) {
        const TrafficRecord& front = ac.stream[0];
        const TrafficRecord& next = ac.stream[1];
        const TrafficRecord& third = ac.stream[2];
        const double leg1 = bearingRad(front.latitude, front.longitude, next.latitude, next.longitude);
        const double leg2 = bearingRad(next.latitude, next.longitude, third.latitude, third.longitude);
        const double turn = std::fabs(angleDiff(leg2, leg1)) / kDeg;
        const double legLength = distanceNm(front.latitude, front.longitude, next.latitude, next.longitude);
        if (turn <= 3) {
            // straight
        } else if (turn > 45 && legLength > 0.027 && front.groundSpeed <= 43 &&
                   next.scheduledTick - front.scheduledTick >= 600) {
            insertHalfway(ac, 1);
            makeCurve(ac, 5);
            curved = true;
        } else if (turn <= 160) {
            if (!samePosition(third, front)) {
                makeCurve(ac, turn);
                curved = true;
            }
        }
    }
    if (curved) return;
    const TrafficRecord& front = ac.stream[0];
    const TrafficRecord& next = ac.stream[1];
    const double legLength = distanceNm(front.latitude, front.longitude, next.latitude, next.longitude);
    if ((!isStationary(front) || !isStationary(next)) && std::fabs(front.groundSpeed - next.groundSpeed) > 5 &&
        legLength >= 100 * kNmPerMetre)
        insertHalfway(ac, 1);
    const TrafficRecord& to = ac.stream[1];
    ac.course = bearingRad(ac.pos.latitude, ac.pos.longitude, to.latitude, to.longitude);
    const double diff = std::fabs(angleDiff(ac.course, ac.pos.heading)) / kDeg;
    ac.turnToCourse = diff > 3;
    ac.curveTurn = diff;
}

void TrafficManager::standEntry(LiveAircraft& ac) {
    if (ac.flightState != FlightState::taxi || !park_ || !services_.try2Park || ac.stream.size() < 2) return;
    if (!isStationary(ac.stream.back())) return;
    const FlightState prev = ac.previousFlightState;
    const bool fromStand =
        prev == FlightState::parked || prev == FlightState::pushing_back || prev == FlightState::pushed_back;
    if (fromStand && !ac.parkingRequested) return;
    if (ac.extrapolating()) {
        services_.try2Park(ac, ac.touchedDown);
        return;
    }
    const TrafficRecord& newest = ac.stream.back();
    if (ac.stream[1].groundSpeed <= 5 &&
        distanceNm(ac.pos.latitude, ac.pos.longitude, newest.latitude, newest.longitude) <= 0.0189)
        services_.try2Park(ac, false);
}

void TrafficManager::groundSchedule(LiveAircraft& ac) {
    const TrafficRecord& next = ac.stream[1];
    if (isStationary(next)) return;
    const double dist = distanceNm(ac.pos.latitude, ac.pos.longitude, next.latitude, next.longitude);
    const double flight = std::max<long>(25, std::lround(dist * 360000 / legSpeed(ac, dist)));
    ac.turnRate = ac.motion.baseTurnRate;
    if ((ac.groundCurveActive || ac.turnToCourse) && ac.turnRate > 0 && ac.curveTurn > 0) {
        const double a = ac.curveTurn;
        // The turn at the base rate, in ticks like the flight time.
        const double t = std::max(1.0, std::round(a * kDeg / ac.turnRate));
        const double r = flight / t;
        if (a <= 45) {
            if (r >= 1.2) {
                double m = std::min(r, r * 10 / a);
                if (dist > 0) m = std::min(m, r * 30 * kNmPerMetre / dist);
                if (m > 0) ac.turnRate *= 1 / m;
            } else if (r > 0) {
                ac.turnRate *= 1 / r;
            }
        } else {
            // Faster for a big turn, never slower than the base rate.
            ac.turnRate *= std::max(1.0, std::min(r, std::min(a, 90.0) / 30));
            if (a >= 90) {
                ac.earlierWindow = std::max(ac.earlierWindow, 2000);
                ac.laterWindow = std::max(ac.laterWindow, 2000);
            }
        }
    }
    scheduleStep(ac);
}

void TrafficManager::groundHeadingStep(LiveAircraft& ac, int ticks) {
    if (ac.flightState == FlightState::parked || ac.flightState == FlightState::flying)
        setFlightState(ac, FlightState::taxi);
    if (ac.groundCurveActive && ac.flightState != FlightState::pushing_back) ac.curve.step = 1.0 / std::max(1, ticks);
    const bool rotor = ac.category == Category::Rotorcraft;
    const TrafficRecord& front = ac.stream[0];
    const TrafficRecord& next = ac.stream[1];
    if (ac.takeOffRun) {
        int index = 4;
        if (!(rotor || front.groundSpeed >= 25 || next.groundSpeed >= 30)) {
            if (front.groundSpeed >= 20 || next.groundSpeed >= 25)
                index = 2;
            else if (front.groundSpeed >= 15 || next.groundSpeed >= 20)
                index = 1;
            else
                index = 0;
        }
        sendThrottle(ac, index);
        liftOff(ac, ticks);
    } else if (!ac.landingRoll) {
        sendThrottle(ac, rotor ? 4 : 0);
    }
    if (ac.landingRoll) runwayExitCheck(ac);
    if (!ac.landingRoll && !ac.takeOffRun) decayWindows(ac);
}

void TrafficManager::runwayExitCheck(LiveAircraft& ac) {
    const bool rotor = ac.category == Category::Rotorcraft;
    const bool light = ac.category == Category::Light;
    if (std::fabs(angleDiff(ac.pos.heading, ac.touchdownHeading)) >= 15 * kDeg) {
        gf_setFlaps(ac, 0);
        ac.landingRoll = false;
        ac.touchdownHeading = 0;
        ++stats_.runwayExits;
        sendThrottle(ac, rotor ? 4 : 0);
        if (!rotor) event(ac, "SPOILERS_SET", 0);
        if (!light && ac.objectId != 0) sim_.setControlBlock(ac.objectId, 0, 0, 0);
        lights(ac, {1, 1, 0, 1, 0, 1, 1});
        return;
    }
    if (ac.stream[0].groundSpeed <= 90 && !ac.rollOutSlowed) {
        ac.rollOutSlowed = true;
        if (!rotor) event(ac, "SPOILERS_SET", 0);
        if (!light && ac.objectId != 0) sim_.setControlBlock(ac.objectId, 0, 0, 0);
        gf_setFlaps(ac, 1);
    }
}

void TrafficManager::groundCurveStep(LiveAircraft& ac) {
    GroundCurve& c = ac.curve;
    c.t = std::clamp(c.t + c.step, 0.0, 0.999999);
    double lat = 0, lon = 0, tangent = 0;
    if (!curvePoint(c, c.t, lat, lon, tangent)) {
        logf("{} error in curve at index: {:.2F}", ac.name(), c.t);
        ac.groundCurveActive = false;
        return;
    }
    ac.pos.latitude = lat;
    ac.pos.longitude = lon;
    if (std::isnan(tangent)) return;
    if (ac.flightState == FlightState::pushing_back) tangent = normalizeHeading(tangent + kPi);
    const double diff = angleDiff(tangent, ac.pos.heading);
    if (std::fabs(diff) > 0.5 * kDeg) {
        const double step = std::min(std::fabs(diff), ac.turnRate);
        ac.pos.heading = normalizeHeading(ac.pos.heading + (diff > 0 ? step : -step));
    }
}

}  // namespace vntx::traffic
