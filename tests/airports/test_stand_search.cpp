// The stand rules for live aircraft: which stand, who keeps it, when a
// parked aircraft leaves; and the choice of the park airport.
#include <gtest/gtest.h>

#include "airports/park_airport_choice.h"
#include "airports/stand_search.h"
#include "core/status.h"
#include "park_fixture.h"

using namespace vntx;
using namespace vntx::test;

namespace {

// A point `metres` east of (lat, lon).
double eastLon(double lat, double lon, double metres) {
    return lon + metres * kMetre / 60.0 / std::cos(lat * 3.14159265358979 / 180);
}

ParkPosition standAt(const std::string& id, double lat, double lon, double radiusM, bool heli = false) {
    ParkPosition p;
    p.id = id;
    p.lat = lat;
    p.lon = lon;
    p.radius = radiusM * kMetre;
    p.heli = heli;
    return p;
}

StandSeeker aircraft(double halfSpanM, bool rotor = false, const std::string& cs = "SWR100") {
    StandSeeker s;
    s.halfSpan = halfSpanM * kMetre;
    s.rotorcraft = rotor;
    s.callsign = cs;
    s.airline = "SWR";
    s.type = "A320";
    return s;
}

constexpr double kLat = 47.45, kLon = 8.55;

}  // namespace

class StandSearchReal : public ParkFolder {};

TEST_F(StandSearchReal, A737At15MetresTakesAStandOfRadius15WhichGrowsAt25MetresItDoesNot) {
    shippedReferenceData();
    const double half = database().halfWingspan("B738");
    ASSERT_GT(half / kMetre, 16.9);  // the B738 is wider than the stand by more than 1.8 m
    ASSERT_LT(half / kMetre, 19.0);
    StandSeeker b738 = aircraft(half / kMetre);
    std::vector<ParkPosition> stands{standAt("B10", kLat, kLon, 15)};
    auto c = searchStand(stands, kLat, eastLon(kLat, kLon, 15), b738, k20m, false, {});
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->enlarge);
    enlargeStand(stands[0], b738.halfSpan);
    EXPECT_NEAR(stands[0].radius / kMetre, half / kMetre - 1, 1e-9);
    EXPECT_TRUE(stands[0].radius_change);
    // Now it fits: taken again without growing.
    c = searchStand(stands, kLat, eastLon(kLat, kLon, 15), b738, k20m, false, {});
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->enlarge);

    stands = {standAt("B10", kLat, kLon, 15)};
    EXPECT_FALSE(searchStand(stands, kLat, eastLon(kLat, kLon, 25), b738, k20m, false, {}));
    EXPECT_FALSE(searchStand(stands, kLat, eastLon(kLat, kLon, 25), b738, k55m, true, {}));  // wide: still too small
}

TEST(StandSearch, HelicoptersOnlyOnHeliStandsAndAeroplanesNeverThere) {
    std::vector<ParkPosition> stands{standAt("H1", kLat, kLon, 15, true)};
    EXPECT_FALSE(searchStand(stands, kLat, kLon, aircraft(17), k20m, false, {}));
    EXPECT_TRUE(searchStand(stands, kLat, kLon, aircraft(6, true), k20m, false, {}));
    stands = {standAt("A1", kLat, kLon, 25)};
    EXPECT_FALSE(searchStand(stands, kLat, kLon, aircraft(6, true), k20m, false, {}));
    EXPECT_TRUE(searchStand(stands, kLat, kLon, aircraft(17), k20m, false, {}));
}

TEST(StandSearch, NearestFittingStandSkippingReservedOnesAndTheWideSearchByOccupancy) {
    std::vector<ParkPosition> stands{standAt("A", kLat, eastLon(kLat, kLon, 5), 10),   // too small, nearest
                                     standAt("B", kLat, eastLon(kLat, kLon, 12), 25),  // fits
                                     standAt("C", kLat, eastLon(kLat, kLon, -8), 25)}; // fits, nearer
    // A 17 m aircraft at 5 m from a 10 m stand: too small but within 20 m, so
    // it would grow; the nearer fitting C wins over B, A is nearest of all.
    auto c = searchStand(stands, kLat, kLon, aircraft(17), k20m, false, {});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->index, 0u);
    EXPECT_TRUE(c->enlarge);
    c = searchStand(stands, kLat, kLon, aircraft(17), k20m, false, {true, false, false});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->index, 2u);
    EXPECT_FALSE(c->enlarge);

    // Nothing within 55 m; a stand 70 m away where this flight was seen before.
    std::vector<ParkPosition> far{standAt("D", kLat, eastLon(kLat, kLon, 70), 25),
                                  standAt("E", kLat, eastLon(kLat, kLon, 60), 25)};
    StandOccupancy o;
    o.callsign = "SWR100";
    o.number = 1;
    o.real = true;
    far[0].occupancies.push_back(o);
    EXPECT_FALSE(searchStand(far, kLat, kLon, aircraft(17), k55m, false, {}));
    c = searchStand(far, kLat, kLon, aircraft(17), k55m, true, {});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->index, 0u);
    far[0].occupancies[0].real = false;  // a soft sighting does not count
    EXPECT_FALSE(searchStand(far, kLat, kLon, aircraft(17), k55m, true, {}));
}

TEST(StandHolderRule, WhoKeepsAStandTwoAircraftWant) {
    EXPECT_EQ(holderVerdict(std::nullopt, "SWR1"), HolderVerdict::NewcomerTakes);
    EXPECT_EQ(holderVerdict(StandHolder{"SWR2", true, false, true}, "SWR1"), HolderVerdict::NewcomerTakes);  // taxiing
    EXPECT_EQ(holderVerdict(StandHolder{"SWR1", true, true, true}, "SWR1"), HolderVerdict::SameCallsign);
    EXPECT_EQ(holderVerdict(StandHolder{"SWR1_", true, true, true}, "SWR1"), HolderVerdict::GhostReplaced);
    EXPECT_EQ(holderVerdict(StandHolder{"SWR1", true, true, false}, "SWR1_"), HolderVerdict::GhostReplaced);
    EXPECT_EQ(holderVerdict(StandHolder{"SWR2", true, true, false}, "SWR1_"), HolderVerdict::HolderKeeps);
    EXPECT_EQ(holderVerdict(StandHolder{"SWR2", true, true, false}, "SWR1"), HolderVerdict::UnconfirmedHolder);
    EXPECT_EQ(holderVerdict(StandHolder{"SWR2", true, true, true}, "SWR1"), HolderVerdict::HolderKeeps);
}

TEST(StandLeaving, StepsAwayOrAWholeHalfSpanStartTheLeaveAndCloserReportsResetTheCount) {
    const double half = 17 * kMetre;
    LeaveTracker t;
    EXPECT_EQ(standReport(t, 1 * kMetre, false, false, half), StandReport::Reject);
    EXPECT_EQ(standReport(t, 4.5 * kMetre, false, false, half), StandReport::Reject);   // step 1
    EXPECT_EQ(standReport(t, 1 * kMetre, false, false, half), StandReport::Reject);     // back: count cleared
    EXPECT_EQ(standReport(t, 4.5 * kMetre, false, false, half), StandReport::Reject);
    EXPECT_EQ(standReport(t, 8 * kMetre, false, false, half), StandReport::Reject);
    EXPECT_EQ(standReport(t, 11.5 * kMetre, false, false, half), StandReport::Leave);   // 3 steps, 10.5 m >= 8.5 m
    LeaveTracker jump;
    EXPECT_EQ(standReport(jump, 0, false, false, half), StandReport::Reject);
    // Beyond the half span but within what a standing aircraft's position
    // wanders by: still parked; farther, it leaves.
    EXPECT_EQ(standReport(jump, 30 * kMetre, false, false, half), StandReport::Reject);
    EXPECT_EQ(standReport(jump, 6 * kMetre, false, false, half), StandReport::Reject);
    EXPECT_EQ(standReport(jump, 36 * kMetre, false, false, half), StandReport::Leave);
    LeaveTracker wide;  // a wide aircraft's half span is more than that
    EXPECT_EQ(standReport(wide, 0, false, false, 40 * kMetre), StandReport::Reject);
    EXPECT_EQ(standReport(wide, 38 * kMetre, false, false, 40 * kMetre), StandReport::Reject);
    EXPECT_EQ(standReport(wide, 41 * kMetre, false, false, 40 * kMetre), StandReport::Leave);
    LeaveTracker far;
    EXPECT_EQ(standReport(far, 100 * kMetre, false, false, half), StandReport::Leave);
    EXPECT_EQ(standReport(far, 250 * kMetre, false, false, half), StandReport::Remove);
    EXPECT_EQ(standReport(far, 100 * kMetre, true, false, half), StandReport::Elsewhere);
    EXPECT_EQ(standReport(far, 100 * kMetre, false, true, half), StandReport::Reject);  // was parking: 170 m
    EXPECT_TRUE(cargoRuleApplies(false, true));
    EXPECT_FALSE(cargoRuleApplies(true, true));
    EXPECT_FALSE(cargoRuleApplies(false, false));
}

TEST(ParkAirportSight, ExactlyAtTheLimitsKeepsAnyHigherOrFartherLoses) {
    EXPECT_TRUE(inSight(20.0, 18000, 20, 18000));
    EXPECT_FALSE(inSight(20.001, 18000, 20, 18000));
    EXPECT_FALSE(inSight(20.0, 18001, 20, 18000));
    ParkAirportEntry other{"LSZB", "", 0, 0, 12.0};
    ParkAirportEntry self{"LSZH", "", 0, 0, 15.0};
    EXPECT_EQ(checkSight(15, 5000, 20, 18000, &self, "LSZH"), SightChange::Keep);
    EXPECT_EQ(checkSight(15, 5000, 20, 18000, &other, "LSZH"), SightChange::NearerInSight);
    other.distance = 15.0;  // as near: stay
    EXPECT_EQ(checkSight(15, 5000, 20, 18000, &other, "LSZH"), SightChange::Keep);
    EXPECT_EQ(checkSight(20.5, 5000, 20, 18000, &self, "LSZH"), SightChange::OutOfSight);
    EXPECT_EQ(checkSight(20, 18000, 20, 18000, &self, "LSZH"), SightChange::Keep);
}

class ParkAirportList : public ParkFolder {};

TEST_F(ParkAirportList, ReadsTheListFileAndTheThirdPartyFolderAndRemembersTheUserStand) {
    catalogue(R"(<airport code="LSZH" iata="XLSZH" lat="47.458" lon="8.548" alt="1416" stands="3"/>)"
              R"(<airport code="LSGG" iata="XLSGG" lat="46.238" lon="6.109" alt="1411" stands="3"/>)"
              R"(<airport code="LFSB" iata="XLFSB" lat="47.59" lon="7.53" alt="885" stands="0"/>)");
    write("airports/my_park_airports.txt", "LSZH,E42\nLSZH\nXXXX\nLSGG,A,B\n\n");
    write("airports/my_thirdparty/LFSB.xml", "<x/>");
    const auto file = tmp / "airports/my_park_airports.txt";
    auto list = lf_readMyParkAirports(file, tmp / "airports/my_thirdparty");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].code, "LSZH");
    EXPECT_EQ(list[0].stand, "E42");
    EXPECT_EQ(list[1].code, "LFSB");
    EXPECT_TRUE(logged("my_park_airports.txt:2 double, skipped"));
    EXPECT_TRUE(logged("my_park_airports.txt:4 wrong syntax, skipped"));
    EXPECT_TRUE(logged("1 park airport added from my_thirdparty folder(-s)"));
    EXPECT_EQ(statusText(), "airport XXXX is unknown");

    refreshDistances(list, 47.59, 7.53, true);
    EXPECT_EQ(list[0].code, "LFSB");
    rememberUserStand(list, file, "LSZH", "E43");
    rememberUserStand(list, file, "LSGG", "A1");
    EXPECT_EQ(list[0].code, "LSGG");
    const std::string text = readFile(file);
    EXPECT_NE(text.find("LSZH,E43\n"), std::string::npos);
    EXPECT_NE(text.find("LSGG,A1\n"), std::string::npos);
    auto again = lf_readMyParkAirports(file, tmp / "airports/none");
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0].stand, "E43");
}
