// The live-traffic tick: its order of steps, the update pass over every
// aircraft, the pause and the reset. The steps themselves live beside it
// (report filters, buffer, spawn and activation, removal and respawn, ghosts,
// airborne motion).
#include "traffic/traffic_manager.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include <fmt/format.h>

#include "core/log.h"
#include "core/parameters.h"
#include "traffic/traffic_feed.h"

namespace vntx::traffic {

// ---------------------------------------------------------------- set-up

TrafficManager::TrafficManager(SimLinkPort& sim, TrafficServices services)
    : sim_(sim), services_(std::move(services)) {
    incoming_ = [](std::deque<TrafficRecord>& out, std::size_t n) { return vntx::takeIncoming(out, n); };
    live_.reserve(512);
    notices_.reserve(256);
    created_.reserve(128);
    adding_.reserve(64);
    fillOwnHooks();
}

// Ground movement and the collision rules live in this module; a caller's
// own hook (a test's) takes their place.
void TrafficManager::fillOwnHooks() {
    auto& s = services_;
    if (!s.groundStep) s.groundStep = [this](LiveAircraft& ac) { groundStep(ac); };
    if (!s.groundHeadingStep) s.groundHeadingStep = [this](LiveAircraft& ac, int ticks) { groundHeadingStep(ac, ticks); };
    if (!s.groundCurveStep) s.groundCurveStep = [this](LiveAircraft& ac) { groundCurveStep(ac); };
    if (!s.takeOffDetection)
        s.takeOffDetection = [this](LiveAircraft& ac, const TrafficRecord& rec) { takeOffDetection(ac, rec); };
    if (!s.pushBackDirection)
        s.pushBackDirection = [this](LiveAircraft& ac, const TrafficRecord& rec) { pushBackDirection(ac, rec); };
    if (!s.userCollisionSpawn) s.userCollisionSpawn = [this](LiveAircraft& ac) { return userCollisionSpawn(ac); };
    if (!s.collisionRemovals) s.collisionRemovals = [this] { collisionRemovals(); };
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
    settings_.collisionUserAir = p.COLLISION_USER_AIR.get();
    settings_.collisionUserGnd = p.COLLISION_USER_GND.get();
    settings_.collisionLiveParkedGnd = p.COLLISION_LIVE_PARKED_GND.get();
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

void TrafficManager::takeIncoming() {
    intake_.clear();
    if (incoming_) incoming_(intake_, 2);
    for (auto& rec : intake_) {
        ++stats_.reportsTaken;
        handleIncoming(std::move(rec));
    }
    intake_.clear();
}

void TrafficManager::requests() {
    const int every = flareRunning_ ? 20 : 100;
    if (tick_ % every == 0) sim_.requestWithinRange();
    if (tick_ % 100 == 0) {
        sim_.sendUserPosition();
        sim_.requestUserPosition();
    }
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
    if (services_.noLiveryClear) services_.noLiveryClear();
    lastStaticCheckLat_ = lastStaticCheckLon_ = 0;
    liveryCache_.clear();
    lastMaxLiveSel_ = -1;
    flareRunning_ = false;
    tick_ = 0;
    if (tickCounter_) tickCounter_->store(0);
}

}  // namespace vntx::traffic
