// The end of an aircraft: removal, the livery respawn after an identity
// change, withdrawal, the live limit and the per-report removals.
#include "traffic/traffic_manager.h"

#include <algorithm>

#include <fmt/format.h>

#include "core/log.h"
#include "core/parameters.h"

namespace vntx::traffic {

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
        if (services_.probeLivery) {
            LiveAircraft probe = ac;
            probe.registration = rec.registration;
            const std::string title = services_.probeLivery(probe);
            if (!title.empty() && title != ac.liveryTitle) change = true;
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
    if (ac.state == AcState::liveryrespawn) {
        // Its object is on the removal stack already; when the simulator
        // reports it gone, the record goes too instead of spawning again.
        ac.state = AcState::removingfromsim;
        return;
    }
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
    // The collision removals, and the BLOCK_CALLSIGN removal once after an
    // edit (its later reports are dropped in the buffer).
    if (services_.collisionRemovals) services_.collisionRemovals();
    const int limit = params().MAX_LIVE_SEL.get();
    if (limit != lastMaxLiveSel_) {
        lastMaxLiveSel_ = limit;
        applyLiveLimit();
    }
}

}  // namespace vntx::traffic
