#include "airports/stand_allocation.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "airports/catalogue.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/status.h"

namespace vntx {

using traffic::AcState;
using traffic::Category;
using traffic::FlightState;
using traffic::LiveAircraft;


namespace {

constexpr double k2m = 0.0010799;

// Until ground movement drives it, the aircraft is put on its stand.
void jumpToStand(LiveAircraft& ac) {
    ac.pos.latitude = ac.standLatitude;
    ac.pos.longitude = ac.standLongitude;
    ac.pos.heading = ac.standHeading;
    ac.course = ac.standHeading;
    ac.dLat = ac.dLon = 0;
    if (ac.stream.empty()) return;
    TrafficRecord& r = ac.stream.front();
    r.latitude = ac.standLatitude;
    r.longitude = ac.standLongitude;
    r.groundSpeed = 0;
    traffic::setStationary(r, true);
}

// What a live aircraft leaves in the stand's schedule at this moment.
StandOccupancy occurrenceOf(const LiveAircraft& ac, ScheduleTime now, bool real, const std::string& reg) {
    StandOccupancy o;
    o.airline = ac.operatorCode;
    o.type = ac.aircraftType;
    o.reg = reg;
    o.callsign = ac.callsign;
    o.day = now.day;
    o.hours.set(now.slot);
    o.source = 0;
    o.real = real;
    return o;
}

// Appended with the next number of the stand.
void appendOccurrence(ParkPosition& stand, StandOccupancy o) {
    std::uint32_t last = 0;
    for (const auto& x : stand.occupancies) last = std::max(last, x.number);
    o.number = last + 1;
    stand.occupancies.push_back(std::move(o));
}

}  // namespace

StandAllocation::StandAllocation(StaticParking& statics) : statics_(statics) {
    drive2Stand = jumpToStand;
    startLeaving = [](LiveAircraft& ac) { ac.flightState = FlightState::taxi; };
}

std::vector<ParkPosition>& StandAllocation::stands() {
    auto& pos = statics_.airport().positions;
    if (holder_.size() != pos.size()) holder_.assign(pos.size(), 0);
    return pos;
}

std::size_t StandAllocation::reservedCount() const {
    return static_cast<std::size_t>(std::count_if(holder_.begin(), holder_.end(), [](std::uint32_t h) { return h != 0; }));
}

std::uint32_t StandAllocation::holderOf(std::uint32_t stand) const {
    return stand >= 1 && stand <= holder_.size() ? holder_[stand - 1] : 0;
}

StandSeeker StandAllocation::seekerOf(const LiveAircraft& ac) const {
    StandSeeker s;
    s.halfSpan = ac.halfWingspan;
    s.rotorcraft = ac.category == Category::Rotorcraft;
    s.callsign = ac.callsign;
    s.airline = ac.operatorCode;
    s.type = ac.aircraftType;
    return s;
}

std::vector<bool> StandAllocation::skipMask(bool reservedToo) const {
    const auto& pos = statics_.airport().positions;
    std::vector<bool> skip(pos.size(), false);
    for (std::size_t i = 0; i < pos.size(); ++i)
        skip[i] = (pos[i].marks & kStandReserved) != 0 || (reservedToo && i < holder_.size() && holder_[i] != 0);
    return skip;
}

LiveAircraft* StandAllocation::liveOn(std::uint32_t stand, const LiveAircraft* except) {
    auto* t = statics_.traffic();
    if (!t) return nullptr;
    for (auto& ac : t->liveList())
        if (&ac != except && ac.standId == static_cast<std::int32_t>(stand) && !ac.eraseNow) return &ac;
    return nullptr;
}

void StandAllocation::removeLive(LiveAircraft& ac, const std::string& line) {
    logLine(line);
    if (auto* t = statics_.traffic()) t->removeAircraftFromSim(ac);
}

void StandAllocation::reserve(LiveAircraft& ac, std::uint32_t stand) {
    auto& pos = stands();
    const ParkPosition& s = pos[stand - 1];
    ac.standId = static_cast<std::int32_t>(stand);
    ac.standLatitude = s.lat;
    ac.standLongitude = s.lon;
    ac.standHeading = s.heading;
    ac.standRadius = s.radius;
    ac.standName = statics_.standLabel(stand);
    ac.standConfirmed = false;
    holder_[stand - 1] = ac.hexid;
    leave_.erase(ac.hexid);
}

void StandAllocation::freeStand(LiveAircraft& ac) {
    if (ac.standId > 0 && static_cast<std::size_t>(ac.standId) <= holder_.size() &&
        holder_[static_cast<std::size_t>(ac.standId) - 1] == ac.hexid)
        holder_[static_cast<std::size_t>(ac.standId) - 1] = 0;
    std::erase_if(statics_.parkedLive(), [&](const StaticParking::ParkedLive& p) { return p.hexid == ac.hexid; });
    indicators().parkedLive = static_cast<int>(statics_.parkedLive().size());
    leave_.erase(ac.hexid);
    ac.standId = 0;
    ac.standConfirmed = false;
}

void StandAllocation::releaseAll() {
    if (auto* t = statics_.traffic())
        for (auto& ac : t->liveList()) {
            if (ac.standId == 0) continue;
            ac.standId = 0;
            ac.standConfirmed = false;
            if (ac.flightState == FlightState::parking) ac.flightState = FlightState::taxi;
        }
    holder_.clear();
    leave_.clear();
    lastAttempt_.clear();
    indicators().parkedLive = 0;
}

void StandAllocation::clearNeighbours(LiveAircraft& ac, std::uint32_t stand) {
    auto& pos = stands();
    const std::string label = statics_.standLabel(stand);
    if (LiveAircraft* on = liveOn(stand, &ac))
        removeLive(*on, fmt::format("{:8}: {:8} removed, {} wants to park there", label, on->callsign, ac.callsign));
    for (auto nb : pos[stand - 1].neighbours) {
        LiveAircraft* other = liveOn(nb, &ac);
        if (!other || (other->flightState != FlightState::parked && other->flightState != FlightState::parking)) continue;
        removeLive(*other, fmt::format("{:8}: {:8} removed by parking {} at adjacent and possibly colliding stand {}",
                                       statics_.standLabel(nb), other->callsign, ac.callsign, label));
    }
    statics_.makeWay(stand, ac, false);
    for (auto nb : pos[stand - 1].neighbours) statics_.makeWay(nb, ac, false);
}

void StandAllocation::takeStand(LiveAircraft& ac, std::size_t index, bool enlarge) {
    auto& pos = stands();
    if (enlarge) {
        enlargeStand(pos[index], ac.halfWingspan);
        ++indicators().changedStands;
        ++statics_.airport().updates;
    }
    const auto stand = static_cast<std::uint32_t>(index + 1);
    clearNeighbours(ac, stand);
    reserve(ac, stand);
}

void StandAllocation::try2Park(LiveAircraft& ac, bool wide) {
    if (ac.stream.empty()) {
        logErrorf("{} empty sz?", "try2Park");
        return;
    }
    if (!statics_.loaded() || ac.standId != 0) return;
    const TrafficRecord& newest = ac.stream.back();
    auto [it, fresh] = lastAttempt_.try_emplace(ac.hexid, newest.latitude, newest.longitude);
    if (!fresh) {
        if (std::fabs(it->second.first - newest.latitude) <= 1e-8 && std::fabs(it->second.second - newest.longitude) <= 1e-8)
            return;
        it->second = {newest.latitude, newest.longitude};
    }
    ++searches_;
    auto& pos = stands();
    const auto choice =
        searchStand(pos, newest.latitude, newest.longitude, seekerOf(ac), wide ? k55m : k20m, wide, skipMask(true));
    if (!choice) return;
    takeStand(ac, choice->index, choice->enlarge);
    while (ac.stream.size() > 1) ac.stream.pop_front();
    ac.flightState = FlightState::parking;
    logf("{:8}: {:8} parking, stand taken", statics_.standLabel(static_cast<std::uint32_t>(ac.standId)), ac.callsign);
    if (drive2Stand) drive2Stand(ac);
}

bool StandAllocation::standAtSpawn(LiveAircraft& ac) {
    if (!statics_.loaded() || ac.stream.size() < 2) return false;
    auto& pos = stands();
    if (pos.empty()) return false;
    const auto park = statics_.parkAirportRef();
    TrafficRecord& oldest = ac.stream.front();
    if (!park || distanceNm(oldest.latitude, oldest.longitude, park->lat, park->lon) > 5.0) return false;
    double lat = oldest.latitude, lon = oldest.longitude;
    if (!traffic::isStationary(oldest)) {
        const TrafficRecord& newest = ac.stream.back();
        if (ac.stream[1].groundSpeed > 5 || distanceNm(oldest.latitude, oldest.longitude, newest.latitude, newest.longitude) > k35m)
            return false;
        lat = newest.latitude;
        lon = newest.longitude;
    }
    ++searches_;
    const auto choice = searchStand(pos, lat, lon, seekerOf(ac), k55m, traffic::isStationary(oldest), skipMask(false));
    if (!choice) return false;
    const auto stand = static_cast<std::uint32_t>(choice->index + 1);
    const std::string label = statics_.standLabel(stand);
    if (LiveAircraft* h = liveOn(stand, &ac)) {
        StandHolder holder{h->callsign, h->state == AcState::active,
                           h->flightState == FlightState::parked || h->flightState == FlightState::pushing_back,
                           h->standConfirmed};
        switch (holderVerdict(holder, ac.callsign)) {
            case HolderVerdict::HolderKeeps:
                ac.eraseNow = true;
                return false;
            case HolderVerdict::SameCallsign:
                removeLive(*h, fmt::format("{:8}: {:8} ac with same callsign {} wants it, remove existing ... ", label,
                                           h->callsign, ac.callsign));
                break;
            case HolderVerdict::GhostReplaced:
                if (ac.ghost()) {
                    ac.eraseNow = true;
                    return false;
                }
                removeLive(*h, fmt::format("{:8}: {:8} ghost, replace by {}", label, h->callsign, ac.callsign));
                break;
            case HolderVerdict::UnconfirmedHolder:
                removeLive(*h, fmt::format("{:8}: {:8} removed because another live {} wants the stand ...", label,
                                           h->callsign, ac.callsign));
                break;
            case HolderVerdict::NewcomerTakes:
                break;
        }
    }
    // A parked neighbour whose wings reach this stand keeps its place.
    for (auto nb : pos[choice->index].neighbours) {
        const LiveAircraft* other = liveOn(nb, &ac);
        if (other && other->flightState == FlightState::parked &&
            other->halfWingspan + ac.halfWingspan >
                distanceNm(pos[nb - 1].lat, pos[nb - 1].lon, pos[choice->index].lat, pos[choice->index].lon))
            return false;
    }
    if (choice->enlarge) {
        enlargeStand(pos[choice->index], ac.halfWingspan);
        ++indicators().changedStands;
        ++statics_.airport().updates;
    }
    statics_.makeWay(stand, ac, false);
    reserve(ac, stand);
    traffic::setStationary(oldest, true);
    oldest.groundSpeed = 0;
    return true;
}

void StandAllocation::cargoRule(LiveAircraft& ac) {
    if (ac.standId <= 0 || static_cast<std::size_t>(ac.standId) > stands().size()) return;
    ParkPosition& s = stands()[static_cast<std::size_t>(ac.standId) - 1];
    const bool cargo = statics_.port().cargoRegistration && statics_.port().cargoRegistration(ac.registration);
    if (!cargoRuleApplies(cargo, s.cargo)) return;
    s.cargo = false;
    s.cargo_change = true;
    ++statics_.airport().updates;
    logf("{} stand: {}, cargo attribute set to false, {} parked here", statics_.parkCode(), s.id, ac.name());
}

bool StandAllocation::learnReal(LiveAircraft& ac) {
    if (ac.standId <= 0 || static_cast<std::size_t>(ac.standId) > stands().size() || ac.ghost()) return false;
    ParkPosition& s = stands()[static_cast<std::size_t>(ac.standId) - 1];
    const ScheduleTime now = statics_.port().now ? statics_.port().now() : ScheduleTime{};
    StandOccupancy o = occurrenceOf(ac, now, true, ac.registration);
    if (repeatsOccurrence(s, o)) return true;
    appendOccurrence(s, std::move(o));
    ++statics_.airport().updates;
    return true;
}

void StandAllocation::parkedNow(LiveAircraft& ac) {
    learnReal(ac);
    auto& list = statics_.parkedLive();
    if (std::none_of(list.begin(), list.end(), [&](const auto& p) { return p.hexid == ac.hexid; }))
        list.push_back({ac.hexid, static_cast<std::uint32_t>(ac.standId),
                        statics_.port().now ? statics_.port().now() : ScheduleTime{}});
    indicators().parkedLive = static_cast<int>(list.size());
}

void StandAllocation::parksStep(LiveAircraft& ac) {
    ac.onGround = true;
    if (ac.flightState != FlightState::parked || ac.standId <= 0) return;
    const auto stand = static_cast<std::uint32_t>(ac.standId);
    const std::string label = statics_.standLabel(stand);
    logf("{:8}: {:8} parks", label, ac.callsign);
    if (const StaticAircraft* s = statics_.onStand(stand); s && s->state == StaticAircraft::State::active) {
        logf("{:8}: {:8} parks over static {}", label, ac.callsign, s->callsign);
        statics_.makeWay(stand, ac, false);
    }
    cargoRule(ac);
    parkedNow(ac);
}

void StandAllocation::arrivalStep(LiveAircraft& ac) {
    if (ac.standId <= 0) return;
    if (distanceNm(ac.pos.latitude, ac.pos.longitude, ac.standLatitude, ac.standLongitude) > k2m) {
        ac.flightState = FlightState::taxi;
        return;
    }
    ac.previousFlightState = ac.flightState;
    ac.flightState = FlightState::parked;
    if (auto* t = statics_.traffic()) ac.parkedTick = t->tickCount();
    if (!ac.stream.empty()) traffic::setStationary(ac.stream.front(), true);
    cargoRule(ac);
    logf("{:8}: {:8} arrived at stand", statics_.standLabel(static_cast<std::uint32_t>(ac.standId)), ac.callsign);
    parkedNow(ac);
    parkingLimits(ac);
}

void StandAllocation::parkingLimits(LiveAircraft& ac) {
    if (params().INITIAL_LOAD_ONLY || !statics_.loaded()) return;
    const int wanted = statics_.wantedCount();
    auto& list = statics_.parkedLive();
    auto* t = statics_.traffic();
    auto total = [&] { return static_cast<int>(list.size()) + statics_.staticCount(); };
    if (total() <= wanted || !t) return;
    for (const auto& p : list) {
        LiveAircraft* first = t->find(p.hexid);
        if (!first || first == &ac) continue;
        removeLive(*first, fmt::format("{:8}: {} live max park exceeded, removed",
                                       first->objectId ? fmt::format("{}", first->objectId) : std::string("sid==0?"),
                                       first->name()));
        break;
    }
    if (total() > wanted) statics_.removeFirst("max park");
}

bool StandAllocation::standChecks(LiveAircraft& ac, const TrafficRecord& rec) {
    if (ac.standId <= 0) return true;
    ac.standConfirmed = true;
    const double d = distanceNm(ac.standLatitude, ac.standLongitude, rec.latitude, rec.longitude);
    const bool parking = ac.flightState == FlightState::parking;
    const bool wasParking = ac.previousFlightState == FlightState::parking;
    switch (standReport(leave_[ac.hexid], d, parking, wasParking, ac.halfWingspan)) {
        case StandReport::Reject:
            if (auto* t = statics_.traffic()) ac.parkedTick = t->tickCount();
            return false;
        case StandReport::Elsewhere:
            freeStand(ac);
            ac.flightState = FlightState::taxi;
            return true;
        case StandReport::Remove:
            removeLive(ac, fmt::format("{:8}: {:8} reported far from its stand, removed",
                                       statics_.standLabel(static_cast<std::uint32_t>(ac.standId)), ac.callsign));
            return false;
        case StandReport::Leave:
            logf("{:8}: {:8} leaves its stand", statics_.standLabel(static_cast<std::uint32_t>(ac.standId)), ac.callsign);
            freeStand(ac);
            if (startLeaving) startLeaving(ac);
            return true;
    }
    return true;
}

void StandAllocation::softLearning(LiveAircraft& ac) {
    if (!params().LEARN_SOFT || !statics_.loaded() || ac.standId != 0 || ac.ghost()) return;
    const auto park = statics_.parkAirportRef();
    if (!park || distanceNm(ac.pos.latitude, ac.pos.longitude, park->lat, park->lon) > 5.0) return;
    if (!ac.onGround && ac.pos.altitude - park->elevationFt >= 2500) return;
    const std::string key = !ac.registration.empty() ? ac.registration : ac.callsign;
    if (key.empty()) return;
    auto& pos = stands();
    for (const auto& s : pos)
        for (const auto& o : s.occupancies)
            if (o.reg == key || (ac.registration.empty() && o.callsign == key)) return;
    // The nearest stand of the aircraft's class that it fits: heli stands for
    // Rotorcraft, cargo stands first for cargo aircraft, passenger stands else.
    const bool rotor = ac.category == Category::Rotorcraft;
    const bool cargo = statics_.port().cargoRegistration && statics_.port().cargoRegistration(ac.registration);
    std::optional<std::size_t> best;
    double bestD = 0;
    for (int tier = 0; tier < 2 && !best; ++tier) {
        for (std::size_t i = 0; i < pos.size(); ++i) {
            const auto& s = pos[i];
            if (s.heli != rotor || ac.halfWingspan - s.radius > k1p8m) continue;
            if (!rotor && tier == 0 && s.cargo != cargo) continue;
            const double d = distanceNm(ac.pos.latitude, ac.pos.longitude, s.lat, s.lon);
            if (!best || d < bestD) {
                best = i;
                bestD = d;
            }
        }
    }
    if (!best) return;
    const ScheduleTime now = statics_.port().now ? statics_.port().now() : ScheduleTime{};
    appendOccurrence(pos[*best], occurrenceOf(ac, now, false, key));
    ++statics_.airport().updates;
    std::erase_if(statics_.parkedLive(), [&](const auto& p) { return p.hexid == ac.hexid; });
}

}  // namespace vntx
