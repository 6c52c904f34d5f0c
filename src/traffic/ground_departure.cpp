// Leaving the ground: the way off a stand (push-back with its phases, or
// pulling out forwards), the detection of a take-off run from the reports,
// the run's start and the lift-off that hands over to the rotation.
#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "core/log.h"
#include "traffic/ground_motion.h"
#include "traffic/traffic_manager.h"

namespace vntx::traffic {

namespace {

constexpr double kNmPerMetre = 0.0005399568034557236;

// How far an aircraft backs or pulls out of its stand: 2.5 stand radii; a
// stand of unknown size counts as its half span plus a metre.
double standExitDistance(const LiveAircraft& ac) {
    const double radius = ac.standRadius > 0 ? ac.standRadius : std::max(ac.halfWingspan, 10 * kNmPerMetre) + kNmPerMetre;
    return 2.5 * radius;
}

// The stand an aircraft leaves: freed when its reports started the leave,
// named still.
std::string leavingLabel(const LiveAircraft& ac) { return ac.standName.empty() ? standLabel(ac) : ac.standName; }

std::int32_t taxiTicks(const LiveAircraft& ac, double distNm) {
    const double taxi = std::max(1.0, ac.motion.standTaxiSpeed);
    return static_cast<std::int32_t>(std::max<long>(1, std::lround(distNm / taxi * 360000)));
}

}  // namespace

void TrafficManager::leaveStand(LiveAircraft& ac) {
    const TrafficRecord& first = ac.stream[1];
    const double toReports = bearingRad(ac.standLatitude, ac.standLongitude, first.latitude, first.longitude);
    const bool atStand = ac.standLatitude != 0 || ac.standLongitude != 0;
    const double off = atStand ? std::fabs(angleDiff(toReports, ac.standHeading)) : 0;
    if (off < kPi / 2)
        pullOut(ac);
    else
        pushBack(ac);
}

void TrafficManager::pushBack(LiveAircraft& ac) {
    const double dist = standExitDistance(ac);
    const double back = normalizeHeading(ac.standHeading + kPi);
    const double taxi = std::max(1.0, ac.motion.standTaxiSpeed);
    TrafficRecord front = ac.stream.front();
    TrafficRecord target = front;
    target.latitude = ac.pos.latitude;
    target.longitude = ac.pos.longitude;
    movePoint(target.latitude, target.longitude, back, dist);
    target.airborne = false;
    target.groundSpeed = taxi;
    target.scheduledTick = tick_ + taxiTicks(ac, dist);
    setStationary(target, false);
    front.scheduledTick = tick_;  // a parked aircraft's report may be due long ago
    // The reports already here are the real aircraft's way after the push.
    std::deque<TrafficRecord> later(ac.stream.begin() + 1, ac.stream.end());
    ac.stream.clear();
    ac.stream.push_back(front);
    ac.stream.push_back(target);
    insertHalfway(ac, 1);
    for (auto& r : later) {
        if (r.scheduledTick <= ac.stream.back().scheduledTick) r.scheduledTick = ac.stream.back().scheduledTick + 1;
        ac.stream.push_back(r);
    }
    ac.pushBackLatitude = target.latitude;
    ac.pushBackLongitude = target.longitude;
    const std::int32_t first = target.scheduledTick - tick_;
    ac.pushBackEndTick = target.scheduledTick + first / 2 + taxiTicks(ac, ac.halfWingspan);
    ac.curvedPushBack = ac.halfWingspan > 0;
    ac.pushBackSide = 1;
    ac.turnToCourse = false;
    ac.course = ac.pos.heading;
    lights(ac, {1, 1, 0, 0, 0, 1, 1});
    setFlightState(ac, FlightState::pushing_back);
    ac.pushBackPhase = 2;
    logf("{:8}: {:8} pushing back", leavingLabel(ac), ac.callsign);
}

void TrafficManager::pushBackPhaseStep(LiveAircraft& ac) {
    --ac.pushBackPhase;
    if (ac.pushBackPhase == 1) {
        // Reached the halfway point; the next report is the target.
        if (!ac.curvedPushBack || ac.stream.size() < 2) return;
        TrafficRecord end = ac.stream[1];
        movePoint(end.latitude, end.longitude, normalizeHeading(ac.standHeading + ac.pushBackSide * kPi / 2),
                  ac.halfWingspan);
        const double rate = std::max(1e-6, ac.motion.baseTurnRate);
        const auto turnTicks = std::max<long>(1, std::lround(kPi / 2 / rate));
        // The curve takes as long as a quarter turn at the base rate; the
        // end is due when the curve gets there.
        end.scheduledTick = std::max<std::int32_t>(ac.pushBackEndTick, tick_ + static_cast<std::int32_t>(turnTicks));
        TrafficRecord still = end;
        still.groundSpeed = 0;
        setStationary(still, true);
        still.scheduledTick = end.scheduledTick + 900;  // the wait before taxiing
        ac.stream.insert(ac.stream.begin() + 2, end);
        ac.stream.insert(ac.stream.begin() + 3, still);
        for (std::size_t i = 4; i < ac.stream.size(); ++i)
            if (ac.stream[i].scheduledTick <= ac.stream[i - 1].scheduledTick)
                ac.stream[i].scheduledTick = ac.stream[i - 1].scheduledTick + 1;
        makeCurve(ac, 90);
        ac.turnRate = ac.motion.baseTurnRate;
        ac.curve.step = 1.0 / static_cast<double>(ac.stream[1].scheduledTick - tick_);
        return;
    }
    if (ac.pushBackPhase >= 1) return;
    if (!ac.curvedPushBack && ac.stream.size() >= 2 && !isStationary(ac.stream[1])) {
        TrafficRecord still = ac.stream[0];
        still.groundSpeed = 0;
        setStationary(still, true);
        still.scheduledTick = tick_ + 900;
        ac.stream.insert(ac.stream.begin() + 1, still);
    }
    ac.course = ac.pos.heading;
    event(ac, "ENGINE_AUTO_START", 0);
    sendThrottle(ac, 0);
    gf_setFlaps(ac, 1);
    setFlightState(ac, FlightState::pushed_back);
    ac.pushBackPhase = 1;
    ac.pushBackWait = 900;
    ac.extensionCounter = 0;
    ac.groundCurveActive = false;
}

void TrafficManager::pushBackDirection(LiveAircraft& ac, const TrafficRecord& rec) {
    if (ac.pushBackPhase < 2) return;
    double rel;
    if (rec.headingValid) {
        rel = angleDiff(rec.trueHeading, ac.pos.heading);
    } else {
        rel = angleDiff(rec.track * kDeg, ac.pos.heading);
        // Moving tail first: the track against the tail's direction.
        if (std::fabs(rel) > kPi / 2) rel = angleDiff(rec.track * kDeg, ac.pos.heading + kPi);
    }
    if (std::fabs(rel) < 1 * kDeg) return;
    // The nose turning right swings the tail to the left of the stand heading.
    ac.pushBackSide = rel > 0 ? -1 : 1;
}

void TrafficManager::pullOut(LiveAircraft& ac) {
    TrafficRecord& front = ac.stream.front();
    front.groundSpeed = std::max(1.0, ac.motion.standTaxiSpeed);
    const double dist = standExitDistance(ac);
    TrafficRecord exit = front;
    exit.latitude = ac.pos.latitude;
    exit.longitude = ac.pos.longitude;
    movePoint(exit.latitude, exit.longitude, ac.standHeading, dist);
    exit.airborne = false;
    setStationary(exit, false);
    exit.scheduledTick = tick_ + taxiTicks(ac, dist);
    ac.stream.insert(ac.stream.begin() + 1, exit);
    for (std::size_t i = 2; i < ac.stream.size(); ++i)
        if (ac.stream[i].scheduledTick <= ac.stream[i - 1].scheduledTick)
            ac.stream[i].scheduledTick = ac.stream[i - 1].scheduledTick + 1;
    setFlightState(ac, FlightState::taxi);
    ac.course = ac.pos.heading;
    ac.turnToCourse = false;
    lights(ac, {1, 1, 0, 1, 0, 1, 1});
    event(ac, "ENGINE_AUTO_START", 0);
    sendThrottle(ac, 0);
    gf_setFlaps(ac, 1);
    logf("{:8}: {:8} pulling out", leavingLabel(ac), ac.callsign);
}

void TrafficManager::takeOffDetection(LiveAircraft& ac, const TrafficRecord& rec) {
    if (ac.takeOffRun || ac.stream.empty()) return;
    const bool rotor = ac.category == Category::Rotorcraft;
    if (ac.touchedDown && ac.landingRoll && rec.airborne) {
        // Touch and go.
        setFlightState(ac, FlightState::taxi);
        ac.takeOffRun = true;
        sendThrottle(ac, 3);
        if (!rotor) event(ac, "SPOILERS_SET", 16383);
        gf_setFlaps(ac, 1);
        lights(ac, {1, 1, 1, 1, 1, 1, 0});
        ac.earlierWindow = 3000;
        ac.laterWindow = 5000;
        return;
    }
    if (ac.flightState != FlightState::taxi || ac.landingRoll) return;
    const TrafficRecord& newest = ac.stream.back();
    bool fastOnGround = !rec.airborne && !newest.airborne && rec.groundSpeed >= 43 && newest.groundSpeed >= 43;
    // A stale reported speed does not start a run: the positions must move
    // at least at taxi speed too.
    const double seconds = rec.timestamp - newest.timestamp;
    if (fastOnGround && seconds > 0 &&
        distanceNm(newest.latitude, newest.longitude, rec.latitude, rec.longitude) * 3600 / seconds < 30)
        fastOnGround = false;
    // Nor does a roll that slows down: that is a landing roll, of an aircraft
    // first seen on the runway after its touchdown.
    if (rec.groundSpeed < newest.groundSpeed) fastOnGround = false;
    if (fastOnGround || rec.airborne) takeOffStart(ac);
}

void TrafficManager::takeOffStart(LiveAircraft& ac) {
    if (ac.towed) logErrorf("towed aircraft takes-off? {}", ac.name());
    ac.takeOffRun = true;
    if (ac.throttleIndex != 0) sendThrottle(ac, 0);
    if (ac.category != Category::Rotorcraft) event(ac, "SPOILERS_SET", 0);
    gf_setFlaps(ac, 1);
    ac.touchedDown = false;
    ac.flareStage = 0;
    lights(ac, {1, 1, 1, 1, 1, 1, 0});
    ac.earlierWindow = 3000;
    ac.laterWindow = 5000;
    if (!ac.operatorCode.empty() && services_.softLearning) services_.softLearning(ac);
}

void TrafficManager::liftOff(LiveAircraft& ac, int ticks) {
    if (ac.flightState == FlightState::take_off || ac.stream.back().groundSpeed < 43) return;
    const bool allClimb = std::all_of(ac.stream.begin(), ac.stream.end(),
                                      [](const TrafficRecord& r) { return r.verticalRate > 256; });
    if (allClimb) {
        ac.climbPerTick = std::max(ac.stream[1].altitude - ac.pos.altitude, 0.1) / std::max(1, ticks);
        startRotation(ac);
        return;
    }
    const double liftOffSpeed = categoryLimits(ac.category).speedThreshold;
    if (std::all_of(ac.stream.begin() + 1, ac.stream.end(),
                    [&](const TrafficRecord& r) { return r.groundSpeed >= liftOffSpeed; })) {
        ac.climbPerTick = ac.motion.maxClimbPerTick;
        startRotation(ac);
    }
}

}  // namespace vntx::traffic
