#include "traffic/program_link.h"

#include <filesystem>
#include <system_error>

#include "core/hooks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "input/user_aircraft.h"
#include "input/weather_reader.h"
#include "liveries/matching.h"
#include "refdata/dbase.h"
#include "simlink/flight_plan.h"
#include "simlink/ids.h"
#include "simlink/simlink.h"
#include "traffic/traffic.h"

namespace vntx {

using traffic::Category;

traffic::ObjectNotice translateNotice(const simlink::ObjectNotice& n) {
    traffic::ObjectNotice t;
    t.objectId = n.objectId;
    switch (n.kind) {
        case simlink::NoticeKind::CreatedLive:
            t.kind = traffic::ObjectNotice::CreatedLive;
            t.hexid = n.value;
            t.value1 = n.value1;  // altitude above ground
            break;
        case simlink::NoticeKind::CreatedStatic:
            t.kind = traffic::ObjectNotice::CreatedStatic;
            t.hexid = n.value;
            break;
        case simlink::NoticeKind::Removed:
            t.kind = traffic::ObjectNotice::Removed;
            break;
        case simlink::NoticeKind::GroundReport:
            // The link carries the on-ground flag as an integer and the ground
            // altitude first; the tick reads them as two values.
            t.kind = traffic::ObjectNotice::GroundReport;
            t.value1 = n.value != 0 ? 1.0 : 0.0;
            t.value2 = n.value1;
            break;
        case simlink::NoticeKind::StaticCg:
            t.kind = traffic::ObjectNotice::StaticCg;
            t.value1 = n.value1;
            t.value2 = n.value2;
            break;
        case simlink::NoticeKind::CreationRefused:
            t.kind = traffic::ObjectNotice::Refused;
            t.hexid = n.value;
            break;
        default:
            t.kind = -1;  // unknown: the tick ignores it
            break;
    }
    return t;
}

std::uint32_t trafficEventId(std::string_view name) {
    using namespace simlink;
    static constexpr std::pair<std::string_view, std::uint32_t> kEvents[] = {
        {"THROTTLE_SET", EVT_THROTTLE_SET},
        {"FLAPS_SET", EVT_FLAPS_SET},
        {"GEAR_SET", EVT_GEAR_SET},
        {"SPOILERS_SET", EVT_SPOILERS_SET},
        {"ENGINE_AUTO_START", EVT_ENGINE_AUTO_START},
        {"ENGINE_AUTO_SHUTDOWN", EVT_ENGINE_AUTO_SHUTDOWN},
        {"CABIN_LIGHTS_SET", EVT_CABIN_LIGHTS_SET},
        {"FREEZE_LATITUDE_LONGITUDE_SET", EVT_FREEZE_LATITUDE_LONGITUDE_SET},
        {"FREEZE_ALTITUDE_SET", EVT_FREEZE_ALTITUDE_SET},
        {"FREEZE_ATTITUDE_SET", EVT_FREEZE_ATTITUDE_SET},
        {"ALL_LIGHTS_TOGGLE", EVT_ALL_LIGHTS_TOGGLE},
    };
    for (const auto& [n, id] : kEvents)
        if (n == name) return id;
    return 0;
}

void SimLinkAdapter::takeNotices(std::vector<traffic::ObjectNotice>& out) {
    raw_ = link_.takeNotices();
    for (const auto& n : raw_) {
        auto t = translateNotice(n);
        if (t.kind >= 0) out.push_back(t);
    }
    raw_.clear();
}

void SimLinkAdapter::queuePosition(std::uint32_t objectId, const traffic::AiPosition& p) {
    simlink::AiPosition s;
    s.latitude = p.latitude;
    s.longitude = p.longitude;
    s.pitch = p.pitch;
    s.bank = p.bank;
    s.heading = p.heading;
    s.altitude = p.altitude;
    s.verticalSpeed = p.verticalSpeed;
    s.trueAirspeed = p.airspeed;
    link_.queuePosition(objectId, s);
}

void SimLinkAdapter::queueEvent(std::uint32_t objectId, std::string_view event, std::uint32_t data) {
    const std::uint32_t id = trafficEventId(event);
    if (id == 0) {
        logErrorf("no client event {}", event);
        return;
    }
    link_.queueClientEvent(objectId, id, data);
}

void SimLinkAdapter::setLights(std::uint32_t objectId, const std::array<int, 7>& lights) {
    std::uint32_t values[7];
    for (std::size_t i = 0; i < 7; ++i) values[i] = lights[i] != 0 ? 1 : 0;
    link_.setLights(objectId, values);
}

void SimLinkAdapter::setCabinLights(std::uint32_t objectId, int on) {
    link_.setCabinLights(objectId, on != 0 ? 1 : 0);
}

void SimLinkAdapter::queueCreation(const traffic::CreationRequest& c) {
    simlink::CreationRecord r;
    r.initPosition.Latitude = c.latitude;
    r.initPosition.Longitude = c.longitude;
    r.initPosition.Altitude = c.altitude;
    r.initPosition.Pitch = c.pitch;
    r.initPosition.Bank = c.bank;
    r.initPosition.Heading = c.heading;
    r.initPosition.OnGround = c.onGround ? 1 : 0;
    r.initPosition.Airspeed = c.airspeed > 0 ? static_cast<simconnect::DWORD>(c.airspeed) : 0;
    r.callsign = c.callsign;
    r.title = c.liveryTitle;
    r.hexid = c.hexid;
    link_.queueCreation(std::move(r));
}

bool SimLinkAdapter::createFlightPlan(const traffic::LiveAircraft& ac) {
    return simlink::createFlightPlan(link_, programDataFolder(), ac.objectId, ac.origin, ac.destination,
                                     static_cast<AircraftCategory>(ac.category), ac.name());
}

void SimLinkAdapter::deleteFlightPlan(std::uint32_t objectId) {
    std::error_code ec;
    std::filesystem::remove(simlink::flightPlanPath(programDataFolder(), objectId), ec);
}

void SimLinkAdapter::sendUserPosition() {
    if (hooks().sendUserPosition) hooks().sendUserPosition();
}

void SimLinkAdapter::reportLiveryNotCreated(const std::string& name, const std::string& title) {
    // Never chosen again, whatever the report decides.
    addRefusedTitle(title);
    simlink::refusedLiveries().report(name, title);
}

namespace {

// The livery matching of a live aircraft; a trial is neither counted nor logged.
std::string liveryFor(const traffic::LiveAircraft& ac, bool trial) {
    const RegistrationRecord* reg = ac.registration.empty() ? nullptr : database().registration(ac.registration);
    const std::string logName = ac.name();
    LiveryRequest req;
    req.airline = ac.operatorCode;
    req.model = ac.aircraftType;
    req.registration = ac.registration;
    req.category = static_cast<AircraftCategory>(ac.category);
    req.cargo = reg && reg->cargo;
    req.logName = logName;
    req.trial = trial;
    if (!matchLiveLivery(req)) return {};
    return std::move(req.title);
}

std::string noLiveryKeyOf(const traffic::LiveAircraft& ac) {
    return noLiveryKey(ac.operatorCode, ac.aircraftType, ac.registration);
}

}  // namespace

traffic::TrafficServices programTrafficServices() {
    traffic::TrafficServices s;
    s.category = [](const std::string& type) { return static_cast<Category>(database().category(type)); };
    s.halfWingspan = [](const std::string& type) { return database().halfWingspan(type); };
    s.lookupRegistration = [](const std::string& reg) -> std::optional<traffic::RegistrationInfo> {
        const RegistrationRecord* r = database().registration(reg);
        if (!r) return std::nullopt;
        return traffic::RegistrationInfo{r->airline, r->model, r->opr};
    };
    s.matchLivery = [](traffic::LiveAircraft& ac) {
        std::string title = liveryFor(ac, false);
        if (title.empty()) return false;
        ac.liveryTitle = std::move(title);
        return true;
    };
    s.probeLivery = [](const traffic::LiveAircraft& ac) { return liveryFor(ac, true); };
    s.noLiveryContains = [](const traffic::LiveAircraft& ac) { return noLiverySet().count(noLiveryKeyOf(ac)) != 0; };
    s.noLiveryAdd = [](const traffic::LiveAircraft& ac) { noLiverySet().insert(noLiveryKeyOf(ac)); };
    s.noLiveryClear = [] { noLiverySet().clear(); };
    s.qnh = [] { return static_cast<double>(input::publishedQnh().load()); };
    s.userPosition = []() -> std::optional<traffic::UserPosition> {
        const UserAircraftState u = userAircraft();
        if (simlink::isZeroPosition(u.latitude, u.longitude)) return std::nullopt;
        traffic::UserPosition p{u.latitude, u.longitude};
        p.altitude = u.altitude;
        p.aboveGround = u.aboveGround;
        p.heading = u.trueHeading;
        p.groundSpeed = u.trueAirspeed;  // the simulator's ground velocity
        p.onGround = u.onGround;
        p.halfWingspan = simLink().userHalfWingspan();
        return p;
    };
    return s;
}

void logTrafficSummary() {
    const auto& s = trafficManager().stats();
    if (s.aircraftSeen == 0) return;
    logf("Live traffic summary: {} aircraft seen, {} creations asked, {} created, {} removed, {} refused, "
         "{} without livery, {} respawns, {} landings",
         s.aircraftSeen, s.creationsQueued, s.created, s.removed, s.refused, s.noLivery, s.respawns, s.landings);
}

void installProgramTraffic() {
    static SimLinkAdapter adapter(simLink());
    setTrafficSimLink(&adapter);
    setTrafficServices(programTrafficServices());
    installTrafficHooks();
    // The cycle's closing summary: what the live traffic did in this cycle.
    // The livery matching summary follows it at the same closing step.
    auto ghosts = hooks().clearGhosts;
    hooks().clearGhosts = [ghosts] {
        logTrafficSummary();
        if (ghosts) ghosts();
    };
}

}  // namespace vntx
