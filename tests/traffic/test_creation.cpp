// From the buffer into the simulator: the creation pace, the created notice
// and its object id, the first attitude, flaps, and a ground stream whose
// aircraft starts moving again.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/log.h"
#include "harness.h"
#include "support/temp_dir.h"

namespace vntx::traffic::test {
namespace {

void pair(Harness& h, std::uint32_t hexid, double lat, const std::string& cs) {
    h.arrive(report(hexid, 1000, lat, 10, 5000, 100, 90, cs));
    h.arrive(report(hexid, 1005, lat, eastOf(lat, 10, 100, 5), 5000, 100, 90, cs));
}

TEST(Creation, OneCreationEveryFiftyTicksLiveBeforeStaticAndOneRemovalEveryTen) {
    int staticWaiting = 0, staticTakenAt = -1;
    Harness* self = nullptr;
    Harness h([&](TrafficServices& s) {
        s.staticCreationWaiting = [&] { return staticWaiting > 0; };
        s.takeStaticCreation = [&] {
            --staticWaiting;
            staticTakenAt = self->mgr.tickCount();
        };
    });
    self = &h;
    h.sim.createDelayFrames = 5;
    for (std::uint32_t k = 0; k < 3; ++k) pair(h, 74001 + k, 10 + k, "PACE" + std::to_string(k));
    std::vector<int> createdAt;
    while (h.mgr.tickCount() < 3400) {
        const auto before = h.sim.creations.size();
        const int tick = h.mgr.tickCount();
        // A static aircraft waits too once the live ones are queued (tick 2900 on).
        if (tick == 2940) staticWaiting = 1;
        h.run(1);
        if (h.sim.creations.size() > before) createdAt.push_back(tick);
    }
    ASSERT_EQ(createdAt.size(), 3u);
    for (int t : createdAt) EXPECT_EQ(t % 50, 0);
    EXPECT_EQ(createdAt[1] - createdAt[0], 50);
    EXPECT_EQ(createdAt[2] - createdAt[1], 50);
    // The static creation waited for the live ones.
    EXPECT_EQ(staticTakenAt, createdAt[2] + 50);

    ASSERT_EQ(h.mgr.counts().active, 3);
    std::vector<std::uint32_t> ids;
    for (std::uint32_t k = 0; k < 3; ++k) ids.push_back(h.ac(74001 + k)->objectId);
    h.mgr.withdrawAll();
    std::vector<int> removedAt;
    for (int i = 0; i < 40; ++i) {
        const auto before = h.sim.removals.size();
        const int tick = h.mgr.tickCount();
        h.run(1);
        if (h.sim.removals.size() > before) removedAt.push_back(tick);
    }
    ASSERT_EQ(removedAt.size(), 3u);
    EXPECT_EQ(removedAt[1] - removedAt[0], 10);
    EXPECT_EQ(removedAt[2] - removedAt[1], 10);
    // The removal stack gives the last one first.
    EXPECT_EQ(h.sim.removals, (std::vector<std::uint32_t>{ids[2], ids[1], ids[0]}));
}

TEST(Creation, ACreatedNoticeBelowObjectThreeIsNotTaken) {
    Harness h;
    h.sim.createDelayFrames = 1000000;  // the notices come from the test
    pair(h, 74010, 10, "LOW1");
    h.runTo(3000);
    ASSERT_EQ(h.sim.creations.size(), 1u);
    h.sim.post({2, 74010, ObjectNotice::CreatedLive, 1500, 0});
    h.run(1);
    LiveAircraft* ac = h.ac(74010);
    EXPECT_EQ(ac->objectId, 0u);
    EXPECT_EQ(h.sim.staticCgRequests, 0);
    EXPECT_EQ(h.mgr.stats().created, 0u);
    h.sim.post({3, 74010, ObjectNotice::CreatedLive, 1500, 0});
    h.run(1);
    EXPECT_EQ(ac->objectId, 3u);
    EXPECT_EQ(ac->creationAboveGround, 1500);
    EXPECT_EQ(h.sim.staticCgRequests, 1);
    EXPECT_EQ(h.mgr.stats().created, 1u);
    h.run(210);
    EXPECT_EQ(ac->state, AcState::active);
}

TEST(Creation, AnAircraftOnTheGroundStartsSlightlyNoseDownAsTheSimulatorCountsPitch) {
    Harness h;
    // Taxiing at 15 kt: two ground reports 10 s apart.
    h.arrive(report(74020, 1000, 10, 10, 0, 15, 90, "GND1"));
    h.arrive(report(74020, 1010, 10, eastOf(10, 10, 15, 10), 0, 15, 90, "GND1"));
    h.runTo(3100);
    ASSERT_EQ(h.sim.creations.size(), 1u);
    EXPECT_TRUE(h.sim.creations[0].onGround);
    EXPECT_DOUBLE_EQ(h.sim.creations[0].pitch, 0.6);
    EXPECT_EQ(h.ac(74020)->flightState, FlightState::taxi);
}

TEST(Creation, FlapsGoOutOnceAnInvalidIndexIsRecordedAndHelicoptersHaveNone) {
    vntx::test::TempDir dir;
    openLog(dir / "Log.txt");
    Harness h;
    LiveAircraft ac;
    ac.objectId = 9;
    ac.flapIndex = 0;
    h.mgr.gf_setFlaps(ac, 2);
    h.mgr.gf_setFlaps(ac, 2);
    ASSERT_EQ(h.sim.events.size(), 1u);
    EXPECT_EQ(h.sim.events[0].name, "FLAPS_SET");
    EXPECT_EQ(h.sim.events[0].data, kFlapTable[2]);
    h.mgr.gf_setFlaps(ac, 5);
    EXPECT_EQ(ac.flapIndex, 5);
    EXPECT_EQ(h.sim.events.size(), 1u);
    h.mgr.gf_setFlaps(ac, 4);  // from an invalid index back to a valid one
    EXPECT_EQ(h.sim.events.size(), 2u);
    LiveAircraft heli;
    heli.objectId = 10;
    heli.category = Category::Rotorcraft;
    heli.flapIndex = 0;
    h.mgr.gf_setFlaps(heli, 1);
    EXPECT_EQ(heli.flapIndex, 0);
    EXPECT_EQ(h.sim.events.size(), 2u);
    flushLog();
    EXPECT_NE(vntx::test::readFile(dir / "Log.txt").find("==> gf_setFlaps: invalid flaps index"), std::string::npos);
    closeLog();
}

TEST(Creation, AGroundAircraftMovingAgainAfterItsFrontReportDropsTheStop) {
    Harness h;
    LiveAircraft ac;
    ac.state = AcState::active;
    ac.flightState = FlightState::taxi;
    ac.onGround = true;
    TrafficRecord front = report(1, 100, 10, 10, 0, 10, 90);
    TrafficRecord stop1 = report(1, 110, 10, 10.0003, 0, 0, 90);
    TrafficRecord stop2 = stop1;
    stop2.timestamp = 125;
    setStationary(stop1, true);
    setStationary(stop2, true);
    front.scheduledTick = 100;
    stop1.scheduledTick = 200;
    stop2.scheduledTick = 300;
    ac.stream = {front, stop1, stop2};
    // Moving again, due soon after the front report: the stop is dropped.
    TrafficRecord moving = report(1, 130, 10, 10.0006, 0, 8, 90);
    moving.scheduledTick = 400;
    h.mgr.decodeExisting(ac, moving);
    ASSERT_EQ(ac.stream.size(), 2u);
    EXPECT_DOUBLE_EQ(ac.stream[0].longitude, 10);
    EXPECT_DOUBLE_EQ(ac.stream[1].longitude, 10.0006);
    EXPECT_FALSE(isStationary(ac.stream[1]));
    // Long after it, and far from it, the stop stays.
    ac.stream = {front, stop1, stop2};
    ac.stream[1].scheduledTick = 2000;
    ac.stream[2].scheduledTick = 2100;
    moving.longitude = 10.01;
    moving.scheduledTick = 2200;
    h.mgr.decodeExisting(ac, moving);
    EXPECT_EQ(ac.stream.size(), 4u);
}

}  // namespace
}  // namespace vntx::traffic::test
