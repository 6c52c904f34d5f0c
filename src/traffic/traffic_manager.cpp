#include "traffic/traffic_manager.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include <fmt/format.h>

#include "core/log.h"
#include "core/parameters.h"
#include "input/geo.h"
#include "traffic/traffic_feed.h"

namespace vntx::traffic {

// ---------------------------------------------------------------- geometry

double distanceNm(double lat1, double lon1, double lat2, double lon2) {
    return input::distanceNm(lat1, lon1, lat2, lon2);
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

// ---------------------------------------------------------------- set-up

TrafficManager::TrafficManager(SimLinkPort& sim, TrafficServices services)
    : sim_(sim), services_(std::move(services)) {
    incoming_ = [](std::deque<TrafficRecord>& out, std::size_t n) { return vntx::takeIncoming(out, n); };
    live_.reserve(512);
    notices_.reserve(256);
    created_.reserve(128);
    adding_.reserve(64);
}

void TrafficManager::readSettings() {
    auto& p = params();
    settings_.maxLiveSel = p.MAX_LIVE_SEL.get();
    settings_.guidChanges = p.GUID_CHANGES.get();
    settings_.lightAircraft = p.LIGHT_AIRCRAFT.get();
    settings_.helicopters = p.HELICOPTERS.get();
    settings_.highPerf = p.HIGH_PERF_AIRCRAFT.get();
    settings_.airborneOnly = p.AIRBORNE_ONLY.get();
    settings_.straightPushBacksOnly = p.STRAIGHT_PBS_ONLY.get();
    settings_.navLightsWhileParked = p.NAV_LIGHTS_WHILE_PARKED.get();
    settings_.holdingThresholdMeters = p.HOLDING_THRESHOLD_METERS.get();
    settings_.maxHoldingMinutes = p.MAX_HOLDING_MINUTES.get();
    settings_.range = p.RANGE.get();
    // The text setting takes a lock; read it only on report-paced ticks.
    if (tick_ % 100 == 0) settings_.blockCallsign = p.BLOCK_CALLSIGN.get();
    park_ = services_.parkAirport ? services_.parkAirport() : std::nullopt;
    qnh_ = services_.qnh ? services_.qnh() : 1013.0;
    user_ = services_.userPosition ? services_.userPosition() : std::nullopt;
}

LiveAircraft* TrafficManager::find(std::uint32_t hexid) {
    for (auto& ac : live_)
        if (ac.hexid == hexid) return &ac;
    return nullptr;
}

LiveAircraft* TrafficManager::findByObject(std::uint32_t objectId) {
    if (objectId == 0) return nullptr;
    for (auto& ac : live_)
        if (ac.objectId == objectId) return &ac;
    return nullptr;
}

TrafficCounts TrafficManager::counts() const {
    TrafficCounts c;
    for (const auto& ac : live_) {
        if (ac.state != AcState::active) continue;
        if (ac.flightState == FlightState::parked)
            ++c.parked;
        else
            ++c.active;
    }
    c.total = static_cast<int>(live_.size());
    return c;
}

std::string TrafficManager::liveryKey(const LiveAircraft& ac) {
    return fmt::format("{:3} {:4} {}", ac.operatorCode, ac.aircraftType, ac.registration);
}

// ---------------------------------------------------------------- the tick

void TrafficManager::tick() {
    readSettings();
    processNotices();
    updatePass();
    pacing();
    if (services_.staticPlacement) services_.staticPlacement();
    takeIncoming();
    handleAddingStack();
    requests();
    ++tick_;
    if (tickCounter_) tickCounter_->store(tick_, std::memory_order_relaxed);
}

void TrafficManager::processNotices() {
    notices_.clear();
    sim_.takeNotices(notices_);
    for (const auto& n : notices_) {
        switch (n.kind) {
            case ObjectNotice::CreatedLive: {
                LiveAircraft* ac = find(n.hexid);
                if (!ac || n.objectId < 3) break;
                ac->objectId = n.objectId;
                ac->creationAboveGround = n.value1;
                if (!ac->stream.empty() && !ac->stream.front().airborne && services_.parksStep)
                    services_.parksStep(*ac);
                ac->flightPlanSet = sim_.createFlightPlan(*ac);
                if (!sim_.requestStaticCg(n.objectId)) {
                    logError("SimConnect request StaticCG fails");
                    sim_.requestFailed();
                }
                ++stats_.created;
                created_.push_back({n, 0});
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

void TrafficManager::setFlaps(LiveAircraft& ac, int index) {
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
    setFlaps(ac, ac.flightState == FlightState::taxi ? 1 : 0);
}

void TrafficManager::updatePass() {
    bool flare = false;
    for (auto& ac : live_) {
        updateLiveAc(ac);
        flare = flare || (ac.flareStage > 0 && !ac.onGround && !ac.eraseNow);
    }
    flareRunning_ = flare;
    std::erase_if(live_, [](const LiveAircraft& ac) { return ac.eraseNow || ac.eraseAfterRemoval; });
    sim_.handOverPositions();
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

void TrafficManager::takeIncoming() {
    intake_.clear();
    if (incoming_) incoming_(intake_, 2);
    for (auto& rec : intake_) {
        ++stats_.reportsTaken;
        handleIncoming(std::move(rec));
    }
    intake_.clear();
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

void TrafficManager::requests() {
    const int every = flareRunning_ ? 20 : 100;
    if (tick_ % every == 0) sim_.requestWithinRange();
    if (tick_ % 100 == 0) {
        sim_.sendUserPosition();
        sim_.requestUserPosition();
    }
}

// ---------------------------------------------------------------- incoming

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
                    if ((soon || near) && i > 0) ac.stream.resize(i + 1);
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

bool TrafficManager::respawnCheck(LiveAircraft& ac, const TrafficRecord& rec) {
    if (ac.takeOffRun || ac.landingRoll) return true;
    auto refresh = [](std::string& field, const std::string& value) {
        if (!value.empty() && value != field) field = value;
    };
    if (ac.state == AcState::buffer) {
        refresh(ac.origin, rec.origin);
        refresh(ac.destination, rec.destination);
        refresh(ac.callsign, rec.callsign);
        refresh(ac.registration, rec.registration);
        return true;
    }
    if (ac.state != AcState::active || ac.flightState == FlightState::pushing_back || ac.extrapolating()) return true;

    bool change = false;
    // origin and destination
    if ((ac.origin.empty() && !rec.origin.empty()) || (ac.destination.empty() && !rec.destination.empty())) {
        if (ac.origin.empty() && !rec.origin.empty()) ac.origin = rec.origin;
        if (ac.destination.empty() && !rec.destination.empty()) ac.destination = rec.destination;
        change = true;
    } else if (!rec.origin.empty() && !rec.destination.empty() && rec.origin != ac.origin &&
               rec.destination != ac.destination) {
        bool keep = false;
        if (park_) {
            const bool originIsPark = std::find(park_->codes.begin(), park_->codes.end(), ac.origin) != park_->codes.end();
            keep = originIsPark && rec.destination == ac.origin;
        }
        if (!keep) {
            ac.origin = rec.origin;
            ac.destination = rec.destination;
            change = true;
            if (ac.onGround && ac.flightState != FlightState::parked && ac.flightState != FlightState::parking) {
                ac.flightState = FlightState::taxi;
                ac.course = ac.pos.heading;
            }
        }
    }
    // registration
    if (!rec.registration.empty() && rec.registration != ac.registration) {
        if (services_.matchLivery) {
            LiveAircraft probe = ac;
            probe.registration = rec.registration;
            probe.liveryTitle.clear();
            if (services_.matchLivery(probe) && probe.liveryTitle != ac.liveryTitle) change = true;
        }
        ac.registration = rec.registration;
    }
    // callsign
    if (!rec.callsign.empty() && rec.callsign != ac.callsign && rec.callsign != ac.registration) {
        if (rec.callsign.back() == '_') {
            const std::string real = rec.callsign.substr(0, rec.callsign.size() - 1);
            for (const auto& o : live_)
                if (o.callsign == real) return false;
        } else {
            ghostCheck(rec.callsign);
        }
        ac.callsign = rec.callsign;
        change = true;
    }
    if (!change) return true;
    if (!settings_.guidChanges) return true;
    logf("          {} respawns", ac.name());
    liveryRespawn(ac);
    return false;
}

void TrafficManager::ghostCheck(const std::string& callsign) {
    const std::string ghostName = callsign + "_";
    for (auto& g : live_) {
        if (g.callsign != ghostName || g.state == AcState::removingfromsim || g.removalPending || g.eraseNow ||
            g.eraseAfterRemoval)
            continue;
        if (g.flightState == FlightState::parked) {
            const std::string label = g.standId == 0 ? "sid==0?" : fmt::format("{}", g.standId);
            logf("{:8}: {:8} is a ghost and will be removed, continue with {}", label, g.callsign, callsign);
        } else {
            logf("          {:8} is a ghost and will be removed, continue with {}", g.callsign, callsign);
        }
        ghosts_.push_back(g.callsign);
        removeAircraftFromSim(g);
    }
}

// ---------------------------------------------------------------- buffer and spawn

double TrafficManager::distanceToUser(const LiveAircraft& ac) const {
    if (!user_) return 0;
    return distanceNm(user_->latitude, user_->longitude, ac.pos.latitude, ac.pos.longitude);
}

std::string TrafficManager::deriveOperator(const LiveAircraft& ac) const {
    const std::string& cs = ac.callsign;
    if (cs.size() >= 4 && std::isupper(static_cast<unsigned char>(cs[0])) &&
        std::isupper(static_cast<unsigned char>(cs[1])) && std::isupper(static_cast<unsigned char>(cs[2])) &&
        std::isdigit(static_cast<unsigned char>(cs[3])))
        return cs.substr(0, 3);
    return {};
}

void TrafficManager::bufferHandling(LiveAircraft& ac) {
    if (ac.stream.empty()) {
        ac.eraseNow = true;
        return;
    }
    const auto& front = ac.stream.front();
    const std::int32_t lead = (!front.airborne && front.groundSpeed != 0) ? 300 : 100;
    if (tick_ < front.scheduledTick - lead) return;
    if (ac.stream.size() == 1) {
        ac.eraseNow = true;
        return;
    }
    if (ac.ghost() && std::find(ghosts_.begin(), ghosts_.end(), ac.callsign) != ghosts_.end()) {
        ac.eraseNow = true;
        return;
    }
    const bool anyAir = std::any_of(ac.stream.begin(), ac.stream.end(), [](const TrafficRecord& r) { return r.airborne; });
    const bool anyGround = std::any_of(ac.stream.begin(), ac.stream.end(), [](const TrafficRecord& r) { return !r.airborne; });
    if (anyAir && anyGround) {
        ac.stream.pop_front();
        return;
    }
    if (services_.userCollisionSpawn && services_.userCollisionSpawn(ac)) return;
    if (waiting_.size() >= 11 && ac.flightState == FlightState::birth) {
        ac.stream.pop_front();
        return;
    }
    if (settings_.maxLiveSel == 0) {
        ac.eraseNow = true;
        return;
    }
    int active = 0;
    for (const auto& o : live_)
        if (o.state == AcState::active) ++active;
    if (active + static_cast<int>(adding_.size()) + static_cast<int>(waiting_.size()) >= settings_.maxLiveSel) {
        const double mine = distanceToUser(ac);
        LiveAircraft* farthest = nullptr;
        double farDist = mine + 0.1;
        for (auto& o : live_) {
            if (o.state != AcState::active || o.removalPending) continue;
            const double d = distanceToUser(o);
            if (d > farDist) {
                farDist = d;
                farthest = &o;
            }
        }
        if (!farthest) {
            ac.eraseNow = true;
            return;
        }
        removeAircraftFromSim(*farthest);
    }
    if (!settings_.blockCallsign.empty() && settings_.blockCallsign == ac.callsign) {
        ac.eraseNow = true;
        return;
    }
    if (!ac.registration.empty() && services_.lookupRegistration) {
        if (auto info = services_.lookupRegistration(ac.registration)) {
            if (!info->airline.empty()) ac.operatorCode = info->airline;
            else if (!info->opr.empty()) ac.operatorCode = info->opr;
            if (!info->model.empty()) ac.aircraftType = info->model;
            if (ac.callsign.empty()) ac.callsign = ac.registration;
        }
    }
    if (ac.operatorCode.empty()) ac.operatorCode = deriveOperator(ac);
    if (ac.operatorCode.empty()) ac.operatorCode = "PVT";

    if (!ac.callsign.empty() && !noLivery_.count(liveryKey(ac))) {
        if (ac.ghost()) {
            const std::string real = ac.callsign.substr(0, ac.callsign.size() - 1);
            for (const auto& o : live_)
                if (o.callsign == real) {
                    ac.eraseNow = true;
                    return;
                }
        }
        spawnLiveAc(ac);
        return;
    }
    ac.eraseNow = true;
}

static double targetPitch(double verticalRate) {
    double v = verticalRate;
    if (v > 2400) v = 2400;
    if (v < 0) v = std::max(v, -3000.0) / 2;
    return -(3 * kDeg + v / 600 * 2.2 * kDeg);
}

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
                if (!ac.registration.empty()) noLivery_.insert(liveryKey(ac));
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
    ac.pos.pitch = f.airborne ? targetPitch(f.verticalRate) : -0.6 * kDeg;
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
    ac.state = AcState::adding2sim;
    adding_.push_back(ac.hexid);
    if (!ac.ghost()) ghostCheck(ac.callsign);
}

// ---------------------------------------------------------------- update and removal

bool TrafficManager::updateLiveAc(LiveAircraft& ac) {
    try {
        switch (ac.state) {
            case AcState::buffer:
                bufferHandling(ac);
                break;
            case AcState::active:
                if (ac.stream.empty()) {
                    logErrorf("{} stream empty ? {}, hexid:{}, objectid:{}, alt:{:.0f} ft, lalo:{}, TAS:{:.0f}",
                              "updateLiveAc", ac.name(), ac.hexid, ac.objectId, ac.pos.altitude,
                              fmt::format("{:.6f},{:.6f}", ac.pos.latitude, ac.pos.longitude), ac.pos.airspeed);
                    removeAircraftFromSim(ac);
                    break;
                }
                if (tick_ >= ac.stream.front().scheduledTick) nextPosMain(ac);
                if (ac.state != AcState::active || ac.stream.empty()) break;
                ac.pos.verticalSpeed = ac.stream.front().verticalRate / 60.0;
                if (isStationary(ac.stream.front()))
                    ac.pos.airspeed = 0;
                else
                    motionStep(ac);
                if (ac.objectId != 0) {
                    sim_.queuePosition(ac.objectId, ac.pos);
                } else {
                    logErrorf("{} objectid=0? hexid: {},cs:{}, reg:{}, aimo:{} sz:{}", "updateLiveAc", ac.hexid,
                              ac.callsign, ac.registration, ac.aircraftType, ac.stream.size());
                    removeAircraftFromSim(ac);
                }
                break;
            default:
                break;
        }
    } catch (const std::exception& e) {
        logf("{}: {} {}, sz:{}, fs:{}, st:{}", "updateLiveAc", e.what(), ac.name(), ac.stream.size(),
             flightStateName(ac.flightState), stateName(ac.state));
    }
    return ac.eraseNow || ac.eraseAfterRemoval;
}

void TrafficManager::removeAircraftFromSim(LiveAircraft& ac) {
    if (ac.state == AcState::buffer) {
        ac.eraseNow = true;
        return;
    }
    if (ac.removalPending || ac.eraseNow || ac.eraseAfterRemoval) return;
    if (ac.state == AcState::adding2sim) {
        auto it = std::find_if(waiting_.begin(), waiting_.end(), [&](const CreationRequest& c) { return c.hexid == ac.hexid; });
        if (it != waiting_.end()) {
            waiting_.erase(it);
            ac.eraseAfterRemoval = true;
            return;
        }
        if (auto s = std::find(adding_.begin(), adding_.end(), ac.hexid); s != adding_.end()) {
            adding_.erase(s);
            ac.eraseAfterRemoval = true;
            return;
        }
        ac.removalPending = true;
        return;
    }
    if (ac.state == AcState::removingfromsim) return;
    if (services_.freeStand) services_.freeStand(ac);
    ac.state = AcState::removingfromsim;
    if (ac.objectId == 0) {
        logErrorf("{} removing act {}, with objectid=0 ?", "removeAircraftFromSim", ac.name());
        // Nothing in the simulator will ever report this one removed.
        ac.eraseNow = true;
        return;
    }
    removals_.push_back(ac.objectId);
}

void TrafficManager::liveryRespawn(LiveAircraft& ac) {
    TrafficRecord here = ac.stream.empty() ? TrafficRecord{} : ac.stream.front();
    if (ac.flightState == FlightState::parked && ac.stream.size() == 1) {
        here.latitude = ac.standLatitude;
        here.longitude = ac.standLongitude;
        setStationary(here, true);
    } else {
        here.latitude = ac.pos.latitude;
        here.longitude = ac.pos.longitude;
        here.altitude = ac.onGround ? 0 : ac.pos.altitude;
        here.airborne = !ac.onGround;
        setStationary(here, false);
    }
    here.track = ac.pos.heading / kDeg;
    here.scheduledTick = tick_ + 1;
    ac.stream.push_front(here);
    for (std::size_t i = 1; i < ac.stream.size(); ++i)
        if (ac.stream[i].scheduledTick <= ac.stream[i - 1].scheduledTick)
            ac.stream[i].scheduledTick = ac.stream[i - 1].scheduledTick + 1;
    // The new identity decides the livery of the next creation.
    if (services_.matchLivery) {
        LiveAircraft probe = ac;
        probe.liveryTitle.clear();
        if (services_.matchLivery(probe) && !probe.liveryTitle.empty()) {
            ac.liveryTitle = probe.liveryTitle;
            liveryCache_[ac.hexid] = ac.liveryTitle;
        }
    }
    ++stats_.respawns;
    ac.state = AcState::liveryrespawn;
    if (ac.objectId == 0) {
        logErrorf("{} removing act {} with objectid=0 ?", "liveryRespawn", ac.name());
        ac.state = AcState::buffer;
        return;
    }
    removals_.push_back(ac.objectId);
}

void TrafficManager::withdrawAll() {
    for (auto& ac : live_) removeAircraftFromSim(ac);
    std::erase_if(live_, [](const LiveAircraft& ac) { return ac.eraseNow || ac.eraseAfterRemoval; });
}

void TrafficManager::applyLiveLimit() {
    const int limit = params().MAX_LIVE_SEL.get();
    for (;;) {
        int active = 0;
        LiveAircraft* farthest = nullptr;
        double farDist = -1;
        for (auto& ac : live_) {
            if (ac.state != AcState::active || ac.removalPending) continue;
            ++active;
            const double d = distanceToUser(ac);
            if (d > farDist) {
                farDist = d;
                farthest = &ac;
            }
        }
        if (active <= limit || !farthest) return;
        removeAircraftFromSim(*farthest);
    }
}

void TrafficManager::perReportDuties() {
    for (auto& ac : live_) {
        if (ac.state == AcState::active && !ac.coupled) {
            ac.coupled = true;
            if (services_.couple) services_.couple(ac);
            break;
        }
    }
    if (services_.collisionRemovals) services_.collisionRemovals();
    const std::string block = params().BLOCK_CALLSIGN.get();
    if (!block.empty())
        for (auto& ac : live_)
            if (ac.callsign == block) removeAircraftFromSim(ac);
    const int limit = params().MAX_LIVE_SEL.get();
    if (limit != lastMaxLiveSel_) {
        lastMaxLiveSel_ = limit;
        applyLiveLimit();
    }
}

void TrafficManager::pauseEnter() {
    // Creations not yet sent are dropped; their aircraft wait in the buffer to
    // be created again when the flight runs.
    for (const auto& c : waiting_)
        if (LiveAircraft* ac = find(c.hexid); ac && ac->state == AcState::adding2sim) ac->state = AcState::buffer;
    for (auto h : adding_)
        if (LiveAircraft* ac = find(h); ac && ac->state == AcState::adding2sim) ac->state = AcState::buffer;
    waiting_.clear();
    adding_.clear();
}

void TrafficManager::pauseDuties() {
    readSettings();
    processNotices();
    std::erase_if(live_, [](const LiveAircraft& ac) { return ac.eraseNow || ac.eraseAfterRemoval; });
}

void TrafficManager::reset() {
    live_.clear();
    adding_.clear();
    waiting_.clear();
    removals_.clear();
    created_.clear();
    notices_.clear();
    intake_.clear();
    ghosts_.clear();
    noLivery_.clear();
    liveryCache_.clear();
    lastMaxLiveSel_ = -1;
    flareRunning_ = false;
    tick_ = 0;
    if (tickCounter_) tickCounter_->store(0);
}

}  // namespace vntx::traffic
