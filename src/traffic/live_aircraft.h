// The record of one live aircraft, its states, the per-category motion
// tables, and the small value types the traffic tick exchanges with the
// simulator link.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "traffic/traffic_record.h"

namespace vntx::traffic {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kDeg = kPi / 180.0;
inline constexpr double kFeetPerNm = 6076.11549;

// Size class of an aircraft type (same numbering as the database's).
enum class Category : int { Light = 0, Buzjets = 1, Large = 2, Heavy = 3, HighPerf = 4, Rotorcraft = 5 };

enum class AcState : int { buffer = 0, adding2sim = 1, active = 2, liveryrespawn = 3, removingfromsim = 4 };
enum class FlightState : int {
    pushing_back = 0,
    pushed_back = 1,
    taxi = 2,
    take_off = 3,
    flying = 4,
    parking = 5,
    parked = 6,
    birth = 7
};
const char* stateName(AcState s);
const char* flightStateName(FlightState s);

// TrafficRecord::flags bit: the report lies at the previous report's position.
inline constexpr std::uint32_t kStationary = 1;
inline bool isStationary(const TrafficRecord& r) { return (r.flags & kStationary) != 0; }
inline void setStationary(TrafficRecord& r, bool on) {
    r.flags = on ? (r.flags | kStationary) : (r.flags & ~kStationary);
}

// The AI position block as the simulator takes it.
struct AiPosition {
    double latitude = 0;       // degrees
    double longitude = 0;      // degrees
    double pitch = 0;          // radians, negative nose up
    double bank = 0;           // radians
    double heading = 0;        // radians true
    double altitude = 0;       // feet
    double verticalSpeed = 0;  // feet per second
    double airspeed = 0;       // knots
};

// A notice about one AI object, posted by the simulator link for the tick.
struct ObjectNotice {
    enum Kind : int {
        CreatedLive = 0,
        CreatedStatic = 1,
        Removed = 2,
        GroundReport = 3,  // value1: on ground (0/1), value2: ground altitude (ft)
        StaticCg = 4,      // value1: CG height (ft), value2: static pitch (rad)
        Refused = 6,
    };
    std::uint32_t objectId = 0;
    std::uint32_t hexid = 0;
    int kind = 0;
    double value1 = 0;  // CreatedLive: altitude above ground (ft)
    double value2 = 0;
};

// One creation as the simulator link sends it.
struct CreationRequest {
    double latitude = 0, longitude = 0, altitude = 0;  // degrees, feet
    double pitch = 0, bank = 0, heading = 0;           // degrees
    bool onGround = false;
    int airspeed = 0;
    std::string callsign;  // the tail number
    std::string liveryTitle;
    std::uint32_t hexid = 0;
};

struct CategoryLimits {
    double maxBank;            // radians
    double maxBankChange;      // radians per tick
    double maxPitchChange;     // radians per tick
    double speedThreshold;     // knots, lift-off speed of the take-off run
};
const CategoryLimits& categoryLimits(Category c);

struct MotionConstants {
    int flareTicks = 0;
    int touchdownTicks = 0;
    int rotationTicks = 0;
    int climbOutTicks = 0;
    double rotationPitch = 0;    // radians (negative nose up)
    double climbPitch = 0;       // radians
    double baseTurnRate = 0;     // radians per tick
    double maxClimbPerTick = 0;  // feet per tick
    double standTaxiSpeed = 0;   // knots
};
// The category's constants; the two pitch values are varied by 2.5 % and
// 5 % of their value, with a sign drawn from the engine.
MotionConstants motionConstants(Category c, std::mt19937& rng);

// The pitch an airborne aircraft holds at a vertical rate (feet per minute):
// climbs count up to 2400, descents down to -3000 and then by half.
double targetPitch(double verticalRate);

// Whether the aircraft brakes with reverse thrust after touchdown: jets and
// turboprops of the three airliner classes do, unless their type is known to
// have no reversers; the other classes (helicopters above all) do not, unless
// their type is known to have them.
bool reverseThrustFor(Category c, std::string_view aircraftType);

// The per-thread engine behind every random choice of the traffic code.
std::mt19937& trafficRandom();
void seedTrafficRandom(std::uint32_t seed);

// Throttle index -> "THROTTLE_SET" data; flap index -> "FLAPS_SET" data.
inline constexpr std::array<std::uint32_t, 5> kThrottleTable{0, 4914, 8191, 11468, 16383};
inline constexpr std::array<std::uint32_t, 5> kFlapTable{0, 3072, 10240, 16383, 0};

// A quadratic curve in local metres (north, east) around its origin, the
// aircraft's position when it was made.
struct GroundCurve {
    double originLatitude = 0, originLongitude = 0;
    double controlNorth = 0, controlEast = 0;
    double endNorth = 0, endEast = 0;
    double t = 0;     // 0..0.999999
    double step = 0;  // per tick
};

struct LiveAircraft {
    // identity
    std::string operatorCode;
    std::string aircraftType;
    std::string origin, destination;
    std::string callsign;
    std::string firstCallsign;
    std::string identity2;
    std::string registration;
    std::uint32_t hexid = 0;
    Category category = Category::Large;
    double halfWingspan = 0;  // nm
    bool reverseThrust = false;  // reverseThrustFor, set with the category
    std::string liveryTitle;

    // simulator
    std::uint32_t objectId = 0;
    double staticCgHeight = 0;               // ft
    double staticPitch = 0.0122173;          // rad
    double groundAltitude = 0;               // ft
    bool groundAltitudeKnown = false;
    double creationAboveGround = 0;          // ft, from the creation notice
    bool flightPlanSet = false;

    AcState state = AcState::buffer;
    FlightState flightState = FlightState::birth;
    FlightState previousFlightState = FlightState::birth;

    bool eraseNow = false;
    bool eraseAfterRemoval = false;
    bool removalPending = false;
    bool onGround = false;
    bool spawnBlocked = false;
    bool holding = false;
    bool takeOffRun = false;
    bool landingArmed = false;
    bool touchedDown = false;
    bool landingRoll = false;
    bool coupled = false;  // per-report coupling with static aircraft done
    int flapIndex = 4;      // 4 and 5 force the next flap and throttle events
    int throttleIndex = 5;
    int gear = -1;          // last "GEAR_SET" sent (-1 none)
    int cabin = -1;         // last cabin light sent

    AiPosition pos;
    std::deque<TrafficRecord> stream;
    double lastTimestamp = 0;

    // holding and extension
    std::int32_t holdingStart = 0;
    int extensionCounter = 0;

    // stand (filled by the stand allocation)
    std::int32_t standId = 0;
    double standLatitude = 0, standLongitude = 0, standHeading = 0;
    double standRadius = 0;  // nm, 0 unknown
    std::string standName;   // the stand's text id, for log lines
    bool standConfirmed = false;
    std::int32_t parkedTick = 0;
    std::optional<double> forcedHeading;

    // motion
    double dLat = 0, dLon = 0;       // degrees per tick
    double course = 0;               // radians
    double turnRate = 0;             // radians per tick
    double headingChange = 0;        // radians per tick
    double pitchChange = 0;          // radians per tick
    double bankChange = 0;           // radians per tick
    bool pitchChangeActive = false;
    double altitudeChange = 0;       // feet per tick
    int flareStage = 0;
    int landingStage = 0;            // also the rotation counter
    double touchdownHeading = 0;
    std::int32_t earlierWindow = 3000, laterWindow = 3000;
    bool turnToCourse = false;
    bool groundCurveActive = false;
    double climbPerTick = 0;         // set at lift-off
    // ground movement
    GroundCurve curve;
    double curveTurn = 0;            // degrees, the turn of the current curve or course change
    int pushBackPhase = 0;
    bool curvedPushBack = false;
    int pushBackSide = 1;            // +1: the tail swings to the right of the stand heading
    double pushBackLatitude = 0, pushBackLongitude = 0;  // the straight push-back's target
    std::int32_t pushBackEndTick = 0;  // when the curved push-back's end is due
    std::int32_t pushBackWait = 0;   // ticks
    bool towed = false;
    bool parkingRequested = false;
    bool rollOutSlowed = false;      // the landing roll's 90-knot configuration is set
    // collision rules
    double lastCheckLatitude = 0, lastCheckLongitude = 0;  // at the last parked-aircraft check
    int altitudeBand = 0;            // 0 unknown, 1 at or above 10000 ft, 2 below
    bool climbOutDone = false;
    MotionConstants motion;

    bool extrapolating() const { return extensionCounter > 0; }
    bool ghost() const { return !callsign.empty() && callsign.back() == '_'; }
    std::string name() const;
};

}  // namespace vntx::traffic
