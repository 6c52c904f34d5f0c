// The real add-on airports against the XML sources they were compiled from:
// every parking and helipad, the airport's ident, name and altitude; and the
// other files of the packages (exclusions, altitude stub, ground polygons).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>

#include <pugixml.hpp>

#include "airports/catalogue.h"
#include "scan/bgl.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

fs::path bglFolder() {
    if (const char* dir = std::getenv("VNTX_SHARED_DIR")) return fs::path(dir) / "data/scenery_bgl";
    const char* src = std::getenv("VNTX_SOURCE_DIR");
    return fs::path(src ? src : ".") / "../shared/data/scenery_bgl";
}

#define REQUIRE_SHARED()                                                              \
    if (!fs::is_directory(bglFolder())) GTEST_SKIP() << bglFolder() << " is absent"

// "15.0M", "50F", "18.3" -> metres.
double metres(const char* text) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    return (end && (*end == 'F' || *end == 'f')) ? v * 0.3048 : v;
}

unsigned nameValue(std::string_view name) {
    static const std::map<std::string_view, unsigned> names = {
        {"NONE", 0},       {"PARKING", 1},   {"N_PARKING", 2}, {"NE_PARKING", 3}, {"E_PARKING", 4},
        {"SE_PARKING", 5}, {"S_PARKING", 6}, {"SW_PARKING", 7}, {"W_PARKING", 8}, {"NW_PARKING", 9},
        {"GATE", 10},      {"DOCK", 11}};
    if (name.size() == 6 && name.substr(0, 5) == "GATE_") return 12 + static_cast<unsigned>(name[5] - 'A');
    return names.at(name);
}

unsigned typeValue(std::string_view type) {
    static const std::map<std::string_view, unsigned> types = {
        {"NONE", 0},           {"RAMP_GA", 1},         {"RAMP_GA_SMALL", 2}, {"RAMP_GA_MEDIUM", 3},
        {"RAMP_GA_LARGE", 4},  {"RAMP_CARGO", 5},      {"RAMP_MIL_CARGO", 6}, {"RAMP_MIL_COMBAT", 7},
        {"GATE_SMALL", 8},     {"GATE_MEDIUM", 9},     {"GATE_HEAVY", 10},   {"DOCK_GA", 11},
        {"FUEL", 12},          {"VEHICLE", 13}};
    return types.at(type);
}

double metresBetween(double lat1, double lon1, double lat2, double lon2) {
    return distanceNm(lat1, lon1, lat2, lon2) * 1852.0;
}

double headingDifference(double radians, double degrees) {
    double d = std::fmod(std::fabs(radians * 57.29577951308232 - degrees), 360.0);
    return std::min(d, 360.0 - d);
}

struct Largest {
    double position = 0, heading = 0, radius = 0;
    void print(const std::string& what) const {
        std::cout << what << ": largest differences: position " << position << " m, heading " << heading
                  << " deg, radius " << radius << " m\n";
    }
};

// Every parking of the source that is a stand (types 1..11, radius inside
// the limits) must be decoded once, with its values; the others must not be.
struct Expected {
    const char* ident;
    std::size_t sourceParkings;
    std::size_t stands;
    const char* name = nullptr;   // the source's when not given
    long altitudeFt = -1;         // the source's when not given
};

Largest compareWithSource(const fs::path& bgl, const fs::path& xml, const Expected& expected) {
    const char* ident = expected.ident;
    pugi::xml_document doc;
    const auto parsed = doc.load_file(xml.c_str());
    EXPECT_TRUE(parsed) << parsed.description();
    const pugi::xml_node airport = doc.child("FSData").child("Airport");
    EXPECT_STREQ(airport.attribute("ident").value(), ident);

    const BglFileResult result = decodeBglFile(bgl, nullptr);
    for (const auto& line : result.report) ADD_FAILURE() << "report line: " << line;
    EXPECT_EQ(result.airports.size(), 1u);
    if (result.airports.empty()) return {};
    const BglAirport& a = result.airports.front();
    EXPECT_EQ(a.ident, ident);
    EXPECT_EQ(a.name, expected.name ? expected.name : airport.attribute("name").value());
    EXPECT_EQ(a.altitudeFt, expected.altitudeFt >= 0 ? expected.altitudeFt
                                                     : std::lround(metres(airport.attribute("alt").value()) * 3.2808399));
    EXPECT_LT(metresBetween(a.lat, a.lon, airport.attribute("lat").as_double(), airport.attribute("lon").as_double()),
              0.5);

    Largest largest;
    std::size_t parkings = 0, stands = 0;
    std::map<std::string, int> used;
    for (pugi::xml_node p : airport.children("TaxiwayParking")) {
        ++parkings;
        const unsigned type = typeValue(p.attribute("type").value());
        const unsigned name = nameValue(p.attribute("name").value());
        const unsigned number = p.attribute("number").as_uint();
        const double radius = metres(p.attribute("radius").value());
        const double lat = p.attribute("lat").as_double(), lon = p.attribute("lon").as_double();
        const BglStand* best = nullptr;
        double bestDistance = 1e9;
        for (const BglStand& s : a.stands) {
            if (s.heli || s.name != name || s.number != number) continue;
            const double d = metresBetween(s.lat, s.lon, lat, lon);
            if (d < bestDistance) bestDistance = d, best = &s;
        }
        const bool stand = type >= 1 && type <= 11 && radius > 1.0 && radius < 200.0;
        if (!stand) {
            EXPECT_TRUE(best == nullptr || bestDistance > 0.5) << "parking " << name << "/" << number << " kept";
            continue;
        }
        ++stands;
        if (!best) {
            ADD_FAILURE() << "parking " << p.attribute("name").value() << " " << number << " missing";
            continue;
        }
        ++used[best->id];
        EXPECT_LT(bestDistance, 0.5) << best->id;
        EXPECT_LT(headingDifference(best->heading, p.attribute("heading").as_double()), 0.5) << best->id;
        EXPECT_NEAR(best->radiusM, radius, 0.1) << best->id;
        EXPECT_EQ(best->type, type) << best->id;
        EXPECT_EQ(best->cargo, type == 5) << best->id;
        EXPECT_EQ(best->ramp, type <= 7) << best->id;
        largest.position = std::max(largest.position, bestDistance);
        largest.heading = std::max(largest.heading, headingDifference(best->heading, p.attribute("heading").as_double()));
        largest.radius = std::max(largest.radius, std::fabs(best->radiusM - radius));
    }
    for (pugi::xml_node h : airport.children("Helipad")) {
        const BglStand* heli = nullptr;
        for (const BglStand& s : a.stands)
            if (s.heli) heli = &s;
        EXPECT_NE(heli, nullptr);
        if (!heli) continue;
        const double d = metresBetween(heli->lat, heli->lon, h.attribute("lat").as_double(), h.attribute("lon").as_double());
        EXPECT_LT(d, 0.5);
        EXPECT_LT(headingDifference(heli->heading, h.attribute("heading").as_double()), 0.5);
        EXPECT_NEAR(heli->radiusM, metres(h.attribute("length").value()) / 2, 0.1);
        ++stands;
        largest.position = std::max(largest.position, d);
    }
    for (const auto& [id, n] : used) EXPECT_EQ(n, 1) << id << " matched twice";
    EXPECT_EQ(parkings, expected.sourceParkings);
    EXPECT_EQ(stands, expected.stands);
    EXPECT_EQ(a.stands.size(), expected.stands);
    return largest;
}

TEST(RealBgl, LeabEqualsItsSource) {
    REQUIRE_SHARED();
    // 71 parkings, 3 of them vehicle places; one helipad.
    compareWithSource(bglFolder() / "leab/LEAB_ADEP5_ARV187.bgl", bglFolder() / "leab/LEAB_ADEP5_ARV187.xml",
                      {"LEAB", 71, 69})
        .print("LEAB (record 171)");
}

TEST(RealBgl, LeabOlderBuildEqualsTheSameSource) {
    REQUIRE_SHARED();
    // The older build was made from an earlier source: same stands, but the
    // airport was named after the city and stood at 701.000 m.
    compareWithSource(bglFolder() / "leab/LEAB_ADEP4_ARV187.bgl", bglFolder() / "leab/LEAB_ADEP5_ARV187.xml",
                      {"LEAB", 71, 69, "Albacete", 2300})
        .print("LEAB (record 60)");
}

TEST(RealBgl, LearEqualsItsSource) {
    REQUIRE_SHARED();
    // 22 parkings, one fuel and one vehicle place; one helipad.
    compareWithSource(bglFolder() / "lear/LEAR_ADEX_ARV187.bgl", bglFolder() / "lear/LEAR_ADEX_ARV187.xml",
                      {"LEAR", 22, 21})
        .print("LEAR");
}

TEST(RealBgl, StandIdsFollowNameAndNumber) {
    REQUIRE_SHARED();
    const BglFileResult r = decodeBglFile(bglFolder() / "lear/LEAR_ADEX_ARV187.bgl", nullptr);
    ASSERT_EQ(r.airports.size(), 1u);
    std::map<std::string, const BglStand*> byId;
    for (const BglStand& s : r.airports[0].stands) EXPECT_TRUE(byId.emplace(s.id, &s).second) << s.id;
    ASSERT_TRUE(byId.count("helipad1"));
    // GATE n is "g" n, PARKING n is "r" n.
    for (const auto& [id, s] : byId) {
        if (s->heli) continue;
        EXPECT_EQ(id, (s->name == 10 ? "g" : "r") + std::to_string(s->number)) << id;
    }
}

TEST(RealBgl, FilesWithoutAirportsAreSkippedQuietly) {
    REQUIRE_SHARED();
    const fs::path d = bglFolder();
    for (const char* f : {"leab/LEAB_ADEP5_ARV187_CVX_a.bgl", "leab/LEAB_ADEP5_ARV187_CVX_b.bgl",
                          "lear/LEAR_ADEX_ARV187_CVX.bgl", "lear/LEAR_ADEX_ARV187_GA_CVX.bgl",
                          "lear/LEAR_ADEX_ARV187_GP.bgl"}) {
        SCOPED_TRACE(f);
        EXPECT_FALSE(hasAirportSection(d / f));
        const BglFileResult r = decodeBglFile(d / f, nullptr);
        EXPECT_TRUE(r.airports.empty());
        EXPECT_TRUE(r.report.empty()) << r.report.front();
    }
    for (const char* f : {"leab/LEAB_ADEP5_ARV187.bgl", "leab/LEAB_ADEP4_ARV187.bgl", "leab/LEAB_ADEP5_ARV187_ALT.bgl",
                          "lear/LEAR_ADEX_ARV187.bgl", "lear/LEAR_ADEX_ARV187_GA.bgl"})
        EXPECT_TRUE(hasAirportSection(d / f)) << f;
}

TEST(RealBgl, AltitudeStubHasTheAirportWithoutStands) {
    REQUIRE_SHARED();
    const BglFileResult r = decodeBglFile(bglFolder() / "leab/LEAB_ADEP5_ARV187_ALT.bgl", nullptr);
    EXPECT_TRUE(r.report.empty());
    ASSERT_EQ(r.airports.size(), 1u);
    EXPECT_EQ(r.airports[0].ident, "LEAB");
    EXPECT_EQ(r.airports[0].name, "Los Llanos");
    EXPECT_EQ(r.airports[0].altitudeFt, 2301);
    EXPECT_TRUE(r.airports[0].stands.empty());
}

TEST(RealBgl, SecondAirportOfAPackageIsFilteredByTheCatalogue) {
    REQUIRE_SHARED();
    const fs::path ga = bglFolder() / "lear/LEAR_ADEX_ARV187_GA.bgl";
    const BglFileResult all = decodeBglFile(ga, nullptr);
    ASSERT_EQ(all.airports.size(), 1u);
    EXPECT_EQ(all.airports[0].ident, "LEAV");
    EXPECT_EQ(all.airports[0].name, "Pista de aviaci\xC3\xB3n general de Argavirtual");
    EXPECT_FALSE(all.airports[0].stands.empty());

    const BglFileResult known = decodeBglFile(ga, [](std::string_view code) { return code == "LEAR"; });
    EXPECT_TRUE(known.airports.empty());
    ASSERT_EQ(known.report.size(), 1u);
    EXPECT_EQ(known.report[0], "LEAV is not an airport supported by RealTraffic ");
}

}  // namespace
