// The stock park files tools/refdata builds: flights placed on stands.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "park_fixture.h"
#include "stock_parking.h"

namespace fs = std::filesystem;
using namespace vntx;
using refdata::StandRow;
using refdata::Visit;

namespace {

StandRow stand(const std::string& id, double radiusM, bool heli = false) {
    static double lat = 47.0;
    StandRow s;
    s.id = id;
    s.lat = (lat += 0.01);
    s.lon = 8.5;
    s.radiusM = radiusM;
    s.heli = heli;
    return s;
}

Visit visit(const std::string& callsign, int day, int slot, int slots, double halfSpanM = 17.0) {
    Visit v;
    v.reg = "REG-" + callsign;
    v.airline = "SWR";
    v.type = "A320";
    v.arrival = callsign;
    v.day = day;
    v.slot = slot;
    v.slots = slots;
    v.halfSpanM = halfSpanM;
    return v;
}

// The stand id each visit's registration ended on.
std::map<std::string, std::string> standOf(const refdata::Placement& p) {
    std::map<std::string, std::string> m;
    for (const auto& s : p.stands)
        for (const auto& o : s.occupancies) m[o.reg] = s.id;
    return m;
}

TEST(StockParking, OneAircraftPerStandAtATime) {
    const auto p = refdata::placeVisits({stand("A", 20), stand("B", 20)},
                                        {visit("SWR1", 2, 10, 4), visit("SWR2", 2, 12, 4), visit("SWR3", 2, 13, 2),
                                         visit("SWR4", 2, 14, 2)});
    EXPECT_EQ(p.placed, 3u);
    EXPECT_EQ(p.dropped, 1u);  // SWR3: both stands taken at 13
    const auto at = standOf(p);
    EXPECT_NE(at.at("REG-SWR1"), at.at("REG-SWR2"));
    EXPECT_EQ(at.count("REG-SWR3"), 0u);
    EXPECT_EQ(at.at("REG-SWR4"), at.at("REG-SWR1"));  // free again from half hour 14
    // One aircraft cannot stand in two places: the same registration again at 11 is left out.
    Visit again = visit("SWR5", 2, 11, 1);
    again.reg = "REG-SWR1";
    EXPECT_EQ(refdata::placeVisits({stand("A", 20), stand("B", 20)}, {visit("SWR1", 2, 10, 4), again}).dropped, 1u);
}

TEST(StockParking, SizeAndKindDecideWhereAnAircraftFits) {
    // 1.8 m over the radius still fits, and the tightest fit wins.
    auto p = refdata::placeVisits({stand("BIG", 30), stand("SMALL", 15)},
                                  {visit("FITS", 1, 0, 1, 16.8), visit("WIDE", 1, 2, 1, 16.9)});
    EXPECT_EQ(standOf(p).at("REG-FITS"), "SMALL");
    EXPECT_EQ(standOf(p).at("REG-WIDE"), "BIG");
    Visit heli = visit("HELI", 1, 0, 1, 5.0);
    heli.rotorcraft = true;
    p = refdata::placeVisits({stand("GATE", 30), stand("PAD", 10, true)}, {heli, visit("JET", 1, 5, 1)});
    EXPECT_EQ(standOf(p).at("REG-HELI"), "PAD");
    EXPECT_EQ(standOf(p).at("REG-JET"), "GATE");
    p = refdata::placeVisits({stand("PAD", 30, true)}, {visit("JET", 1, 5, 1)});
    EXPECT_EQ(p.dropped, 1u);
}

TEST(StockParking, OvernightStaysRunIntoTheNextDayAndRoundTheWeek) {
    auto p = refdata::placeVisits({stand("A", 20)}, {visit("LATE", 7, 46, 4), visit("NEXT", 1, 2, 1)});
    EXPECT_EQ(p.placed, 2u);
    ASSERT_EQ(p.stands[0].occupancies.size(), 3u);
    std::map<std::string, std::vector<std::pair<unsigned, unsigned long long>>> seen;  // reg -> (day, half hours)
    for (const auto& o : p.stands[0].occupancies) seen[o.reg].emplace_back(o.day, o.hours.to_ullong());
    using Days = std::vector<std::pair<unsigned, unsigned long long>>;
    EXPECT_EQ(seen["REG-LATE"], (Days{{7, 3ull << 46}, {1, 3ull}}));
    EXPECT_EQ(seen["REG-NEXT"], (Days{{1, 1ull << 2}}));
    // Sunday's late arrival still stands there at Monday 00:30: only one of the two fits.
    p = refdata::placeVisits({stand("A", 20)}, {visit("LATE", 7, 46, 4), visit("EARLY", 1, 1, 1)});
    EXPECT_EQ(p.placed, 1u);
    EXPECT_EQ(p.dropped, 1u);
}

TEST(StockParking, AFlightKeepsItsStandOnOtherDays) {
    // Monday: SWR9 takes the tight stand B first, so SWR1 gets A. Tuesday:
    // B is free and tighter, but SWR1 goes back to A.
    const auto p = refdata::placeVisits({stand("A", 25), stand("B", 20)},
                                        {visit("SWR9", 1, 9, 3), visit("SWR1", 1, 10, 2), visit("SWR1", 2, 10, 2)});
    for (const auto& s : p.stands)
        for (const auto& o : s.occupancies)
            if (o.callsign == "SWR1") {
                EXPECT_EQ(s.id, "A") << "day " << o.day;
            }
}

class ShippedStockFiles : public test::ParkFolder {};

TEST_F(ShippedStockFiles, ZurichIsFilledFromRealFlightsWithoutClashes) {
    shippedReferenceData();
    const fs::path built = fs::path(VNTX_BUILD_SERVER) / "downloads/P3D/archive/stock/LSZH.xml";
    ASSERT_TRUE(fs::exists(built));
    fs::copy_file(built, tmp / "airports/my_thirdparty/LSZH.xml");
    ParkAirport a;
    a.code = "LSZH";
    ASSERT_EQ(gf_readApf("airports/my_thirdparty/LSZH.xml", a), "");
    EXPECT_EQ(a.publisher, "stock");
    EXPECT_EQ(a.altitude, 1416);
    EXPECT_GT(a.positions.size(), 250u);
    EXPECT_GE(a.Qf_real, 1);
    std::size_t opts = 0;
    std::set<std::tuple<std::string, unsigned, std::size_t>> held;  // registration, day, half hour
    for (const auto& s : a.positions) {
        for (const auto& o : s.occupancies) {
            ++opts;
            SCOPED_TRACE(s.id + " " + o.reg + " " + o.type);
            EXPECT_TRUE(o.real);
            EXPECT_FALSE(o.callsign.empty());
            EXPECT_LE(halfWingspan(o.type) * 1852 - s.radius * 1852, 1.8 + 0.06);
            EXPECT_EQ(s.heli, aircraftCategory(o.type) == AircraftCategory::Rotorcraft);
            for (std::size_t h = 0; h < 48; ++h)
                if (o.hours.test(h)) {
                    EXPECT_TRUE(held.emplace(o.reg, o.day, h).second) << "on two stands at once";
                }
        }
    }
    EXPECT_GT(opts, 1000u);
}

}  // namespace
