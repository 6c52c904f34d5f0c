#include "stub_sim.h"

#include <cmath>

#include "traffic/traffic_manager.h"

namespace vntx::fidelity {

const SimObject* StubSim::objectOf(std::uint32_t hexid) const {
    for (const auto& [id, o] : objects)
        if (o.hexid == hexid) return &o;
    return nullptr;
}

void StubSim::takeNotices(std::vector<ObjectNotice>& out) {
    while (!pending_.empty() && pending_.front().dueFrame <= frame) {
        const CreationRequest c = pending_.front().request;
        pending_.pop_front();
        if (refusedTitles.count(c.liveryTitle)) {
            notices_.push_back({0, c.hexid, ObjectNotice::Refused, 0, 0});
            continue;
        }
        SimObject o;
        o.objectId = nextId_++;
        o.hexid = c.hexid;
        o.title = c.liveryTitle;
        o.callsign = c.callsign;
        o.last.latitude = c.latitude;
        o.last.longitude = c.longitude;
        o.last.altitude = c.altitude;
        o.last.heading = c.heading * traffic::kDeg;
        o.hasPosition = true;
        o.lastFrame = frame;
        objects[o.objectId] = o;
        const double above = c.onGround ? 0 : c.altitude - groundElevation;
        // As the simulator link tells them apart: hexids up to 10000 are static aircraft.
        notices_.push_back({o.objectId, c.hexid, c.hexid > 10000 ? ObjectNotice::CreatedLive : ObjectNotice::CreatedStatic,
                            above, 0});
    }
    for (auto& n : notices_) out.push_back(n);
    notices_.clear();
}

void StubSim::queueCreation(const CreationRequest& c) {
    creations.push_back(c);
    pending_.push_back({frame + createDelayFrames, c});
}

void StubSim::queueRemoval(std::uint32_t objectId) {
    removals.push_back(objectId);
    auto it = objects.find(objectId);
    if (it == objects.end()) return;
    if (autoRemove) {
        gone.push_back(std::move(it->second));
        objects.erase(it);
        notices_.push_back({objectId, 0, ObjectNotice::Removed, 0, 0});
    }
}

void StubSim::requestStaticCg(std::uint32_t objectId) {
    ++staticCgRequests;
    notices_.push_back({objectId, 0, ObjectNotice::StaticCg, cgHeight, staticPitch});
}

void StubSim::requestWithinRange() {
    ++withinRangeRequests;
    for (const auto& [id, o] : objects) {
        if (!o.hasPosition) continue;
        const bool onGround = o.last.altitude <= groundElevation + cgHeight + 0.5;
        notices_.push_back({id, o.hexid, ObjectNotice::GroundReport, onGround ? 1.0 : 0.0, groundElevation});
    }
}

void StubSim::queuePosition(std::uint32_t objectId, const AiPosition& pos) {
    ++positionsSent;
    auto it = objects.find(objectId);
    if (it == objects.end()) return;
    SimObject& o = it->second;
    if (o.hasPosition && o.lastFrame == frame - 1) {
        const double step = traffic::distanceNm(o.last.latitude, o.last.longitude, pos.latitude, pos.longitude) * 1852.0;
        if (step > o.maxStepMeters) o.maxStepMeters = step;
        const double turn = std::fabs(traffic::angleDiff(pos.heading, o.last.heading)) / traffic::kDeg * 100.0;
        if (turn > o.maxHeadingRate) o.maxHeadingRate = turn;
    }
    o.last = pos;
    o.hasPosition = true;
    o.lastFrame = frame;
    if (frame % 100 == 0) {
        o.path.push_back(pos);
        o.pathFrames.push_back(frame);
    }
    if (onFrame) onFrame(o, frame);
}

}  // namespace vntx::fidelity
