// An in-process simulator stand-in for driving the traffic tick without a
// simulator: it creates objects a few frames after asking, removes them
// when asked, answers centre-of-gravity and ground requests with a flat
// ground, records everything it was sent, and measures the motion of every
// AI object frame by frame (one frame per traffic tick).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "traffic/sim_port.h"

namespace vntx::fidelity {

using traffic::AiPosition;
using traffic::CreationRequest;
using traffic::LiveAircraft;
using traffic::ObjectNotice;

struct SentEvent {
    std::uint32_t objectId;
    std::string name;
    std::uint32_t data;
};

struct SimObject {
    std::uint32_t objectId = 0;
    std::uint32_t hexid = 0;
    std::string title;
    std::string callsign;
    bool hasPosition = false;
    AiPosition last;
    int lastFrame = -1;
    // motion figures
    double maxStepMeters = 0;
    double maxHeadingRate = 0;  // degrees per second
    std::vector<AiPosition> path;  // one sample a second
    std::vector<int> pathFrames;
};

class StubSim final : public traffic::SimLinkPort {
public:
    // settings of the stand-in
    int createDelayFrames = 30;        // creation to created notice
    double groundElevation = 0;        // feet
    double cgHeight = 8;               // feet
    double staticPitch = 0.0122173;    // radians
    std::set<std::string> refusedTitles;
    bool autoRemove = true;
    std::function<void(const SimObject&, int frame)> onFrame;  // after each position of an object

    // what was sent
    std::vector<CreationRequest> creations;
    std::vector<std::uint32_t> removals;
    std::vector<SentEvent> events;
    std::vector<std::pair<std::uint32_t, std::array<int, 7>>> lightSets;
    std::vector<std::uint32_t> toggles;
    struct ControlBlock {
        std::uint32_t objectId;
        double spoilers, throttle1, throttle2;
    };
    std::vector<ControlBlock> controlBlocks;
    int staticCgRequests = 0;
    std::unordered_map<std::uint32_t, SimObject> objects;  // alive objects
    std::vector<SimObject> gone;                           // removed objects, with their figures
    int frame = 0;
    int withinRangeRequests = 0;
    int userPositionRequests = 0;
    std::size_t positionsSent = 0;

    void post(const ObjectNotice& n) { notices_.push_back(n); }
    const SimObject* objectOf(std::uint32_t hexid) const;

    // SimLinkPort
    void takeNotices(std::vector<ObjectNotice>& out) override;
    void queuePosition(std::uint32_t objectId, const AiPosition& pos) override;
    void handOverPositions() override { ++frame; }
    void queueEvent(std::uint32_t objectId, std::string_view event, std::uint32_t data) override {
        events.push_back({objectId, std::string(event), data});
    }
    void setLights(std::uint32_t objectId, const std::array<int, 7>& l) override { lightSets.emplace_back(objectId, l); }
    void setCabinLights(std::uint32_t objectId, int on) override { events.push_back({objectId, "CABIN_LIGHTS_SET", static_cast<std::uint32_t>(on)}); }
    void setControlBlock(std::uint32_t objectId, double spoilers, double throttle1, double throttle2) override {
        controlBlocks.push_back({objectId, spoilers, throttle1, throttle2});
    }
    bool toggleAllLights(std::uint32_t objectId) override {
        toggles.push_back(objectId);
        return true;
    }
    void queueCreation(const CreationRequest& c) override;
    void queueRemoval(std::uint32_t objectId) override;
    void requestStaticCg(std::uint32_t objectId) override;
    bool createFlightPlan(const LiveAircraft&) override { return false; }
    void deleteFlightPlan(std::uint32_t) override {}
    void requestWithinRange() override;
    void requestUserPosition() override { ++userPositionRequests; }
    void sendUserPosition() override {}
    void reportLiveryNotCreated(const std::string&, const std::string& title) override { refusedReported.push_back(title); }
    void requestFailed() override { ++failures; }

    std::vector<std::string> refusedReported;
    int failures = 0;

private:
    struct PendingCreation {
        int dueFrame;
        CreationRequest request;
    };
    std::deque<PendingCreation> pending_;
    std::vector<ObjectNotice> notices_;
    std::uint32_t nextId_ = 100;
};

}  // namespace vntx::fidelity
