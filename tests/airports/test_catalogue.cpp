#include <gtest/gtest.h>

#include <map>

#include "airports/catalogue.h"
#include "core/errors.h"
#include "refdata/temp_input.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override { resetAirportCatalogue(); }
    void TearDown() override {
        resetAirportCatalogue();
        setClosestStandReader(nullptr);
    }
    void install(const std::string& body) {
        streamEncrypt("<?xml version=\"1.0\"?>\n" + body, tmp.path("airports.enc"));
    }
    // An airport `nm` nautical miles north (negative: south) of 0/0.
    static std::string at(const std::string& code, double nm) {
        return "<airport code=\"" + code + "\" iata=\"X\" lat=\"" + std::to_string(nm / 60.0) +
               "\" lon=\"0\" alt=\"10\" stands=\"1\"/>";
    }
    test::TempInput tmp;
};

TEST(DistanceNm, OneMinuteOfArcIsOneNauticalMile) {
    EXPECT_NEAR(distanceNm(0, 0, 1, 0), 60.0, 1e-9);
    EXPECT_NEAR(distanceNm(10, 20, 10, 20), 0.0, 1e-12);
    // Amsterdam - Zurich, about 325 nm, either way round.
    EXPECT_NEAR(distanceNm(52.3086, 4.7639, 47.4647, 8.5492), 325, 3);
    EXPECT_DOUBLE_EQ(distanceNm(52.3086, 4.7639, 47.4647, 8.5492), distanceNm(47.4647, 8.5492, 52.3086, 4.7639));
    EXPECT_NEAR(distanceNm(0, 0, 0, 180), 6875.493541569878 * 3.141592653589793 / 2, 1e-6);
}

TEST_F(Catalogue, LoadsSortsAndSkipsIncompleteEntries) {
    install(R"(<airports>
      <airport code="LSZH" iata="ZRH" lat="47.46" lon="8.55" alt="1416" stands="2"/>
      <airport code="EHAM" iata="AMS" lat="52.31" lon="4.76" alt="-11"/>
      <airport code="NOIA" lat="1" lon="1" alt="1" stands="0"/>
      <airport code="NOLL" iata="NLL" lon="1" alt="1" stands="0"/>
      <airport code="NOAL" iata="NAL" lat="1" lon="1" stands="0"/>
      <airport code="EDDF" iata="FRA" lat="50.03" lon="8.57" alt="364" stands="1"/>
    </airports>)");
    ASSERT_TRUE(gf_readAirports());
    const auto& all = airportCatalogue();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].code, "EDDF");
    EXPECT_EQ(all[1].code, "EHAM");
    EXPECT_EQ(all[2].code, "LSZH");
    EXPECT_EQ(all[1].stands, 0);  // missing "stands": kept with class 0
    EXPECT_EQ(all[1].alt, -11);
    EXPECT_EQ(all[2].stands, 2);
    EXPECT_FALSE(fs::exists(tmp.path("airports.xml")));
    const std::string log = tmp.log();
    EXPECT_NE(log.find("==> Missing stands for airport 'EHAM'"), std::string::npos);
    EXPECT_NE(log.find("==> Missing IATA for airport 'NOIA'"), std::string::npos);
    EXPECT_NE(log.find("==> Missing latLons for airport 'NOLL'"), std::string::npos);
    EXPECT_NE(log.find("==> Missing alt for airport 'NOAL'"), std::string::npos);
    EXPECT_NE(log.find("3 airports read"), std::string::npos);

    ASSERT_NE(findAirport("LSZH"), nullptr);
    EXPECT_EQ(findAirport("LSZH")->iata, "ZRH");
    EXPECT_EQ(findAirport("lszh"), nullptr);
    EXPECT_EQ(findAirport("LSZ"), nullptr);
    EXPECT_TRUE(isRtSupportedAirport("EDDF"));
    EXPECT_FALSE(isRtSupportedAirport("NOIA"));

    // Loaded once per run: a changed file is not read again.
    install("<airports/>");
    EXPECT_TRUE(gf_readAirports());
    EXPECT_EQ(airportCatalogue().size(), 3u);
}

TEST_F(Catalogue, RootOnlyLoadsEmptyAndAnswersFalse) {
    install("<airports/>");
    EXPECT_FALSE(gf_readAirports());
    EXPECT_NE(tmp.log().find("0 airports read"), std::string::npos);
}

TEST_F(Catalogue, UnusableFilesAreUserErrors88) {
    const auto error = [this](const std::string& body) {
        resetAirportCatalogue();
        install(body);
        try {
            gf_readAirports();
        } catch (const UserErrorException& e) {
            EXPECT_EQ(e.code(), 88);
            EXPECT_FALSE(fs::exists(tmp.path("airports.xml")));
            return e.text();
        }
        return std::string("no error");
    };
    EXPECT_NE(error("<airports><airport").find("airports.xml not loaded: "), std::string::npos);
    EXPECT_NE(error("<places/>").find("Missing <airports> root in: "), std::string::npos);
    // A file that cannot be deciphered leaves nothing to parse.
    fs::remove(tmp.path("airports.enc"));
    resetAirportCatalogue();
    EXPECT_THROW(gf_readAirports(), UserErrorException);
}

TEST_F(Catalogue, ClosestAirportTakesTheNeighbourWithTheNearerStand) {
    // In code order the 4 nm airport comes first and is displaced by the 3 nm one.
    install("<airports>" + at("AAAA", 4) + at("BBBB", -3) + at("CCCC", 20) + "</airports>");
    ASSERT_TRUE(gf_readAirports());
    std::map<std::string, double> stand = {{"AAAA", 0.2}, {"BBBB", 0.6}};
    int reads = 0;
    setClosestStandReader([&](const AirportEntry& a, double, double, std::string& id) {
        ++reads;
        id = a.code + "-S1";
        return stand[a.code];
    });
    const AirportEntry* got = closestAirport(0, 0);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->code, "AAAA");
    EXPECT_EQ(reads, 2);
    const std::string log = tmp.log();
    EXPECT_NE(log.find("Airport BBBB is closest, neighbour is AAAA"), std::string::npos);
    EXPECT_NE(log.find("Airport BBBB is closest, but stand AAAA-S1 at neighbouring airport AAAA is closer at 370 meters ..."),
              std::string::npos);

    stand = {{"AAAA", 0.6}, {"BBBB", 0.6}};  // a tie keeps the closest airport
    EXPECT_EQ(closestAirport(0, 0)->code, "BBBB");
    setClosestStandReader(nullptr);  // no park files: every stand counts as 100 nm
    EXPECT_EQ(closestAirport(0, 0)->code, "BBBB");
}

TEST_F(Catalogue, ClosestAirportFirstInOrderLeavesNoNeighbour) {
    install("<airports>" + at("AAAA", -3) + at("BBBB", 4) + "</airports>");
    ASSERT_TRUE(gf_readAirports());
    int reads = 0;
    setClosestStandReader([&](const AirportEntry&, double, double, std::string&) {
        ++reads;
        return 0.0;
    });
    EXPECT_EQ(closestAirport(0, 0)->code, "AAAA");
    EXPECT_EQ(reads, 0);
}

TEST_F(Catalogue, FiveNauticalMilesIsTheLimit) {
    install("<airports>" + at("EXAC", 5.0) + "</airports>");
    ASSERT_TRUE(gf_readAirports());
    ASSERT_NE(closestAirport(0, 0), nullptr);
    EXPECT_EQ(closestAirport(0, 0)->code, "EXAC");

    resetAirportCatalogue();
    install("<airports>" + at("OVER", -5.01) + "</airports>");
    ASSERT_TRUE(gf_readAirports());
    EXPECT_EQ(closestAirport(0, 0), nullptr);
}

}  // namespace
