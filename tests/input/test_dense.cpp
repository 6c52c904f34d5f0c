// The busy-sky scenario rtfeed makes from real recordings: as many aircraft
// at once as asked, each flight moved whole, the same file for the same seed.
#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "dense.h"
#include "input/geo.h"
#include "test_support.h"

using namespace vntx;

namespace {

constexpr double kLat = 36.587, kLon = -121.843;

std::vector<rtfeed::Track> realTracks() {
    const auto dir = vntx::testing::sourceDir() + "/data/";
    rtfeed::RegistrationDb db;
    db.load(dir + "registrations/vrs_standing_data_aircraft.csv");
    std::vector<rtfeed::Track> tracks;
    for (const char* name : {"monterey_bay_2025-06-01_hour.rtrec", "lszh_ground_2019_arranged.rtrec"}) {
        auto reports = rtfeed::readRecordingFile(dir + "traffic/" + name);
        for (auto& r : reports) db.fill(r);
        const auto [lat, lon] = rtfeed::recordingCentre(reports);
        for (auto& t : rtfeed::splitTracks(reports, lat, lon)) tracks.push_back(std::move(t));
    }
    return tracks;
}

rtfeed::Report at(double time, double lat, double lon, const char* type = "B738", const char* reg = "N1") {
    rtfeed::Report r;
    r.time = time;
    r.hex = 0xA00001;
    r.lat = lat;
    r.lon = lon;
    r.type = type;
    r.registration = reg;
    return r;
}

struct Span {
    double first = 1e300, last = -1e300;
    std::set<std::string> callsigns;
    std::size_t reports = 0;
};

}  // namespace

TEST(DenseScenario, RealFlightsGiveTheAskedNumberAtOnceWithNewIdentities) {
    const auto tracks = realTracks();
    ASSERT_GE(tracks.size(), 10u);  // four Monterey flights and nine at Zurich with a type and registration
    rtfeed::DenseOptions o;
    o.aircraft = 300;
    o.seconds = 900;
    o.centreLat = kLat;
    o.centreLon = kLon;
    const auto reports = rtfeed::denseScenario(tracks, o);
    ASSERT_TRUE(std::is_sorted(reports.begin(), reports.end(),
                               [](const auto& a, const auto& b) { return a.time < b.time; }));
    std::map<std::uint32_t, Span> spans;
    std::map<std::string, std::set<std::uint32_t>> byCallsign;
    for (const auto& r : reports) {
        auto& s = spans[r.hex];
        s.first = std::min(s.first, r.time);
        s.last = std::max(s.last, r.time);
        s.callsigns.insert(r.callsign);
        ++s.reports;
        byCallsign[r.callsign].insert(r.hex);
        ASSERT_FALSE(r.type.empty());
        ASSERT_FALSE(r.registration.empty());
        ASSERT_GE(r.time, o.startTime);
        ASSERT_LT(r.time, o.startTime + o.seconds);
        ASSERT_LT(distanceNm(kLat, kLon, r.lat, r.lon), 82.0);  // the radius, moved whole
    }
    // One call sign per aircraft and one aircraft per call sign.
    for (const auto& [hex, s] : spans) EXPECT_EQ(s.callsigns.size(), 1u) << std::hex << hex;
    for (const auto& [cs, hexes] : byCallsign) EXPECT_EQ(hexes.size(), 1u) << cs;
    // At every minute, each slot flies one aircraft (a few rest between flights).
    for (double t = o.startTime + 60; t < o.startTime + o.seconds; t += 60) {
        int flying = 0;
        for (const auto& [hex, s] : spans) flying += s.first <= t && t <= s.last;
        EXPECT_LE(flying, o.aircraft) << t;
        EXPECT_GE(flying, o.aircraft * 95 / 100) << t;
    }
}

TEST(DenseScenario, TheSameSeedGivesTheSameScenarioAndAnotherSeedAnother) {
    const auto tracks = realTracks();
    rtfeed::DenseOptions o;
    o.aircraft = 40;
    o.seconds = 300;
    auto text = [&](std::uint64_t seed) {
        o.seed = seed;
        std::string s;
        for (const auto& r : rtfeed::denseScenario(tracks, o)) s += rtfeed::formatReport(r) + "\n";
        return s;
    };
    const auto a = text(7);
    EXPECT_EQ(a, text(7));
    EXPECT_NE(a, text(8));
    EXPECT_THROW(rtfeed::denseScenario({}, o), std::invalid_argument);
}

TEST(DenseScenario, AFlightIsMovedWholeAndKeepsItsPace) {
    // Ten kilometres north of Zurich, turned a quarter to the right: ten
    // kilometres east of Monterey, and a northbound track now points east.
    auto r = at(0, 47.4647 + 10000 / 111195.0, 8.5492);
    r.track = 350;
    r.heading = 355;
    const auto m = rtfeed::moveReport(r, 47.4647, 8.5492, kLat, kLon, 90);
    EXPECT_NEAR(distanceNm(kLat, kLon, m.lat, m.lon) * 1852, 10000, 15);
    EXPECT_NEAR(m.lat, kLat, 1e-4);
    EXPECT_GT(m.lon, kLon);
    EXPECT_NEAR(m.track, 80, 1e-9);
    EXPECT_NEAR(*m.heading, 85, 1e-9);  // past north, not 445

    // Distances between consecutive reports of a real flight survive the move
    // and the time steps are kept, so the speeds the reports imply stay real.
    const auto tracks = realTracks();
    const auto& t = *std::max_element(tracks.begin(), tracks.end(),
                                      [](const auto& a, const auto& b) { return a.reports.size() < b.reports.size(); });
    for (std::size_t i = 1; i < t.reports.size(); ++i) {
        const auto& p = t.reports[i - 1];
        const auto& q = t.reports[i];
        const auto mp = rtfeed::moveReport(p, t.originLat, t.originLon, kLat, kLon, 217);
        const auto mq = rtfeed::moveReport(q, t.originLat, t.originLon, kLat, kLon, 217);
        const double before = distanceNm(p.lat, p.lon, q.lat, q.lon) * 1852;
        EXPECT_NEAR(distanceNm(mp.lat, mp.lon, mq.lat, mq.lon) * 1852, before, 5 + before * 0.01);
    }
}

TEST(DenseScenario, FlightsEndAtSilencesTheRadiusAndAChangeOfType) {
    const double lat0 = 47.0, lon0 = 8.0, north = 1 / 60.0;  // one nm
    std::vector<rtfeed::Report> rs;
    for (int i = 0; i < 40; ++i) rs.push_back(at(i * 10, lat0 + i * north * 0.1, lon0));  // 390 s, inside
    rs.push_back(at(395, lat0 + 100 * north, lon0));                                       // beyond 80 nm
    for (int i = 0; i < 20; ++i) rs.push_back(at(400 + i * 10, lat0, lon0));               // 190 s, inside
    for (int i = 0; i < 20; ++i) rs.push_back(at(900 + i * 10, lat0, lon0));               // after a 510 s silence
    for (int i = 0; i < 20; ++i) rs.push_back(at(1100 + i * 10, lat0, lon0, "A320"));      // another type
    for (int i = 0; i < 5; ++i) {  // another aircraft: too few reports
        rs.push_back(at(1400 + i * 60, lat0, lon0, "A320"));
        rs.back().hex = 0xA00003;
    }
    auto typeless = at(0, lat0, lon0, "");
    for (int i = 0; i < 30; ++i) {
        typeless.hex = 0xA00002;
        typeless.time = i * 10;
        rs.push_back(typeless);
    }
    const auto tracks = rtfeed::splitTracks(rs, lat0, lon0);
    ASSERT_EQ(tracks.size(), 4u);
    EXPECT_EQ(tracks[0].reports.size(), 40u);
    EXPECT_EQ(tracks[1].reports.size(), 20u);
    EXPECT_DOUBLE_EQ(tracks[2].start(), 900);
    EXPECT_EQ(tracks[3].reports.front().type, "A320");
    EXPECT_EQ(tracks[3].reports.size(), 20u);
}
