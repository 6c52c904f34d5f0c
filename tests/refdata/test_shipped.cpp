// The data files the build makes from data/, read by the program's own readers.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "airports/catalogue.h"
#include "refdata/dbase.h"
#include "refdata/temp_input.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

class ShippedData : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* f : {"dbase.enc", "airports.enc", "AIG-regcodes.enc"})
            fs::copy_file(fs::path(VNTX_BUILD_INPUT) / f, tmp.path(f));
        std::ifstream in(VNTX_REFDATA_COUNTS);
        counts = nlohmann::json::parse(in);
        resetAirportCatalogue();
    }
    void TearDown() override { resetAirportCatalogue(); }
    test::TempInput tmp;
    nlohmann::json counts;
};

TEST_F(ShippedData, ReadersFindWhatTheBuildWrote) {
    ASSERT_TRUE(gf_readDbase());
    ASSERT_TRUE(gf_readAirports());
    const std::string log = tmp.log();
    EXPECT_NE(log.find(fmt::format("{} dbase records read", counts["dbase records"].get<int>())), std::string::npos);
    EXPECT_NE(log.find(fmt::format("{} publishers read", counts["publishers"].get<int>())), std::string::npos);
    EXPECT_NE(log.find(fmt::format("{} airports read", counts["airports"].get<int>())), std::string::npos);
    // Nothing of the shipped data is refused by the readers.
    EXPECT_EQ(log.find("not valid"), std::string::npos);
    EXPECT_EQ(log.find("already exists"), std::string::npos);
    EXPECT_EQ(log.find("==> Missing"), std::string::npos);
    for (const char* f : {"dbase.xml", "airports.xml"}) EXPECT_FALSE(fs::exists(tmp.path(f))) << f;

    const Database& db = database();
    EXPECT_EQ(db.models().size(), counts["models"].get<std::size_t>());
    EXPECT_EQ(db.wingspanCount(), counts["wingspans"].get<std::size_t>());
    EXPECT_EQ(db.fixCount(), counts["model fixes"].get<std::size_t>());
    EXPECT_EQ(db.airlineCount(), counts["airlines"].get<std::size_t>());
    EXPECT_EQ(db.cargoOperatorCount(), counts["cargo operators"].get<std::size_t>());
    EXPECT_EQ(db.similarGroups().size(), counts["similar groups"].get<std::size_t>());
    EXPECT_EQ(db.classSize(AircraftCategory::Large), counts["class large"].get<std::size_t>());
    EXPECT_GE(db.airlineCount(), 1000u);
    EXPECT_GE(db.cargoOperatorCount(), 40u);
    EXPECT_GE(airportCatalogue().size(), 5000u);
}

TEST_F(ShippedData, WellKnownFactsHold) {
    ASSERT_TRUE(gf_readDbase());
    ASSERT_TRUE(gf_readAirports());
    EXPECT_EQ(aircraftCategory("B738"), AircraftCategory::Large);
    EXPECT_EQ(aircraftCategory("DH8D"), AircraftCategory::Large);
    EXPECT_EQ(aircraftCategory("B744"), AircraftCategory::Heavy);
    EXPECT_EQ(aircraftCategory("GLF5"), AircraftCategory::Buzjets);
    EXPECT_EQ(aircraftCategory("EC35"), AircraftCategory::Rotorcraft);
    EXPECT_EQ(aircraftCategory("EUFI"), AircraftCategory::HighPerf);
    EXPECT_EQ(aircraftCategory("C172"), AircraftCategory::Light);
    EXPECT_EQ(modelFix("E-190"), "E190");
    EXPECT_EQ(modelFix("737-800"), "B738");
    EXPECT_EQ(modelFix("Typhoon"), "EUFI");  // the atc_model of the sample Eurofighter liveries
    EXPECT_TRUE(database().isCargoOperator("FDX"));
    EXPECT_TRUE(database().isValidAirline("ZZZ"));  // generic liveries keep it as their airline
    EXPECT_TRUE(database().isCargoType("B77L") || database().isCargoType("MD11"));
    // A 737-800 spans about 34-36 m.
    EXPECT_NEAR(halfWingspan("B738") * 2 * 1852, 35, 1.5);
    EXPECT_GT(largestHalfWingspan(), halfWingspan("B744"));
    EXPECT_EQ(database().publisherOfPath("C:/Scenery/FlyTampa-Boston"), "FlyTampa");

    const AirportEntry* eham = findAirport("EHAM");
    ASSERT_NE(eham, nullptr);
    EXPECT_EQ(eham->iata, "AMS");
    EXPECT_EQ(eham->stands, 1);
    EXPECT_NEAR(eham->alt, -11, 20);
    // Standing beside the Polderbaan: Schiphol is the closest airport.
    ASSERT_NE(closestAirport(52.33, 4.72), nullptr);
    EXPECT_EQ(closestAirport(52.33, 4.72)->code, "EHAM");
}

}  // namespace
