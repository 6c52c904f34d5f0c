// What the traffic tick needs from the world around it: the simulator link
// (notices in; positions, events, creations and removals out) and the
// reference data, settings-derived facts and neighbouring subsystems.
// The program wires the real ones; tests give fakes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "traffic/live_aircraft.h"

namespace vntx::traffic {

class SimLinkPort {
public:
    virtual ~SimLinkPort() = default;
    // Moves out every notice posted since the last call, in arrival order.
    virtual void takeNotices(std::vector<ObjectNotice>& out) = 0;
    virtual void queuePosition(std::uint32_t objectId, const AiPosition& pos) = 0;
    virtual void handOverPositions() = 0;
    virtual void queueEvent(std::uint32_t objectId, std::string_view event, std::uint32_t data) = 0;
    // nav, beacon, landing, taxi, strobes, logo, cabin
    virtual void setLights(std::uint32_t objectId, const std::array<int, 7>& lights) = 0;
    virtual void setCabinLights(std::uint32_t objectId, int on) = 0;
    virtual void setControlBlock(std::uint32_t objectId, double spoilers, double throttle1, double throttle2) = 0;
    virtual bool toggleAllLights(std::uint32_t objectId) = 0;
    virtual void queueCreation(const CreationRequest& creation) = 0;
    virtual void queueRemoval(std::uint32_t objectId) = 0;
    // The static centre-of-gravity request; the link logs a failure and runs
    // its request failure step itself.
    virtual void requestStaticCg(std::uint32_t objectId) = 0;
    // Writes and sets the flight plan; true when it was set.
    virtual bool createFlightPlan(const LiveAircraft& ac) = 0;
    virtual void deleteFlightPlan(std::uint32_t objectId) = 0;
    virtual void requestWithinRange() = 0;
    virtual void requestUserPosition() = 0;
    virtual void sendUserPosition() = 0;
    virtual void reportLiveryNotCreated(const std::string& name, const std::string& title) = 0;
    virtual void requestFailed() = 0;
};

// A simulator link that takes everything and sends nothing (no simulator yet,
// benchmarks); override what is wanted.
class NullSimLink : public SimLinkPort {
public:
    void takeNotices(std::vector<ObjectNotice>&) override {}
    void queuePosition(std::uint32_t, const AiPosition&) override {}
    void handOverPositions() override {}
    void queueEvent(std::uint32_t, std::string_view, std::uint32_t) override {}
    void setLights(std::uint32_t, const std::array<int, 7>&) override {}
    void setCabinLights(std::uint32_t, int) override {}
    void setControlBlock(std::uint32_t, double, double, double) override {}
    bool toggleAllLights(std::uint32_t) override { return true; }
    void queueCreation(const CreationRequest&) override {}
    void queueRemoval(std::uint32_t) override {}
    void requestStaticCg(std::uint32_t) override {}
    bool createFlightPlan(const LiveAircraft&) override { return false; }
    void deleteFlightPlan(std::uint32_t) override {}
    void requestWithinRange() override {}
    void requestUserPosition() override {}
    void sendUserPosition() override {}
    void reportLiveryNotCreated(const std::string&, const std::string&) override {}
    void requestFailed() override {}
};

struct RegistrationInfo {
    std::string airline;
    std::string model;
    std::string opr;
};

struct ParkAirportInfo {
    double latitude = 0, longitude = 0;
    double elevation = 0;            // feet
    std::vector<std::string> codes;  // ICAO and IATA
};

// The user aircraft as the simulator last reported it (once a second).
struct UserPosition {
    double latitude = 0, longitude = 0;
    double altitude = 0;       // feet
    double aboveGround = 0;    // feet
    double heading = 0;        // radians true
    double groundSpeed = 0;    // knots
    bool onGround = false;
    double halfWingspan = 0;   // nm
};

// A static parked aircraft as the collision rules see it.
struct StaticAircraftView {
    std::uint32_t id = 0;      // what removeStaticAircraft takes
    double latitude = 0, longitude = 0;  // its stand
    double halfWingspan = 0;   // nm
    std::string callsign;
    std::string standLabel;    // "sid==0?" / "sid==?" when the stand is unknown
};

// Everything besides the simulator link. Unset functions mean: not known,
// nothing to do (the hooks of stands and static parking stay empty until
// those subsystems are wired). The ground movement and collision hooks are
// filled by the traffic manager itself unless a caller sets its own.
struct TrafficServices {
    std::function<Category(const std::string& type)> category;
    std::function<double(const std::string& type)> halfWingspan;  // nm
    std::function<std::optional<RegistrationInfo>(const std::string& registration)> lookupRegistration;
    // Fills ac.liveryTitle with the livery chosen for the aircraft (the
    // matching counts and logs the choice); false when no livery fits.
    std::function<bool(LiveAircraft& ac)> matchLivery;
    // The title the matching would choose now, neither counted nor logged
    // (a trial, as for a new registration); empty when none fits.
    std::function<std::string(const LiveAircraft& ac)> probeLivery;
    // The no-livery set: aircraft with a registration for which no livery
    // was found are not spawned again while they stand in it.
    std::function<bool(const LiveAircraft& ac)> noLiveryContains;
    std::function<void(const LiveAircraft& ac)> noLiveryAdd;
    std::function<void()> noLiveryClear;
    std::function<std::optional<ParkAirportInfo>()> parkAirport;
    std::function<double()> qnh;  // hPa
    std::function<std::optional<UserPosition>()> userPosition;

    // stands (live stand allocation)
    std::function<bool(LiveAircraft& ac)> requestStand;
    std::function<void(LiveAircraft& ac)> freeStand;
    std::function<bool(LiveAircraft& ac, const TrafficRecord& rec)> standChecks;
    std::function<void(LiveAircraft& ac)> arrivalStep;
    std::function<void(LiveAircraft& ac)> parksStep;
    std::function<void(LiveAircraft& ac)> parkingLimits;
    // A taxiing aircraft came to rest: look for a stand near its newest
    // report and, with one, drive2Stand onto it (wide: a wider search).
    std::function<void(LiveAircraft& ac, bool wide)> try2Park;
    // The stand's text id for log lines ("sid==0?" without a stand, "sid==?" for an unknown one).
    std::function<std::string(std::int32_t standId)> standLabel;
    // ground movement
    std::function<void(LiveAircraft& ac)> groundStep;         // schedule of a ground leg
    std::function<void(LiveAircraft& ac, int ticks)> groundHeadingStep;
    std::function<void(LiveAircraft& ac)> groundCurveStep;
    std::function<void(LiveAircraft& ac, const TrafficRecord& rec)> takeOffDetection;
    std::function<void(LiveAircraft& ac, const TrafficRecord& rec)> pushBackDirection;
    // static parking
    std::function<void()> staticPlacement;
    std::function<bool()> staticCreationWaiting;
    std::function<void()> takeStaticCreation;
    std::function<void(const ObjectNotice& n)> staticCreated;
    std::function<void(std::uint32_t objectId)> staticRemoved;
    std::function<void(std::uint32_t objectId)> staticRefused;
    std::function<void(LiveAircraft& ac)> couple;
    std::function<void(LiveAircraft& ac)> softLearning;
    // collision rules: true when the oldest report was dropped and spawning waits
    std::function<bool(LiveAircraft& ac)> userCollisionSpawn;
    std::function<void()> collisionRemovals;
    // The active static parked aircraft, and the removal of one of them.
    std::function<std::vector<StaticAircraftView>()> activeStaticAircraft;
    std::function<void(std::uint32_t id)> removeStaticAircraft;
};

}  // namespace vntx::traffic
