// Keeping the user clear: creation held back in the user's way, the
// once-a-second removals near the user on the ground and in the air, and
// static aircraft standing in the way.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/parameters.h"
#include "harness.h"

namespace vntx::traffic::test {
namespace {

constexpr double kLat = 47.45, kLon = 8.55;

UserPosition parkedUser(double lat = kLat, double lon = kLon) {
    UserPosition u;
    u.latitude = lat;
    u.longitude = lon;
    u.onGround = true;
    u.halfWingspan = 0.01;
    return u;
}

// An aircraft taxiing slowly east from (lat, lon), active after the call.
void taxiing(Harness& h, std::uint32_t hexid, double lat, double lon, const std::string& cs) {
    for (int i = 0; i < 6; ++i) h.arrive(report(hexid, 1000 + 20 * i, lat, eastOf(lat, lon, 5, 20 * i), 0, 5, 90, cs));
}

// Puts an active aircraft at a place for the next once-a-second step.
void place(LiveAircraft& ac, double lat, double lon, double headingDeg, double alt, bool onGround) {
    ac.pos.latitude = lat;
    ac.pos.longitude = lon;
    ac.pos.heading = headingDeg * kDeg;
    ac.pos.altitude = alt;
    ac.onGround = onGround;
}


TEST(Collision, UserParkedRemovesTaxiingAircraftTooCloseOnePerSecond) {
    Harness h;
    taxiing(h, 75001, kLat, kLon, "NEAR1");
    taxiing(h, 75002, kLat + 0.0001, kLon, "NEAR2");
    taxiing(h, 75003, kLat + 0.001, kLon, "FAR1");  // about 110 m north
    h.runTo(3400);
    ASSERT_EQ(h.ac(75001)->state, AcState::active);
    ASSERT_EQ(h.ac(75003)->state, AcState::active);
    h.user = parkedUser(kLat, h.ac(75001)->pos.longitude);
    h.run(1);
    h.mgr.perReportDuties();
    EXPECT_EQ(h.ac(75001)->state, AcState::removingfromsim);
    EXPECT_EQ(h.ac(75002)->state, AcState::active);  // one a second
    h.run(1);
    h.mgr.perReportDuties();
    EXPECT_EQ(h.ac(75002)->state, AcState::removingfromsim);
    h.run(1);
    h.mgr.perReportDuties();
    EXPECT_EQ(h.ac(75003)->state, AcState::active);  // 1.15 x the spans is about 43 m
}

TEST(Collision, GroundRuleOffKeepsNearbyAircraft) {
    Harness h;
    params().COLLISION_USER_GND.set(false);
    taxiing(h, 75004, kLat, kLon, "NEAR3");
    h.runTo(3400);
    h.user = parkedUser(kLat, h.ac(75004)->pos.longitude);
    h.run(1);
    h.mgr.perReportDuties();
    EXPECT_EQ(h.ac(75004)->state, AcState::active);
}

// The user on short final heading east, 300 ft above the ground.
UserPosition onFinal() {
    UserPosition u;
    u.latitude = kLat;
    u.longitude = kLon;
    u.altitude = 1716;
    u.aboveGround = 300;
    u.heading = 90 * kDeg;
    u.groundSpeed = 140;
    u.halfWingspan = 0.01;
    return u;
}

TEST(Collision, OnFinalAnAircraftOnTheRunwayLineIsRemovedOneJustOffIsKept) {
    for (const double off : {50.0, 60.0}) {
        Harness h;
        taxiing(h, 75005, kLat, kLon + 0.02, "RWY1");
        h.runTo(3400);
        h.user = onFinal();
        h.run(1);
        // 0.8 nm ahead, crossing the extended centre line northwards.
        double lat = kLat, lon = kLon;
        movePoint(lat, lon, 90 * kDeg, 0.8);
        movePoint(lat, lon, 180 * kDeg, off / kFeetPerNm);
        place(*h.ac(75005), lat, lon, 0, 1424, true);
        h.mgr.perReportDuties();
        EXPECT_EQ(h.ac(75005)->state, off <= 50 ? AcState::removingfromsim : AcState::active) << off << " ft";
    }
}

TEST(Collision, CrossingTrafficPassingWithin700FeetIsRemoved) {
    for (const double miss : {600.0, 800.0}) {
        Harness h;
        for (int i = 0; i < 4; ++i)
            h.arrive(report(75006, 1000 + 5 * i, kLat + 0.1, eastOf(kLat + 0.1, kLon, 200, 5 * i), 5000, 200, 90, "CRS1"));
        h.runTo(3400);
        ASSERT_EQ(h.ac(75006)->state, AcState::active);
        UserPosition u = onFinal();
        u.altitude = 5000;
        u.aboveGround = 3600;
        h.user = u;
        h.run(1);
        // 3 nm ahead at the user's level, its track passing `miss` feet away.
        double lat = kLat, lon = kLon;
        movePoint(lat, lon, 90 * kDeg, 3.0);
        const double back = bearingRad(lat, lon, kLat, kLon);
        const double heading = back + std::asin(miss / (3.0 * kFeetPerNm));
        place(*h.ac(75006), lat, lon, heading / kDeg, 5000, false);
        h.mgr.perReportDuties();
        EXPECT_EQ(h.ac(75006)->state, miss <= 700 ? AcState::removingfromsim : AcState::active) << miss << " ft";
    }
}

TEST(Collision, AircraftFirstSeenNearTheParkedUserWaitsUntilItMovesAway) {
    Harness h;
    h.user = parkedUser();
    // First report 100 m east of the user, then taxiing away east at 10 kt,
    // a report every 25 m.
    const double step = 25 / (10 * 1852 / 3600.0);  // seconds
    for (int i = 0; i < 10; ++i) {
        const double lon = eastOf(kLat, kLon, 10, (100 + 25 * i) / (10 * 1852 / 3600.0));
        h.arriveAt(static_cast<std::int32_t>(i * step * 100),
                   report(75007, 1000 + step * i, kLat, lon, 0, 10, 90, "AWAY1"));
    }
    h.run(3000 + static_cast<int>(step * 100));
    EXPECT_TRUE(h.sim.creations.empty());  // first reports within 150 m: held back
    h.run(4000);
    ASSERT_EQ(h.sim.creations.size(), 1u);
    const auto& c = h.sim.creations[0];
    EXPECT_GT(distanceNm(kLat, kLon, c.latitude, c.longitude) * 1852, 150.0);
}

TEST(Collision, AirborneAircraftHeadingAtTheUserIsNeverCreated) {
    Harness h;
    UserPosition u = onFinal();
    u.altitude = 5000;
    u.aboveGround = 3600;
    h.user = u;
    // 5 nm east at the user's level, flying west straight at the user.
    for (int i = 0; i < 4; ++i) {
        double lat = kLat, lon = kLon;
        movePoint(lat, lon, 90 * kDeg, 5.0 - 200 * 5 * i / 3600.0);
        h.arrive(report(75008, 1000 + 5 * i, lat, lon, 5000, 200, 270, "HEAD1"));
    }
    h.run(5000);
    EXPECT_TRUE(h.sim.creations.empty());
    EXPECT_EQ(h.ac(75008), nullptr);  // its reports ran out in the buffer
}

struct StaticWorld {
    std::vector<StaticAircraftView> statics;
    std::vector<std::uint32_t> removed;
};

Harness::Adjust staticServices(StaticWorld& w) {
    return [&w](TrafficServices& s) {
        s.activeStaticAircraft = [&w] { return w.statics; };
        s.removeStaticAircraft = [&w](std::uint32_t id) {
            w.removed.push_back(id);
            std::erase_if(w.statics, [id](const StaticAircraftView& v) { return v.id == id; });
        };
    };
}

TEST(Collision, StaticAircraftInTheUsersWayGoOnlyAfterTheUserMoves) {
    StaticWorld world;
    Harness h(staticServices(world));
    world.statics.push_back({11, kLat + 0.0003, kLon, 0.01, "STA1", "A12"});  // 33 m north
    world.statics.push_back({12, kLat + 0.003, kLon, 0.01, "STA2", "A13"});   // 330 m north
    h.user = parkedUser();
    h.run(1);
    h.mgr.perReportDuties();
    EXPECT_EQ(world.removed, std::vector<std::uint32_t>{11});
    world.statics.push_back({13, kLat - 0.0003, kLon, 0.01, "STA3", "A14"});  // 33 m south
    h.mgr.perReportDuties();  // the user has not moved: no new look
    EXPECT_EQ(world.removed.size(), 1u);
    h.user->latitude += 0.00001;
    h.run(1);
    h.mgr.perReportDuties();
    EXPECT_EQ(world.removed, (std::vector<std::uint32_t>{11, 13}));
}

TEST(Collision, TaxiingLiveAircraftClearsStaticAircraftWhenTheRuleIsOn) {
    for (const bool on : {false, true}) {
        StaticWorld world;
        Harness h(staticServices(world));
        params().COLLISION_LIVE_PARKED_GND.set(on);
        taxiing(h, 75009, kLat, kLon, "LIVE1");
        h.runTo(3400);
        const LiveAircraft& ac = *h.ac(75009);
        ASSERT_EQ(ac.state, AcState::active);
        // One with the live aircraft's own callsign (its parked self) and one beside it.
        world.statics.push_back({21, ac.pos.latitude, ac.pos.longitude, 0.01, "LIVE1", "B1"});
        world.statics.push_back({22, ac.pos.latitude + 0.0002, ac.pos.longitude, 0.01, "OTHER", "B2"});
        h.run(50);
        h.mgr.perReportDuties();
        EXPECT_EQ(world.removed, on ? std::vector<std::uint32_t>{22} : std::vector<std::uint32_t>{});
    }
}

TEST(Collision, FoldedAngleGivesTheAbeamDistance) {
    // cos(fold) is |sin| of the relative angle in every quadrant.
    for (double r = -180; r <= 180; r += 7.5) {
        const double f = foldToRightAngle(r);
        EXPECT_GE(f, 0);
        EXPECT_LE(f, 90);
        EXPECT_NEAR(std::cos(f * kDeg), std::fabs(std::sin(r * kDeg)), 1e-12) << r;
    }
}

}  // namespace
}  // namespace vntx::traffic::test
