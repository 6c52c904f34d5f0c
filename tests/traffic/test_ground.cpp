// Ground movement: curves instead of pivots, the way onto a stand, the way
// off it (push-back or pulling out), the take-off run and the landing roll.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "harness.h"
#include "traffic/ground_motion.h"

namespace vntx::traffic::test {
namespace {

struct Point {
    double lat, lon;
};

Point from(Point p, double bearingDeg, double metres) {
    movePoint(p.lat, p.lon, bearingDeg * kDeg, metres / 1852.0);
    return p;
}

TrafficRecord ground(std::uint32_t hexid, double t, Point p, double gs, double track, const std::string& cs = "GND1") {
    return report(hexid, t, p.lat, p.lon, 0, gs, track, cs);
}

// Reports along legs of `legMetres` at `gs` knots, each leg turned by the
// next entry of `turns` (degrees, positive right) from the one before.
std::vector<TrafficRecord> taxiPath(std::uint32_t hexid, Point start, double course, double legMetres, double gs,
                                    const std::vector<double>& turns, double t0 = 1000) {
    std::vector<TrafficRecord> out;
    Point p = start;
    double t = t0;
    out.push_back(ground(hexid, t, p, gs, course));
    for (double turn : turns) {
        course += turn;
        p = from(p, course, legMetres);
        t += legMetres / (gs * 1852.0 / 3600.0);
        out.push_back(ground(hexid, t, p, gs, std::fmod(course + 360, 360)));
    }
    return out;
}

// Feeds the reports at their own times (the first one now).
void feed(Harness& h, const std::vector<TrafficRecord>& reports) {
    const double t0 = reports.front().timestamp;
    const std::int32_t now = h.mgr.tickCount();
    for (const auto& r : reports) h.arriveAt(now + static_cast<std::int32_t>((r.timestamp - t0) * 100), r);
}

// What the ground motion looked like, sampled every tick.
struct Watch {
    bool curveSeen = false;
    double maxNoseOff = 0;        // degrees between nose and motion while moving
    double maxTurnPerSecond = 0;  // degrees
    std::vector<FlightState> states;
    std::vector<AiPosition> path;
};

Watch watch(Harness& h, std::uint32_t hexid, int ticks) {
    Watch w;
    AiPosition last{}, lastSecond{};
    bool have = false, haveSecond = false;
    for (int i = 0; i < ticks; ++i) {
        h.run(1);
        const LiveAircraft* ac = h.ac(hexid);
        if (!ac || ac->state != AcState::active) continue;
        w.curveSeen = w.curveSeen || ac->groundCurveActive;
        if (w.states.empty() || w.states.back() != ac->flightState) w.states.push_back(ac->flightState);
        const AiPosition& p = ac->pos;
        if (have && ac->flightState != FlightState::pushing_back) {
            const double m = distanceNm(last.latitude, last.longitude, p.latitude, p.longitude) * 1852.0;
            if (m > 0.02) {  // above about 4 kt
                const double motion = bearingRad(last.latitude, last.longitude, p.latitude, p.longitude);
                w.maxNoseOff = std::max(w.maxNoseOff, std::fabs(angleDiff(p.heading, motion)) / kDeg);
            }
        }
        if (h.mgr.tickCount() % 100 == 0) {
            if (haveSecond)
                w.maxTurnPerSecond =
                    std::max(w.maxTurnPerSecond, std::fabs(angleDiff(p.heading, lastSecond.heading)) / kDeg);
            lastSecond = p;
            haveSecond = true;
            w.path.push_back(p);
        }
        last = p;
        have = true;
    }
    return w;
}

double minDistanceMetres(const std::vector<AiPosition>& path, const TrafficRecord& r) {
    double best = 1e9;
    for (const auto& p : path) best = std::min(best, distanceNm(p.latitude, p.longitude, r.latitude, r.longitude) * 1852);
    return best;
}

TEST(Ground, ThirtyDegreeTurnIsFlownAsACurveWithTheNoseAlongTheMotion) {
    Harness h;
    const auto path = taxiPath(74001, {47.45, 8.55}, 90, 60, 15, {0, 0, 0, 30, 0, 0, 0});
    feed(h, path);
    const Watch w = watch(h, 74001, 10000);
    EXPECT_TRUE(w.curveSeen);
    EXPECT_LT(w.maxNoseOff, 8.0);         // no sliding sideways through the turn
    EXPECT_LT(w.maxTurnPerSecond, 10.0);  // no pivot at the report
    // It rounds the corner close to the report where the turn lies.
    EXPECT_LT(minDistanceMetres(w.path, path[4]), 15.0);
    EXPECT_LT(minDistanceMetres(w.path, path[7]), 5.0);
}

TEST(Ground, NearReversalIsFlownStraightWithoutACurve) {
    Harness h;
    const auto path = taxiPath(74002, {47.45, 8.55}, 90, 120, 15, {0, 0, 170, 0, 0});
    feed(h, path);
    const Watch w = watch(h, 74002, 7000);
    EXPECT_FALSE(w.curveSeen);
    EXPECT_LT(minDistanceMetres(w.path, path[2]), 3.0);  // it goes to the turning point itself
}

TEST(Ground, CurveIsAQuadraticThroughTheCornerInLocalMetres) {
    GroundCurve c;
    c.originLatitude = 47.0;
    c.originLongitude = 8.0;
    const LocalPoint corner = toLocal(47.0, 8.0, 47.0, 8.0 + 100 / (111132.95 * std::cos(47 * kDeg)));
    EXPECT_NEAR(corner.east, 100, 1e-6);
    EXPECT_NEAR(corner.north, 0, 1e-9);
    c.controlEast = 100;  // east 100 m, then north 100 m
    c.endEast = 100;
    c.endNorth = 100;
    double lat, lon, tangent;
    ASSERT_TRUE(curvePoint(c, 0, lat, lon, tangent));
    EXPECT_NEAR(tangent / kDeg, 90, 1e-6);
    ASSERT_TRUE(curvePoint(c, 0.5, lat, lon, tangent));
    EXPECT_NEAR(tangent / kDeg, 45, 1e-6);
    const LocalPoint mid = toLocal(47.0, 8.0, lat, lon);
    EXPECT_NEAR(mid.east, 75, 1e-6);
    EXPECT_NEAR(mid.north, 25, 1e-6);
    ASSERT_TRUE(curvePoint(c, 1, lat, lon, tangent));
    EXPECT_NEAR(tangent / kDeg, 0, 1e-6);
    EXPECT_FALSE(curvePoint(c, std::nan(""), lat, lon, tangent));
}

// A park airport with one stand 30 m north of where the aircraft stops.
struct StandWorld {
    int calls = 0;
    bool wideSeen = false;
    Point stand{};
    double standHeading = 0;
};

Harness::Adjust parkingServices(StandWorld& w) {
    return [&w](TrafficServices& s) {
        s.try2Park = [&w](LiveAircraft& ac, bool wide) {
            ++w.calls;
            w.wideSeen = w.wideSeen || wide;
            ac.stream.erase(ac.stream.begin(), ac.stream.end() - 1);
            ac.standId = 7;
            ac.standLatitude = w.stand.lat;
            ac.standLongitude = w.stand.lon;
            ac.standHeading = w.standHeading;
            ac.flightState = FlightState::parking;
            drive2Stand(ac, w.stand.lat, w.stand.lon, w.standHeading);
        };
        s.arrivalStep = [](LiveAircraft& ac) { ac.flightState = FlightState::parked; };
    };
}

TEST(Ground, ComingToRestNearStandsAsksForAStandAndDrivesOntoIt) {
    StandWorld world;
    Harness h(parkingServices(world));
    h.park = ParkAirportInfo{47.45, 8.55, 1416, {"LSZH"}};
    const Point a{47.45, 8.55};
    const Point b = from(a, 90, 100), c = from(b, 90, 100), d = from(c, 90, 10);
    world.stand = from(d, 0, 30);
    world.standHeading = 0;
    feed(h, {ground(74003, 1000, a, 10, 90), ground(74003, 1019, b, 10, 90), ground(74003, 1038, c, 10, 90),
             ground(74003, 1045, d, 3, 90), ground(74003, 1061, d, 0, 90)});
    watch(h, 74003, 14000);
    EXPECT_EQ(world.calls, 1);  // once: the stream then leads onto the stand
    const LiveAircraft* ac = h.ac(74003);
    ASSERT_NE(ac, nullptr);
    EXPECT_LT(distanceNm(ac->pos.latitude, ac->pos.longitude, world.stand.lat, world.stand.lon) * 1852, 0.5);
    EXPECT_LT(std::fabs(angleDiff(ac->pos.heading, 0)) / kDeg, 1.0);  // turned to the stand heading
    EXPECT_EQ(ac->flightState, FlightState::parked);
}

TEST(Ground, NoStandSearchWhileTaxiingOnOrWithoutAParkAirport) {
    StandWorld world;
    {
        Harness h(parkingServices(world));
        h.park = ParkAirportInfo{47.45, 8.55, 1416, {"LSZH"}};
        feed(h, taxiPath(74004, {47.45, 8.55}, 90, 100, 10, {0, 0, 0, 0}));
        watch(h, 74004, 7000);
    }
    {
        Harness h(parkingServices(world));  // no park airport loaded
        const Point a{47.45, 8.55};
        const Point b = from(a, 90, 100), c = from(b, 90, 10);
        feed(h, {ground(74005, 1000, a, 10, 90), ground(74005, 1019, b, 3, 90), ground(74005, 1035, c, 0, 90),
                 ground(74005, 1051, c, 0, 90)});
        watch(h, 74005, 6000);
    }
    EXPECT_EQ(world.calls, 0);
}

TEST(Ground, DriveToStandWithoutReportsOnlyLogs) {
    LiveAircraft ac;
    drive2Stand(ac, 47, 8, 0);
    EXPECT_TRUE(ac.stream.empty());
}

// An aircraft first seen parked on a stand heading north, whose reports
// then leave at `bearingDeg` from the stand.
Watch leaveStand(Harness& h, std::uint32_t hexid, double bearingDeg, bool& pushedBack) {
    const Point stand{47.45, 8.55};
    feed(h, {ground(hexid, 1000, stand, 0, 0), ground(hexid, 1016, stand, 0, 0)});
    h.run(3500);
    const LiveAircraft* ac = h.ac(hexid);
    EXPECT_NE(ac, nullptr);
    if (!ac) return {};
    EXPECT_EQ(ac->flightState, FlightState::parked);
    const Point p1 = from(stand, bearingDeg, 40), p2 = from(p1, bearingDeg, 60), p3 = from(p2, bearingDeg, 60);
    feed(h, {ground(hexid, 2000, p1, 6, bearingDeg), ground(hexid, 2020, p2, 10, bearingDeg),
             ground(hexid, 2032, p3, 10, bearingDeg)});
    Watch w = watch(h, hexid, 12000);
    pushedBack = std::find(w.states.begin(), w.states.end(), FlightState::pushing_back) != w.states.end();
    return w;
}

Harness::Adjust standAtSpawn() {
    return [](TrafficServices& s) {
        s.requestStand = [](LiveAircraft& ac) {
            ac.standId = 3;
            ac.standLatitude = ac.stream.front().latitude;
            ac.standLongitude = ac.stream.front().longitude;
            ac.standHeading = 0;
            ac.standRadius = 20 / 1852.0;
            return true;
        };
    };
}

TEST(Ground, ReportsBehindTheNosePushBackAndAheadPullOut) {
    {
        Harness h(standAtSpawn());
        bool pushed = false;
        const Watch w = leaveStand(h, 74006, 120, pushed);
        EXPECT_TRUE(pushed);
        ASSERT_GE(w.states.size(), 3u);
        EXPECT_NE(std::find(w.states.begin(), w.states.end(), FlightState::pushed_back), w.states.end());
        EXPECT_EQ(w.states.back(), FlightState::taxi);
        // Backed out 2.5 stand radii: the first seconds move south, nose north.
        ASSERT_GT(w.path.size(), 4u);
        EXPECT_LT(w.path[3].latitude, 47.45);
        EXPECT_LT(std::fabs(angleDiff(w.path[1].heading, 0)) / kDeg, 2.0);
        const LiveAircraft* ac = h.ac(74006);
        ASSERT_NE(ac, nullptr);
        EXPECT_GT(std::fabs(angleDiff(ac->pos.heading, 0)) / kDeg, 60.0);  // turned away from the stand
    }
    {
        Harness h(standAtSpawn());
        bool pushed = false;
        const Watch w = leaveStand(h, 74007, 30, pushed);
        EXPECT_FALSE(pushed);
        EXPECT_EQ(w.states.front(), FlightState::parked);
        EXPECT_EQ(w.states.back(), FlightState::taxi);
        EXPECT_LT(w.maxNoseOff, 60.0);
        ASSERT_GT(w.path.size(), 4u);
        EXPECT_GT(w.path[4].latitude, 47.45);  // forwards out of the stand
    }
}

// Reports of a departure: taxi at 15 kt, a take-off run from 40 to 160 kt
// on the ground, then airborne and climbing.
std::vector<TrafficRecord> departure(std::uint32_t hexid, Point start) {
    std::vector<TrafficRecord> out;
    Point p = start;
    double t = 1000;
    const double speeds[] = {15, 15, 20, 45, 80, 110, 140, 160};
    for (double gs : speeds) {
        out.push_back(ground(hexid, t, p, gs, 90, "DEP1"));
        p = from(p, 90, gs * 1852 / 3600 * 5);
        t += 5;
    }
    for (int i = 0; i < 4; ++i) {
        TrafficRecord r = report(hexid, t, p.lat, p.lon, 300 + 500 * i, 170, 90, "DEP1");
        r.verticalRate = 2000;
        out.push_back(r);
        p = from(p, 90, 170 * 1852 / 3600 * 5);
        t += 5;
    }
    return out;
}

TEST(Ground, TakeOffRunIsDetectedAndLiftsOffIntoTheRotation) {
    Harness h;
    feed(h, departure(74008, {47.45, 8.55}));
    const Watch w = watch(h, 74008, 9000);
    ASSERT_NE(std::find(w.states.begin(), w.states.end(), FlightState::take_off), w.states.end());
    const auto& ev = h.sim.events;
    auto sent = [&](const std::string& name, std::uint32_t data) {
        return std::find_if(ev.begin(), ev.end(), [&](const fidelity::SentEvent& e) { return e.name == name && e.data == data; }) !=
               ev.end();
    };
    EXPECT_TRUE(sent("THROTTLE_SET", kThrottleTable[4]));  // full power on the run
    const LiveAircraft* ac = h.ac(74008);
    ASSERT_NE(ac, nullptr);
    EXPECT_FALSE(ac->onGround);
    EXPECT_GT(ac->pos.altitude, 300);
    EXPECT_LT(w.maxTurnPerSecond, 5.0);
}

TEST(Ground, StaleReportedSpeedNeitherStartsATakeOffNorRushesTheTaxi) {
    Harness h;
    // A receiver repeating 140 kt while the positions move at 15 kt.
    auto path = taxiPath(74010, {47.45, 8.55}, 90, 60, 15, {0, 0, 0, 0, 0, 0, 0, 0});
    for (auto& r : path) r.groundSpeed = 140;
    feed(h, path);
    const Watch w = watch(h, 74010, 9000);
    const LiveAircraft* ac = h.ac(74010);
    ASSERT_NE(ac, nullptr);
    EXPECT_FALSE(ac->takeOffRun);
    EXPECT_TRUE(ac->onGround);
    EXPECT_EQ(std::find(w.states.begin(), w.states.end(), FlightState::take_off), w.states.end());
    // It keeps to the reports' own pace: never far ahead of the 15 kt.
    double fastest = 0;
    for (std::size_t i = 1; i < w.path.size(); ++i)
        fastest = std::max(fastest, distanceNm(w.path[i - 1].latitude, w.path[i - 1].longitude, w.path[i].latitude,
                                               w.path[i].longitude) * 3600);
    EXPECT_LT(fastest, 30.0);
}

TEST(Ground, LandingRollTurnsOffTheRunwayAndTaxisOn) {
    Harness h;
    h.park = ParkAirportInfo{47.45, 8.55, 0, {"LSZH"}};
    // Short final, touchdown, roll-out east, then a right turn off the runway.
    std::vector<TrafficRecord> r;
    Point p = from({47.45, 8.55}, 270, 3000);
    double t = 1000;
    for (int i = 0; i < 6; ++i) {
        TrafficRecord a = report(74009, t, p.lat, p.lon, 600 - 110 * i, 140, 90, "ARR1");
        a.verticalRate = -700;
        r.push_back(a);
        p = from(p, 90, 140 * 1852 / 3600 * 5);
        t += 5;
    }
    const double roll[] = {130, 100, 70, 45, 25, 20};
    for (double gs : roll) {
        r.push_back(ground(74009, t, p, gs, 90, "ARR1"));
        p = from(p, 90, gs * 1852 / 3600 * 5);
        t += 5;
    }
    for (int i = 0; i < 6; ++i) {  // off the runway to the south, then on east
        const double course = i < 3 ? 90 + 30 * (i + 1) : 180;
        p = from(p, course, 60);
        t += 60 / (15 * 1852 / 3600.0);
        r.push_back(ground(74009, t, p, 15, course, "ARR1"));
    }
    feed(h, r);
    const Watch w = watch(h, 74009, 16000);
    EXPECT_EQ(h.mgr.stats().landings, 1u);
    EXPECT_EQ(h.mgr.stats().runwayExits, 1u);
    const LiveAircraft* ac = h.ac(74009);
    ASSERT_NE(ac, nullptr);
    EXPECT_FALSE(ac->landingRoll);
    EXPECT_EQ(ac->flightState, FlightState::taxi);
    EXPECT_EQ(ac->flapIndex, 0);  // flaps up after the exit
    EXPECT_LT(w.maxTurnPerSecond, 20.0);
}

}  // namespace
}  // namespace vntx::traffic::test
