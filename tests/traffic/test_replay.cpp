// Replays of real recordings: every airborne aircraft is created, follows
// its reports without jumps and leaves again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <fmt/format.h>

#include "replay.h"

namespace vntx::fidelity {
namespace {

std::string shared(const std::string& rel) {
    std::filesystem::path base;
    if (const char* dir = std::getenv("VNTX_SHARED_DIR"))
        base = dir;
    else if (const char* src = std::getenv("VNTX_SOURCE_DIR"))
        base = std::filesystem::path(src) / ".." / "shared";
    else
        return {};
    const auto p = base / rel;
    return std::filesystem::exists(p) ? p.string() : std::string();
}

TEST(Replay, MontereyHalfHourFollowsTheReports) {
    const std::string rec = shared("data/traffic/monterey_bay_2025-06-01_readsb_points.jsonl.gz");
    const std::string regs = shared("data/registrations/vrs_standing_data_aircraft.csv");
    const std::string regs2 = shared("data/registrations/dump1090_mutability_aircraft_db.csv");
    if (rec.empty() || regs.empty() || regs2.empty()) GTEST_SKIP() << "shared recordings not present";
    ReplayOptions o;
    o.recording = rec;
    o.registrationFiles = {regs, regs2};
    o.startOffset = 100800;  // the busiest half hour with known types
    o.duration = 1800;
    o.userLatitude = 36.587;
    o.userLongitude = -121.843;
    o.rangeNm = 40;
    o.park = traffic::ParkAirportInfo{36.587, -121.8429, 257, {"KMRY"}};
    const auto s = runReplay(o);
    std::cout << formatSummary(s);
    ASSERT_GT(s.airborneDecoded, 0u);
    EXPECT_EQ(s.figures.teleports, 0u);
    EXPECT_EQ(s.aliveAtEnd, 0u);
    EXPECT_EQ(s.removed, s.created);
    EXPECT_GT(s.figures.samples, 10u);
    EXPECT_LT(s.figures.median, 50.0);
    EXPECT_LT(s.figures.p95, 300.0);
}

TEST(Replay, RealLandingAtDenverFlaresAndTouchesDown) {
    const std::string rec = shared("data/traffic/readsb_trace_full_ac671b.json");
    if (rec.empty()) GTEST_SKIP() << "shared recordings not present";
    ReplayOptions o;
    o.recording = rec;
    o.startOffset = 80738;  // 15 minutes before the touchdown on the last leg
    o.duration = 960;
    o.userLatitude = 39.8617;
    o.userLongitude = -104.6731;
    o.park = traffic::ParkAirportInfo{39.8617, -104.6731, 5434, {"KDEN"}};
    const auto s = runReplay(o);
    std::cout << formatSummary(s);
    EXPECT_EQ(s.airborneCreated, 1u);
    EXPECT_EQ(s.landings, 1u);
    EXPECT_EQ(s.flareStagesSeen & 0x1e, 0x1eu);  // stages 1 to 4
    EXPECT_EQ(s.figures.teleports, 0u);
    EXPECT_LT(s.figures.median, 50.0);
    EXPECT_EQ(s.aliveAtEnd, 0u);
}

// Zurich ground movements at one report a second: flights whose reports
// carry live speeds (some of the recording repeats the last airborne speed
// and track through the whole taxi). The recording has no types; the ones
// the registration files lack are given here.
TEST(Replay, ZurichTaxiFollowsTheGroundReportsWithoutPivots) {
    const std::string rec = shared("data/traffic/lszh_ground_movements_2019.json");
    const std::string regs = shared("data/registrations/dump1090_mutability_aircraft_db.csv");
    if (rec.empty() || regs.empty()) GTEST_SKIP() << "shared recordings not present";
    const auto types = (std::filesystem::temp_directory_path() / "vntx_lszh_types.csv").string();
    std::ofstream(types) << "icao24,r,t\nc01074,,B789\n";
    struct Flight {
        std::uint32_t hex;
        bool lands;
    };
    for (const Flight f : {Flight{0x4b1614, false}, Flight{0xc01074, false}, Flight{0x4b160e, true}}) {
        ReplayOptions o;
        o.recording = rec;
        o.registrationFiles = {types, regs};
        o.hexids = {f.hex};
        o.duration = 16000;
        o.userLatitude = 47.4581;
        o.userLongitude = 8.5555;
        o.park = traffic::ParkAirportInfo{47.4581, 8.5555, 1416, {"LSZH"}};
        const auto s = runReplay(o);
        std::cout << fmt::format("{:06x}\n", f.hex) << formatSummary(s);
        const auto& g = s.ground;
        EXPECT_GT(g.samples, 300u);
        EXPECT_LT(g.median, 15.0);
        EXPECT_LT(g.p95, 60.0);
        EXPECT_LT(g.p99HeadingRate, 20.0);
        EXPECT_EQ(s.figures.teleports, 0u);
        if (f.lands) {
            EXPECT_EQ(g.touchdowns, 1u);
            EXPECT_EQ(g.landingsFlared, 1u);
            EXPECT_EQ(g.rolledOut, 1u);
            EXPECT_EQ(g.runwayExits, 1u);
            EXPECT_EQ(g.landedEnded, 1u);
        }
    }
}

TEST(Replay, DenverLandingRollsOutOnTheGround) {
    const std::string rec = shared("data/traffic/readsb_trace_full_ac671b.json");
    if (rec.empty()) GTEST_SKIP() << "shared recordings not present";
    ReplayOptions o;
    o.recording = rec;
    o.startOffset = 80738;
    o.duration = 2400;
    o.userLatitude = 39.8617;
    o.userLongitude = -104.6731;
    o.park = traffic::ParkAirportInfo{39.8617, -104.6731, 5434, {"KDEN"}};
    const auto s = runReplay(o);
    const auto& g = s.ground;
    EXPECT_EQ(g.touchdowns, 1u);
    EXPECT_EQ(g.rolledOut, 1u);
    EXPECT_GT(g.samples, 10u);
    EXPECT_LT(g.median, 15.0);
    EXPECT_LT(g.p95, 60.0);
    EXPECT_LT(g.p99Sideways, 10.0);
}

// The same trace's earlier legs at Minneapolis: an arrival that rolls out,
// turns off and taxis in, and a departure that taxis out and takes off.
TEST(Replay, DenverTraceGroundLegsAtMinneapolis) {
    const std::string rec = shared("data/traffic/readsb_trace_full_ac671b.json");
    if (rec.empty()) GTEST_SKIP() << "shared recordings not present";
    for (const bool arrival : {true, false}) {
        ReplayOptions o;
        o.recording = rec;
        o.startOffset = arrival ? 13500 : 74400;
        o.duration = arrival ? 1800 : 2400;
        o.userLatitude = 44.8848;
        o.userLongitude = -93.2223;
        o.park = traffic::ParkAirportInfo{44.8848, -93.2223, 841, {"KMSP"}};
        const auto s = runReplay(o);
        const auto& g = s.ground;
        EXPECT_GT(g.samples, 50u);
        EXPECT_LT(g.median, 15.0);
        EXPECT_LT(g.p95, 60.0);
        EXPECT_LT(g.p99HeadingRate, 20.0);
        EXPECT_EQ(s.figures.teleports, 0u);
        if (arrival) {
            EXPECT_EQ(g.landingsFlared, 1u);
            EXPECT_EQ(g.rolledOut, 1u);
            EXPECT_EQ(g.runwayExits, 1u);
        } else {
            EXPECT_EQ(g.takeOffs, 1u);
        }
    }
}

// Hong Kong arrivals, a report a minute filled in to one every 5 s as a
// live feed sends them: landing roll, runway exit and taxi-in.
TEST(Replay, HongKongArrivalsFlareTouchDownRollOutAndLeaveTheRunway) {
    const std::string rec = shared("data/traffic/vhhh_arrivals_2018-05-01_fr24.csv");
    const std::string regs = shared("data/registrations/vrs_standing_data_aircraft.csv");
    if (rec.empty() || regs.empty()) GTEST_SKIP() << "shared recordings not present";
    ReplayOptions o;
    o.recording = rec;
    o.registrationFiles = {regs};
    o.startOffset = 36000;
    o.duration = 3600;
    o.densifySeconds = 5;
    o.userLatitude = 22.308;
    o.userLongitude = 113.918;
    o.park = traffic::ParkAirportInfo{22.308, 113.918, 28, {"VHHH"}};
    const auto s = runReplay(o);
    std::cout << formatSummary(s);
    const auto& g = s.ground;
    EXPECT_GT(g.touchdowns, 20u);
    EXPECT_EQ(g.landingsFlared, g.touchdowns);
    EXPECT_EQ(g.rolledOut, g.touchdowns);
    // The last reports of one arrival end on the runway when the hour ends.
    EXPECT_GE(g.runwayExits + 1, g.touchdowns);
    EXPECT_LT(g.median, 15.0);
    EXPECT_LT(g.p95, 60.0);
    EXPECT_LT(g.p99HeadingRate, 20.0);
    EXPECT_EQ(s.figures.teleports, 0u);
}

// Toulouse: decoded Mode S messages; BAW3AK taxis out and takes off.
TEST(Replay, ToulouseDepartureTaxisAndTakesOff) {
    const std::string rec = shared("data/traffic/lfbo_2024-06-06_decoded_modes.jsonl.gz");
    const std::string regs = shared("data/registrations/dump1090_mutability_aircraft_db.csv");
    if (rec.empty() || regs.empty()) GTEST_SKIP() << "shared recordings not present";
    ReplayOptions o;
    o.recording = rec;
    o.registrationFiles = {regs};
    o.duration = 9000;
    o.userLatitude = 43.629;
    o.userLongitude = 1.364;
    o.park = traffic::ParkAirportInfo{43.629, 1.364, 499, {"LFBO"}};
    const auto s = runReplay(o);
    std::cout << formatSummary(s);
    const auto& g = s.ground;
    EXPECT_GT(g.samples, 1000u);
    EXPECT_LT(g.median, 15.0);
    EXPECT_LT(g.p95, 60.0);
    EXPECT_LT(g.p99HeadingRate, 20.0);
    EXPECT_EQ(g.takeOffs, 1u);
    EXPECT_EQ(s.figures.teleports, 0u);
}

}  // namespace
}  // namespace vntx::fidelity
