// The 20-minute renewal of the static aircraft: the existing ones stay, the
// missing ones are added for the new half hour, and new candidates are
// reconciled with the live aircraft parked on the stands.
#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "airports/catalogue.h"
#include "airports/static_parking.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/status.h"

namespace vntx {

using traffic::LiveAircraft;

namespace {

bool sameFlight(const LiveAircraft& live, const StaticCandidate& c) {
    return live.operatorCode == c.airline && live.aircraftType == c.type &&
           ((!c.callsign.empty() && live.callsign == c.callsign + "*") ||
            (!c.callsign_extra.empty() && live.callsign == c.callsign_extra + "*"));
}

}  // namespace

void StaticParking::parkingAdjustments() {
    if (!loaded_) return;
    ParkAirport& apt = airport();
    const ScheduleTime now = port_.now ? port_.now() : ScheduleTime{};
    // 1. Fresh marks; withdrawn occurrences are offered again.
    clearStandMarks(apt);
    for (auto& p : apt.positions) {
        std::uint32_t n = 0;
        for (auto& o : p.occupancies) o.number = ++n;
    }
    markReserved();
    const int wanted = wantedCount();

    // 2. Too many live aircraft parked: the first ones go.
    std::erase_if(parkedLive_, [&](const ParkedLive& p) { return !traffic_ || !traffic_->find(p.hexid); });
    const int surplusLive = static_cast<int>(parkedLive_.size()) - wanted;
    if (surplusLive > 0 && traffic_) {
        showStatus(fmt::format("Parking adjustments: {} more live ac than wanted", surplusLive), true);
        const auto first = std::vector<ParkedLive>(parkedLive_.begin(), parkedLive_.begin() + surplusLive);
        for (const auto& p : first)
            if (LiveAircraft* ac = traffic_->find(p.hexid)) {
                logf("live parked {} at {} removed", ac->name(), standLabel(p.stand));
                traffic_->removeAircraftFromSim(*ac);
            }
    }

    // 3. Stands in use are taken and block their neighbours.
    for (const auto& p : parkedLive_) takeStand(apt, p.stand);
    for (const auto& s : statics_)
        if (s.state != StaticAircraft::State::removing) takeStand(apt, s.stand);
    for (const auto& c : waiting_) takeStand(apt, c.stand);
    const int statics = static_cast<int>(std::count_if(statics_.begin(), statics_.end(), [](const StaticAircraft& s) {
                            return s.state != StaticAircraft::State::removing;
                        })) + static_cast<int>(waiting_.size());
    const int parked = static_cast<int>(parkedLive_.size()) + statics;

    // 4. The missing ones, reconciled with the parked live aircraft.
    std::vector<StaticCandidate> fresh;
    if (wanted > parked) runSelectionPasses(apt, selectionContext(), now, wanted, parked, fresh);
    std::vector<std::uint32_t> removeLive;
    if (traffic_) {
        for (const auto& p : parkedLive_) {
            LiveAircraft* live = traffic_->find(p.hexid);
            if (!live) continue;
            const auto conflict = [&](std::size_t i) {
                const ScheduleTime at = stepBack(now, fresh[i].fit);
                if (at.weekIndex() > p.parkedAt.weekIndex()) {
                    removeLive.push_back(p.hexid);
                    return false;  // the candidate stays
                }
                return true;  // the candidate goes, the live one counts as static
            };
            bool listed = false;
            for (std::size_t i = 0; i < fresh.size() && !listed; ++i) {
                const std::string cs = lf_detcs(fresh[i]);
                if (!cs.empty() && (cs == live->callsign || cs == live->firstCallsign)) {
                    removeLive.push_back(p.hexid);
                    listed = true;
                }
            }
            if (listed) continue;
            const ParkPosition* stand = p.stand >= 1 && p.stand <= apt.positions.size() ? &apt.positions[p.stand - 1] : nullptr;
            for (std::size_t i = 0; i < fresh.size();) {
                bool drop = false;
                if (fresh[i].stand == p.stand) {
                    drop = sameFlight(*live, fresh[i]) || conflict(i);
                } else if (stand && std::find(stand->neighbours.begin(), stand->neighbours.end(), fresh[i].stand) !=
                                        stand->neighbours.end()) {
                    const ParkPosition& other = apt.positions[fresh[i].stand - 1];
                    const double span = port_.halfWingspan ? port_.halfWingspan(fresh[i].type) : 0.0;
                    if (live->halfWingspan + span > distanceNm(live->pos.latitude, live->pos.longitude, other.lat, other.lon))
                        drop = conflict(i);
                }
                if (drop)
                    fresh.erase(fresh.begin() + static_cast<std::ptrdiff_t>(i));
                else
                    ++i;
            }
        }
    }

    // 5. Out with the listed, in with the new.
    std::stable_sort(fresh.begin(), fresh.end(),
                     [](const StaticCandidate& a, const StaticCandidate& b) { return a.fit < b.fit; });
    std::sort(removeLive.begin(), removeLive.end());
    removeLive.erase(std::unique(removeLive.begin(), removeLive.end()), removeLive.end());
    showStatus(fmt::format("Parking adjustments: {} to be removed, {} to be added\n", removeLive.size(), fresh.size()),
               true);
    if (traffic_)
        for (auto hexid : removeLive)
            if (LiveAircraft* ac = traffic_->find(hexid);
                ac && (ac->flightState == traffic::FlightState::parked || ac->flightState == traffic::FlightState::parking))
                traffic_->removeAircraftFromSim(*ac);
    for (auto& c : fresh) candidates_.push_back(c);
    for (auto& c : fresh) waiting_.push_back(std::move(c));
    ++indicators().staticUpdates;
    requestRepaint();
}

}  // namespace vntx
