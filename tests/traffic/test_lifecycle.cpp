// The life of live aircraft: report filters, buffering, spawning,
// activation, removal, respawn, ghosts and the live limit.
#include <gtest/gtest.h>

#include <algorithm>

#include <fmt/format.h>

#include "core/cycle.h"
#include "harness.h"

namespace vntx::traffic::test {
namespace {

// Two reports five seconds apart, flying east.
void pair(Harness& h, std::uint32_t hexid, double lat, double lon, const std::string& cs, double t = 1000,
          const std::string& type = "A320", const std::string& reg = "") {
    h.arrive(report(hexid, t, lat, lon, 5000, 100, 90, cs, type, reg));
    h.arrive(report(hexid, t + 5, lat, eastOf(lat, lon, 100, 5), 5000, 100, 90, cs, type, reg));
}

TEST(Lifecycle, SingleReportAircraftIsDroppedWhenItFallsDue) {
    Harness h;
    h.arrive(report(71001, 100, 10, 10));
    h.runTo(2899);
    ASSERT_NE(h.ac(71001), nullptr);
    EXPECT_EQ(h.ac(71001)->state, AcState::buffer);
    h.runTo(2902);
    EXPECT_EQ(h.ac(71001), nullptr);
    h.run(500);
    EXPECT_TRUE(h.sim.creations.empty());
}

TEST(Lifecycle, DuplicateAndTooCloseTimeStampsAreIgnored) {
    Harness h;
    h.arrive(report(71002, 100, 10, 10));
    h.arrive(report(71002, 100, 10, 10.01));    // same stamp
    h.arrive(report(71002, 101, 10, 10.02));    // one second later
    h.arrive(report(71002, 99, 10, 10.03));     // older
    h.arrive(report(71002, 110, 10, 10.04));    // accepted
    h.run(5);
    ASSERT_NE(h.ac(71002), nullptr);
    ASSERT_EQ(h.ac(71002)->stream.size(), 2u);
    EXPECT_DOUBLE_EQ(h.ac(71002)->stream.back().longitude, 10.04);
}

TEST(Lifecycle, SpeedJumpsAreIgnoredButPlausibleChangesKept) {
    Harness h;
    h.arrive(report(71003, 100, 10, 10, 3000, 4));
    h.arrive(report(71003, 110, 10, 10.001, 3000, 85));  // 4 -> 85 kt
    h.run(3);
    ASSERT_EQ(h.ac(71003)->stream.size(), 1u);
    h.arrive(report(71003, 120, 10, 10.002, 3000, 60));  // 4 -> 60 kt is possible
    h.run(3);
    EXPECT_EQ(h.ac(71003)->stream.size(), 2u);
    h.arrive(report(71003, 130, 10, 10.003, 3000, 6));   // 60 -> 6: ten times less
    h.run(3);
    EXPECT_EQ(h.ac(71003)->stream.size(), 2u);
}

TEST(Lifecycle, FastStraightFlightKeepsReportsAt450MetreSpacing) {
    Harness h;
    h.arrive(report(71004, 100, 10, 10, 5000, 200, 90));
    h.arrive(report(71004, 104, 10, eastOf(10, 10, 200, 4), 5000, 200, 90.5));  // 412 m: too close
    h.arrive(report(71004, 105, 10, eastOf(10, 10, 200, 5), 5000, 200, 90.5));  // 514 m
    h.run(3);
    ASSERT_EQ(h.ac(71004)->stream.size(), 2u);
    EXPECT_DOUBLE_EQ(h.ac(71004)->stream.back().timestamp, 105);
    // A turning aircraft keeps every report.
    h.arrive(report(71004, 107, 10, eastOf(10, 10, 200, 7), 5000, 200, 95));
    h.run(2);
    EXPECT_EQ(h.ac(71004)->stream.size(), 3u);
}

TEST(Lifecycle, AircraftIsCreatedActivatedAndDressed) {
    Harness h;
    pair(h, 71005, 10, 10, "ABC123");
    h.runTo(3100);
    ASSERT_EQ(h.sim.creations.size(), 1u);
    const auto& c = h.sim.creations[0];
    EXPECT_EQ(c.callsign, "ABC123");
    EXPECT_EQ(c.hexid, 71005u);
    EXPECT_FALSE(c.onGround);
    EXPECT_NEAR(c.heading, 90, 0.5);
    EXPECT_EQ(h.ac(71005)->operatorCode, "ABC");  // taken from the callsign
    ASSERT_EQ(h.sim.objects.size(), 1u);
    const std::uint32_t id = h.sim.objects.begin()->first;
    ASSERT_EQ(h.ac(71005)->objectId, id);
    // Two light toggles before it becomes active, two seconds after creation.
    int activeAt = -1;
    for (int i = 0; i < 400 && activeAt < 0; ++i) {
        h.run(1);
        if (h.ac(71005)->state == AcState::active) activeAt = h.mgr.tickCount();
    }
    ASSERT_GT(activeAt, 0);
    EXPECT_EQ(h.sim.toggles.size(), 2u);
    EXPECT_TRUE(std::any_of(h.sim.events.begin(), h.sim.events.end(),
                            [&](const fidelity::SentEvent& e) { return e.objectId == id && e.name == "ENGINE_AUTO_START"; }));
    ASSERT_FALSE(h.sim.lightSets.empty());
    EXPECT_EQ(h.sim.lightSets.front().second[0], 1);  // nav
    EXPECT_EQ(h.sim.lightSets.front().second[2], 1);  // landing lights at 5000 ft
    // Positions flow from then on.
    const auto before = h.sim.positionsSent;
    h.run(10);
    EXPECT_EQ(h.sim.positionsSent - before, 10u);
}

TEST(Lifecycle, AircraftWithoutLiveryIsNotTriedAgain) {
    Harness h;
    h.typesWithoutLivery.insert("ZZZ9");
    pair(h, 71006, 10, 10, "N123AB", 1000, "ZZZ9", "N123AB");
    h.runTo(3000);
    EXPECT_EQ(h.ac(71006), nullptr);
    EXPECT_EQ(h.matchCalls, 1);
    EXPECT_EQ(h.mgr.stats().noLivery, 1u);
    pair(h, 71006, 10, 10, "N123AB", 2000, "ZZZ9", "N123AB");
    h.runTo(6100);
    EXPECT_EQ(h.ac(71006), nullptr);
    EXPECT_EQ(h.matchCalls, 1);
    EXPECT_TRUE(h.sim.creations.empty());
}

TEST(Lifecycle, AnAircraftWithoutRegistrationIsNotKeptOutAfterAFailedMatch) {
    Harness h;
    h.typesWithoutLivery.insert("ZZZ9");
    pair(h, 71019, 10, 10, "NOREG1", 1000, "ZZZ9");
    h.runTo(3000);
    EXPECT_EQ(h.ac(71019), nullptr);
    EXPECT_TRUE(h.noLivery.empty());
    pair(h, 71019, 10, 10, "NOREG1", 2000, "ZZZ9");
    h.runTo(6100);
    EXPECT_EQ(h.matchCalls, 2);  // tried again
    EXPECT_EQ(h.mgr.stats().noLivery, 2u);
}

TEST(Lifecycle, RemovalWhileWaitingForCreationNeverReachesTheSimulator) {
    Harness h;
    pair(h, 71007, 10, 10, "WAIT1");
    h.runTo(2901);
    ASSERT_EQ(h.mgr.waitingCreations(), 1u);
    h.mgr.removeAircraftFromSim(*h.ac(71007));
    EXPECT_EQ(h.mgr.waitingCreations(), 0u);
    h.run(500);
    EXPECT_EQ(h.ac(71007), nullptr);
    EXPECT_TRUE(h.sim.creations.empty());
    EXPECT_TRUE(h.sim.removals.empty());
}

TEST(Lifecycle, RemovalAfterTheCreationWasSentWaitsForActivation) {
    Harness h;
    pair(h, 71008, 10, 10, "SENT1");
    h.runTo(2960);
    ASSERT_EQ(h.sim.creations.size(), 1u);
    ASSERT_EQ(h.ac(71008)->state, AcState::adding2sim);
    h.mgr.removeAircraftFromSim(*h.ac(71008));
    EXPECT_TRUE(h.ac(71008)->removalPending);
    h.run(400);
    EXPECT_EQ(h.ac(71008), nullptr);
    EXPECT_EQ(h.sim.removals.size(), 1u);
    EXPECT_TRUE(h.sim.objects.empty());
}

TEST(Lifecycle, RefusedCreationErasesTheRecordAndReportsTheLivery) {
    Harness h;
    h.sim.refusedTitles.insert("A320 BAD ");
    pair(h, 71009, 10, 10, "BAD1");
    h.runTo(3100);
    EXPECT_EQ(h.ac(71009), nullptr);
    ASSERT_EQ(h.sim.refusedReported.size(), 1u);
    EXPECT_EQ(h.sim.refusedReported[0], "A320 BAD ");
}

TEST(Lifecycle, LiveryRespawnKeepsRecordAndReports) {
    Harness h;
    for (int i = 0; i < 8; ++i)
        h.arrive(report(71010, 1000 + 5 * i, 10, eastOf(10, 10, 100, 5 * i), 5000, 100, 90, "RSP1", "A320", "G-AAAA"));
    h.runTo(3400);
    ASSERT_EQ(h.ac(71010)->state, AcState::active);
    const std::uint32_t firstId = h.ac(71010)->objectId;
    const std::string firstTitle = h.ac(71010)->liveryTitle;
    h.liverySuffix = " new";
    h.arrive(report(71010, 1045, 10, eastOf(10, 10, 100, 45), 5000, 100, 90, "RSP1", "A320", "G-BBBB"));
    h.run(2);
    LiveAircraft* ac = h.ac(71010);
    ASSERT_NE(ac, nullptr);
    EXPECT_EQ(ac->registration, "G-BBBB");
    EXPECT_GE(ac->stream.size(), 3u);
    h.run(600);
    ac = h.ac(71010);
    ASSERT_NE(ac, nullptr);
    EXPECT_EQ(h.mgr.stats().respawns, 1u);
    ASSERT_EQ(h.sim.removals.size(), 1u);
    EXPECT_EQ(h.sim.removals[0], firstId);
    ASSERT_EQ(h.sim.creations.size(), 2u);
    EXPECT_NE(h.sim.creations[1].liveryTitle, firstTitle);
    EXPECT_EQ(ac->state, AcState::active);
    EXPECT_NE(ac->objectId, firstId);
    // The new object starts where the old one was, not back at the first report.
    ASSERT_EQ(h.sim.gone.size(), 1u);
    EXPECT_LT(distanceNm(h.sim.creations[1].latitude, h.sim.creations[1].longitude, h.sim.gone[0].last.latitude,
                         h.sim.gone[0].last.longitude) * 1852.0, 5.0);
    EXPECT_GT(h.sim.creations[1].longitude, 10.0005);
    EXPECT_FALSE(ac->stream.empty());
    // Two livery choices (creation and respawn) and one trial of the new
    // registration, which the matching neither counts nor logs.
    EXPECT_EQ(h.matchCalls, 2);
    EXPECT_EQ(h.probeCalls, 1);
}

TEST(Lifecycle, AnAircraftRemovedWhileItRespawnsIsRemovedOnceAndNotCreatedAgain) {
    Harness h;
    for (int i = 0; i < 8; ++i)
        h.arrive(report(71020, 1000 + 5 * i, 10, eastOf(10, 10, 100, 5 * i), 5000, 100, 90, "RSP3"));
    h.runTo(3400);
    LiveAircraft* ac = h.ac(71020);
    ASSERT_EQ(ac->state, AcState::active);
    const std::uint32_t id = ac->objectId;
    h.mgr.liveryRespawn(*ac);
    h.mgr.removeAircraftFromSim(*ac);
    h.run(600);
    EXPECT_EQ(std::count(h.sim.removals.begin(), h.sim.removals.end(), id), 1);
    EXPECT_EQ(h.ac(71020), nullptr);
    EXPECT_EQ(h.sim.creations.size(), 1u);
}

TEST(Lifecycle, RespawnIsOffWithoutGuidChanges) {
    Harness h;
    params().GUID_CHANGES.set(false);
    for (int i = 0; i < 8; ++i)
        h.arrive(report(71011, 1000 + 5 * i, 10, eastOf(10, 10, 100, 5 * i), 5000, 100, 90, "RSP2", "A320", "G-AAAA"));
    h.runTo(3400);
    h.liverySuffix = " new";
    h.arrive(report(71011, 1045, 10, eastOf(10, 10, 100, 45), 5000, 100, 90, "RSP2", "A320", "G-BBBB"));
    h.run(600);
    EXPECT_EQ(h.mgr.stats().respawns, 0u);
    EXPECT_EQ(h.sim.creations.size(), 1u);
}

TEST(Lifecycle, GhostIsRemovedWhenItsRealAircraftSpawns) {
    Harness h;
    pair(h, 71012, 10, 10, "GHO1_");
    h.runTo(3400);
    ASSERT_EQ(h.ac(71012)->state, AcState::active);
    pair(h, 71013, 10.5, 10, "GHO1", 1040);
    h.runTo(7000);
    EXPECT_EQ(h.ac(71012), nullptr);
    ASSERT_NE(h.ac(71013), nullptr);
    ASSERT_EQ(h.mgr.ghostList().size(), 1u);
    EXPECT_EQ(h.mgr.ghostList()[0], "GHO1_");
    // The ghost does not come back.
    pair(h, 71012, 10, 11, "GHO1_", 1100);
    h.runTo(10100);
    EXPECT_EQ(h.ac(71012), nullptr);
}

TEST(Lifecycle, LiveLimitReplacesTheFarthestByANearerNewcomerOnly) {
    Harness h;
    params().MAX_LIVE_SEL.set(10);
    h.user = UserPosition{0, 0};
    // Ten aircraft 2 to 20 nm east of the user, reporting every 5 s while
    // holding their distance (flying north).
    double t = 1000;
    auto keepReporting = [&](int ticks) {
        for (int done = 0; done < ticks; done += 500) {
            for (int k = 1; k <= 10; ++k) {
                const double lon = k / 60.0 * 2;
                h.arrive(report(72000 + k, t, (t - 1000) * 100 / 3600.0 / 60.0, lon, 5000, 100, 0, fmt::format("LIM{}", k)));
            }
            t += 5;
            h.run(500);
        }
    };
    keepReporting(4000);
    ASSERT_EQ(h.mgr.counts().active, 10);
    const std::uint32_t farthestObject = h.ac(72010)->objectId;
    // Nearer than the farthest: the farthest (20 nm) goes.
    pair(h, 72100, 0.01, 0, "NEAR1", t);
    keepReporting(4000);
    ASSERT_EQ(h.sim.removals.size(), 1u);
    EXPECT_EQ(h.sim.removals[0], farthestObject);
    // Still reported, it waits in the buffer and is never created again.
    EXPECT_TRUE(h.ac(72010) == nullptr || h.ac(72010)->state == AcState::buffer);
    ASSERT_NE(h.ac(72100), nullptr);
    EXPECT_EQ(h.ac(72100)->state, AcState::active);
    EXPECT_EQ(h.sim.creations.size(), 11u);
    // Farther than every active one: dropped before creation.
    pair(h, 72101, 0, 1.0, "FAR1", t);
    keepReporting(4000);
    EXPECT_EQ(h.ac(72101), nullptr);
    EXPECT_EQ(h.sim.creations.size(), 11u);
}

TEST(Lifecycle, WithdrawalRemovesActiveAndDropsWaitingAircraft) {
    Harness h;
    pair(h, 71014, 10, 10, "WD1");
    h.runTo(3400);
    pair(h, 71015, 11, 10, "WD2", 1030);
    h.run(5);  // 1015 still in the buffer
    h.mgr.withdrawAll();
    EXPECT_EQ(h.ac(71015), nullptr);
    ASSERT_NE(h.ac(71014), nullptr);
    EXPECT_EQ(h.ac(71014)->state, AcState::removingfromsim);
    h.run(20);
    EXPECT_EQ(h.ac(71014), nullptr);
    EXPECT_TRUE(h.mgr.liveList().empty());
}

TEST(Lifecycle, ABlockedCallsignRemovesTheFirstActiveMatchOnceAfterTheEdit) {
    Harness h;
    pair(h, 71023, 10, 10, "BLK2", 1000, "A320");
    pair(h, 71024, 11, 10, "BLK2", 1000, "B738");  // same callsign, another type
    h.runTo(3400);
    ASSERT_EQ(h.ac(71023)->state, AcState::active);
    ASSERT_EQ(h.ac(71024)->state, AcState::active);
    params().BLOCK_CALLSIGN.set("BLK2");
    cycleState().blockedCallsignChanged = true;  // as the window does on an edit
    for (int second = 0; second < 3; ++second) {
        h.mgr.perReportDuties();
        h.run(100);
    }
    ASSERT_EQ(h.sim.removals.size(), 1u);
    EXPECT_EQ(h.ac(71023), nullptr);
    ASSERT_NE(h.ac(71024), nullptr);
    EXPECT_EQ(h.ac(71024)->state, AcState::active);
    // Blocked again after an unblock: the next one goes.
    params().BLOCK_CALLSIGN.set("");
    cycleState().blockedCallsignChanged = true;
    h.mgr.perReportDuties();
    params().BLOCK_CALLSIGN.set("BLK2");
    h.mgr.perReportDuties();
    EXPECT_EQ(h.sim.removals.size(), 1u);  // no edit flagged: nothing happens
    cycleState().blockedCallsignChanged = true;
    h.mgr.perReportDuties();
    h.run(20);
    EXPECT_EQ(h.sim.removals.size(), 2u);
}

TEST(Lifecycle, BlockedCallsignAndFilteredCategoriesAreNeverCreated) {
    Harness h;
    params().BLOCK_CALLSIGN.set("BLK1");
    params().HELICOPTERS.set(false);
    h.categories["EC35"] = Category::Rotorcraft;
    pair(h, 71016, 10, 10, "BLK1");
    pair(h, 71017, 11, 10, "HELI1", 1000, "EC35");
    pair(h, 71018, 12, 10, "OK1");
    h.runTo(3200);
    EXPECT_EQ(h.ac(71016), nullptr);
    EXPECT_EQ(h.ac(71017), nullptr);
    ASSERT_EQ(h.sim.creations.size(), 1u);
    EXPECT_EQ(h.sim.creations[0].callsign, "OK1");
}

}  // namespace
}  // namespace vntx::traffic::test
