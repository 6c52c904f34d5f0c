// The outgoing queues: what the traffic side asks of the simulator, sent by
// the "SimClient" thread at each simulator frame.
#include <algorithm>
#include <chrono>
#include <utility>

#include "core/files.h"
#include "core/log.h"
#include "core/status.h"
#include "simlink/sim_link.h"

namespace vntx::simlink {

using namespace simconnect;

void SimLink::queueCreation(CreationRecord creation) {
    std::lock_guard lock(simMutex_);
    creations_.push_back(std::move(creation));
}

void SimLink::queueRemoval(std::uint32_t objectId) {
    std::lock_guard lock(simMutex_);
    removals_.push_back(objectId);
}

void SimLink::queuePosition(std::uint32_t objectId, const AiPosition& position) {
    filling_.push_back({position, objectId});
}

void SimLink::handOverPositions() {
    std::unique_lock lock(simMutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        // The frame flush is busy. At a low frame rate this tick's positions
        // are dropped; otherwise they are worth the wait.
        if (frameRate_.load() <= 50.0f) {
            filling_.clear();
            return;
        }
        lock.lock();
    }
    std::swap(filling_, sending_);
    filling_.clear();
}

void SimLink::queueClientEvent(std::uint32_t objectId, std::uint32_t eventId, std::uint32_t data) {
    std::lock_guard lock(simMutex_);
    events_.push_back({objectId, eventId, data});
}

void SimLink::setLights(std::uint32_t objectId, const std::uint32_t values[7]) {
    static constexpr std::uint32_t kOrder[7] = {EVT_NAV_LIGHTS_SET,   EVT_BEACON_LIGHTS_SET, EVT_LANDING_LIGHTS_SET,
                                                EVT_TAXI_LIGHTS_SET,  EVT_STROBES_SET,       EVT_LOGO_LIGHTS_SET,
                                                EVT_CABIN_LIGHTS_SET};
    std::lock_guard lock(simMutex_);
    for (int i = 0; i < 7; ++i) events_.push_back({objectId, kOrder[i], values[i]});
}

void SimLink::setCabinLights(std::uint32_t objectId, std::uint32_t value) {
    queueClientEvent(objectId, EVT_CABIN_LIGHTS_SET, value);
}

void SimLink::setControlBlock(std::uint32_t objectId, double spoilers, double throttle1, double throttle2) {
    double block[3] = {spoilers, throttle1, throttle2};
    std::lock_guard lock(simMutex_);
    if (!handle_ || requestFailed_) return;
    client_.SimConnect_SetDataOnSimObject(handle_, DEF_AI_CONTROLS, objectId, 0, 0, sizeof block, block);
}

bool SimLink::gf_allLightsToggle(std::uint32_t objectId) {
    bool failed;
    {
        std::lock_guard lock(simMutex_);
        if (requestFailed_) return false;
        failed = !handle_ || FAILED(client_.SimConnect_TransmitClientEvent(handle_, objectId, EVT_ALL_LIGHTS_TOGGLE, 0,
                                                                          kNotificationGroup, 0));
    }
    if (failed) logError("SimConnect gf_allLightsToggle fails");
    return !failed;
}

bool SimLink::setFlightPlan(std::uint32_t objectId, const std::string& path) {
    std::lock_guard lock(simMutex_);
    if (!handle_ || requestFailed_) return false;
    return SUCCEEDED(client_.SimConnect_AISetAircraftFlightPlan(handle_, objectId, path.c_str(), REQ_FLIGHT_PLAN));
}

bool SimLink::requestStaticCg(std::uint32_t objectId) {
    if (objectId < 3) return false;
    bool failed = false;
    {
        std::lock_guard lock(simMutex_);
        if (requestFailed_) return true;
        failed = !handle_ || FAILED(client_.SimConnect_RequestDataOnSimObject(handle_, REQ_STATIC_CG, DEF_STATIC_CG,
                                                                            objectId, SIMCONNECT_PERIOD_ONCE, 0, 0, 0,
                                                                            0));
    }
    if (failed) {
        logError("SimConnect request StaticCG fails");
        requestFailure();
    }
    return true;
}

void SimLink::flushFrame() {
    // The dispatch thread never waits for the traffic thread: a frame that
    // finds the lock held is skipped, its queues wait for the next one.
    std::unique_lock lock(simMutex_, std::try_to_lock);
    if (!lock.owns_lock()) return;
    if (requestFailed_) {
        // A restart follows; nothing more goes to the simulator.
        sending_.clear();
        events_.clear();
        creations_.clear();
        removals_.clear();
        return;
    }
    if (!handle_) return;
    const std::size_t messages = sending_.size() + events_.size() + creations_.size() + removals_.size();
    const auto started = std::chrono::steady_clock::now();
    const std::uint32_t user = userObjectId_;
    for (auto& p : sending_)
        if (p.objectId > user)
            client_.SimConnect_SetDataOnSimObject(handle_, DEF_AI_POSITION, p.objectId, 0, 0, sizeof(AiPosition),
                                                  &p.position);
    sending_.clear();

    for (const auto& e : events_) {
        bool flaps = e.eventId == EVT_FLAPS_SET;
        if (flaps) client_.SimConnect_AIReleaseControl(handle_, e.objectId, REQ_AI_RELEASE_CONTROL);
        if (FAILED(client_.SimConnect_TransmitClientEvent(handle_, e.objectId, e.eventId, e.data, kNotificationGroup,
                                                          0))) {
            showStatus(fmt::format("SimConnect TransmitClientEvent: {} fails", e.eventId), true);
            continue;
        }
        if (flaps) client_.SimConnect_AIReleaseControl(handle_, e.objectId, REQ_AI_RELEASE_CONTROL);
    }
    events_.clear();

    bool failed = false;
    for (auto& c : creations_) {
        if (FAILED(client_.SimConnect_AICreateNonATCAircraft(handle_, c.title.c_str(), c.callsign.c_str(),
                                                             c.initPosition, REQ_AI_CREATE))) {
            logErrorf("! Simcon call to create ac in sim failed, hexid:{}, liv: '{}', callsign: {})", c.hexid,
                      c.title, c.callsign);
            failed = true;
            break;
        }
        DWORD sendId = 0;
        if (FAILED(client_.SimConnect_GetLastSentPacketID(handle_, &sendId))) {
            logError("GetLastSentPacketID");
            sendId = 0;
        }
        pending_.push_back({sendId, c.hexid, c.callsign});
    }
    creations_.clear();

    if (!failed) {
        for (std::uint32_t oid : removals_) {
            if (oid > user) {
                if (FAILED(client_.SimConnect_AIRemoveObject(handle_, oid, REQ_AI_REMOVE))) {
                    logErrorf("{} !SimConnect call to remove AI ac from sim failed, id {}?", utcTimeOfDay(), oid);
                    failed = true;
                    break;
                }
            } else {
                logf("SimConnect call to remove ac with objectid {}", oid);
            }
        }
    }
    removals_.clear();
    if (messages > 0) {
        flushTimes_.add(std::chrono::steady_clock::now() - started);
        mostInFrame_ = std::max(mostInFrame_, messages);
    }
    lock.unlock();
    if (failed) requestFailure();
}

}  // namespace vntx::simlink
