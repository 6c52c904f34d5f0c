// The buffer: the checks an aircraft passes, once its first report falls
// due, before it is spawned.
#include "traffic/traffic_manager.h"

#include <algorithm>
#include <cctype>


namespace vntx::traffic {

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

    const bool noLivery = services_.noLiveryContains && services_.noLiveryContains(ac);
    if (!ac.callsign.empty() && !noLivery) {
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

}  // namespace vntx::traffic
