// The park airport and the life of the static aircraft: choice, reading,
// selection, creation, removal. The 20-minute renewal lives beside it
// (static_adjust.cpp).
#include "airports/static_parking.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include <fmt/format.h>

#include "airports/catalogue.h"
#include "core/files.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/status.h"

namespace vntx {

using traffic::FlightState;
using traffic::LiveAircraft;

StaticParking::StaticParking(ParkingPort port) : port_(std::move(port)) {
    candidates_.reserve(512);
    statics_.reserve(512);
}

// ------------------------------------------------------------------ the park airport

void StaticParking::readParkAirports() {
    list_ = lf_readMyParkAirports(kMyParkAirportsFile, kThirdpartyFolder);
    failedCode_.clear();  // files may have come: every airport is tried again
}

std::optional<ParkAirportRefInfo> StaticParking::parkAirportRef() const {
    if (code_.empty()) return std::nullopt;
    return ParkAirportRefInfo{parkLat_, parkLon_, parkElevation_};
}

std::optional<double> StaticParking::inSightDistance() const { return sightDistance_; }

bool StaticParking::setParkAirport(const std::string& code) {
    const AirportEntry* a = findAirport(code);
    if (!a) return false;
    code_ = a->code;
    parkLat_ = a->lat;
    parkLon_ = a->lon;
    parkElevation_ = a->alt;
    logf("\nThe park airport is {}", code_);
    if (port_.parkAirportChanged) port_.parkAirportChanged(parkAirportRef());
    return true;
}

void StaticParking::updateStaticParking() {
    if (!readRequested_) {
        const auto u = port_.user ? port_.user() : std::nullopt;
        if (!u || (std::fabs(u->lat) < 0.0001 && std::fabs(u->lon) < 0.0001)) return;
        const bool moved = std::fabs(u->lat - lastLat_) > 1e-8 || std::fabs(u->lon - lastLon_) > 1e-8;
        refreshDistances(list_, u->lat, u->lon, moved);
        lastLat_ = u->lat;
        lastLon_ = u->lon;
        if (parkAirportSet())
            checkInSight(*u);
        else
            findParkAirport(*u);
    }
    if (readRequested_) {
        readRequested_ = false;
        readParkFile();
    }
}

void StaticParking::findParkAirport(const UserFix& u) {
    // The user's situation is shown once, not again at every look: the status
    // line would otherwise hide every other message while the user stands.
    auto tell = [this](const std::string& text) {
        if (text == lastGroundMessage_) return;
        lastGroundMessage_ = text;
        showStatus(text, false);
    };
    if (u.onGround) {
        const AirportEntry* a = closestAirport(u.lat, u.lon);
        if (!a) {
            tell("User aircraft on the ground, no RT supported airport in sight");
            return;
        }
        const bool file = port_.hasParkFile ? port_.hasParkFile(a->code) : !findParkFileLocation(a->code).empty();
        if (!file) {
            tell(fmt::format("User aircraft on the ground at {}, no airport file found", a->code));
            return;
        }
        // A park file that failed to come is not asked for again and again.
        if (a->code == failedCode_) return;
        lastGroundMessage_.clear();
        logf("User aircraft on the ground at {}", a->code);
        if (!setParkAirport(a->code)) return;
        readRequested_ = true;
        showStatus("Calculating static parked aircraft ...", false);
        return;
    }
    lastGroundMessage_.clear();
    if (list_.empty()) return;
    const ParkAirportEntry& first = list_.front();
    if (!inSight(first.distance, u.altitude, params().AIRP_RANGE, params().AIRP_HEIGHT)) return;
    if (first.code == failedCode_) return;
    if (!setParkAirport(first.code)) return;
    sightDistance_ = first.distance;
    showStatus(fmt::format("{} in sight at {:.1F} nm", first.code, first.distance), true);
    readRequested_ = true;
}

void StaticParking::checkInSight(const UserFix& u) {
    const double d = distanceNm(u.lat, u.lon, parkLat_, parkLon_);
    if (u.onGround) {
        sightDistance_ = d;
        return;
    }
    const auto change =
        checkSight(d, u.altitude, params().AIRP_RANGE, params().AIRP_HEIGHT, list_.empty() ? nullptr : &list_.front(), code_);
    if (change == SightChange::Keep) {
        sightDistance_ = d;
        return;
    }
    if (change == SightChange::NearerInSight)
        logf("\n{} {} is in sight ({:.1F} nm), parked aircraft at {} will be removed first", utcTimeOfDay(),
             list_.front().code, list_.front().distance, code_);
    else
        logf("\n{} {} is out of sight ({:.1F} nm), parked aircraft will be removed", utcTimeOfDay(), code_, d);
    leaveParkAirport();
}

void StaticParking::readParkFile() {
    ParkAirport& apt = airport();
    apt = ParkAirport{};
    apt.code = code_;
    const int ownMaxLive = params().MAX_LIVE_SEL;
    std::string error = port_.readParkFile ? port_.readParkFile(apt) : std::string("no park file reader");
    if (!error.empty()) {
        showStatus(error, true);
        const std::string failed = code_;
        leaveParkAirport();
        failedCode_ = failed;
        return;
    }
    failedCode_.clear();
    loaded_ = true;
    maxLiveOwn_ = ownMaxLive;
    if (port_.settingsChanged) port_.settingsChanged();
    if (!(apt.Qf_real < 45 || apt.positions.size() < 20)) {
        params().LEARN_SOFT.set(false);
        if (auto* fe = frontEnd()) fe->enableControl(params().LEARN_SOFT.controlId, false);
    }
    indicators().stands = static_cast<int>(apt.positions.size());
    indicators().staticCountdown = 20;
    // The stand the user's aircraft stands on is kept free, and remembered.
    userStand_ = 0;
    const auto u = port_.user ? port_.user() : std::nullopt;
    if (u && u->onGround) {
        double best = 0;
        for (const auto& p : apt.positions) {
            const double d = distanceNm(u->lat, u->lon, p.lat, p.lon);
            if (userStand_ == 0 || d < best) {
                best = d;
                userStand_ = p.index;
            }
        }
        if (userStand_ != 0 && best <= std::max(apt.positions[userStand_ - 1].radius, 0.02)) {
            setIndicatorText(IndicatorText::ReservedStand, apt.positions[userStand_ - 1].id);
            rememberUserStand(list_, kMyParkAirportsFile, code_, apt.positions[userStand_ - 1].id);
        } else {
            userStand_ = 0;
        }
    }
    selectStaticAircraft();
}

void StaticParking::leaveParkAirport() {
    if (onLeave) onLeave();
    removeAll();
    if (loaded_ && airport().updates > 0) saveLearnedFile(airport());
    if (loaded_ && maxLiveOwn_ >= 0 && params().MAX_LIVE_SEL != maxLiveOwn_) params().MAX_LIVE_SEL.set(maxLiveOwn_);
    maxLiveOwn_ = -1;
    airport() = ParkAirport{};
    code_.clear();
    loaded_ = false;
    readRequested_ = false;
    renewalPending_ = false;
    sightDistance_.reset();
    userStand_ = 0;
    candidates_.clear();
    waiting_.clear();
    parkedLive_.clear();
    indicators().stands = 0;
    setIndicatorText(IndicatorText::ReservedStand, "");
    if (port_.parkAirportChanged) port_.parkAirportChanged(std::nullopt);
}

// ------------------------------------------------------------------ selection

int StaticParking::wantedCount() const {
    const auto& p = params();
    const int pct = p.CUSTOM_PARKING_PERCENTAGE >= 0 ? p.CUSTOM_PARKING_PERCENTAGE.get() : p.parking_percentage.get();
    const std::size_t n = currentParkAirport().positions.size();
    const int wanted = wantedStaticCount(p.MAX_PARK_SEL, pct, n);
    indicators().maxPark = wanted;
    indicators().maxParkPercent = n == 0 ? 0 : static_cast<int>(std::lround(wanted * 100.0 / static_cast<double>(n)));
    return wanted;
}

SelectionContext StaticParking::selectionContext() {
    const auto& p = params();
    SelectionContext ctx;
    ctx.rules.maxFit = p.MAX_FIT;
    ctx.rules.maxFitHours = p.MAX_FIT_FL.get();
    ctx.rules.week = p.WEEK;
    ctx.rules.parkSoft = p.PARK_SOFT;
    ctx.rules.random = p.RANDOM;
    ctx.rules.helicopters = p.HELICOPTERS;
    ctx.rng = &rng_;
    ctx.halfWingspan = port_.halfWingspan;
    auto names = std::make_shared<std::unordered_set<std::string>>();
    auto add = [&](const std::string& s) {
        if (!s.empty()) names->insert(s);
    };
    if (traffic_)
        for (const auto& ac : traffic_->liveList()) {
            add(ac.registration);
            add(ac.callsign);
            add(ac.firstCallsign);
            if (ac.standId > 0) ctx.liveOnStands.push_back({static_cast<std::uint32_t>(ac.standId), ac.standLatitude,
                                                            ac.standLongitude, ac.halfWingspan});
        }
    for (const auto& s : statics_) {
        add(s.reg);
        add(s.callsign);
    }
    if (port_.seenIdentities)
        for (const auto& s : port_.seenIdentities()) add(s);
    ctx.inSimulator = [names](std::string_view s) { return names->count(std::string(s)) != 0; };
    return ctx;
}

void StaticParking::markReserved() {
    ParkAirport& apt = airport();
    if (userStand_ != 0 && userStand_ <= apt.positions.size()) apt.positions[userStand_ - 1].marks |= kStandReserved;
    for (const auto& e : list_)
        if (e.code == code_ && !e.stand.empty())
            for (auto& p : apt.positions)
                if (p.id == e.stand) p.marks |= kStandReserved;
}

void StaticParking::selectStaticAircraft() {
    const ScheduleTime now = port_.now ? port_.now() : ScheduleTime{};
    logf("\n{} (utc) It is day {} ({}), {:.1F} hours", utcTimeOfDay(), now.day, dayName(now.day), now.slot / 2.0);
    removeAll();
    candidates_.clear();
    ParkAirport& apt = airport();
    clearStandMarks(apt);
    markReserved();
    for (const auto& live : parkedLive_) takeStand(apt, live.stand);
    const int wanted = wantedCount();
    const int parked = static_cast<int>(parkedLive_.size());
    SelectionOutcome out;
    if (wanted > parked) out = runSelectionPasses(apt, selectionContext(), now, wanted, parked, candidates_);
    if (candidates_.empty()) {
        logLine("no parking positions found");
    } else {
        const auto n = candidates_.size();
        const int pct = static_cast<int>(std::lround(n * 100.0 / static_cast<double>(std::max<std::size_t>(1, apt.positions.size()))));
        logf("{} positions ({}% vs wanted {}%, with Max fit={:.1F} hours)\n", n, pct, indicators().maxParkPercent.load(),
             params().MAX_FIT_FL.get());
    }
    indicators().softUsed = out.softUsed;
    indicators().weekUsed = out.weekUsed;
    setIndicatorText(IndicatorText::AverageFit, fmt::format("{:.1f}", out.averageFitHours));
    queueCandidates();
    requestRepaint();
}

void StaticParking::queueCandidates() {
    for (const auto& c : candidates_) waiting_.push_back(c);
}

// ------------------------------------------------------------------ the static aircraft

std::string StaticParking::standLabel(std::uint32_t stand) const {
    const auto& pos = currentParkAirport().positions;
    if (stand == 0) return "sid==0?";
    if (stand > pos.size()) return "sid==?";
    return pos[stand - 1].id;
}

const StaticAircraft* StaticParking::onStand(std::uint32_t stand) const {
    for (const auto& s : statics_)
        if (s.stand == stand) return &s;
    return nullptr;
}

int StaticParking::staticCount() const {
    return static_cast<int>(std::count_if(statics_.begin(), statics_.end(),
                                          [](const StaticAircraft& s) { return s.state == StaticAircraft::State::active; }));
}

void StaticParking::showCounts() {
    const int n = staticCount();
    if (indicators().staticCount.exchange(n) != n) requestRepaint();
}

void StaticParking::takeCreation() {
    if (waiting_.empty()) return;
    const StaticCandidate c = std::move(waiting_.front());
    waiting_.pop_front();
    ParkAirport& apt = airport();
    if (c.stand == 0 || c.stand > apt.positions.size()) {
        logf("stand with id {} not found", c.stand);
        ++totals_.dropped;
        return;
    }
    const ParkPosition& stand = apt.positions[c.stand - 1];
    const std::string name = lf_detcs(c);
    auto drop = [&](const std::string& line) {
        logLine(line);
        ++totals_.dropped;
    };
    if (traffic_) {
        for (const auto& ac : traffic_->liveList()) {
            const bool assigned = ac.standId == static_cast<std::int32_t>(c.stand);
            const bool standing = ac.onGround && ac.objectId != 0 &&
                                  distanceNm(ac.pos.latitude, ac.pos.longitude, stand.lat, stand.lon) < stand.radius;
            if (assigned || standing)
                return drop(fmt::format("{:8}: no static parking for {}, live aircraft {} standing here", stand.id, name,
                                        ac.name()));
            for (auto nb : stand.neighbours)
                if (ac.standId == static_cast<std::int32_t>(nb))
                    return drop(fmt::format("{:8}: no static parking for {}, live aircraft {} is adjacent at {}, possibly "
                                            "colliding",
                                            stand.id, name, ac.name(), standLabel(nb)));
        }
    }
    for (auto nb : stand.neighbours)
        if (const StaticAircraft* s = onStand(nb))
            return drop(fmt::format("{:8}: no static parking for {}, static aircraft {} is adjacent at {}, possibly "
                                    "colliding",
                                    stand.id, name, s->callsign, standLabel(nb)));
    const std::string title = port_.staticLivery ? port_.staticLivery(c.airline, c.type, c.reg) : std::string();
    if (title.empty()) return drop(fmt::format("{:8}: {} no livery match ...", stand.id, name));
    StaticAircraft s;
    s.hexid = nextHexid_;
    nextHexid_ = nextHexid_ >= 10000 ? 1 : nextHexid_ + 1;
    s.stand = c.stand;
    // The simulator link identifies the new object by its tail number.
    s.callsign = !name.empty() ? name : (!c.reg.empty() ? c.reg : fmt::format("STC{}", s.hexid));
    s.reg = c.reg;
    s.airline = c.airline;
    s.type = c.type;
    s.title = title;
    s.state = StaticAircraft::State::creating;
    traffic::CreationRequest r;
    r.latitude = stand.lat;
    r.longitude = stand.lon;
    r.altitude = parkElevation_;
    r.heading = stand.heading / traffic::kDeg;
    r.onGround = true;
    r.callsign = s.callsign;
    r.liveryTitle = title;
    r.hexid = s.hexid;
    statics_.push_back(std::move(s));
    if (port_.createStatic) port_.createStatic(r);
}

void StaticParking::created(std::uint32_t hexid, std::uint32_t objectId) {
    for (auto& s : statics_) {
        if (s.hexid != hexid || s.state != StaticAircraft::State::creating) continue;
        s.objectId = objectId;
        s.state = StaticAircraft::State::active;
        ++totals_.placed;
        logf("{:8}: {:8} parked", standLabel(s.stand), s.callsign);
        if (s.removeWhenCreated) remove(s, "");
        break;
    }
    std::erase_if(statics_, [](const StaticAircraft& s) { return s.state == StaticAircraft::State::removing; });
    showCounts();
}

void StaticParking::removed(std::uint32_t objectId) {
    std::erase_if(statics_, [&](const StaticAircraft& s) { return s.objectId == objectId && objectId != 0; });
    showCounts();
}

void StaticParking::refused(std::uint32_t hexid) {
    for (const auto& s : statics_)
        if (s.hexid == hexid) logf("{:8}: {:8} static creation refused, livery '{}'", standLabel(s.stand), s.callsign, s.title);
    std::erase_if(statics_, [&](const StaticAircraft& s) { return s.hexid == hexid; });
}

void StaticParking::remove(StaticAircraft& s, const std::string& why) {
    if (!why.empty()) logLine(why);
    if (s.objectId == 0) {
        s.removeWhenCreated = true;  // still being created: it goes once it exists
        return;
    }
    if (port_.removeObject) port_.removeObject(s.objectId);
    s.state = StaticAircraft::State::removing;
}

void StaticParking::removeAll() {
    waiting_.clear();
    for (auto& s : statics_) remove(s, "");
    std::erase_if(statics_, [](const StaticAircraft& s) { return s.state == StaticAircraft::State::removing; });
    showCounts();
}

bool StaticParking::removeActive(std::uint32_t objectId) {
    for (auto& s : statics_) {
        if (s.state != StaticAircraft::State::active || s.objectId != objectId) continue;
        remove(s, "");
        std::erase_if(statics_, [](const StaticAircraft& x) { return x.state == StaticAircraft::State::removing; });
        showCounts();
        return true;
    }
    return false;
}

bool StaticParking::removeFirst(const char* why) {
    for (auto& s : statics_) {
        if (s.state != StaticAircraft::State::active) continue;
        remove(s, fmt::format("{:8}: {} static max park exceeded, removed", s.objectId, s.callsign));
        (void)why;
        std::erase_if(statics_, [](const StaticAircraft& x) { return x.state == StaticAircraft::State::removing; });
        showCounts();
        return true;
    }
    return false;
}

void StaticParking::couple(const LiveAircraft& ac) {
    for (auto& s : statics_) {
        if (s.state != StaticAircraft::State::active) continue;
        const bool sameReg = !s.reg.empty() && s.reg == ac.registration;
        const bool sameCallsign = !s.callsign.empty() && (s.callsign == ac.callsign || s.callsign == ac.firstCallsign);
        if (!sameReg && !sameCallsign) continue;
        const char* where = ac.onGround ? "on ground" : "airborne";
        if (sameReg)
            remove(s, fmt::format("{:8}: {:8} {} removed, new {} '{}' has same regcode {}", standLabel(s.stand), s.callsign,
                                  s.type, where, ac.callsign, s.reg));
        else
            remove(s, fmt::format("{:8}: {:8} '{}' '{}' removed, new {} {} '{}' '{}' has {} callsign", standLabel(s.stand),
                                  s.callsign, s.airline, s.type, where, ac.callsign, ac.operatorCode, ac.aircraftType,
                                  "same"));
    }
    std::erase_if(statics_, [](const StaticAircraft& s) { return s.state == StaticAircraft::State::removing; });
    showCounts();
}

void StaticParking::removeDuplicate() {
    if (!traffic_) return;
    for (auto& s : statics_) {
        if (s.state != StaticAircraft::State::active) continue;
        for (const auto& ac : traffic_->liveList()) {
            if (!ac.onGround || ac.state != traffic::AcState::active) continue;
            if ((!s.reg.empty() && s.reg == ac.registration) || s.callsign == ac.callsign) {
                remove(s, fmt::format("{:8}: {:8} static duplicate of live {}, removed", standLabel(s.stand), s.callsign,
                                      ac.name()));
                std::erase_if(statics_, [](const StaticAircraft& x) { return x.state == StaticAircraft::State::removing; });
                showCounts();
                return;
            }
        }
    }
}

void StaticParking::makeWay(std::uint32_t stand, const LiveAircraft& ac, bool excluded) {
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
        if (it->stand != stand) continue;
        logf("queued {:8}: {:8} {} makes way for{} {} {}", standLabel(stand), lf_detcs(*it), it->type, "", ac.callsign,
             ac.aircraftType);
        waiting_.erase(it);
        break;
    }
    for (auto& s : statics_) {
        if (s.stand != stand || s.state == StaticAircraft::State::removing) continue;
        if (excluded) {
            remove(s, fmt::format("{:8}: {:8} makes way for {} parking at excluded stand {}", standLabel(stand), s.callsign,
                                  ac.callsign, standLabel(stand)));
        } else {
            const bool same = !s.callsign.empty() && (ac.callsign == s.callsign + "*" || ac.callsign == s.callsign);
            remove(s, fmt::format("{:8}: {:8} {} makes way for{} {} {}", standLabel(stand), s.callsign, s.type,
                                  same ? " the same live version" : "", ac.callsign, ac.aircraftType));
        }
    }
    std::erase_if(statics_, [](const StaticAircraft& s) { return s.state == StaticAircraft::State::removing; });
    showCounts();
}

void StaticParking::flush() {
    removeAll();
    renewalPending_ = loaded_;
}

void StaticParking::placementStep() {
    if (!renewalPending_) return;
    renewalPending_ = false;
    parkingAdjustments();
}

void StaticParking::reset() {
    failedCode_.clear();
    statics_.clear();
    waiting_.clear();
    candidates_.clear();
    parkedLive_.clear();
    renewalPending_ = false;
    if (indicators().staticCount.exchange(0) != 0) requestRepaint();
}

}  // namespace vntx
