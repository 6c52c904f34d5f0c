// The simulator link's place in the cycle, and the services it draws on.
#include "core/hooks.h"
#include "core/parameters.h"
#include "airports/catalogue.h"
#include "input/user_aircraft.h"
#include "simlink/simlink.h"

namespace vntx {

namespace {
simlink::Services programServices() {
    simlink::Services s;
    s.hasWingspan = [](std::string_view m) { return database().hasWingspan(m); };
    s.halfWingspan = [](std::string_view m) { return database().halfWingspan(m); };
    s.largestHalfWingspan = [] { return database().largestHalfWingspan(); };
    s.categoryOf = [](std::string_view m) { return database().category(m); };
    s.nearestAirport = [](double lat, double lon) {
        const AirportEntry* a = closestAirport(lat, lon);
        return a ? a->code : std::string();
    };
    s.timeSyncEnabled = [] { return hooks().timeSyncEnabled && hooks().timeSyncEnabled(); };
    s.rangeNm = [] { return params().RANGE.get(); };
    s.simInstallPath = [] { return params().SIM_INSTALL_PATH.get(); };
    s.configuredVersion = [] { return params().P3D_VERSION.get(); };
    s.installPathControlId = [] { return params().ALL_INSTALL_PATH.controlId; };
    s.publishUser = [](const simlink::UserPosition& u, bool onGround) {
        UserAircraftState state;
        state.latitude = u.latitude;
        state.longitude = u.longitude;
        state.pitch = u.pitch;
        state.bank = u.bank;
        state.trueHeading = u.heading;
        state.altitude = u.altitude;
        state.trueAirspeed = u.groundVelocity;
        state.aboveGround = u.altAboveGround;
        state.onGround = onGround;
        setUserAircraft(state);
    };
    s.publishSimulatorTime = [](std::int64_t t) { simulatorEpochSeconds() = t; };
    s.reevaluateNearestAirport = [] {
        if (hooks().reevaluateNearestAirport) hooks().reevaluateNearestAirport();
    };
    return s;
}

// Runs an earlier hook first, so that several modules can share one.
void chain(std::function<void()>& hook, std::function<void()> mine) {
    auto earlier = hook;
    hook = [earlier, mine] {
        if (earlier) earlier();
        mine();
    };
}
}  // namespace

simlink::SimLink& simLink() {
    static auto client = simconnect::makeSystemClient();
    static simlink::SimLink link(*client, programServices());
    return link;
}

void installSimlinkHooks() {
    auto& h = hooks();
    h.startSimulator = [] { simLink().start(); };
    h.simulationRunning = [] { return simLink().simulationRunning(); };
    h.waitForUserAircraft = [] { return simLink().waitForUserAircraft(); };
    h.stopSimulator = [] { simLink().stop(); };
    h.simLinkLoad = [] { return simLink().loadFigures(); };
    h.prepareFlightPlanFolder = [] { simlink::prepareFlightPlanFolder(programDataFolder()); };
    h.cleanFlightPlanFolder = [] { simlink::cleanFlightPlanFolder(programDataFolder()); };
    h.removeFlightPlans = [] { simlink::removeFlightPlanFolder(programDataFolder()); };
    chain(h.clearContainers, [] { simLink().reserve(1000); });
    chain(h.resetCycleState, [] { simLink().reset(); });
    chain(h.joinThreads, [] { simLink().stop(); });
    // Until the live-traffic tick takes over (it refreshes the user position
    // every 100th tick itself), keep the user position fresh the same way.
    if (!h.trafficTick)
        h.trafficTick = [tick = std::uint64_t{0}]() mutable {
            if (++tick % 100 == 0) simLink().requestUserPosition();
        };
}

}  // namespace vntx
