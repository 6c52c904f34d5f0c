#include "airports/parking_program.h"

#include <atomic>

#include <fmt/format.h>

#include "airports/catalogue.h"
#include "core/cycle.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/status.h"
#include "input/input.h"
#include "input/traffic_reader.h"
#include "input/user_aircraft.h"
#include "liveries/matching.h"
#include "refdata/dbase.h"
#include "simlink/simlink.h"
#include "traffic/program_link.h"
#include "traffic/traffic.h"

namespace vntx {
namespace {

// Set from the simulator thread (a flight loaded, a new file); the driver
// leaves the park airport so that it is chosen again.
std::atomic<bool> reevaluateRequested{false};

void chain(std::function<void()>& hook, std::function<void()> mine) {
    hook = [earlier = std::move(hook), mine = std::move(mine)] {
        if (earlier) earlier();
        mine();
    };
}

std::string staticLivery(const std::string& airline, const std::string& type, const std::string& reg) {
    const RegistrationRecord* r = reg.empty() ? nullptr : database().registration(reg);
    LiveryRequest req;
    req.airline = airline;
    req.model = type;
    req.registration = reg;
    req.category = database().category(type);
    req.cargo = r && r->cargo;
    req.logName = reg;
    if (!matchStaticLivery(req, req.cargo, {})) return {};
    return std::move(req.title);
}

ParkingPort programPort() {
    ParkingPort p;
    p.user = []() -> std::optional<UserFix> {
        const UserAircraftState u = userAircraft();
        if (u.latitude == 0 && u.longitude == 0) return std::nullopt;
        return UserFix{u.latitude, u.longitude, u.altitude, u.onGround};
    };
    p.now = [] { return scheduleTimeOf(cycleState().scheduleSlot.load()); };
    p.createStatic = [](const traffic::CreationRequest& c) {
        static SimLinkAdapter adapter(simLink());
        adapter.queueCreation(c);
    };
    p.removeObject = [](std::uint32_t id) { simLink().queueRemoval(id); };
    p.staticLivery = staticLivery;
    p.halfWingspan = [](std::string_view type) { return database().halfWingspan(type); };
    p.cargoRegistration = [](std::string_view reg) {
        const RegistrationRecord* r = reg.empty() ? nullptr : database().registration(reg);
        return r && r->cargo;
    };
    p.hasParkFile = [](std::string_view code) { return !findParkFileLocation(code).empty(); };
    p.readParkFile = [](ParkAirport& airport) -> std::string {
        const std::string location = findParkFileLocation(airport.code);
        if (location.empty()) return fmt::format("{} {} not found", airport.code, "airport file");
        return gf_readApf(location, airport);
    };
    p.parkAirportChanged = [](const std::optional<ParkAirportRefInfo>& ref) {
        if (!ref) {
            input::trafficReader().setParkAirport(std::nullopt);
            return;
        }
        input::trafficReader().setParkAirport(input::ParkAirportRef{ref->lat, ref->lon, ref->elevationFt});
    };
    p.seenIdentities = [] {
        std::vector<std::string> out;
        for (const auto& [stamp, callsign] : input::trafficReader().seenCallsigns()) out.push_back(callsign);
        return out;
    };
    p.settingsChanged = [] {
        if (auto* fe = frontEnd()) fe->refreshControls();
        requestRepaint();
    };
    return p;
}

void updateStaticParking() {
    auto& statics = programParking().statics;
    if (reevaluateRequested.exchange(false) && statics.parkAirportSet()) statics.reevaluate();
    statics.updateStaticParking();
}

}  // namespace

Parking& programParking() {
    static Parking parking(programPort());
    return parking;
}

void installParkingHooks() {
    auto services = programTrafficServices();
    addParkingServices(services, programParking());
    useGroundMovement(programParking().stands);
    setTrafficServices(std::move(services));
    programParking().statics.setTraffic(&trafficManager());

    auto& h = hooks();
    h.readParkAirports = [] { programParking().statics.readParkAirports(); };
    h.updateStaticParkingFirst = updateStaticParking;
    h.staticRefresh = updateStaticParking;
    chain(h.staticDuties15, updateStaticParking);
    h.staticUpdatePrepare = [] { logf("{} static parking update prepared", utcTimeOfDay()); };
    h.staticUpdateFinish = [] {
        auto& statics = programParking().statics;
        statics.parkingAdjustments();
        if (statics.loaded() && statics.airport().updates > 0) saveLearnedFile(statics.airport());
    };
    h.flushStatic = [] { programParking().statics.flush(); };
    h.removeDuplicateStatic = [] { programParking().statics.removeDuplicate(); };
    h.parkAirportSet = [] { return programParking().statics.parkAirportSet(); };
    h.releaseGroundTraffic = [] {
        auto& p = programParking();
        const int stands = static_cast<int>(p.statics.airport().positions.size());
        const int taken = p.statics.staticCount() + static_cast<int>(p.stands.reservedCount());
        logf("Parking summary: {} static aircraft placed at {}, stands {} free / {} taken, {} live aircraft parked, "
             "{} stand searches",
             p.statics.totals().placed, p.statics.parkCode(), stands - taken, taken, p.statics.parkedLive().size(),
             p.stands.searches());
        p.stands.releaseAll();
        p.statics.removeAll();
        for (auto& ac : trafficManager().liveList()) {
            using FS = traffic::FlightState;
            const auto fs = ac.flightState;
            if (ac.state == traffic::AcState::active &&
                (fs == FS::pushing_back || fs == FS::pushed_back || fs == FS::taxi || fs == FS::take_off ||
                 fs == FS::parked || fs == FS::parking))
                trafficManager().removeAircraftFromSim(ac);
        }
    };
    h.reevaluateNearestAirport = [] { reevaluateRequested = true; };
    chain(h.refreshCounts, [] {
        const int n = programParking().statics.staticCount();
        if (indicators().staticCount.exchange(n) != n) requestRepaint();
    });
    chain(h.clearContainers, [] { programParking().statics.reset(); });
    chain(h.resetCycleState, [] {
        auto& p = programParking();
        if (p.statics.parkAirportSet()) p.statics.leaveParkAirport();
        p.statics.reset();
        reevaluateRequested = false;
    });
}

}  // namespace vntx
