// The simulator link: the one connection to Prepar3D. A thread of its own
// ("SimClient") opens SimConnect, registers what we use, pumps the
// simulator's messages every millisecond and turns them into state for the
// rest of the program. Everything that changes the simulator is queued under
// the SimConnect lock and sent by that thread at the next simulator frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/loop_stats.h"
#include "refdata/dbase.h"
#include "simconnect/simconnect.h"
#include "simlink/ids.h"

namespace vntx::simlink {

using simconnect::SIMCONNECT_DATA_INITPOSITION;

// The AI position block (definition 402): eight 64-bit floats in this order.
struct AiPosition {
    double latitude = 0;       // degrees
    double longitude = 0;      // degrees
    double pitch = 0;          // radians
    double bank = 0;           // radians
    double heading = 0;        // true, radians
    double altitude = 0;       // feet
    double verticalSpeed = 0;  // feet per second
    double trueAirspeed = 0;   // knots
};
static_assert(sizeof(AiPosition) == 64);

// The user aircraft as definition 403 reports it.
struct UserPosition {
    double latitude = 0, longitude = 0;       // degrees
    double pitch = 0, bank = 0, heading = 0;  // radians
    double altitude = 0;                      // feet, never negative
    double altAboveGround = 0;                // feet
    double groundVelocity = 0;                // knots
    std::int64_t zuluTime = 0;                // seconds of the day
    std::int64_t zuluDayOfYear = 0;           // 1..366
    std::int64_t zuluYear = 0;
    std::int64_t lightStates = 0;
};
static_assert(sizeof(UserPosition) == 96);

// Neither coordinate beyond 0.0001 degrees: nothing reported yet.
bool isZeroPosition(double latitude, double longitude);

// Seconds since 1970 of a simulator date: day of year counted from 1.
std::int64_t simulatorUtcSeconds(std::int64_t year, std::int64_t dayOfYear, std::int64_t secondsOfDay);

enum class NoticeKind : std::uint32_t {
    CreatedLive = 0,
    CreatedStatic = 1,
    Removed = 2,
    GroundReport = 3,
    StaticCg = 4,
    CreationRefused = 6,
};

// What the simulator told us about one object, for the traffic tick.
//   CreatedLive:     objectId, value = hexid, value1 = altitude above ground
//   CreatedStatic:   objectId, value = hexid
//   Removed:         objectId
//   GroundReport:    objectId, value = on ground, value1 = ground altitude, value2 = altitude above ground
//   StaticCg:        objectId, value1 = static CG to ground (ft), value2 = static pitch (rad)
//   CreationRefused: value = hexid
struct ObjectNotice {
    std::uint32_t objectId = 0;
    std::uint32_t value = 0;
    std::uint32_t reserved = 0;
    NoticeKind kind = NoticeKind::Removed;
    double value1 = 0;
    double value2 = 0;
};

struct PositionRecord {
    AiPosition position;
    std::uint32_t objectId = 0;
};

struct EventRecord {
    std::uint32_t objectId = 0;
    std::uint32_t eventId = 0;
    std::uint32_t data = 0;
};

struct CreationRecord {
    SIMCONNECT_DATA_INITPOSITION initPosition{};
    std::string callsign;  // the tail number
    std::string title;     // the livery title
    std::uint32_t hexid = 0;
};

struct PendingCreation {
    std::uint32_t sendId = 0;
    std::uint32_t hexid = 0;
    std::string callsign;
};

// What the link needs from the rest of the program. Every member may be
// left empty; the link then uses the neutral answer noted.
struct Services {
    std::function<bool(std::string_view)> hasWingspan;            // false
    std::function<double(std::string_view)> halfWingspan;         // 0 (nautical miles)
    std::function<double()> largestHalfWingspan;                  // 0
    std::function<AircraftCategory(std::string_view)> categoryOf;  // Light
    std::function<std::string(double, double)> nearestAirport;    // ""
    std::function<void()> reevaluateNearestAirport;               // the park airport's own check
    std::function<bool()> timeSyncEnabled;                        // false
    std::function<int()> rangeNm;                                 // 40
    std::function<std::string()> simInstallPath;                  // ""
    std::function<int()> configuredVersion;                       // 5
    std::function<int()> installPathControlId;                    // 0: no control to disable
    // The user aircraft as the RealTraffic link and the readers see it.
    std::function<void(const UserPosition&, bool onGround)> publishUser;
    std::function<void(std::int64_t)> publishSimulatorTime;
};

class SimLink {
public:
    SimLink(simconnect::Client& client, Services services = {});
    ~SimLink();
    SimLink(const SimLink&) = delete;
    SimLink& operator=(const SimLink&) = delete;

    Services& services() { return services_; }

    // ---- the thread
    // (Re)starts the "SimClient" thread; an earlier one is stopped and joined first.
    void start();
    // Asks the thread to stop and waits for it to close the connection.
    void stop();
    bool threadRunning() const { return threadActive_.load(); }
    // The thread's body; tests call it on a thread of their own.
    void run(std::stop_token stop);
    // The thread's steps, for a caller that drives the link itself: one
    // attempt to open and register (true when connected); one pass of the
    // dispatch handler (false when the connection is gone; rethrows what the
    // handler threw); closing the connection.
    bool openOnce();
    bool dispatchOnce();
    void closeConnection();

    // ---- requests (each under the SimConnect lock; a failure runs the request failure step)
    // One-shot request 109; returns the last received user position.
    UserPosition requestUserPosition();
    void requestUserTitleAndModel();
    void requestUserOnGround();  // once a second from now on
    void requestAiWithinRange();
    // The connection start-up wait; false when a stop came.
    bool waitForUserAircraft(std::chrono::milliseconds runningStep = std::chrono::milliseconds(100),
                             std::chrono::milliseconds reportStep = std::chrono::milliseconds(500),
                             std::chrono::milliseconds positionStep = std::chrono::milliseconds(200));

    // ---- the dispatch handler (the thread calls it for every message)
    void handleMessage(const std::uint8_t* data, std::size_t size);
    static void dispatchProc(simconnect::SIMCONNECT_RECV* data, simconnect::DWORD size, void* context);
    // The open check of a simulator's name and version; throws the user errors.
    void checkSimulator(const std::string& applicationName, const simconnect::DWORD version[4]);

    // ---- outgoing queues
    // One creation and one removal for the next frame; the traffic code paces
    // them (one creation every 500 ms, one removal every 100 ms).
    void queueCreation(CreationRecord creation);
    void queueRemoval(std::uint32_t objectId);
    // Traffic thread only, no lock.
    void queuePosition(std::uint32_t objectId, const AiPosition& position);
    // End of each traffic tick: the filled buffer becomes the sending one.
    void handOverPositions();
    void queueClientEvent(std::uint32_t objectId, std::uint32_t eventId, std::uint32_t data);
    // nav, beacon, landing, taxi, strobes, logo, cabin (1 on, 0 off).
    void setLights(std::uint32_t objectId, const std::uint32_t values[7]);
    void setCabinLights(std::uint32_t objectId, std::uint32_t value);
    void setControlBlock(std::uint32_t objectId, double spoilers, double throttle1, double throttle2);
    // "ALL_LIGHTS_TOGGLE" sent at once; false (and logged) when the call fails.
    bool gf_allLightsToggle(std::uint32_t objectId);
    // SimConnect_AISetAircraftFlightPlan (request 110); false when the call fails.
    bool setFlightPlan(std::uint32_t objectId, const std::string& path);
    // Request 102 for an object of 3 or more; false for a lower id.
    bool requestStaticCg(std::uint32_t objectId);
    // The frame flush (the thread calls it at every "Frame").
    void flushFrame();

    // ---- object notices
    std::vector<ObjectNotice> takeNotices();

    // ---- state for the other threads
    bool simulationRunning() const { return running_.load() && !requestFailed_.load(); }
    bool runningFlag() const { return running_.load(); }
    bool requestFailed() const { return requestFailed_.load(); }
    bool connected() const { return connected_.load(); }
    std::uint32_t userObjectId() const { return userObjectId_.load(); }
    float frameRate() const { return frameRate_.load(); }
    std::int64_t simulatorTime() const { return simulatorTime_.load(); }
    UserPosition userPosition();
    bool userOnGround() const { return onGround_.load(); }
    bool onGroundKnown() const { return onGroundKnown_.load(); }
    bool wingspanKnown() const { return wingspanKnown_.load(); }
    std::string userTitle();
    std::string userModel();
    double userHalfWingspan();
    AircraftCategory userCategory();
    std::string simulatorText();
    std::string nearestAirportText();
    std::vector<PendingCreation> pendingCreations();
    std::size_t queuedPositions();  // in the sending buffer
    // "frame flush {mean, 99th percentile, largest} ({n} frames); queued {now}
    // now, {most} at most in a frame", over the frames since the last call.
    std::string loadFigures();

    // The request failure step.
    void requestFailure();
    // Empties queues, lists and per-connection state (end of a cycle).
    void reset();
    // Pre-sizes the position buffers for this many aircraft.
    void reserve(std::size_t aircraft);

    // Test support: the frame rate used by the hand-over rule.
    void setFrameRate(float fps) { frameRate_ = fps; }
    void setUserObjectId(std::uint32_t id) { userObjectId_ = id; }
    std::mutex& simConnectMutex() { return simMutex_; }

private:
    void registerAll();
    void postNotice(const ObjectNotice& notice);
    void onException(simconnect::DWORD exception, simconnect::DWORD sendId, simconnect::DWORD index);
    void onEvent(simconnect::DWORD eventId, simconnect::DWORD data);
    void onObjectData(simconnect::DWORD requestId, simconnect::DWORD objectId, const std::uint8_t* data,
                      std::size_t size, bool byType);
    void onUserPosition(std::uint32_t objectId, const UserPosition& position);
    void onUserTitle(const std::string& title);
    void onUserModel(std::string model);
    void identify(std::uint32_t objectId, double altAboveGround, double groundAltitude, std::int64_t onGround,
                  const std::string& atcId);
    void newFlight();
    void updateNearestAirport(double latitude, double longitude);
    bool requestOnUser(simconnect::DWORD request, simconnect::DWORD definition, simconnect::SIMCONNECT_PERIOD period,
                       const char* failure);

    simconnect::Client& client_;
    Services services_;

    std::jthread thread_;
    std::atomic<bool> threadActive_{false};
    std::exception_ptr dispatchError_;

    // The SimConnect lock: every SimConnect call and the outgoing queues.
    std::mutex simMutex_;
    simconnect::HANDLE handle_ = nullptr;

    std::atomic<bool> running_{false};
    std::atomic<bool> requestFailed_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> quit_{false};
    std::atomic<std::uint32_t> userObjectId_{0};
    std::atomic<float> frameRate_{0};
    std::atomic<std::int64_t> simulatorTime_{0};
    std::atomic<bool> onGround_{false};
    std::atomic<bool> onGroundKnown_{false};
    std::atomic<bool> wingspanKnown_{false};
    std::uint32_t frameCount_ = 0;

    UserPosition user_;  // under simMutex_
    double previousLat_ = 0, previousLon_ = 0;

    std::mutex textMutex_;  // the texts below
    std::string title_, model_, simulatorText_, nearestAirport_;
    double halfWingspan_ = 0;
    AircraftCategory category_ = AircraftCategory::Light;

    // Under simMutex_.
    std::vector<PositionRecord> filling_, sending_;  // filling_: traffic thread only
    std::vector<EventRecord> events_;
    std::vector<CreationRecord> creations_;
    std::vector<std::uint32_t> removals_;
    std::vector<PendingCreation> pending_;
    DurationStats flushTimes_{std::chrono::microseconds(10), 10000};  // frames that sent something
    std::size_t mostInFrame_ = 0;  // messages sent by one frame

    std::vector<std::uint32_t> recentlyAdded_;  // sorted; dispatch thread only

    std::mutex noticeMutex_;
    std::vector<ObjectNotice> notices_;
};

}  // namespace vntx::simlink
