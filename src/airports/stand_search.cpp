#include "airports/stand_search.h"

#include <algorithm>
#include <cmath>

#include "airports/catalogue.h"

namespace vntx {

bool occupancyMatches(const StandOccupancy& o, const StandSeeker& seeker) {
    if (o.number == 0 || !o.real) return false;
    if (!seeker.callsign.empty() && (o.callsign == seeker.callsign || o.callsign_extra == seeker.callsign)) return true;
    return !o.airline.empty() && o.airline == seeker.airline && !o.type.empty() && o.type == seeker.type;
}

std::optional<StandChoice> searchStand(const std::vector<ParkPosition>& stands, double lat, double lon,
                                       const StandSeeker& seeker, double radius, bool wide,
                                       const std::vector<bool>& skip) {
    std::optional<std::size_t> best, wideBest;
    double bestD = 0, wideD = 0;
    bool enlarge = false;
    for (std::size_t i = 0; i < stands.size(); ++i) {
        if (i < skip.size() && skip[i]) continue;
        const ParkPosition& s = stands[i];
        const double d = distanceNm(lat, lon, s.lat, s.lon);
        const bool fits = seeker.halfSpan - s.radius <= k1p8m;
        if (d <= radius && (!best || d < bestD)) {
            if (fits) {
                best = i;
                bestD = d;
                enlarge = false;
            } else if (d <= k20m) {
                best = i;
                bestD = d;
                enlarge = true;
            }
            continue;
        }
        if (wide && (!best || enlarge) && fits && !seeker.callsign.empty() && d <= k85m && (!wideBest || d < wideD)) {
            for (const auto& o : s.occupancies)
                if (occupancyMatches(o, seeker)) {
                    wideBest = i;
                    wideD = d;
                    break;
                }
        }
    }
    std::optional<StandChoice> choice;
    if (best)
        choice = StandChoice{*best, enlarge};
    else if (wideBest)
        choice = StandChoice{*wideBest, false};
    if (!choice) return std::nullopt;
    if (stands[choice->index].heli != seeker.rotorcraft) return std::nullopt;
    return choice;
}

void enlargeStand(ParkPosition& stand, double halfSpan) {
    stand.radius = halfSpan - kMetre;
    stand.radius_change = true;
}

HolderVerdict holderVerdict(const std::optional<StandHolder>& holder, std::string_view newcomer) {
    if (!holder || !holder->active || !holder->parkedOrPushing) return HolderVerdict::NewcomerTakes;
    const std::string& h = holder->callsign;
    if (h == newcomer) return HolderVerdict::SameCallsign;
    const bool newcomerGhost = !newcomer.empty() && newcomer.back() == '_';
    const bool holderGhost = !h.empty() && h.back() == '_';
    if (holderGhost && h.substr(0, h.size() - 1) == newcomer) return HolderVerdict::GhostReplaced;
    if (newcomerGhost && newcomer.substr(0, newcomer.size() - 1) == h) return HolderVerdict::GhostReplaced;
    if (newcomerGhost && !holderGhost) return HolderVerdict::HolderKeeps;
    return holder->confirmed ? HolderVerdict::HolderKeeps : HolderVerdict::UnconfirmedHolder;
}

StandReport standReport(LeaveTracker& t, double d, bool parking, bool wasParking, double halfSpan) {
    constexpr double kStep = 0.00162;  // 3 m
    const double near = wasParking ? 2 * k85m : k85m;
    if (d > near) {
        if (parking) return StandReport::Elsewhere;
        if (d > 0.108) return StandReport::Remove;
        return StandReport::Leave;
    }
    if (!t.started) {
        t.started = true;
        t.start = t.last = d;
        t.steps = 0;
    } else if (d >= t.last + kStep) {
        ++t.steps;
        t.last = d;
    } else if (d <= t.last - kStep) {
        t.steps = 0;
        t.last = d;
    }
    // One report beyond the half span alone is no departure when it lies
    // within the 35 m a standing aircraft's reported position wanders by: it
    // must go farther, or keep going away.
    const double moved = std::fabs(d - t.start);
    if (!parking && ((t.steps >= 3 && moved >= halfSpan / 2) || moved > std::max(halfSpan, k35m)))
        return StandReport::Leave;
    return StandReport::Reject;
}

bool cargoRuleApplies(bool aircraftCargo, bool standCargo) { return standCargo && !aircraftCargo; }

}  // namespace vntx
