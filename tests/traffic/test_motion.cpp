// Airborne and landing motion: schedule, extrapolation, flare, touchdown,
// landing report checks and the wrap-around of positions.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "harness.h"

namespace vntx::traffic::test {
namespace {

double metres(const AiPosition& p, double lat, double lon) {
    return distanceNm(p.latitude, p.longitude, lat, lon) * 1852.0;
}

// An active aircraft flying east at 5000 ft with `n` reports 5 s apart.
std::uint32_t flyingAircraft(Harness& h, std::uint32_t hexid, int n, double gs = 150, double lat = 10) {
    for (int i = 0; i < n; ++i)
        h.arrive(report(hexid, 1000 + 5 * i, lat, eastOf(lat, 10, gs, 5 * i), 5000, gs, 90, "MOT1"));
    h.runTo(3400);
    EXPECT_EQ(h.ac(hexid)->state, AcState::active);
    return hexid;
}

TEST(Motion, ReportDueInThePastIsFlownIn25Ticks) {
    Harness h;
    flyingAircraft(h, 73001, 3);
    LiveAircraft& ac = *h.ac(73001);
    ac.stream.resize(1);
    ac.stream.front().scheduledTick = h.mgr.tickCount();
    TrafficRecord next = ac.stream.front();
    next.longitude = ac.pos.longitude + 0.01;  // about 1.1 km ahead
    next.scheduledTick = h.mgr.tickCount() - 9000;  // far in the past, beyond every window
    ac.stream.push_back(next);
    h.run(1);  // advances
    const double lat = next.latitude, lon = next.longitude;
    h.run(23);
    EXPECT_GT(metres(h.ac(73001)->pos, lat, lon), 30.0);
    h.run(1);
    EXPECT_LT(metres(h.ac(73001)->pos, lat, lon), 1.0);
}

TEST(Motion, AirborneAircraftWithoutReportsIsExtrapolatedEightTimesThenRemoved) {
    Harness h;
    flyingAircraft(h, 73002, 2, 200);
    const double startLon = eastOf(10, 10, 200, 5);
    // The last report is due at tick 3500 or so; follow the made-up reports.
    std::vector<double> speeds;
    double lastSeen = -1;
    std::int32_t removedAt = -1;
    for (int i = 0; i < 12000 && removedAt < 0; ++i) {
        h.run(1);
        LiveAircraft* ac = h.ac(73002);
        if (!ac || ac->state == AcState::removingfromsim) {
            removedAt = h.mgr.tickCount();
            break;
        }
        if (!ac->stream.empty() && ac->extensionCounter > 0 && ac->stream.back().timestamp != lastSeen) {
            lastSeen = ac->stream.back().timestamp;
            speeds.push_back(ac->stream.back().groundSpeed);
        }
    }
    ASSERT_EQ(speeds.size(), 8u);
    for (std::size_t k = 0; k < speeds.size(); ++k) EXPECT_NEAR(speeds[k], 200 * std::pow(0.95, k + 1), 1e-6);
    EXPECT_EQ(h.mgr.stats().extrapolated, 8u);
    ASSERT_GT(removedAt, 0);
    h.run(20);
    // Eight steps of eight seconds after the last report.
    EXPECT_NEAR(removedAt, 3000 + 500 + 8 * 800, 400);
    ASSERT_EQ(h.sim.removals.size(), 1u);
    // It flew on east the distance of the eight decaying steps.
    double expectNm = 0;
    for (double s : speeds) expectNm += s * 8 / 3600.0;
    const auto& gone = h.sim.gone.at(0).last;
    EXPECT_NEAR(distanceNm(10, startLon, gone.latitude, gone.longitude), expectNm, expectNm * 0.05);
}

TEST(Motion, PositionWrapsAtTheDateLineAndFoldsOverThePole) {
    Harness h;
    LiveAircraft ac;
    ac.state = AcState::active;
    ac.flightState = FlightState::flying;
    ac.pos.latitude = 0;
    ac.pos.longitude = 179.999;
    ac.pos.heading = kPi / 2;
    TrafficRecord a = report(9, 0, 0, 179.999), b = report(9, 10, 0, -179.999);
    a.scheduledTick = 0;
    b.scheduledTick = 100;
    ac.stream = {a, b};
    h.mgr.nextPosMain(ac);
    const int legTicks = ac.stream.front().scheduledTick - h.mgr.tickCount();
    ASSERT_GE(legTicks, 25);
    double maxStep = 0;
    for (int i = 0; i < legTicks; ++i) {
        const AiPosition before = ac.pos;
        h.mgr.motionStep(ac);
        maxStep = std::max(maxStep, metres(before, ac.pos.latitude, ac.pos.longitude));
        ASSERT_LE(ac.pos.longitude, 180.0);
        ASSERT_GE(ac.pos.longitude, -180.0);
    }
    EXPECT_LT(maxStep, 5.0);
    EXPECT_NEAR(ac.pos.longitude, -179.999, 1e-6);

    LiveAircraft polar;
    polar.flightState = FlightState::flying;
    polar.pos.latitude = 89.9995;
    polar.pos.longitude = 10;
    polar.dLat = 0.001;
    h.mgr.motionStep(polar);
    EXPECT_NEAR(polar.pos.latitude, 89.9995, 1e-9);
    EXPECT_NEAR(polar.pos.longitude, -170, 1e-9);
    h.mgr.motionStep(polar);
    EXPECT_LT(polar.pos.latitude, 89.9995);  // moving away from the pole again
}

// A straight-in approach to a runway at sea level: reports every 5 s down a
// three-degree path, ending with reports on the ground.
void approach(Harness& h, std::uint32_t hexid) {
    h.park = ParkAirportInfo{22.3, 114.0, 0, {"TEST"}};
    const double gs = 140;
    const double vr = -740;
    double t = 1000;
    for (int i = 0; i <= 24; ++i) {
        const double secondsLeft = (20 - i) * 5.0;
        double alt = std::max(0.0, -vr * secondsLeft / 60);
        const double lon = eastOf(22.3, 114.0, gs, -secondsLeft);
        TrafficRecord r = report(hexid, t, 22.3, lon, alt, i <= 20 ? gs : 100, 90, "LND1");
        r.verticalRate = alt > 0 ? vr : 0;
        r.airborne = alt > 0;
        h.arriveAt(i * 500, r);
        t += 5;
    }
}

TEST(Motion, FlareStagesAndTouchdownOnAnApproach) {
    Harness h;
    approach(h, 73003);
    std::vector<int> stages;
    std::vector<double> heights;
    bool touched = false;
    double pitchAtTouch = 0;
    for (int i = 0; i < 20000 && !touched; ++i) {
        h.run(1);
        LiveAircraft* ac = h.ac(73003);
        ASSERT_NE(ac, nullptr);
        if (stages.empty() || stages.back() != ac->flareStage) {
            if (ac->flareStage != 0 || !stages.empty()) {
                stages.push_back(ac->flareStage);
                heights.push_back(ac->pos.altitude);
            }
        }
        if (ac->touchedDown) {
            touched = true;
            pitchAtTouch = ac->pos.pitch;
        }
    }
    ASSERT_TRUE(touched);
    ASSERT_GE(stages.size(), 4u);
    EXPECT_EQ(stages[0], 1);
    EXPECT_EQ(stages[1], 2);
    EXPECT_EQ(stages[2], 3);
    EXPECT_EQ(stages[3], 4);
    const double cg = h.sim.cgHeight;
    EXPECT_LE(heights[0], cg + 30);
    EXPECT_GT(heights[0], cg + 20);
    EXPECT_LE(heights[3], cg + 3);
    EXPECT_LT(pitchAtTouch, 0);  // nose up in the flare
    EXPECT_GE(pitchAtTouch, -4 * kDeg - 1e-9);
    LiveAircraft* ac = h.ac(73003);
    EXPECT_TRUE(ac->landingRoll);
    EXPECT_FALSE(ac->landingArmed);
    EXPECT_EQ(h.mgr.stats().landings, 1u);
    EXPECT_EQ(h.sim.controlBlocks.size(), 1u);  // spoilers and reverse thrust
    // The nose comes down to the static pitch within the touchdown time.
    h.run(ac->motion.touchdownTicks + 5);
    ac = h.ac(73003);
    ASSERT_NE(ac, nullptr);
    EXPECT_DOUBLE_EQ(ac->pos.pitch, ac->staticPitch);
    EXPECT_EQ(ac->flareStage, 0);
    EXPECT_TRUE(ac->onGround);
    // Gear and landing flaps went down before.
    bool gearDown = false, flapsLanding = false;
    for (const auto& e : h.sim.events) {
        gearDown = gearDown || (e.name == "GEAR_SET" && e.data == 1);
        flapsLanding = flapsLanding || (e.name == "FLAPS_SET" && e.data == kFlapTable[3]);
    }
    EXPECT_TRUE(gearDown);
    EXPECT_TRUE(flapsLanding);
}

TEST(Motion, ReversalWhileLandingIsIgnored) {
    Harness h;
    LiveAircraft ac;
    ac.landingArmed = true;
    ac.flightState = FlightState::flying;
    ac.pos.heading = kPi / 2;  // east
    ac.pos.latitude = 22.3;
    ac.pos.longitude = 114.0;
    TrafficRecord front = report(1, 100, 22.3, 114.01, 300, 140, 90);
    ac.stream = {front};
    TrafficRecord behind = report(1, 105, 22.3, 113.99, 250, 140, 270);  // 180 degrees off
    EXPECT_FALSE(h.mgr.checkNewPosDuringLanding(ac, behind));
    TrafficRecord side = report(1, 105, 22.35, 114.01, 250, 140, 0);  // 90 degrees off
    EXPECT_FALSE(h.mgr.checkNewPosDuringLanding(ac, side));
    ASSERT_EQ(ac.stream.size(), 1u);
    EXPECT_DOUBLE_EQ(ac.stream.front().longitude, 114.01);
    TrafficRecord ahead = report(1, 105, 22.3, 114.02, 250, 180, 90);
    EXPECT_TRUE(h.mgr.checkNewPosDuringLanding(ac, ahead));
    EXPECT_DOUBLE_EQ(ahead.groundSpeed, 140);  // capped at the newest report's speed
    // With two reports, a newest report that leads away is dropped for the new one.
    ac.stream = {front, report(1, 110, 22.3, 114.05, 250, 140, 90)};  // newest beyond the new one
    TrafficRecord onCourse = report(1, 115, 22.3, 114.03, 200, 140, 90);
    EXPECT_TRUE(h.mgr.checkNewPosDuringLanding(ac, onCourse));
    EXPECT_EQ(ac.stream.size(), 1u);
}

TEST(Motion, HeadingTurnsSmoothlyTowardsTheNextLeg) {
    Harness h;
    // East, then a right turn to south.
    for (int i = 0; i < 4; ++i)
        h.arrive(report(73004, 1000 + 5 * i, 10, eastOf(10, 10, 150, 5 * i), 5000, 150, 90, "TRN1"));
    double lat = 10, lon = eastOf(10, 10, 150, 15);
    for (int i = 1; i <= 4; ++i) {
        double la = lat, lo = lon;
        movePoint(la, lo, kPi, 150 * 5.0 * i / 3600);
        h.arrive(report(73004, 1015 + 5 * i, la, lo, 5000, 150, 180, "TRN1"));
    }
    h.runTo(3300);
    double last = h.ac(73004)->pos.heading;
    double maxRate = 0, minBank = 0;
    for (int i = 0; i < 3500; ++i) {
        h.run(1);
        const LiveAircraft* ac = h.ac(73004);
        if (!ac || ac->state != AcState::active) break;
        maxRate = std::max(maxRate, std::fabs(angleDiff(ac->pos.heading, last)) * 100 / kDeg);
        minBank = std::min(minBank, ac->pos.bank);
        last = ac->pos.heading;
    }
    EXPECT_NEAR(last, kPi, 10 * kDeg);
    EXPECT_LT(maxRate, 10.0);  // degrees per second
    EXPECT_LT(minBank, -2 * kDeg);  // right wing down in the right turn
    EXPECT_GE(minBank, -categoryLimits(Category::Large).maxBank - 1e-9);
}

TEST(Motion, AFlareStillFollowsAStraightLegAfterATurningOne) {
    Harness h;
    h.park = ParkAirportInfo{22.3, 114.02, 0, {"TEST"}};
    h.run(1);  // the tick reads the park airport
    LiveAircraft ac;
    ac.state = AcState::active;
    ac.flightState = FlightState::flying;
    ac.category = Category::Large;
    ac.landingArmed = true;
    ac.flareStage = 2;
    ac.altitudeChange = -0.075;
    ac.pos = {22.3, 114.0, -3.5 * kDeg, -8 * kDeg, 100 * kDeg, 30, -7, 140};
    ac.headingChange = 0.05 * kDeg;  // left over from the turning leg before
    ac.bankChange = -0.01 * kDeg;
    // The last legs run straight east onto the runway.
    TrafficRecord front = report(1, 100, 22.3, 114.0, 30, 140, 90);
    TrafficRecord next = report(1, 105, 22.3, eastOf(22.3, 114.0, 140, 5), 20, 140, 90);
    TrafficRecord touch = report(1, 110, 22.3, eastOf(22.3, 114.0, 140, 10), 0, 130, 90);
    front.scheduledTick = h.mgr.tickCount();
    next.scheduledTick = h.mgr.tickCount() + 500;
    touch.scheduledTick = h.mgr.tickCount() + 1000;
    ac.stream = {front, next, touch};
    h.mgr.nextPosMain(ac);
    ASSERT_EQ(ac.stream.size(), 2u);
    // Back to the course of the leg, not on round the turn.
    EXPECT_LT(ac.headingChange, 0);
    EXPECT_NEAR(ac.headingChange * 500, -10 * kDeg, 0.5 * kDeg);
    EXPECT_GT(ac.bankChange, 0);  // rolling out of the right bank
    EXPECT_DOUBLE_EQ(ac.altitudeChange, -0.075);  // the flare keeps its sink
    EXPECT_EQ(ac.flareStage, 2);
}

TEST(Motion, ReverseThrustAtTouchdownOnlyForAircraftThatHaveIt) {
    struct Case {
        const char* type;
        Category category;
        double throttle;  // 0: no control block at all
    };
    const Case cases[] = {{"B744", Category::Heavy, -100},     {"A320", Category::Large, -100},
                          {"GLF5", Category::Buzjets, -100},   {"B463", Category::Large, 100},
                          {"EC35", Category::Rotorcraft, 100}, {"F16", Category::HighPerf, 100},
                          {"TOR", Category::HighPerf, -100},   {"C172", Category::Light, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        Harness h;
        h.categories[c.type] = c.category;
        h.arrive(report(73010, 1000, 10, 10, 800, 100, 90, "REV1", c.type));
        h.arrive(report(73010, 1005, 10, eastOf(10, 10, 100, 5), 800, 100, 90, "REV1", c.type));
        h.runTo(3300);
        LiveAircraft* ac = h.ac(73010);
        ASSERT_NE(ac, nullptr);
        ASSERT_EQ(ac->state, AcState::active);
        h.mgr.touchdown(*ac);
        if (c.throttle == 0) {
            EXPECT_TRUE(h.sim.controlBlocks.empty());
            continue;
        }
        ASSERT_EQ(h.sim.controlBlocks.size(), 1u);
        EXPECT_EQ(h.sim.controlBlocks[0].spoilers, 100);
        EXPECT_EQ(h.sim.controlBlocks[0].throttle1, c.throttle);
        EXPECT_EQ(h.sim.controlBlocks[0].throttle2, c.throttle);
    }
}

}  // namespace
}  // namespace vntx::traffic::test
