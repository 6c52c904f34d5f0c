// Replays of real recordings: every airborne aircraft is created, follows
// its reports without jumps and leaves again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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
    o.startOffset = 70000;
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

}  // namespace
}  // namespace vntx::fidelity
