// Incoming reports: the filters an aircraft's new report passes before it
// joins the stream, the making of a new record, and the appending itself.
#include "traffic/traffic_manager.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include <fmt/format.h>

#include "core/log.h"

namespace vntx::traffic {

bool TrafficManager::categoryAllowed(Category c) const {
    switch (c) {
        case Category::Light: return settings_.lightAircraft;
        case Category::Rotorcraft: return settings_.helicopters;
        case Category::HighPerf: return settings_.highPerf;
        default: return true;
    }
}

bool TrafficManager::bufferAltitudeOk(const TrafficRecord& rec) const {
    const double elevation = park_ ? park_->elevation : -1000.0;
    if (rec.altitude < 10000 && rec.altitude > 0 && std::fabs(rec.altitude - elevation) <= 108) return false;
    return true;
}

void TrafficManager::handleIncoming(TrafficRecord rec) {
    if (LiveAircraft* ac = find(rec.hexid)) {
        if (ac->state == AcState::liveryrespawn || ac->state == AcState::removingfromsim) return;
        if (!ac->stream.empty()) {
            const TrafficRecord& newest = ac->stream.back();
            // Older, equal or at most a second newer than the last accepted report.
            if (rec.timestamp <= ac->lastTimestamp + 1.0) return;
            const double o = newest.groundSpeed, v = rec.groundSpeed;
            if ((o > 5 && v >= 10 * o) || (v > 5 && o >= 10 * v) || (o <= 5 && v >= 80) || (v <= 5 && o >= 80))
                return;
            if (!ac->extrapolating()) {
                const double dt = rec.timestamp - ac->lastTimestamp;
                const double trackDiff = std::fabs(angleDiff(rec.track * kDeg, newest.track * kDeg)) / kDeg;
                if (rec.airborne && v > 120 && trackDiff <= 1.0) {
                    if (v * dt / 3600.0 < 0.24298) return;
                } else if (!rec.airborne && v <= 30 && trackDiff <= 2.0) {
                    if (v <= 0) {
                        if (dt < 15) return;
                    } else if (v * dt / 3600.0 < 0.0108 && dt < 15) {
                        return;
                    }
                }
            }
        }
        if (ac->state == AcState::buffer && !bufferAltitudeOk(rec)) return;
        if (!respawnCheck(*ac, rec)) return;
        ac->lastTimestamp = rec.timestamp;
        ++stats_.reportsAccepted;
        decodeExisting(*ac, std::move(rec));
        return;
    }

    for (const auto& other : live_)
        if (!rec.callsign.empty() && other.callsign == rec.callsign && other.aircraftType == rec.aircraftType) return;

    LiveAircraft ac;
    ac.hexid = rec.hexid;
    ac.callsign = rec.callsign;
    ac.firstCallsign = rec.callsign;
    ac.registration = rec.registration;
    ac.aircraftType = rec.aircraftType;
    ac.origin = rec.origin;
    ac.destination = rec.destination;
    ac.operatorCode = rec.operatorCode;
    ac.identity2 = rec.identity2;
    if (!rec.registration.empty() && services_.lookupRegistration) {
        if (auto info = services_.lookupRegistration(rec.registration); info && !info->model.empty())
            ac.aircraftType = info->model;
    }
    ac.category = services_.category ? services_.category(ac.aircraftType) : Category::Large;
    if (!categoryAllowed(ac.category) || !bufferAltitudeOk(rec)) return;
    ac.reverseThrust = reverseThrustFor(ac.category, ac.aircraftType);
    ac.halfWingspan = services_.halfWingspan ? services_.halfWingspan(ac.aircraftType) : 0.0;
    ac.motion = motionConstants(ac.category, trafficRandom());
    ac.turnRate = ac.motion.baseTurnRate;
    ac.lastTimestamp = rec.timestamp;
    ac.pos.latitude = rec.latitude;
    ac.pos.longitude = rec.longitude;
    ac.pos.altitude = rec.altitude;
    setStationary(rec, false);
    ac.stream.push_back(std::move(rec));
    ++stats_.aircraftSeen;
    ++stats_.reportsAccepted;
    live_.push_back(std::move(ac));
}

void TrafficManager::decodeExisting(LiveAircraft& ac, TrafficRecord rec) {
    try {
        if (ac.stream.size() > 200) {
            removeAircraftFromSim(ac);
            return;
        }
        if (ac.holding && !ac.stream.empty()) {
            const auto& f = ac.stream.front();
            const double d = distanceNm(f.latitude, f.longitude, rec.latitude, rec.longitude) * 1852.0;
            if (d > settings_.holdingThresholdMeters) {
                ac.holding = false;
                ac.holdingStart = 0;
                removeAircraftFromSim(ac);
                return;
            }
        }
        setStationary(rec, false);
        if (ac.flightState == FlightState::birth) {
            if (!ac.stream.empty()) {
                const auto& newest = ac.stream.back();
                if (std::fabs(rec.latitude - newest.latitude) < 1e-8 && std::fabs(rec.longitude - newest.longitude) < 1e-8)
                    setStationary(rec, true);
                if (rec.scheduledTick <= newest.scheduledTick) rec.scheduledTick = newest.scheduledTick + 1;
            }
            ac.stream.push_back(std::move(rec));
            return;
        }
        const bool accept = ac.landingArmed ? checkNewPosDuringLanding(ac, rec) : checkExtendingSituations(ac, rec);
        if (!accept) return;
        if (!ac.stream.empty() && !rec.airborne && isStationary(ac.stream.back())) {
            const bool newStationary = std::fabs(rec.latitude - ac.stream.back().latitude) < 1e-8 &&
                                       std::fabs(rec.longitude - ac.stream.back().longitude) < 1e-8;
            if (newStationary) {
                setStationary(rec, true);
                if (std::all_of(ac.stream.begin(), ac.stream.end(), [](const TrafficRecord& r) { return isStationary(r); }))
                    ac.stream.resize(1);
            } else if (ac.stream.size() >= 3) {
                const std::size_t newestIdx = ac.stream.size() - 1;
                const std::size_t first = newestIdx >= 5 ? newestIdx - 5 : 0;
                for (std::size_t i = newestIdx; i-- > first;) {
                    const auto& m = ac.stream[i];
                    if (isStationary(m)) continue;
                    const bool soon = ac.stream.back().scheduledTick - m.scheduledTick < 1500;
                    const bool near = distanceNm(m.latitude, m.longitude, rec.latitude, rec.longitude) < 0.0118790497;
                    if (soon || near) ac.stream.resize(i + 1);
                    break;
                }
            }
        }
        if (!ac.stream.empty() && rec.scheduledTick <= ac.stream.back().scheduledTick)
            rec.scheduledTick = ac.stream.back().scheduledTick + 1;
        if (ac.onGround && services_.takeOffDetection) services_.takeOffDetection(ac, rec);
        ac.stream.push_back(std::move(rec));
        if (ac.stream.size() == 2 && isStationary(ac.stream[0]) && isStationary(ac.stream[1])) {
            ac.stream[0].scheduledTick = tick_ + 1;
            ac.stream[0].groundSpeed = ac.stream[1].groundSpeed;
        }
    } catch (const std::exception& e) {
        logf("{} exception {}", "decodeExisting", e.what());
    }
}

}  // namespace vntx::traffic
