// Park files on disk: reading, the learned merge, writing in every mode and
// reading back, the lookup and the window's counts.
#include <gtest/gtest.h>

#include <numbers>

#include "airports/park_file.h"
#include "core/errors.h"
#include "core/hooks.h"
#include "core/status.h"
#include "park_fixture.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

std::string parkFile(const std::string& stands, const std::string& extraParameters = "",
                     const std::string& publisher = "stock") {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<meta><info name="author" value="test"/></meta>
<parameters>
  <parameter name="airport_name" value="Test Field"/>
  <parameter name="publisher" value=")" +
           publisher + R"("/>
  <parameter name="altitude" value="1416"/>)" +
           extraParameters + R"(
</parameters>
<parkpositions>)" + stands +
           "</parkpositions>\n";
}

// Two stands 30 m apart on one parallel, a helipad, and a stand at 0,0.
const std::string kStands = R"(
  <parkpos id="A1" latitude="47.450000" longitude="8.550000" heading="90.0" radius="20.0" cargo="false" ramp="false">
    <opt reg="HB-TST" airl="SWR" type="A320" day="3" hh="14,15" cs="SWR12:SWR13"/>
    <opt reg="HB-TSU" airl="SWR" type="A320" soft="true" day="3" hh="3,x,50"/>
  </parkpos>
  <parkpos id="ZERO" latitude="0" longitude="0" radius="20.0"/>
  <parkpos id="A2" latitude="47.450000" longitude="8.550400" heading="270.0" radius="20.0" cargo="true" ramp="false"/>
  <parkpos id="H1" latitude="47.460000" longitude="8.560000" heading="0.0" radius="10.0" heli="true" ramp="true"/>
)";

class ParkFiles : public test::ParkFolder {
protected:
    std::string read(const std::string& location, const std::string& code = "TEST") {
        airport = {};
        airport.code = code;
        return gf_readApf(location, airport);
    }
    const ParkPosition& stand(const std::string& id) const {
        for (const auto& p : airport.positions)
            if (p.id == id) return p;
        throw std::runtime_error("no stand " + id);
    }
    ParkAirport airport;
};

TEST_F(ParkFiles, ReadsStandsOccurrencesAndNeighbours) {
    write("airports/my_thirdparty/TEST.xml", parkFile(kStands, R"(<parameter name="Qf_real" value="12"/>)"));
    ASSERT_EQ(read("airports/my_thirdparty/TEST.xml"), "");
    ASSERT_EQ(airport.positions.size(), 3u);  // the stand at 0,0 is left out
    EXPECT_EQ(airport.altitude, 1416);
    EXPECT_EQ(airport.airport_name, "Test Field");
    EXPECT_EQ(airport.Qf_real, 12);
    EXPECT_EQ(airport.Qf_soft, -1);
    const ParkPosition& a1 = stand("A1");
    EXPECT_NEAR(a1.heading, std::numbers::pi / 2, 1e-12);
    EXPECT_NEAR(a1.radius * 1852, 20.0, 1e-9);
    EXPECT_EQ(a1.index, 1u);
    ASSERT_EQ(a1.occupancies.size(), 2u);
    const StandOccupancy& o = a1.occupancies[0];
    EXPECT_EQ(o.airline, "SWR");
    EXPECT_EQ(o.callsign, "SWR12");
    EXPECT_EQ(o.callsign_extra, "SWR13");
    EXPECT_EQ(o.hours.to_ullong(), (1ull << 14) | (1ull << 15));
    EXPECT_EQ(o.source, 1u);
    EXPECT_TRUE(o.real);
    EXPECT_EQ(a1.occupancies[1].number, 2u);
    EXPECT_FALSE(a1.occupancies[1].real);
    EXPECT_EQ(a1.occupancies[1].hours.to_ullong(), 1ull << 3);  // 3 kept, "x" and 50 refused
    EXPECT_TRUE(stand("A2").cargo);
    EXPECT_TRUE(stand("H1").heli && stand("H1").ramp);
    // A1 and A2 (30 m apart, 20 m radius each) overlap; H1 is far from both.
    EXPECT_EQ(a1.neighbours, std::vector<std::uint32_t>{2});
    EXPECT_EQ(stand("A2").neighbours, std::vector<std::uint32_t>{1});
    EXPECT_TRUE(stand("H1").neighbours.empty());

    EXPECT_TRUE(logged("==> gf_hours2bitset invalid hour 'x' in 3,x,50"));
    EXPECT_TRUE(logged("==> gf_hours2bitset invalid hour '50' in 3,x,50"));
    EXPECT_FALSE(logged("ZERO"));
    EXPECT_TRUE(logged(fmt::format("{:24}: {}", "num_parkpos", 3)));
    EXPECT_TRUE(logged(fmt::format("{:24}: {}", "quality factor", "12/-1")));
    EXPECT_TRUE(logged("Airport file read from 'airports/my_thirdparty/TEST.xml' for TEST"));
}

TEST_F(ParkFiles, UserErrorsAndErrorTexts) {
    write("airports/my_thirdparty/DUP.xml", parkFile(R"(<parkpos id="S1" latitude="1" longitude="1"/>
                                                       <parkpos id="S1" latitude="2" longitude="2"/>)"));
    try {
        read("airports/my_thirdparty/DUP.xml");
        FAIL() << "no user error";
    } catch (const UserErrorException& e) {
        EXPECT_EQ(e.code(), 94);
        EXPECT_STREQ(e.what(), "94: Parking position S1 appears more than once?");
    }
    write("airports/my_thirdparty/NOALT.xml", "<parameters><parameter name=\"publisher\" value=\"x\"/></parameters>");
    try {
        read("airports/my_thirdparty/NOALT.xml");
        FAIL() << "no user error";
    } catch (const UserErrorException& e) {
        EXPECT_STREQ(e.what(), "65: Parameter altitude not found");
    }
    EXPECT_EQ(read(""), "gf_readApf: xml is empty");
    EXPECT_EQ(read("airports/my_thirdparty/TEST.xml", ""), "gf_readApf: no park airport set");
    write("airports/my_thirdparty/BAD.xml", "<parameters><parameter");
    EXPECT_NE(read("airports/my_thirdparty/BAD.xml").find("airports/my_thirdparty/BAD.xml: could not load file: "),
              std::string::npos);
    write("airports/my_thirdparty/EMPTY.xml", parkFile(""));
    EXPECT_EQ(read("airports/my_thirdparty/EMPTY.xml"), "no stands found");
}

TEST_F(ParkFiles, LearnedFileMergesChangesAndOnlyNewOccurrences) {
    write("airports/my_thirdparty/TEST.xml", parkFile(kStands));
    // Learned: the same real opt on the same day with an overlapping half hour
    // (not added), on another day (added), the same as soft (added); a radius
    // and a cargo change; a stand made by hand; three entries that are refused.
    write("airports/learned/stock/TEST.xml", parkFile(R"(
      <parkpos id="A1" radius_change="true" radius="25.0">
        <opt reg="HB-TST" airl="SWR" type="A320" day="3" hh="15,16" cs="SWR12"/>
        <opt reg="HB-TST" airl="SWR" type="A320" day="4" hh="15,16" cs="SWR12"/>
        <opt reg="HB-TST" airl="SWR" type="A320" soft="true" day="3" hh="15" cs="SWR12"/>
      </parkpos>
      <parkpos id="A2" cargo_change="true" cargo="false"/>
      <parkpos id="M1" latitude="47.451" longitude="8.551" heading="45" radius="15" manual="true"/>
      <parkpos id="A2" latitude="47.451" longitude="8.551" radius="15" manual="true"/>
      <parkpos id="M2" latitude="47.452" manual="true"/>
      <parkpos id="NOPE"/>)",
                                                       R"(<parameter name="MAX_LIVE" value="70"/>
      <parameter name="MAX_FIT" value="11"/><parameter name="WEEK" value="true"/>)"));
    ASSERT_EQ(read("airports/my_thirdparty/TEST.xml"), "");
    const ParkPosition& a1 = stand("A1");
    ASSERT_EQ(a1.occupancies.size(), 4u);
    EXPECT_EQ(a1.occupancies[2].day, 4u);
    EXPECT_EQ(a1.occupancies[2].number, 3u);
    EXPECT_EQ(a1.occupancies[2].source, 0u);
    EXPECT_FALSE(a1.occupancies[3].real);
    EXPECT_TRUE(a1.radius_change);
    EXPECT_NEAR(a1.radius * 1852, 25.0, 1e-9);
    EXPECT_TRUE(stand("A2").cargo_change);
    EXPECT_FALSE(stand("A2").cargo);
    EXPECT_TRUE(stand("M1").manual);
    EXPECT_EQ(stand("M1").index, 4u);
    EXPECT_EQ(airport.positions.size(), 4u);
    // The quality factors now come from the merged stands.
    EXPECT_EQ(std::make_pair(airport.Qf_real, airport.Qf_soft), computeQualityFactors(airport.positions));
    EXPECT_EQ(params().MAX_LIVE_SEL.get(), 75);
    EXPECT_EQ(params().MAX_FIT.get(), 11);
    EXPECT_FLOAT_EQ(params().MAX_FIT_FL.get(), 6.0f);
    EXPECT_TRUE(params().WEEK);
    EXPECT_TRUE(logged("Read from learned airport file: 'airports/learned/stock/TEST.xml'"));
    EXPECT_TRUE(logged("manually created standid A2 already exists in airports/learned/stock/TEST.xml"));
    EXPECT_TRUE(logged("manually created standid M2 misses correct attributes in airports/learned/stock/TEST.xml"));
    EXPECT_TRUE(logged("learned stand NOPE in airports/learned/stock/TEST.xml not found?"));
}

TEST_F(ParkFiles, HandmadeLearnedFileReplacesTheArchivedStands) {
    write("airports/my_thirdparty/TEST.xml", parkFile(kStands));
    write("airports/learned/stock/TEST.xml",
          parkFile(R"(<parkpos id="ONLY" latitude="47.45" longitude="8.55" heading="10" radius="30"/>)",
                   R"(<parameter name="handmade" value="true"/>)"));
    ASSERT_EQ(read("airports/my_thirdparty/TEST.xml"), "");
    ASSERT_EQ(airport.positions.size(), 1u);
    EXPECT_EQ(airport.positions[0].id, "ONLY");
    EXPECT_TRUE(airport.handmade);
    EXPECT_TRUE(logged("A handmade airport file overruled the archived file!"));
}

TEST_F(ParkFiles, BrokenLearnedFileIsSetAsideAndIgnored) {
    write("airports/my_thirdparty/TEST.xml", parkFile(kStands));
    write("airports/learned/stock/TEST.xml", "<parameters><broken");
    ASSERT_EQ(read("airports/my_thirdparty/TEST.xml"), "");
    EXPECT_EQ(airport.positions.size(), 3u);
    EXPECT_EQ(test::readFile(tmp / "airports/learned/stock/TEST0.xml"), "<parameters><broken");
    EXPECT_TRUE(logged("airports/learned/stock/TEST.xml found, but could not be loaded, saved as *.0.xml: "));
}

TEST_F(ParkFiles, APublisherNameNeverLeadsTheLearnedFileOutOfItsFolder) {
    // The publisher is the park file's own text: a third party's file (or a
    // damaged download) may name anything.
    for (const std::string publisher : {"../../../outside", "..", "C:\\Windows", "a/../../b", "..\\..\\x"}) {
        SCOPED_TRACE(publisher);
        write("airports/my_thirdparty/TEST.xml", parkFile(kStands, "", publisher));
        ASSERT_EQ(read("airports/my_thirdparty/TEST.xml"), "");
        ++airport.updates;
        ASSERT_TRUE(saveLearnedFile(airport));
        const fs::path saved = learnedFilePath("TEST", publisher);
        ASSERT_TRUE(fs::exists(tmp.path() / saved));
        EXPECT_TRUE(fs::equivalent((tmp.path() / saved).parent_path().parent_path(), tmp / "airports/learned/thirdparty"));
        // Read again, the saved file is the one merged.
        ASSERT_EQ(read("airports/my_thirdparty/TEST.xml"), "");
        fs::remove_all(tmp / "airports/learned/thirdparty");
    }
    EXPECT_FALSE(fs::exists(tmp / "outside"));
    EXPECT_FALSE(fs::exists(tmp / "TEST.xml"));
    EXPECT_FALSE(fs::exists(tmp / "airports/TEST.xml"));
    // Plain publisher names keep their folders.
    EXPECT_EQ(learnedFilePath("TEST", "FlyTampa").generic_string(), "airports/learned/thirdparty/FlyTampa/TEST.xml");
    EXPECT_EQ(learnedFilePath("TEST", "stock").generic_string(), "airports/learned/stock/TEST.xml");
}

TEST_F(ParkFiles, WithoutLearnedFileTheSettingsFollowQualityAndCatalogue) {
    catalogue(R"(<airport code="TEST" iata="TST" lat="47.45" lon="8.55" alt="1" stands="2"/>)");
    params().PARK_SOFT.set(true);
    write("airports/my_thirdparty/TEST.xml", parkFile(kStands, R"(<parameter name="Qf_real" value="46"/>)"));
    ASSERT_EQ(read("airports/my_thirdparty/TEST.xml"), "");
    EXPECT_FALSE(params().PARK_SOFT);
    EXPECT_EQ(params().parking_percentage.get(), 50);
    params().MAX_FIT.set(3);
    write("airports/my_thirdparty/TEST.xml", parkFile(kStands, R"(<parameter name="Qf_soft" value="4"/>)"));
    ASSERT_EQ(read("airports/my_thirdparty/TEST.xml"), "");  // Qf_real unknown: soft and weekly parking
    EXPECT_TRUE(params().PARK_SOFT && params().WEEK);
    EXPECT_EQ(params().MAX_FIT.get(), 47);
    EXPECT_EQ(read("airports/my_thirdparty/TEST.xml", "ZZZZ"), "");  // not in the catalogue: 30 %
    EXPECT_EQ(params().parking_percentage.get(), 30);
}

TEST_F(ParkFiles, LookupTakesTheFirstPlaceThatHasTheAirport) {
    catalogue(R"(<airport code="STCK" iata="S" lat="1" lon="1" alt="1" stands="1"/>
                 <airport code="NONE" iata="N" lat="1" lon="1" alt="1" stands="0"/>)");
    EXPECT_EQ(findParkFileLocation("STCK"), "archive/stock/STCK.xml");
    EXPECT_EQ(findParkFileLocation("NONE"), "");
    write("airports/my_ORBX/STCK.xml", "x");
    EXPECT_EQ(findParkFileLocation("STCK"), "airports/my_ORBX/STCK.xml");
    write("airports/my_ORBX/STCK.txt", "archive/simaddon/STCK.xml  \r\n");
    EXPECT_EQ(findParkFileLocation("STCK"), "archive/simaddon/STCK.xml");
    write("airports/my_thirdparty/STCK.xml", "x");
    EXPECT_EQ(findParkFileLocation("STCK"), "airports/my_thirdparty/STCK.xml");
    // A redirect is the text up to the first ".xml"; one without ".xml" is no redirect.
    write("airports/my_thirdparty/STCK.txt", "archive/thirdparty/Fly%20Tampa/STCK.xml.old trailing words");
    EXPECT_EQ(findParkFileLocation("STCK"), "archive/thirdparty/Fly%20Tampa/STCK.xml");
    write("airports/my_thirdparty/STCK.txt", "nothing here\n");
    EXPECT_EQ(findParkFileLocation("STCK"), "airports/my_thirdparty/STCK.xml");
    EXPECT_EQ(archiveCachePath("archive/thirdparty/Fly%20Tampa/STCK.xml").generic_string(),
              "airports/stock/thirdparty/Fly Tampa/STCK.xml");
}

TEST_F(ParkFiles, TheWindowCountsLearnedAndThirdPartyFiles) {
    write("airports/learned/stock/EGLL.xml", "x");
    write("airports/learned/simaddon/LSZH.xml", "x");
    fs::create_directories(tmp / "airports/learned/thirdparty/Fly Tampa");
    write("airports/learned/thirdparty/Fly Tampa/EHAM.xml", "x");
    write("airports/my_thirdparty/EHAM.txt", "archive/thirdparty/Fly%20Tampa/EHAM.xml");
    write("airports/my_thirdparty/KSEA.xml", "x");
    installParkFileHooks();
    hooks().countParkFiles();
    EXPECT_EQ(indicators().learnedCount.load(), 3);
    EXPECT_EQ(indicators().thirdpCount.load(), 2);
    indicators().learnedCount = -1;
    indicators().thirdpCount = -1;
}

TEST(QualityFactors, WeighTheStandsWithOccurrences) {
    std::vector<ParkPosition> stands(2);
    EXPECT_EQ(computeQualityFactors(stands), std::make_pair(-1, -1));
    StandOccupancy o;
    o.number = 1;
    o.day = 1;
    o.hours = 0b111;
    stands[0].occupancies.push_back(o);
    // One stand of two: (20 + 10000 + 100 + 6) / 2 x 0.00625 = 31.6
    EXPECT_EQ(computeQualityFactors(stands), std::make_pair(32, 0));
    stands[0].occupancies[0].number = 0;  // withdrawn occurrences do not count
    EXPECT_EQ(computeQualityFactors(stands), std::make_pair(0, 0));
}

}  // namespace
