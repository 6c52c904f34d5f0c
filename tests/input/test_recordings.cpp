// The decoder against datagrams that rtfeed builds from real recordings.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "input/geo.h"
#include "input/traffic_decoder.h"
#include "recording.h"
#include "test_support.h"

using namespace vntx;
using namespace vntx::input;

namespace {

struct Tally {
    std::size_t accepted = 0, dropped = 0, failed = 0, ignored = 0;
    std::set<std::uint32_t> aircraft;
    std::string firstError;
};

// Replays reports through the decoder with the user at (lat, lon), checking
// every accepted record against the report it came from.
Tally replay(const std::vector<rtfeed::Report>& reports, const DecoderSettings& s) {
    Tally t;
    TrafficDecoder d;
    TrafficRecord rec;
    for (const auto& r : reports) {
        const auto datagram = rtfeed::trafficDatagram(r, r.time);
        switch (d.decode(datagram, s, rec)) {
        case DecodeOutcome::Accepted:
            ++t.accepted;
            t.aircraft.insert(rec.hexid);
            EXPECT_EQ(rec.hexid, r.hex);
            EXPECT_NEAR(rec.latitude, r.lat, 1e-6);
            EXPECT_NEAR(rec.longitude, r.lon, 1e-6);
            EXPECT_EQ(rec.aircraftType, r.type);
            EXPECT_EQ(rec.registration, r.registration);
            EXPECT_EQ(rec.callsign, r.callsign);
            EXPECT_NEAR(rec.timestamp, r.time, 0.006);
            EXPECT_EQ(rec.airborne, rec.altitude > 0);
            if (r.onGround) {
                EXPECT_FALSE(rec.airborne);
            }
            if (r.heading) {
                EXPECT_TRUE(rec.headingValid);
            }
            break;
        case DecodeOutcome::Dropped: ++t.dropped; break;
        case DecodeOutcome::Ignored: ++t.ignored; break;
        case DecodeOutcome::Failed:
            if (t.firstError.empty()) t.firstError = d.error();
            ++t.failed;
            break;
        }
    }
    return t;
}

std::string dataFile(const std::string& name) { return vntx::testing::sourceDir() + "/data/traffic/" + name; }

}  // namespace

TEST(Recordings, RecordingLinesRoundTrip) {
    rtfeed::Report r;
    r.time = 1704067200.25;
    r.hex = 0x4CA2D1;
    r.lat = 53.421333;
    r.lon = -6.27;
    r.altitude = 1200;
    r.callsign = "EIN123";
    r.type = "A20N";
    r.heading = 271.5;
    r.category = "A3";
    const auto back = rtfeed::parseReport(rtfeed::formatReport(r));
    EXPECT_EQ(back.hex, r.hex);
    EXPECT_EQ(back.time, r.time);
    EXPECT_EQ(back.lat, r.lat);
    EXPECT_EQ(back.callsign, r.callsign);
    EXPECT_EQ(back.heading, r.heading);
    EXPECT_EQ(back.category, "A3");
    EXPECT_THROW(rtfeed::parseReport("1,2,3"), std::runtime_error);
}

TEST(Recordings, TraceOfOneAirlinerDecodes) {
    const auto reports = rtfeed::readRecordingFile(dataFile("readsb_trace_ac671b.rtrec"));
    ASSERT_EQ(reports.size(), 2500u);
    // Every report near the user is decoded; ground reports only at the park airport.
    DecoderSettings s;
    s.rangeNm = 100000;
    const auto t = replay(reports, s);
    EXPECT_EQ(t.failed, 0u) << t.firstError;
    EXPECT_EQ(t.aircraft, std::set<std::uint32_t>{0xAC671B});
    std::size_t airborne = 0;
    for (const auto& r : reports) airborne += !r.onGround && r.groundSpeed > 35;
    EXPECT_GE(t.accepted, airborne * 9 / 10);
    EXPECT_GT(t.dropped, 0u);  // the ground legs away from any park airport
}

TEST(Recordings, GroundMovementsAtTheParkAirportAreKept) {
    auto reports = rtfeed::readRecordingFile(dataFile("readsb_trace_ac671b.rtrec"));
    // The last leg ends at Denver: park there and look at the ground reports.
    const rtfeed::Report last = reports.back();
    DecoderSettings s;
    s.rangeNm = 40;
    s.userLatitude = last.lat;
    s.userLongitude = last.lon;
    s.parkAirport = ParkAirportRef{last.lat, last.lon, 5434};
    std::size_t groundNear = 0;
    for (const auto& r : reports)
        groundNear += r.onGround && distanceNm(r.lat, r.lon, last.lat, last.lon) <= 5.0 && !r.callsign.empty();
    ASSERT_GT(groundNear, 0u);
    const auto t = replay(reports, s);
    EXPECT_EQ(t.failed, 0u) << t.firstError;
    EXPECT_GE(t.accepted, groundNear);
}

TEST(Recordings, BusyGeneralAviationHour) {
    const auto reports = rtfeed::readRecordingFile(dataFile("monterey_bay_2025-06-01_hour.rtrec"));
    ASSERT_GT(reports.size(), 1000u);
    DecoderSettings s;
    s.userLatitude = 36.587;  // Monterey
    s.userLongitude = -121.843;
    s.rangeNm = 100;
    const auto t = replay(reports, s);
    EXPECT_EQ(t.failed, 0u) << t.firstError;
    std::size_t typed = 0;
    for (const auto& r : reports) typed += !r.type.empty();
    EXPECT_GT(t.accepted, 0u);
    EXPECT_LE(t.accepted, typed);  // no type, no record
    EXPECT_GT(t.aircraft.size(), 3u);
}

TEST(Recordings, HongKongArrivalsFromTheSharedData) {
    const std::string dir = vntx::testing::sharedDir();
    const std::string csv = dir + "/data/traffic/vhhh_arrivals_2018-05-01_fr24.csv";
    if (dir.empty() || !std::filesystem::exists(csv)) GTEST_SKIP() << "shared data not present";
    auto reports = rtfeed::loadAny(csv, rtfeed::Format::Fr24Csv);
    ASSERT_EQ(reports.size(), 83052u);
    rtfeed::RegistrationDb db;
    ASSERT_GT(db.load(dir + "/data/registrations/dump1090_mutability_aircraft_db.csv"), 1000u);
    std::size_t withReg = 0;
    for (auto& r : reports) {
        db.fill(r);
        withReg += !r.registration.empty();
    }
    EXPECT_GT(withReg, 1000u);
    DecoderSettings s;
    s.userLatitude = 22.308;
    s.userLongitude = 113.918;
    s.rangeNm = 40;
    s.parkAirport = ParkAirportRef{22.308, 113.918, 28};
    const auto t = replay(reports, s);
    EXPECT_EQ(t.failed, 0u) << t.firstError;
    EXPECT_GT(t.aircraft.size(), 300u);  // most of the 543 arrivals pass through
    EXPECT_GT(t.accepted, 10000u);
}

TEST(Densify, FillsSparseTracksTheShortWayAndLeavesLongGapsAlone) {
    rtfeed::Report a, b, c;
    a.hex = b.hex = c.hex = 0xABCDEF;
    a.time = 1000, a.lat = 10, a.lon = 179.9, a.altitude = 3000, a.track = 350, a.groundSpeed = 200;
    b.time = 1060, b.lat = 10.6, b.lon = -179.9, b.altitude = 2400, b.track = 10, b.groundSpeed = 180;
    c.time = 2000, c.lat = 11, c.lon = -179, c.altitude = 0, c.onGround = true;  // 940 s later: not filled
    rtfeed::Report other = a;
    other.hex = 0x123456;
    other.time = 1030;
    auto out = rtfeed::densify({a, b, c, other}, 5);
    std::vector<rtfeed::Report> mine;
    for (const auto& r : out)
        if (r.hex == 0xABCDEF) mine.push_back(r);
    ASSERT_EQ(mine.size(), 14u);  // a, 11 between, b, c
    for (std::size_t i = 1; i < out.size(); ++i) EXPECT_LE(out[i - 1].time, out[i].time);
    const auto& mid = mine[6];    // half way
    EXPECT_DOUBLE_EQ(mid.time, 1030);
    EXPECT_NEAR(mid.lat, 10.3, 1e-9);
    EXPECT_NEAR(std::fabs(mid.lon), 180.0, 1e-9);  // across the date line, not round the globe
    EXPECT_NEAR(mid.altitude, 2700, 1e-9);
    EXPECT_NEAR(mid.track, 0.0, 1e-9);
    EXPECT_NEAR(mid.verticalRate, -600, 1e-9);
    EXPECT_FALSE(mid.onGround);
    EXPECT_DOUBLE_EQ(mine[12].time, 1060);
    EXPECT_DOUBLE_EQ(mine[13].time, 2000);
}
