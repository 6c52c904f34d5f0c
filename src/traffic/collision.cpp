// Keeping the user clear: no creation in the user's way, the once-a-second
// removals of live aircraft too close to the user, of static aircraft in
// the way of the user or of taxiing live aircraft, and of the aircraft
// whose callsign the user blocked. Plain geometry in nautical miles and
// feet against the user's once-a-second position.
#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "core/cycle.h"
#include "core/log.h"
#include "core/parameters.h"
#include "traffic/ground_motion.h"
#include "traffic/traffic_manager.h"

namespace vntx::traffic {

double foldToRightAngle(double relativeDegrees) {
    const double r = relativeDegrees;
    if (r >= 0 && r <= 90) return 90 - r;
    if (r > 90) return r - 90;
    if (r >= -90) return r + 90;
    return -(r + 90);
}

namespace {

// How far (feet) a track through (lat, lon) along `course` passes the user.
double missDistanceFeet(const UserPosition& u, double lat, double lon, double course) {
    const double dist = distanceNm(u.latitude, u.longitude, lat, lon);
    const double rel = angleDiff(course, bearingRad(u.latitude, u.longitude, lat, lon)) / kDeg;
    return std::cos(foldToRightAngle(rel) * kDeg) * dist * kFeetPerNm;
}

// How far (feet) a point lies off the user's line ahead and behind.
double offUserLineFeet(const UserPosition& u, double lat, double lon) {
    const double dist = distanceNm(u.latitude, u.longitude, lat, lon);
    return std::fabs(std::sin(bearingRad(u.latitude, u.longitude, lat, lon) - u.heading)) * dist * kFeetPerNm;
}

bool moved(double lat, double lon, double lastLat, double lastLon) {
    return std::fabs(lat - lastLat) > 1e-8 || std::fabs(lon - lastLon) > 1e-8;
}

}  // namespace

bool TrafficManager::userCollisionSpawn(LiveAircraft& ac) {
    if (!user_ || ac.stream.empty()) return false;
    const UserPosition& u = *user_;
    const TrafficRecord& front = ac.stream.front();
    const double dist = distanceNm(u.latitude, u.longitude, front.latitude, front.longitude);
    bool block = false;
    if (u.onGround) {
        if (ac.spawnBlocked) {
            block = u.groundSpeed > 8 || (!front.airborne && (front.groundSpeed > 8 || dist < 500.0 / 1852.0));
        } else {
            block = !front.airborne && settings_.collisionUserGnd && dist <= 0.081;
        }
    } else if (settings_.collisionUserAir) {
        if (front.airborne && dist <= 6 && std::fabs(front.altitude - u.altitude) <= 3000) {
            if (missDistanceFeet(u, front.latitude, front.longitude, front.track * kDeg) <= 4000) ac.spawnBlocked = true;
        } else if (!front.airborne && dist <= 1.5 && u.aboveGround < 1000) {
            if (offUserLineFeet(u, front.latitude, front.longitude) <= 500) ac.spawnBlocked = true;
        }
        block = ac.spawnBlocked;
    }
    if (block) ac.stream.pop_front();
    return block;
}

void TrafficManager::collisionRemovals() {
    if (user_) {
        const UserPosition& u = *user_;
        if (u.onGround && settings_.collisionUserGnd) {
            bool removed = false;
            for (auto& ac : live_) {
                if (ac.state != AcState::active || !ac.onGround) continue;
                const double d = distanceNm(u.latitude, u.longitude, ac.pos.latitude, ac.pos.longitude);
                if (d <= 1.15 * (u.halfWingspan + ac.halfWingspan)) {
                    logf("{:8}: {:8} removed, too close to the user aircraft on the ground", standLabel(ac), ac.callsign);
                    removeAircraftFromSim(ac);
                    removed = true;
                    break;
                }
            }
            if (!removed && moved(u.latitude, u.longitude, lastStaticCheckLat_, lastStaticCheckLon_) &&
                services_.activeStaticAircraft && services_.removeStaticAircraft) {
                lastStaticCheckLat_ = u.latitude;
                lastStaticCheckLon_ = u.longitude;
                for (const auto& s : services_.activeStaticAircraft()) {
                    if (distanceNm(u.latitude, u.longitude, s.latitude, s.longitude) <=
                        1.1 * (u.halfWingspan + s.halfWingspan)) {
                        logf("{:8}: {:8} removed, in the way of the user aircraft", s.standLabel, s.callsign);
                        services_.removeStaticAircraft(s.id);
                        break;
                    }
                }
            }
        } else if (!u.onGround && settings_.collisionUserAir) {
            bool lineDone = false, crossingDone = false;
            for (auto& ac : live_) {
                if (lineDone && crossingDone) break;
                if (ac.state != AcState::active || ac.removalPending) continue;
                const double d = distanceNm(u.latitude, u.longitude, ac.pos.latitude, ac.pos.longitude);
                if (!lineDone && ac.onGround && u.aboveGround < 500 && d <= 1 &&
                    offUserLineFeet(u, ac.pos.latitude, ac.pos.longitude) <= 50) {
                    logf("{:8}: {:8} removed, on the runway line of the user aircraft", standLabel(ac), ac.callsign);
                    removeAircraftFromSim(ac);
                    lineDone = true;
                    continue;
                }
                if (!crossingDone && d <= 4 && std::fabs(ac.pos.altitude - u.altitude) <= 1000 &&
                    missDistanceFeet(u, ac.pos.latitude, ac.pos.longitude, ac.pos.heading) <= 700) {
                    logf("{:8}: {:8} removed, its path crosses the user aircraft", standLabel(ac), ac.callsign);
                    removeAircraftFromSim(ac);
                    crossingDone = true;
                }
            }
        }
    }

    if (settings_.collisionLiveParkedGnd && services_.activeStaticAircraft && services_.removeStaticAircraft) {
        std::vector<StaticAircraftView> statics;
        bool fetched = false;
        for (auto& ac : live_) {
            if (ac.state != AcState::active || !ac.onGround) continue;
            if (ac.flightState != FlightState::taxi && ac.flightState != FlightState::parking) continue;
            if (!moved(ac.pos.latitude, ac.pos.longitude, ac.lastCheckLatitude, ac.lastCheckLongitude)) continue;
            if (!fetched) {
                statics = services_.activeStaticAircraft();
                fetched = true;
            }
            if (statics.empty()) break;
            parkedAircraftCheck(ac, statics);
        }
    }

    if (cycleState().blockedCallsignChanged.exchange(false)) {
        const std::string block = params().BLOCK_CALLSIGN.get();
        settings_.blockCallsign = block;
        if (!block.empty()) {
            auto it = std::find_if(live_.begin(), live_.end(), [&](const LiveAircraft& ac) {
                return ac.callsign == block && ac.state == AcState::active;
            });
            if (it != live_.end()) removeAircraftFromSim(*it);
        }
    }
}

void TrafficManager::parkedAircraftCheck(LiveAircraft& ac, std::vector<StaticAircraftView>& statics) {
    if (ac.takeOffRun || ac.landingRoll) return;
    ac.lastCheckLatitude = ac.pos.latitude;
    ac.lastCheckLongitude = ac.pos.longitude;
    for (auto it = statics.begin(); it != statics.end(); ++it) {
        if (it->callsign == ac.callsign) continue;
        if (distanceNm(ac.pos.latitude, ac.pos.longitude, it->latitude, it->longitude) >
            1.1 * (ac.halfWingspan + it->halfWingspan))
            continue;
        logf("{:8}: {:8} removed for collision avoidance with static {}", it->standLabel, it->callsign, ac.callsign);
        services_.removeStaticAircraft(it->id);
        statics.erase(it);
        return;
    }
}

}  // namespace vntx::traffic
