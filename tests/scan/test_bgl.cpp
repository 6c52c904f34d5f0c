// The decoder's rules on generated files: the cases the real add-on
// airports lack, and damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <span>
#include <string>

#include "bglgen/bglgen.h"
#include "scan/bgl.h"
#include "support/temp_dir.h"

using namespace vntx;

namespace {

constexpr const char* kPath = "Addon/scenery/TEST.bgl";
constexpr double kTwoPi = 6.283185307179586;

std::span<const std::uint8_t> bytesOf(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

BglFileResult decode(const bglgen::File& file, const AirportFilter& filter = nullptr) {
    const std::string bytes = bglgen::write(file);
    return decodeBglData(bytesOf(bytes), kPath, filter);
}

bglgen::File oneAirport(bglgen::Airport a) {
    bglgen::File f;
    f.airports.push_back(std::move(a));
    return f;
}

bglgen::Airport airport(std::string ident = "EGKK") {
    bglgen::Airport a;
    a.ident = std::move(ident);
    a.names = {"Test Field"};
    a.lat = 51.15;
    a.lon = -0.19;
    a.altitudeMm = 61000;
    return a;
}

bglgen::Parking parking(unsigned number, float radius = 20.0f, unsigned type = bglgen::kGateMedium) {
    bglgen::Parking p;
    p.name = bglgen::kGate;
    p.number = number;
    p.type = type;
    p.radius = radius;
    p.heading = 45.0f;
    p.lat = 51.15 + number * 1e-4;
    p.lon = -0.19;
    return p;
}

std::vector<std::string> ids(const BglAirport& a) {
    std::vector<std::string> out;
    for (const auto& s : a.stands) out.push_back(s.id);
    return out;
}

TEST(BglIdent, DecodesPackedCodes) {
    EXPECT_EQ(lf_decodeIdentifierOrRegionCode(bglgen::packIdent("LEAB")), "LEAB");
    EXPECT_EQ(lf_decodeIdentifierOrRegionCode(bglgen::packIdent("K2B7")), "K2B7");
    EXPECT_EQ(lf_decodeIdentifierOrRegionCode(bglgen::packIdent("X01")), "X01");
    EXPECT_EQ(lf_decodeIdentifierOrRegionCode(bglgen::packIdent("EG K")), "EG K");
    EXPECT_EQ(lf_decodeIdentifierOrRegionCode(0), "");
    // The five low bits are flags, not part of the code.
    EXPECT_EQ(lf_decodeIdentifierOrRegionCode(bglgen::packIdent("LEAB") | 0x1F), "LEAB");
}

TEST(BglAirport, HeaderValuesAndBothLayouts) {
    for (bool newLayout : {false, true}) {
        SCOPED_TRACE(newLayout);
        bglgen::Airport a = airport();
        a.newLayout = newLayout;
        a.altitudeMm = 61000;  // 200.13 ft
        bglgen::Parking p = parking(7);
        p.airlineCodes = 3;    // the next parking starts after its codes
        a.parkings = {p, parking(8)};
        const BglFileResult r = decode(oneAirport(a));
        EXPECT_TRUE(r.report.empty());
        ASSERT_EQ(r.airports.size(), 1u);
        const BglAirport& got = r.airports[0];
        EXPECT_EQ(got.ident, "EGKK");
        EXPECT_EQ(got.name, "Test Field");
        EXPECT_EQ(got.altitudeFt, 200);
        EXPECT_EQ(got.newLayout, newLayout);
        EXPECT_NEAR(got.lat, 51.15, 1e-6);
        EXPECT_NEAR(got.lon, -0.19, 1e-6);
        ASSERT_EQ(ids(got), (std::vector<std::string>{"g7", "g8"}));
        EXPECT_NEAR(got.stands[1].lat, 51.15 + 8e-4, 1e-6);
        EXPECT_NEAR(got.stands[1].heading, 45 * 0.017453292519943295, 1e-9);
        EXPECT_DOUBLE_EQ(got.stands[1].radiusM, 20.0);
    }
}

TEST(BglAirport, AltitudeOutsideTheRangeBecomesZero) {
    const std::pair<std::int32_t, std::int32_t> cases[] = {
        {-6096, -20}, {-6401, 0}, {3048000, 10000}, {3048200, 0}, {1524, 5}};
    for (auto [mm, feet] : cases) {
        bglgen::Airport a = airport();
        a.altitudeMm = mm;
        const BglFileResult r = decode(oneAirport(a));
        ASSERT_EQ(r.airports.size(), 1u);
        EXPECT_EQ(r.airports[0].altitudeFt, feet) << mm;
    }
}

TEST(BglAirport, OnlyFourLetterCatalogueCodesAreDecoded) {
    auto known = [](std::string_view code) { return code == "EGKK"; };
    bglgen::File f;
    f.airports = {airport("EGKK"), airport("X01"), airport("EGLL"), airport("AB12C")};
    const BglFileResult r = decode(f, known);
    ASSERT_EQ(r.airports.size(), 1u);
    EXPECT_EQ(r.airports[0].ident, "EGKK");
    // Three- and five-character codes (heliports, strips) are left out silently.
    ASSERT_EQ(r.report.size(), 1u);
    EXPECT_EQ(r.report[0], "EGLL is not an airport supported by RealTraffic ");
}

TEST(BglAirport, NamesThatDisagreeGiveAnEmptyName) {
    bglgen::Airport a = airport();
    a.names = {"Gatwick", "Gatwick"};
    EXPECT_EQ(decode(oneAirport(a)).airports.at(0).name, "Gatwick");
    a.names = {"Gatwick", "London Gatwick", "Gatwick"};
    EXPECT_EQ(decode(oneAirport(a)).airports.at(0).name, "");
    a.names = {};
    EXPECT_EQ(decode(oneAirport(a)).airports.at(0).name, "");
    // Names written in Latin-1 come out as UTF-8; UTF-8 names stay.
    a.names = {"Aer\xF3" "dromo"};
    EXPECT_EQ(decode(oneAirport(a)).airports.at(0).name, "Aer\xC3\xB3" "dromo");
    a.names = {"Aer\xC3\xB3" "dromo"};
    EXPECT_EQ(decode(oneAirport(a)).airports.at(0).name, "Aer\xC3\xB3" "dromo");
}

TEST(BglParking, RadiusMustLieStrictlyBetweenOneAndTwoHundredMetres) {
    bglgen::Airport a = airport();
    a.parkings = {parking(1, 1.0f), parking(2, 1.01f), parking(3, 199.9f), parking(4, 200.0f), parking(5, NAN),
                  parking(6, -5.0f)};
    const BglFileResult r = decode(oneAirport(a));
    ASSERT_EQ(r.airports.size(), 1u);
    EXPECT_EQ(ids(r.airports[0]), (std::vector<std::string>{"g2", "g3"}));
    EXPECT_NEAR(r.airports[0].stands[0].radiusM, 1.01, 1e-6);
    ASSERT_EQ(r.report.size(), 4u);
    EXPECT_EQ(r.report[0], "Skipped position with radius 1.0 m in Addon/scenery/TEST.bgl");
    EXPECT_EQ(r.report[1], "Skipped position with radius 200.0 m in Addon/scenery/TEST.bgl");
    EXPECT_EQ(r.report[3], "Skipped position with radius -5.0 m in Addon/scenery/TEST.bgl");
}

TEST(BglParking, TypesOutsideOneToElevenAreSkippedSilently) {
    bglgen::Airport a = airport();
    a.parkings = {parking(1, 20, 0), parking(2, 20, bglgen::kRampGa), parking(3, 20, bglgen::kRampCargo),
                  parking(4, 20, bglgen::kRampMilCombat), parking(5, 20, bglgen::kGateSmall),
                  parking(6, 20, bglgen::kDockGa), parking(7, 20, bglgen::kFuel), parking(8, 20, bglgen::kVehicle)};
    const BglFileResult r = decode(oneAirport(a));
    EXPECT_TRUE(r.report.empty());
    const auto& s = r.airports.at(0).stands;
    ASSERT_EQ(ids(r.airports[0]), (std::vector<std::string>{"g2", "g3", "g4", "g5", "g6"}));
    EXPECT_TRUE(s[0].ramp && !s[0].cargo);
    EXPECT_TRUE(s[1].ramp && s[1].cargo);
    EXPECT_TRUE(s[2].ramp);
    EXPECT_FALSE(s[3].ramp);
    EXPECT_FALSE(s[4].ramp || s[4].cargo || s[4].heli);
}

TEST(BglParking, CoordinatesAtZeroOrOutsideTheEarthAreSkipped) {
    bglgen::Airport a = airport();
    bglgen::Parking zero = parking(1);
    zero.packedLat = 268435456;  // 0.0
    zero.packedLon = 402653184;  // 0.0
    bglgen::Parking south = parking(2);
    south.packedLat = 0xFFFFFFFFu;  // far below -90
    bglgen::Parking nearZero = parking(3);
    nearZero.lat = 0.0;
    nearZero.lon = 0.001;  // one of the two away from 0 is enough
    a.parkings = {zero, south, nearZero};
    const BglFileResult r = decode(oneAirport(a));
    EXPECT_EQ(ids(r.airports.at(0)), (std::vector<std::string>{"g3"}));
    ASSERT_EQ(r.report.size(), 2u);
    EXPECT_EQ(r.report[0], "LatLon 0.000000,0.000000 invalid (skipped)");
    EXPECT_EQ(r.report[1].rfind("LatLon -1350.000000,", 0), 0u) << r.report[1];
}

TEST(BglParking, RepeatedIdsGetLetterSuffixesUpToJ) {
    bglgen::Airport a = airport();
    for (int i = 0; i < 12; ++i) a.parkings.push_back(parking(12));
    const BglFileResult r = decode(oneAirport(a));
    EXPECT_EQ(ids(r.airports.at(0)), (std::vector<std::string>{"g12", "g12a", "g12b", "g12c", "g12d", "g12e", "g12f",
                                                                "g12g", "g12h", "g12i", "g12j"}));
    ASSERT_EQ(r.report.size(), 1u);
    EXPECT_EQ(r.report[0], "===> Warning: more than 10 duplicate IDs g12 in Addon/scenery/TEST.bgl");
}

TEST(BglParking, IdPrefixesAndHeadings) {
    bglgen::Airport a = airport();
    const unsigned names[] = {0, 1, 3, 10, 11, 12, 37};
    for (unsigned i = 0; i < std::size(names); ++i) {
        bglgen::Parking p = parking(7);
        p.name = names[i];
        p.lat += i * 1e-3;
        p.heading = i == 0 ? 0.0f : 359.5f;
        a.parkings.push_back(p);
    }
    const BglFileResult r = decode(oneAirport(a));
    // Name 0 and DOCK (11) carry no prefix: the second "7" becomes "7a".
    EXPECT_EQ(ids(r.airports.at(0)), (std::vector<std::string>{"7", "r7", "np7", "g7", "7a", "A7", "Z7"}));
    EXPECT_DOUBLE_EQ(r.airports[0].stands[0].heading, kTwoPi);  // north is 2 pi, never 0
    EXPECT_NEAR(r.airports[0].stands[1].heading, 359.5 * 0.017453292519943295, 1e-9);
}

TEST(BglHelipad, HeliportStandsFromTheHelipads) {
    bglgen::Airport a = airport("EGHL");
    a.helipads = {{51.10, -1.10, 40.0f, 20.0f, 0.0f},     // length 40, width 20: radius 20
                  {51.11, -1.10, 20.0f, 20.0f, 255.8f},
                  {51.10, -1.10, 30.0f, 30.0f, 10.0f},    // same place as the first
                  {0.0, 0.0, 30.0f, 30.0f, 10.0f},
                  {51.12, -1.10, 15.0f, 15.0f, 90.0f}};
    a.parkings = {parking(1)};
    const BglFileResult r = decode(oneAirport(a));
    const BglAirport& got = r.airports.at(0);
    EXPECT_EQ(ids(got), (std::vector<std::string>{"helipad1", "helipad2", "helipad3", "g1"}));
    EXPECT_EQ(got.helipads, 3u);
    const BglStand& h1 = got.stands[0];
    EXPECT_TRUE(h1.heli);
    EXPECT_FALSE(h1.cargo || h1.ramp);
    EXPECT_DOUBLE_EQ(h1.radiusM, 20.0);
    EXPECT_DOUBLE_EQ(h1.heading, kTwoPi);
    EXPECT_NEAR(got.stands[1].heading, 255.8 * 0.017453292519943295, 1e-6);
    EXPECT_NEAR(got.stands[2].lat, 51.12, 1e-6);
    ASSERT_EQ(r.report.size(), 2u);
    EXPECT_EQ(r.report[0], "double helipad 51.100000,-1.100000 (skipped) ");
    EXPECT_EQ(r.report[1], "lat/lon helipad incorrect (skipped): 0.000000,0.000000");
}

TEST(BglAirport, StandsBelongToTheirOwnAirportRecord) {
    // The first airport has no parking list: the second airport's parkings,
    // which follow in the file, are not its own.
    bglgen::Airport first = airport("EGKK");
    bglgen::Airport second = airport("EGLL");
    second.parkings = {parking(1), parking(2)};
    bglgen::File f;
    f.airports = {first, second};
    const BglFileResult r = decode(f);
    ASSERT_EQ(r.airports.size(), 2u);
    EXPECT_TRUE(r.airports[0].stands.empty());
    EXPECT_EQ(ids(r.airports[1]), (std::vector<std::string>{"g1", "g2"}));
    EXPECT_TRUE(r.report.empty());
}

TEST(BglAirport, SubrecordWalkStopsAfterFiveThousandSteps) {
    bglgen::Airport a = airport();
    a.taxiPoints = 0;
    a.fillers = 5001;
    a.parkings = {parking(1)};
    BglFileResult r = decode(oneAirport(a));
    ASSERT_EQ(r.report.size(), 1u);
    EXPECT_EQ(r.report[0], "   Error: Maximum loop iterations reached");
    EXPECT_TRUE(r.airports.at(0).stands.empty());
    a.fillers = 4990;
    r = decode(oneAirport(a));
    EXPECT_TRUE(r.report.empty());
    EXPECT_EQ(r.airports.at(0).stands.size(), 1u);
}

// --- file level and damage

std::uint32_t word(const std::string& s, std::size_t i) {
    std::uint32_t w;
    std::memcpy(&w, s.data() + 4 * i, 4);
    return w;
}
void setWord(std::string& s, std::size_t i, std::uint32_t w) { std::memcpy(s.data() + 4 * i, &w, 4); }
void setSize(std::string& s, std::size_t byteOffset, std::uint32_t size) { std::memcpy(s.data() + byteOffset + 2, &size, 4); }

// Byte offset of the first airport record of a generated file.
std::size_t firstRecord(const std::string& s) { return word(s, word(s, 17) / 4 + 2); }

TEST(BglFile, HeaderOtherThanFiftySixIsIgnoredQuietly) {
    bglgen::File f = oneAirport(airport());
    f.airports[0].parkings = {parking(1)};
    f.headerSize = 60;
    const BglFileResult r = decode(f);
    EXPECT_TRUE(r.airports.empty());
    EXPECT_TRUE(r.report.empty());
    EXPECT_FALSE(hasAirportSection(bytesOf(bglgen::write(f))));
    for (std::string tiny : {std::string(), std::string(7, '\x38')}) {
        EXPECT_TRUE(decodeBglData(bytesOf(tiny), kPath, nullptr).report.empty());
        EXPECT_FALSE(hasAirportSection(bytesOf(tiny)));
    }
}

TEST(BglFile, AirportSectionFoundAmongOthers) {
    bglgen::File f = oneAirport(airport());
    EXPECT_TRUE(hasAirportSection(bytesOf(bglgen::write(f))));
    f.airports.clear();
    f.exclusion = true;
    f.objectSections = 3;
    EXPECT_FALSE(hasAirportSection(bytesOf(bglgen::write(f))));

    // More section headers than the first read of a file holds.
    test::TempDir dir(false);
    f = oneAirport(airport());
    f.objectSections = 40;
    f.airportsLast = true;
    bglgen::writeFile(dir / "many.bgl", f);
    EXPECT_TRUE(hasAirportSection(dir / "many.bgl"));
    f.airports.clear();
    bglgen::writeFile(dir / "none.bgl", f);
    EXPECT_FALSE(hasAirportSection(dir / "none.bgl"));
    EXPECT_FALSE(hasAirportSection(dir / "missing.bgl"));
    EXPECT_TRUE(decodeBglFile(dir / "many.bgl", nullptr).airports.size() == 1);
    EXPECT_FALSE(decodeBglFile(dir / "missing.bgl", nullptr).report.empty());
}

TEST(BglFile, WideSubsectionEntriesAreNotRead) {
    bglgen::File f = oneAirport(airport());
    std::string bytes = bglgen::write(f);
    setWord(bytes, 15, word(bytes, 15) | 0x10000);
    EXPECT_TRUE(decodeBglData(bytesOf(bytes), kPath, nullptr).airports.empty());
}

TEST(BglFile, TwoSectionsOnTheSameRecordsDecodeThemOnce) {
    bglgen::File f = oneAirport(airport());
    f.objectSections = 1;
    std::string bytes = bglgen::write(f);
    // Make the object section a second airport section over the same data.
    setWord(bytes, 19, 3);
    setWord(bytes, 22, word(bytes, 17));
    EXPECT_EQ(decodeBglData(bytesOf(bytes), kPath, nullptr).airports.size(), 1u);
}

TEST(BglFile, ZeroSizesEndTheWalk) {
    bglgen::Airport a = airport();
    a.helipads = {{51.1, -1.1, 20, 20, 0}};
    a.parkings = {parking(1)};
    std::string bytes = bglgen::write(oneAirport(a));
    const std::size_t record = firstRecord(bytes);

    std::string zeroRecord = bytes;
    setSize(zeroRecord, record, 0);
    BglFileResult r = decodeBglData(bytesOf(zeroRecord), kPath, nullptr);
    EXPECT_TRUE(r.airports.empty());
    ASSERT_EQ(r.report.size(), 1u);
    EXPECT_EQ(r.report[0], "==>    Warning: decodeSizeAtBoundary returned 0 at o2 = " + std::to_string(record / 4));

    // Name (16 bytes), helipad (36), then the taxiway points: a zero size
    // there keeps the helipad and loses the parkings.
    std::string zeroSub = bytes;
    const std::size_t points = record + 56 + 16 + 36;
    setSize(zeroSub, points, 0);
    r = decodeBglData(bytesOf(zeroSub), kPath, nullptr);
    ASSERT_EQ(r.report.size(), 1u);
    EXPECT_EQ(r.report[0], "   Warning: decodeSizeAtBoundary returned 0 at o3 = " + std::to_string(points / 4));
    EXPECT_EQ(ids(r.airports.at(0)), (std::vector<std::string>{"helipad1"}));
}

TEST(BglFile, CountsAndSizesBeyondTheDataEndTheFileWithAReport) {
    bglgen::Airport a = airport();
    a.parkings = {parking(1), parking(2)};
    const std::string bytes = bglgen::write(oneAirport(a));
    const std::size_t record = firstRecord(bytes);

    std::string many = bytes;  // a parking count larger than the list
    const std::size_t list = record + 56 + 16 + 104;  // after the name and the taxiway points
    ASSERT_EQ(word(bytes, list / 4) & 0xFFFF, 61u);
    many[list + 6] = 3;
    BglFileResult r = decodeBglData(bytesOf(many), kPath, nullptr);
    EXPECT_TRUE(r.airports.empty());
    ASSERT_EQ(r.report.size(), 1u);
    EXPECT_NE(r.report[0].find("Exception in decodeBglFile Addon/scenery/TEST.bgl: parking at o3 = "), std::string::npos)
        << r.report[0];

    std::string sections = bytes;  // more sections than the file holds
    setWord(sections, 5, 0xFFFFFFFF);
    r = decodeBglData(bytesOf(sections), kPath, nullptr);
    EXPECT_EQ(r.airports.size(), 1u);
    ASSERT_EQ(r.report.size(), 1u);
    EXPECT_NE(r.report[0].find("out of range"), std::string::npos);

    std::string pointer = bytes;  // a subsection entry beyond the end
    setWord(pointer, 17, 0x7FFFFFF0);
    r = decodeBglData(bytesOf(pointer), kPath, nullptr);
    EXPECT_TRUE(r.airports.empty());
    EXPECT_EQ(r.report.size(), 1u);

    std::string records = bytes;  // records said to start beyond the end
    setWord(records, word(bytes, 17) / 4 + 2, static_cast<std::uint32_t>(bytes.size() + 64));
    r = decodeBglData(bytesOf(records), kPath, nullptr);
    EXPECT_TRUE(r.airports.empty());
    ASSERT_EQ(r.report.size(), 1u);
    EXPECT_NE(r.report[0].find("out of range"), std::string::npos);
}

// Every prefix of a file is decoded without a read outside it: each ends in
// an airport, nothing, or a report line.
TEST(BglFile, EveryTruncationIsHandled) {
    bglgen::Airport a = airport();
    a.newLayout = true;
    a.helipads = {{51.1, -1.1, 20, 20, 0}};
    a.parkings = {parking(1), parking(2)};
    a.parkings[0].airlineCodes = 2;
    const std::string bytes = bglgen::write(oneAirport(a));
    std::size_t complete = 0, reported = 0;
    for (std::size_t n = 0; n <= bytes.size(); ++n) {
        const std::string prefix = bytes.substr(0, n);
        const BglFileResult r = decodeBglData(bytesOf(prefix), kPath, nullptr);
        if (!r.airports.empty() && r.airports[0].stands.size() == 3) ++complete;
        if (!r.report.empty()) ++reported;
    }
    EXPECT_GT(complete, 0u);
    EXPECT_GT(reported, bytes.size() / 2);
}

}  // namespace
