// The scripted user aircraft of the simulator stand-in: parked, taxiing and
// on final, as the collision rules see it through the simulator variables.
#include <gtest/gtest.h>

#include <cmath>

#include "world.h"

namespace vntx::simhost {
namespace {

TEST(UserScript, FinalDescendsOnThreeDegreesTouchesDownAtThePointAndRollsOut) {
    std::string error;
    auto s = UserScript::parse("final:47.45,8.55,90,140,600", error);
    ASSERT_TRUE(s) << error;
    SimObject u;
    s->place(0, u, 1416);
    EXPECT_FALSE(u.onGround);
    EXPECT_NEAR(u.alt, 1416 + 600, 0.5);
    // 600 ft on a 3-degree path is 1.88 nm out, behind the point (west of it).
    EXPECT_NEAR(distanceMetres(u.lat, u.lon, 47.45, 8.55) / 1852, 600 / std::tan(3 * 3.14159265358979 / 180) / 6076.11549,
                0.01);
    EXPECT_LT(u.lon, 8.55);
    // Half-way down: half the height.
    const double down = 600 / std::tan(3 * 3.14159265358979 / 180) / 6076.11549 / 140 * 3600;
    s->place(down / 2, u, 1416);
    EXPECT_NEAR(u.alt, 1416 + 300, 1);
    EXPECT_FALSE(u.onGround);
    s->place(down + 0.01, u, 1416);
    EXPECT_TRUE(u.onGround);
    EXPECT_NEAR(u.alt, 1416, 1e-9);
    EXPECT_LT(distanceMetres(u.lat, u.lon, 47.45, 8.55), 5);
    s->place(down + 60, u, 1416);  // braked to 20 kt, rolling on east
    EXPECT_NEAR(u.groundSpeed, 20, 1e-9);
    EXPECT_GT(u.lon, 8.55);
    EXPECT_NEAR(u.heading, 90 * 3.14159265358979 / 180, 1e-9);
}

TEST(UserScript, MalformedScriptsAreRefused) {
    std::string error;
    EXPECT_FALSE(UserScript::parse("final:47.45,8.55,90,140", error));
    EXPECT_FALSE(UserScript::parse("final:47.45,8.55,90,0,600", error));
    EXPECT_FALSE(UserScript::parse("taxi:47.45,8.55,90", error));
    EXPECT_FALSE(UserScript::parse("hover:47.45,8.55", error));
    SimObject u;
    auto parked = UserScript::parse("parked:47.45,8.55,270", error);
    ASSERT_TRUE(parked);
    parked->place(100, u, 1416);
    EXPECT_TRUE(u.onGround);
    EXPECT_EQ(u.lat, 47.45);
    EXPECT_NEAR(u.alt, 1416, 1e-9);
}

}  // namespace
}  // namespace vntx::simhost
