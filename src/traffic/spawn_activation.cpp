// Spawning, the creation queue, the notices of the simulator link, the
// activation and dressing of created objects, and the pacing of creations
// and removals.
#include "traffic/traffic_manager.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "core/log.h"

namespace vntx::traffic {

void TrafficManager::spawnLiveAc(LiveAircraft& ac) {
    if (ac.stream.size() < 2) {
        logErrorf("{} sz:{}", "spawnLiveAc", ac.stream.size());
        return;
    }
    if (isStationary(ac.stream[1])) {
        setStationary(ac.stream[0], true);
        ac.stream[0].groundSpeed = 0;
        ac.stream[1].groundSpeed = 0;
        if (ac.stream.size() > 2 && isStationary(ac.stream[2])) ac.stream[2].groundSpeed = 0;
    }
    if (ac.flightState == FlightState::birth) {
        if (auto it = liveryCache_.find(ac.hexid); it != liveryCache_.end()) {
            ac.liveryTitle = it->second;
        } else {
            ac.liveryTitle.clear();
            if (!services_.matchLivery || !services_.matchLivery(ac) || ac.liveryTitle.empty()) {
                if (!ac.registration.empty() && services_.noLiveryAdd) services_.noLiveryAdd(ac);
                ++stats_.noLivery;
                ac.eraseNow = true;
                return;
            }
            liveryCache_[ac.hexid] = ac.liveryTitle;
        }
    }
    const TrafficRecord& front = ac.stream.front();
    if (front.airborne) {
        ac.flightState = FlightState::flying;
        ac.onGround = false;
    } else {
        if (services_.requestStand && services_.requestStand(ac)) {
            ac.flightState = FlightState::parked;
            ac.stream.resize(1);
            ac.stream.front().latitude = ac.standLatitude;
            ac.stream.front().longitude = ac.standLongitude;
            ac.stream.front().track = ac.standHeading / kDeg;
            ac.parkedTick = tick_;
            if (services_.parkingLimits) services_.parkingLimits(ac);
        } else if (isStationary(ac.stream[1])) {
            ac.stream.pop_front();
            return;
        } else {
            ac.flightState = FlightState::taxi;
        }
        ac.onGround = true;
    }
    const TrafficRecord& f = ac.stream.front();
    ac.pos.latitude = f.latitude;
    ac.pos.longitude = f.longitude;
    ac.pos.altitude = f.airborne ? f.altitude : ac.staticCgHeight + ac.groundAltitude;
    // On the ground slightly nose down as the simulator counts pitch, like
    // the static pitch of most models, until the static pitch is known.
    ac.pos.pitch = f.airborne ? targetPitch(f.verticalRate) : 0.6 * kDeg;
    ac.pos.bank = f.bankValid ? f.bank : 0;
    ac.pos.verticalSpeed = f.verticalRate / 60.0;
    ac.pos.airspeed = f.trueAirspeed;
    double heading;
    if (ac.forcedHeading)
        heading = *ac.forcedHeading;
    else if (ac.flightState == FlightState::parked)
        heading = ac.standHeading;
    else if (ac.stream.size() < 2 || isStationary(ac.stream[1]))
        heading = f.track * kDeg;
    else
        heading = bearingRad(f.latitude, f.longitude, ac.stream[1].latitude, ac.stream[1].longitude);
    ac.pos.heading = normalizeHeading(heading);
    ac.course = ac.pos.heading;
    ac.spawnBlocked = false;
    ac.state = AcState::adding2sim;
    adding_.push_back(ac.hexid);
    if (!ac.ghost()) ghostCheck(ac.callsign);
}

void TrafficManager::handleAddingStack() {
    if (adding_.empty()) return;
    const std::uint32_t hexid = adding_.back();
    adding_.pop_back();
    LiveAircraft* ac = find(hexid);
    if (!ac || ac->state != AcState::adding2sim) return;
    if (ac->callsign.empty()) {
        logErrorf("{} {} objectid = 0?", "lf_handleAddingStack", ac->name());
        return;
    }
    CreationRequest c;
    c.latitude = ac->pos.latitude;
    c.longitude = ac->pos.longitude;
    c.altitude = ac->pos.altitude;
    c.pitch = ac->pos.pitch / kDeg;
    c.bank = ac->pos.bank / kDeg;
    c.heading = ac->pos.heading / kDeg;
    c.onGround = !ac->stream.empty() && !ac->stream.front().airborne;
    c.airspeed = 0;
    c.callsign = ac->callsign;
    c.liveryTitle = ac->liveryTitle;
    c.hexid = ac->hexid;
    waiting_.push_back(std::move(c));
}

bool TrafficManager::activateCreated(LiveAircraft& ac, const ObjectNotice& n) {
    // Ids up to 2 are never an AI object of ours.
    if (n.objectId < 3) return false;
    ac.objectId = n.objectId;
    ac.creationAboveGround = n.value1;
    if (!ac.stream.empty() && !ac.stream.front().airborne && services_.parksStep) services_.parksStep(ac);
    ac.flightPlanSet = sim_.createFlightPlan(ac);
    sim_.requestStaticCg(n.objectId);
    return true;
}

void TrafficManager::processNotices() {
    notices_.clear();
    sim_.takeNotices(notices_);
    for (const auto& n : notices_) {
        switch (n.kind) {
            case ObjectNotice::CreatedLive: {
                LiveAircraft* ac = find(n.hexid);
                if (ac && activateCreated(*ac, n)) {
                    ++stats_.created;
                    created_.push_back({n, 0});
                }
                break;
            }
            case ObjectNotice::CreatedStatic:
                created_.push_back({n, 0});
                break;
            case ObjectNotice::Removed: {
                LiveAircraft* ac = findByObject(n.objectId);
                if (!ac) {
                    if (services_.staticRemoved) services_.staticRemoved(n.objectId);
                    break;
                }
                if (ac->state == AcState::liveryrespawn) {
                    ac->state = AcState::buffer;
                    ac->objectId = 0;
                    ac->throttleIndex = 5;
                    ac->flapIndex = 4;
                    ac->gear = -1;
                    ac->cabin = -1;
                    ac->altitudeBand = 0;
                } else {
                    if (ac->flightPlanSet) sim_.deleteFlightPlan(ac->objectId);
                    ac->eraseNow = true;
                    ++stats_.removed;
                }
                break;
            }
            case ObjectNotice::GroundReport: {
                LiveAircraft* ac = findByObject(n.objectId);
                if (!ac) break;
                const bool onGround = n.value1 != 0;
                if (onGround && !ac->onGround && ac->landingStage < 2 && ac->state != AcState::removingfromsim &&
                    ac->flightState != FlightState::take_off) {
                    if (ac->flareStage > 0 || ac->landingArmed) touchdown(*ac);
                    ac->onGround = true;
                    ac->landingStage = 1;
                }
                ac->groundAltitude = n.value2;
                ac->groundAltitudeKnown = true;
                if (ac->onGround || ac->landingStage >= 2) ac->pos.altitude = ac->staticCgHeight + ac->groundAltitude;
                break;
            }
            case ObjectNotice::StaticCg: {
                LiveAircraft* ac = findByObject(n.objectId);
                if (!ac) break;
                if (n.value1 >= 1 && n.value1 <= 35) ac->staticCgHeight = n.value1;
                ac->staticPitch = (n.value2 <= -1 * kDeg || n.value2 > 2.5 * kDeg) ? 0.0122173 : n.value2;
                break;
            }
            case ObjectNotice::Refused: {
                ++stats_.refused;
                if (n.hexid > 10000) {
                    LiveAircraft* ac = find(n.hexid);
                    if (!ac) break;
                    sim_.reportLiveryNotCreated(ac->name(), ac->liveryTitle);
                    // The refused title must not be chosen again from the cache.
                    liveryCache_.erase(ac->hexid);
                    ac->eraseNow = true;
                } else if (services_.staticRefused) {
                    services_.staticRefused(n.hexid);
                }
                break;
            }
            default:
                break;
        }
    }
    notices_.clear();
    if (!created_.empty()) activation();
}

void TrafficManager::activation() {
    for (auto& e : created_) {
        ++e.count;
        const bool live = e.notice.hexid > 10000;
        if (live && (e.count == 50 || e.count == 100)) {
            if (!sim_.toggleAllLights(e.notice.objectId)) {
                logError("SimConnect gf_allLightsToggle fails");
                sim_.requestFailed();
            }
        }
        if (e.count < 200) continue;
        if (!live) {
            if (services_.staticCreated) services_.staticCreated(e.notice);
            continue;
        }
        LiveAircraft* ac = find(e.notice.hexid);
        if (!ac || ac->objectId != e.notice.objectId || ac->state != AcState::adding2sim) continue;
        dress(*ac);
        ac->state = AcState::active;
        if (ac->removalPending) {
            ac->removalPending = false;
            removeAircraftFromSim(*ac);
        }
    }
    std::erase_if(created_, [](const CreatedEntry& e) { return e.count >= 200; });
}

void TrafficManager::event(LiveAircraft& ac, std::string_view name, std::uint32_t data) {
    if (ac.objectId != 0) sim_.queueEvent(ac.objectId, name, data);
}

void TrafficManager::sendThrottle(LiveAircraft& ac, int index) {
    if (index < 0 || index > 4 || index == ac.throttleIndex) return;
    ac.throttleIndex = index;
    event(ac, "THROTTLE_SET", kThrottleTable[static_cast<std::size_t>(index)]);
}

void TrafficManager::gf_setFlaps(LiveAircraft& ac, int index) {
    if (index == ac.flapIndex || ac.category == Category::Rotorcraft) return;
    ac.flapIndex = index;
    if (index < 0 || index > 4) {
        logError("gf_setFlaps: invalid flaps index");
        return;
    }
    event(ac, "FLAPS_SET", kFlapTable[static_cast<std::size_t>(index)]);
}

void TrafficManager::setGear(LiveAircraft& ac, int down) {
    if (ac.category == Category::Rotorcraft || ac.gear == down) return;
    ac.gear = down;
    event(ac, "GEAR_SET", static_cast<std::uint32_t>(down));
}

void TrafficManager::setCabin(LiveAircraft& ac, int on) {
    if (ac.cabin == on) return;
    ac.cabin = on;
    if (ac.objectId != 0) sim_.setCabinLights(ac.objectId, on);
}

void TrafficManager::lights(LiveAircraft& ac, const std::array<int, 7>& l) {
    ac.cabin = l[6];
    if (ac.objectId != 0) sim_.setLights(ac.objectId, l);
}

void TrafficManager::dress(LiveAircraft& ac) {
    const bool rotor = ac.category == Category::Rotorcraft;
    const bool airborne = ac.stream.empty() ? !ac.onGround : ac.stream.front().airborne;
    if (airborne) {
        event(ac, "ENGINE_AUTO_START", 0);
        if (!rotor) event(ac, "SPOILERS_SET", 0);
        const int low = ac.pos.altitude <= 10000 ? 1 : 0;
        lights(ac, {1, 1, low, 0, 1, low, ac.creationAboveGround >= 2000 ? 1 : 0});
        return;
    }
    const bool parked = ac.flightState == FlightState::parked;
    if (!rotor) event(ac, "SPOILERS_SET", 0);
    int nav = 1;
    if (parked) {
        event(ac, "ENGINE_AUTO_SHUTDOWN", 0);
        nav = settings_.navLightsWhileParked ? 1 : 0;
    } else {
        event(ac, "ENGINE_AUTO_START", 0);
    }
    lights(ac, {nav, parked ? 0 : 1, 0, ac.flightState == FlightState::taxi ? 1 : 0, 0, 1, 1});
    sendThrottle(ac, rotor ? 4 : 0);
    gf_setFlaps(ac, ac.flightState == FlightState::taxi ? 1 : 0);
}

void TrafficManager::pacing() {
    if (tick_ % 10 == 0 && !removals_.empty()) {
        sim_.queueRemoval(removals_.back());
        removals_.pop_back();
    }
    if (tick_ % 50 == 0) {
        if (!waiting_.empty()) {
            sim_.queueCreation(waiting_.front());
            waiting_.pop_front();
            ++stats_.creationsQueued;
        } else if (services_.staticCreationWaiting && services_.staticCreationWaiting() &&
                   services_.takeStaticCreation) {
            services_.takeStaticCreation();
        }
    }
}

}  // namespace vntx::traffic
