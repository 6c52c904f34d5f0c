// The live traffic: every reported aircraft from its first report to its
// removal, driven one 10 ms tick at a time. The manager counts ticks and
// never reads a clock; everything outside it is reached through the
// simulator port and the services.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "traffic/live_aircraft.h"
#include "traffic/sim_port.h"

namespace vntx::traffic {

struct TrafficCounts {
    int active = 0;  // state active and not parked
    int parked = 0;
    int total = 0;
};

// Running totals for summaries and tests.
struct TrafficStats {
    std::uint64_t reportsTaken = 0;
    std::uint64_t reportsAccepted = 0;
    std::uint64_t aircraftSeen = 0;     // records made
    std::uint64_t creationsQueued = 0;  // handed to the simulator link
    std::uint64_t created = 0;          // created notices of live aircraft
    std::uint64_t removed = 0;          // records erased on a removal notice
    std::uint64_t refused = 0;
    std::uint64_t noLivery = 0;
    std::uint64_t respawns = 0;
    std::uint64_t extrapolated = 0;     // reports made up when reports stopped
    std::uint64_t landings = 0;         // touchdowns
    std::uint64_t runwayExits = 0;      // landing rolls ended by turning off the runway
};

class TrafficManager {
public:
    using IncomingSource = std::function<std::size_t(std::deque<TrafficRecord>&, std::size_t)>;

    TrafficManager(SimLinkPort& sim, TrafficServices services);

    // One traffic tick.
    void tick();

    // Where the incoming reports come from (default: the reader's queue) and
    // which counter the ticks advance (default: the feed's counter).
    void setIncomingSource(IncomingSource source) { incoming_ = std::move(source); }
    void setTickCounter(std::atomic<std::int32_t>* counter) { tickCounter_ = counter; }
    std::int32_t tickCount() const { return tick_; }

    // lifecycle
    void handleIncoming(TrafficRecord rec);
    void decodeExisting(LiveAircraft& ac, TrafficRecord rec);
    void spawnLiveAc(LiveAircraft& ac);
    bool updateLiveAc(LiveAircraft& ac);
    void removeAircraftFromSim(LiveAircraft& ac);
    void liveryRespawn(LiveAircraft& ac);
    void withdrawAll();
    void applyLiveLimit();
    void perReportDuties();
    void pauseEnter();
    void pauseDuties();
    void reset();
    void clearGhosts() { ghosts_.clear(); }

    // The created notice of a live aircraft: object id and height above
    // ground stored, the stand's parking step, the flight plan and the
    // static centre-of-gravity request; false for an object id below 3.
    bool activateCreated(LiveAircraft& ac, const ObjectNotice& notice);
    // "FLAPS_SET" for a flap index 0-4; nothing for the current index or a
    // Rotorcraft; an index above 4 is logged and recorded, nothing sent.
    void gf_setFlaps(LiveAircraft& ac, int index);

    // airborne and landing motion
    void nextPosMain(LiveAircraft& ac);
    void motionStep(LiveAircraft& ac);
    void touchdown(LiveAircraft& ac);
    bool checkNewPosDuringLanding(LiveAircraft& ac, TrafficRecord& rec);
    bool checkExtendingSituations(LiveAircraft& ac, TrafficRecord& rec);

    // ground movement (the ground hooks of the services unless set there)
    void groundStep(LiveAircraft& ac);
    void groundHeadingStep(LiveAircraft& ac, int ticks);
    void groundCurveStep(LiveAircraft& ac);
    void takeOffDetection(LiveAircraft& ac, const TrafficRecord& rec);
    void pushBackDirection(LiveAircraft& ac, const TrafficRecord& rec);

    // collision rules (the collision hooks of the services unless set there)
    bool userCollisionSpawn(LiveAircraft& ac);
    void collisionRemovals();

    // readers
    TrafficCounts counts() const;
    const std::vector<LiveAircraft>& liveList() const { return live_; }
    std::vector<LiveAircraft>& liveList() { return live_; }
    LiveAircraft* find(std::uint32_t hexid);
    LiveAircraft* findByObject(std::uint32_t objectId);
    const TrafficStats& stats() const { return stats_; }
    std::size_t waitingCreations() const { return waiting_.size(); }
    std::size_t addingStackSize() const { return adding_.size(); }
    std::size_t removalStackSize() const { return removals_.size(); }
    const std::vector<std::string>& ghostList() const { return ghosts_; }
    bool flareRunning() const { return flareRunning_; }

    // The settings the tick reads, copied from the settings store once per tick
    // (tests may change them through the store).
    struct Settings {
        int maxLiveSel = 500;
        std::string blockCallsign;
        bool guidChanges = true;
        bool lightAircraft = true, helicopters = true, highPerf = true;
        bool airborneOnly = false;
        bool straightPushBacksOnly = false;
        bool navLightsWhileParked = true;
        int holdingThresholdMeters = 250;
        int maxHoldingMinutes = 20;
        int range = 40;
        bool collisionUserAir = true, collisionUserGnd = true, collisionLiveParkedGnd = false;
    };
    const Settings& settings() const { return settings_; }

private:
    friend struct MotionAccess;
    void readSettings();
    void processNotices();
    void activation();
    void updatePass();
    void pacing();
    void takeIncoming();
    void handleAddingStack();
    void requests();

    void bufferHandling(LiveAircraft& ac);
    bool respawnCheck(LiveAircraft& ac, const TrafficRecord& rec);
    void ghostCheck(const std::string& callsign);
    bool categoryAllowed(Category c) const;
    bool bufferAltitudeOk(const TrafficRecord& rec) const;
    void dress(LiveAircraft& ac);
    double distanceToUser(const LiveAircraft& ac) const;
    std::string deriveOperator(const LiveAircraft& ac) const;
    void sendThrottle(LiveAircraft& ac, int index);
    void setGear(LiveAircraft& ac, int down);
    void setCabin(LiveAircraft& ac, int on);
    void lights(LiveAircraft& ac, const std::array<int, 7>& l);
    void event(LiveAircraft& ac, std::string_view name, std::uint32_t data);

    // motion
    void advance(LiveAircraft& ac);
    void scheduleStep(LiveAircraft& ac);
    void attitudeStep(LiveAircraft& ac, int ticks);
    void approachStep(LiveAircraft& ac, double height);
    void finalStep(LiveAircraft& ac);
    void flareStep(LiveAircraft& ac);
    void rotationStep(LiveAircraft& ac);
    void startRotation(LiveAircraft& ac);
    bool extensionStep(LiveAircraft& ac);
    void extrapolate(LiveAircraft& ac, int n);
    double heightAboveGround(const LiveAircraft& ac) const;
    void decayWindows(LiveAircraft& ac);
    void resetWindows(LiveAircraft& ac);
    double legSpeed(const LiveAircraft& ac, double dist) const;

    // ground movement
    void setFlightState(LiveAircraft& ac, FlightState fs);
    void insertHalfway(LiveAircraft& ac, std::size_t i);
    void makeCurve(LiveAircraft& ac, double turnDegrees);
    void shapeLeg(LiveAircraft& ac);
    void standEntry(LiveAircraft& ac);
    void groundSchedule(LiveAircraft& ac);
    void runwayExitCheck(LiveAircraft& ac);
    void leaveStand(LiveAircraft& ac);
    void pushBack(LiveAircraft& ac);
    void pushBackPhaseStep(LiveAircraft& ac);
    void pullOut(LiveAircraft& ac);
    void takeOffStart(LiveAircraft& ac);
    void liftOff(LiveAircraft& ac, int ticks);
    void parkedAircraftCheck(LiveAircraft& ac, std::vector<StaticAircraftView>& statics);
    void fillOwnHooks();

    struct CreatedEntry {
        ObjectNotice notice;
        int count = 0;
    };

    SimLinkPort& sim_;
    TrafficServices services_;
    IncomingSource incoming_;
    std::atomic<std::int32_t>* tickCounter_ = nullptr;
    std::int32_t tick_ = 0;
    Settings settings_;
    std::optional<ParkAirportInfo> park_;
    double qnh_ = 1013;
    std::optional<UserPosition> user_;

    std::vector<LiveAircraft> live_;
    std::vector<std::uint32_t> adding_;        // hexids, last in first out
    std::deque<CreationRequest> waiting_;      // live creations, first in first out
    std::vector<std::uint32_t> removals_;      // object ids
    std::vector<CreatedEntry> created_;
    std::vector<ObjectNotice> notices_;
    std::deque<TrafficRecord> intake_;
    std::vector<std::string> ghosts_;
    double lastStaticCheckLat_ = 0, lastStaticCheckLon_ = 0;  // the user at the last static check
    std::unordered_map<std::uint32_t, std::string> liveryCache_;
    int lastMaxLiveSel_ = -1;
    bool flareRunning_ = false;
    TrafficStats stats_;
};

// Geometry on the sphere (nautical miles, radians).
double distanceNm(double lat1, double lon1, double lat2, double lon2);
double bearingRad(double lat1, double lon1, double lat2, double lon2);
double normalizeHeading(double a);  // 0..2 pi
// A longitude difference (degrees) the short way round, -180..180.
double wrapLongitudeDelta(double d);
// Both coordinates within 1e-8 degrees.
bool samePosition(const TrafficRecord& a, const TrafficRecord& b);
double angleDiff(double a, double b);  // a - b in -pi..pi
// Folds a relative angle (degrees, -180..180) into 0..90 so that its cosine
// times the distance is how far the track passes abeam.
double foldToRightAngle(double relativeDegrees);
// Moves a point by a distance along a heading.
void movePoint(double& lat, double& lon, double headingRad, double distNm);

}  // namespace vntx::traffic
