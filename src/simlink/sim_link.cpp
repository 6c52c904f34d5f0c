// The "SimClient" thread, the registrations, the requests and the start-up wait.
#include "simlink/sim_link.h"

#include <chrono>
#include <cmath>

#include "core/cycle.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/state.h"
#include "core/status.h"
#include "platform/platform.h"

namespace vntx::simlink {

using namespace simconnect;
using namespace std::chrono_literals;

bool isZeroPosition(double latitude, double longitude) {
    return !(std::fabs(latitude) > 0.0001 || std::fabs(longitude) > 0.0001);
}

std::int64_t simulatorUtcSeconds(std::int64_t year, std::int64_t dayOfYear, std::int64_t secondsOfDay) {
    // Floor divisions: the formula holds for years before 1 too.
    auto floorDiv = [](std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); };
    std::int64_t y = year - 1;
    std::int64_t centuries = floorDiv(y, 100);
    std::int64_t days = dayOfYear - 719163 + floorDiv(y * 1461, 4) + floorDiv(centuries, 4) - centuries;
    return days * 86400 + secondsOfDay;
}

SimLink::SimLink(Client& client, Services services) : client_(client), services_(std::move(services)) {}

SimLink::~SimLink() { stop(); }

void SimLink::start() {
    stop();
    threadActive_ = true;
    thread_ = std::jthread([this](std::stop_token st) { run(st); });
}

void SimLink::stop() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

namespace {
// Sleeps up to d, waking early when the token is set.
void sleepFor(std::stop_token& stop, std::chrono::milliseconds d) {
    auto until = std::chrono::steady_clock::now() + d;
    while (!stop.stop_requested() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(10ms, until - std::chrono::steady_clock::now()));
}

int waitingVersion(const Services& s) {
    auto& cs = cycleState();
    if (cs.p3dV6Installed && !cs.p3dV5Installed) return 6;
    if (cs.p3dV5Installed) return 5;
    return s.configuredVersion ? s.configuredVersion() : 5;
}
}  // namespace

void SimLink::run(std::stop_token stop) {
    threadActive_ = true;
    platform::setThreadName("SimClient");
    bool timerRaised = false;
    try {
        bool first = true;
        while (true) {
            if (stop.stop_requested() || stopRequested() || userClosed()) break;
            if (first) {
                first = false;
                showStatus(fmt::format("Waiting for Prepar3Dv{} ...", waitingVersion(services_)), false);
                flushLog();
                requestRepaint();
            }
            if (openOnce()) break;
            sleepFor(stop, 100ms);
        }
        if (handle_) {
            platform::beginTimerPeriod1ms();
            timerRaised = true;
            while (!stop.stop_requested()) {
                auto started = std::chrono::steady_clock::now();
                if (!dispatchOnce()) break;
                platform::sleepUntil(started + 1ms);
            }
        }
    } catch (const UserErrorException& e) {
        std::string text = e.what();
        showError(text.empty() ? "Unknown exception" : text);
        if (e.text().rfind("791", 0) == 0 || text.rfind("791", 0) == 0) sleepFor(stop, 10s);
    } catch (const std::exception& e) {
        showError(e.what());
    } catch (...) {
        showError(fmt::format("Exception in {}", "SimClient"));
    }
    if (timerRaised) platform::endTimerPeriod1ms();
    closeConnection();
    running_ = false;
    indicators().simRunning = false;
    simulatorGone();
    threadActive_ = false;
}

bool SimLink::openOnce() {
    HANDLE h = nullptr;
    if (FAILED(client_.SimConnect_Open(&h, kClientName, nullptr, 0, nullptr, 0)) || !h) return false;
    {
        std::lock_guard lock(simMutex_);
        handle_ = h;
    }
    registerAll();
    return true;
}

bool SimLink::dispatchOnce() {
    if (!handle_) return false;
    HRESULT hr = client_.SimConnect_CallDispatch(handle_, &SimLink::dispatchProc, this);
    if (dispatchError_) {
        auto e = dispatchError_;
        dispatchError_ = nullptr;
        std::rethrow_exception(e);
    }
    // A failed dispatch means the connection is gone; after "Quit" the
    // simulator closes it anyway.
    return SUCCEEDED(hr) && !quit_;
}

void SimLink::closeConnection() {
    if (services_.reevaluateNearestAirport) services_.reevaluateNearestAirport();
    connected_ = false;
    requestRepaint();
    std::lock_guard lock(simMutex_);
    if (!handle_) return;
    if (SUCCEEDED(client_.SimConnect_Close(handle_)))
        logLine("SimConnect closed ok");
    else
        logError("Closing SimConnect failed?!");
    handle_ = nullptr;
}

void SimLink::registerAll() {
    std::lock_guard lock(simMutex_);
    HANDLE h = handle_;
    bool ok = true;
    auto check = [&](HRESULT hr) { ok = ok && SUCCEEDED(hr); };
    const std::pair<DWORD, const char*> systemEvents[] = {{EVT_SIM, "Sim"},
                                                          {EVT_OBJECT_ADDED, "ObjectAdded"},
                                                          {EVT_OBJECT_REMOVED, "ObjectRemoved"},
                                                          {EVT_POSITION_CHANGED, "PositionChanged"},
                                                          {EVT_FLIGHT_LOADED, "FlightLoaded"},
                                                          {EVT_FRAME, "Frame"}};
    for (auto& [id, name] : systemEvents) check(client_.SimConnect_SubscribeToSystemEvent(h, id, name));

    struct Datum {
        DWORD def;
        const char* name;
        const char* units;
        SIMCONNECT_DATATYPE type;
    };
    constexpr auto F64 = SIMCONNECT_DATATYPE_FLOAT64, I64 = SIMCONNECT_DATATYPE_INT64,
                   S32 = SIMCONNECT_DATATYPE_STRING32, SV = SIMCONNECT_DATATYPE_STRINGV;
    const Datum data[] = {
        {DEF_USER_TITLE, "TITLE", nullptr, SV},
        {DEF_USER_MODEL, "ATC MODEL", nullptr, S32},
        {DEF_USER_ON_GROUND, "SIM ON GROUND", "Bool", I64},
        {DEF_AI_POSITION, "Plane Latitude", "degree", F64},
        {DEF_AI_POSITION, "Plane Longitude", "degree", F64},
        {DEF_AI_POSITION, "Plane Pitch degrees", "radians", F64},
        {DEF_AI_POSITION, "Plane Bank degrees", "radians", F64},
        {DEF_AI_POSITION, "Plane Heading degrees true", "radians", F64},
        {DEF_AI_POSITION, "Plane Altitude", "feet", F64},
        {DEF_AI_POSITION, "Vertical Speed", "feet per second", F64},
        {DEF_AI_POSITION, "Airspeed True", "knots", F64},
        {DEF_USER_POSITION, "Plane Latitude", "degree", F64},
        {DEF_USER_POSITION, "Plane Longitude", "degree", F64},
        {DEF_USER_POSITION, "Plane Pitch degrees", "radians", F64},
        {DEF_USER_POSITION, "Plane Bank degrees", "radians", F64},
        {DEF_USER_POSITION, "Plane Heading degrees true", "radians", F64},
        {DEF_USER_POSITION, "Plane Altitude", "feet", F64},
        {DEF_USER_POSITION, "Plane Alt Above Ground", "feet", F64},
        {DEF_USER_POSITION, "Ground Velocity", "knots", F64},
        {DEF_USER_POSITION, "ZULU TIME", "Seconds", I64},
        {DEF_USER_POSITION, "ZULU DAY OF YEAR", "Number", I64},
        {DEF_USER_POSITION, "ZULU YEAR", "Number", I64},
        {DEF_USER_POSITION, "LIGHT STATES", "Mask", I64},
        {DEF_STATIC_CG, "Static CG to Ground", "feet", F64},
        {DEF_STATIC_CG, "Static Pitch", "radians", F64},
        {DEF_LIGHTS, "Light On States", "Mask", I64},
        {DEF_AI_OBJECT, "Plane Alt Above Ground", "feet", F64},
        {DEF_AI_OBJECT, "Ground Altitude", "feet", F64},
        {DEF_AI_OBJECT, "SIM ON GROUND", "Bool", I64},
        {DEF_AI_OBJECT, "ATC ID", nullptr, S32},
        {DEF_AI_CONTROLS, "SPOILERS HANDLE POSITION", "percent", F64},
        {DEF_AI_CONTROLS, "GENERAL ENG THROTTLE LEVER POSITION:1", "percent", F64},
        {DEF_AI_CONTROLS, "GENERAL ENG THROTTLE LEVER POSITION:2", "percent", F64},
    };
    for (const auto& d : data)
        check(client_.SimConnect_AddToDataDefinition(h, d.def, d.name, d.units, d.type, 0.0f, SIMCONNECT_UNUSED));

    const std::pair<DWORD, const char*> events[] = {
        {EVT_GEAR_SET, "GEAR_SET"},
        {EVT_ENGINE_AUTO_START, "ENGINE_AUTO_START"},
        {EVT_ENGINE_AUTO_SHUTDOWN, "ENGINE_AUTO_SHUTDOWN"},
        {EVT_THROTTLE_SET, "THROTTLE_SET"},
        {EVT_FLAPS_SET, "FLAPS_SET"},
        {EVT_SPOILERS_SET, "SPOILERS_SET"},
        {EVT_NAV_LIGHTS_SET, "NAV_LIGHTS_SET"},
        {EVT_BEACON_LIGHTS_SET, "BEACON_LIGHTS_SET"},
        {EVT_LANDING_LIGHTS_SET, "LANDING_LIGHTS_SET"},
        {EVT_TAXI_LIGHTS_SET, "TAXI_LIGHTS_SET"},
        {EVT_STROBES_SET, "STROBES_SET"},
        {EVT_LOGO_LIGHTS_SET, "LOGO_LIGHTS_SET"},
        {EVT_CABIN_LIGHTS_SET, "CABIN_LIGHTS_SET"},
        {EVT_ALL_LIGHTS_TOGGLE, "ALL_LIGHTS_TOGGLE"},
        {EVT_FREEZE_LATITUDE_LONGITUDE_SET, "FREEZE_LATITUDE_LONGITUDE_SET"},
        {EVT_FREEZE_ALTITUDE_SET, "FREEZE_ALTITUDE_SET"},
        {EVT_FREEZE_ATTITUDE_SET, "FREEZE_ATTITUDE_SET"},
    };
    for (auto& [id, name] : events) check(client_.SimConnect_MapClientEventToSimEvent(h, id, name));
    const DWORD grouped[] = {EVT_NAV_LIGHTS_SET,
                             EVT_BEACON_LIGHTS_SET,
                             EVT_LANDING_LIGHTS_SET,
                             EVT_TAXI_LIGHTS_SET,
                             EVT_STROBES_SET,
                             EVT_LOGO_LIGHTS_SET,
                             EVT_CABIN_LIGHTS_SET,
                             EVT_ALL_LIGHTS_TOGGLE,
                             EVT_FLAPS_SET,
                             EVT_SPOILERS_SET,
                             EVT_GEAR_SET,
                             EVT_ENGINE_AUTO_SHUTDOWN,
                             EVT_THROTTLE_SET,
                             EVT_FREEZE_LATITUDE_LONGITUDE_SET,
                             EVT_FREEZE_ALTITUDE_SET,
                             EVT_FREEZE_ATTITUDE_SET};
    for (DWORD id : grouped) check(client_.SimConnect_AddClientEventToNotificationGroup(h, kNotificationGroup, id, 1));
    check(client_.SimConnect_SetNotificationGroupPriority(h, kNotificationGroup, SIMCONNECT_GROUP_PRIORITY_HIGHEST));
    // Without its registrations the connection is of no use: end it rather
    // than wait for data that will never come.
    if (!ok) throw std::runtime_error("SimConnect registration failed");
}

// ---- requests

bool SimLink::requestOnUser(DWORD request, DWORD definition, SIMCONNECT_PERIOD period, const char* failure) {
    bool failed = false;
    {
        std::lock_guard lock(simMutex_);
        if (requestFailed_) return false;
        failed = !handle_ || FAILED(client_.SimConnect_RequestDataOnSimObject(handle_, request, definition,
                                                                            SIMCONNECT_OBJECT_ID_USER, period, 0, 0,
                                                                            0, 0));
    }
    if (failed) {
        logError(failure);
        requestFailure();
    }
    return !failed;
}

UserPosition SimLink::requestUserPosition() {
    requestOnUser(REQ_USER_POSITION, DEF_USER_POSITION, SIMCONNECT_PERIOD_ONCE,
                  "SimConnect request user ac position fails");
    std::lock_guard lock(simMutex_);
    return user_;
}

void SimLink::requestUserTitleAndModel() {
    if (requestOnUser(REQ_USER_TITLE, DEF_USER_TITLE, SIMCONNECT_PERIOD_ONCE, "SimConnect request user ac title fails"))
        requestOnUser(REQ_USER_MODEL, DEF_USER_MODEL, SIMCONNECT_PERIOD_ONCE, "SimConnect reques user ac model fails");
}

void SimLink::requestUserOnGround() {
    requestOnUser(REQ_USER_ON_GROUND, DEF_USER_ON_GROUND, SIMCONNECT_PERIOD_SECOND,
                  "SimConnect request ac gnd/air fails");
}

void SimLink::requestAiWithinRange() {
    int range = services_.rangeNm ? services_.rangeNm() : 40;
    bool failed = false;
    {
        std::lock_guard lock(simMutex_);
        if (requestFailed_) return;
        failed = !handle_ || FAILED(client_.SimConnect_RequestDataOnSimObjectType(
                                 handle_, REQ_AI_WITHIN_RANGE, DEF_AI_OBJECT, static_cast<DWORD>(range) * 1852u,
                                 SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT));
    }
    if (failed) {
        logError("SimConnect request ac within range fails");
        requestFailure();
    }
}

bool SimLink::waitForUserAircraft(std::chrono::milliseconds runningStep, std::chrono::milliseconds reportStep,
                                  std::chrono::milliseconds positionStep) {
    auto stopped = [] { return stopRequested() || userClosed(); };
    while (!simulationRunning()) {
        if (stopped()) return false;
        std::this_thread::sleep_for(runningStep);
    }
    requestUserOnGround();
    while (true) {
        if (stopped()) return false;
        UserPosition u = requestUserPosition();
        if (onGroundKnown_ && !isZeroPosition(u.latitude, u.longitude)) break;
        std::this_thread::sleep_for(reportStep);
    }
    requestUserTitleAndModel();
    while (true) {
        if (stopped()) return false;
        UserPosition u = requestUserPosition();
        if (!isZeroPosition(u.latitude, u.longitude)) break;
        std::this_thread::sleep_for(positionStep);
    }
    return !stopped();
}

void SimLink::requestFailure() {
    showStatus("SimConnect request error", true);
    requestFailed_ = true;
    if (!stopRequested()) requestStop(ExitReason::SimConnectError, 9);
}

// ---- state

UserPosition SimLink::userPosition() {
    std::lock_guard lock(simMutex_);
    return user_;
}

std::string SimLink::userTitle() {
    std::lock_guard lock(textMutex_);
    return title_;
}
std::string SimLink::userModel() {
    std::lock_guard lock(textMutex_);
    return model_;
}
double SimLink::userHalfWingspan() {
    std::lock_guard lock(textMutex_);
    return halfWingspan_;
}
AircraftCategory SimLink::userCategory() {
    std::lock_guard lock(textMutex_);
    return category_;
}
std::string SimLink::simulatorText() {
    std::lock_guard lock(textMutex_);
    return simulatorText_;
}
std::string SimLink::nearestAirportText() {
    std::lock_guard lock(textMutex_);
    return nearestAirport_;
}

std::vector<PendingCreation> SimLink::pendingCreations() {
    std::lock_guard lock(simMutex_);
    return pending_;
}

std::size_t SimLink::queuedPositions() {
    std::lock_guard lock(simMutex_);
    return sending_.size();
}

std::string SimLink::loadFigures() {
    std::lock_guard lock(simMutex_);
    const std::size_t queued = sending_.size() + events_.size() + creations_.size() + removals_.size();
    auto text = fmt::format("frame flush {} ({} frames); queued {} now, {} at most in a frame",
                            flushTimes_.microsecondsText(), flushTimes_.count(), queued, mostInFrame_);
    flushTimes_.restart();
    mostInFrame_ = 0;
    return text;
}

std::vector<ObjectNotice> SimLink::takeNotices() {
    std::vector<ObjectNotice> out;
    std::lock_guard lock(noticeMutex_);
    out.swap(notices_);
    return out;
}

void SimLink::postNotice(const ObjectNotice& notice) {
    std::lock_guard lock(noticeMutex_);
    notices_.push_back(notice);
}

void SimLink::reserve(std::size_t aircraft) {
    filling_.reserve(aircraft);
    std::lock_guard lock(simMutex_);
    sending_.reserve(aircraft);
}

void SimLink::reset() {
    {
        std::lock_guard lock(simMutex_);
        filling_.clear();
        sending_.clear();
        events_.clear();
        creations_.clear();
        removals_.clear();
        pending_.clear();
        user_ = UserPosition{};
    }
    {
        std::lock_guard lock(noticeMutex_);
        notices_.clear();
    }
    recentlyAdded_.clear();
    previousLat_ = previousLon_ = 0;
    running_ = false;
    requestFailed_ = false;
    quit_ = false;
    onGround_ = false;
    onGroundKnown_ = false;
    userObjectId_ = 0;
    frameCount_ = 0;
    simulatorTime_ = 0;
}

}  // namespace vntx::simlink
