#include <gtest/gtest.h>

#include <map>
#include <pugixml.hpp>

#include "core/errors.h"
#include "refdata/dbase.h"
#include "refdata/temp_input.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

// A small dbase.xml; sections can be replaced or dropped by name.
std::string dbaseText(std::map<std::string, std::string> replace = {}) {
    std::map<std::string, std::string> s = {
        {"aircrafts", R"(<aircrafts><aircraft types="B738,A320,B744,C172,GLF5,EC35,F16"/><aircraft types="A388,E190"/></aircrafts>)"},
        {"high_performance", R"(<high_performance><hpf types="F16"/></high_performance>)"},
        {"heavy", R"(<heavy><hvy types="B744,A388,E190"/></heavy>)"},
        {"large", R"(<large><lar types="B738,A320,E190"/></large>)"},
        {"buzjet", R"(<buzjet><bzj types="GLF5"/></buzjet>)"},
        {"rotorcraft", R"(<rotorcraft><rot types="EC35"/></rotorcraft>)"},
        {"cargo_types", R"(<cargo_types><cargo_type types="B744"/></cargo_types>)"},
        {"similar_types", R"(<similar_types><similar types="A320,B738"/><similar types="B744,A388"/></similar_types>)"},
        {"ICAO_airlines", R"(<ICAO_airlines><ICAO codes="KLM,DLH"/><ICAO codes="FDX"/></ICAO_airlines>)"},
        {"cargo_operators", R"(<cargo_operators><ICAO codes="FDX"/></cargo_operators>)"},
        {"publishers", R"(<publishers><pub names="FlyTampa,Fly Tampa"/><pub names="Aerosoft,AS"/></publishers>)"},
        {"wingspans", R"(<wingspans><wingspan type="B738" meters="35.8"/><wingspan type="A320" meters="34.1"/>)"
                      R"(<wingspan type="B738" meters="99"/><wingspan type="ZZZZ" meters="10"/>)"
                      R"(<wingspan type="B744" meters="64.4"/><wingspan type="A388" meters="79.8"/></wingspans>)"},
        {"fixes", R"(<fixes><fx wro="737-800" cor="B738"/><fx wro="737-800" cor="A320"/><fx wro="E-190" cor="E19X"/></fixes>)"},
        {"simaddonsP3D", R"(<simaddonsP3D><simaddonP3D arpts="LOWI,EGLC"/></simaddonsP3D>)"},
        {"thirdpartiesP3D", R"(<thirdpartiesP3D><thirdpartieP3D pub="FlyTampa" arpts="KBOS,EHAM"/></thirdpartiesP3D>)"},
        {"dbase", R"(<dbase><db reg="PH-BXA" airl="KLM" type="B738" opr="KLM" cargo="false"/>)"
                  R"(<db reg="N850FD" airl="FDX" type="B77L" cargo="true"/><db reg="PH-BXA" airl="XXX"/></dbase>)"},
    };
    for (auto& [k, v] : replace) s[k] = v;
    std::string text = "<?xml version=\"1.0\"?>\n";
    for (auto& [k, v] : s) text += v + "\n";
    return text;
}

Database loaded(const std::string& text) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(text.c_str()));
    Database db;
    db.load(doc);
    return db;
}

class DbaseTest : public ::testing::Test {
protected:
    test::TempInput tmp;
};

TEST_F(DbaseTest, CategoryFollowsTheClassOrder) {
    const Database db = loaded(dbaseText());
    EXPECT_EQ(db.category("E190"), AircraftCategory::Large);  // in large and heavy
    EXPECT_EQ(db.category("B744"), AircraftCategory::Heavy);
    EXPECT_EQ(db.category("GLF5"), AircraftCategory::Buzjets);
    EXPECT_EQ(db.category("EC35"), AircraftCategory::Rotorcraft);
    EXPECT_EQ(db.category("F16"), AircraftCategory::HighPerf);
    EXPECT_EQ(db.category("C172"), AircraftCategory::Light);
    EXPECT_EQ(db.category("QQQQ"), AircraftCategory::Light);  // not a model at all
    EXPECT_TRUE(db.isValidModel("C172"));
    EXPECT_FALSE(db.isValidModel("c172"));
    EXPECT_FALSE(db.isValidModel(""));
    EXPECT_TRUE(db.isValidAirline("KLM"));
    EXPECT_FALSE(db.isValidAirline(""));
    EXPECT_STREQ(categoryName(AircraftCategory::Buzjets), "Buzjets");
}

TEST_F(DbaseTest, WingspansAreHalvedInNauticalMilesWithClassAverages) {
    const Database db = loaded(dbaseText());
    EXPECT_NEAR(db.halfWingspan("B738"), 0.009665, 1e-6);  // the first value of a repeated type stays
    const double a320 = 34.1 * 0.5 / 1852;
    EXPECT_NEAR(db.classAverageHalfWingspan(AircraftCategory::Large), (35.8 * 0.5 / 1852 + a320) / 2, 1e-12);
    // E190 has no span of its own: the Large average.
    EXPECT_DOUBLE_EQ(db.halfWingspan("E190"), db.classAverageHalfWingspan(AircraftCategory::Large));
    // The repeated B738 of 99 m still raises the largest value; ZZZZ is not a model.
    EXPECT_NEAR(db.largestHalfWingspan(), 99 * 0.5 / 1852, 1e-12);
    EXPECT_EQ(db.classAverageHalfWingspan(AircraftCategory::Rotorcraft), 0.0);
    EXPECT_EQ(db.wingspanCount(), 4u);
    EXPECT_NE(tmp.log().find("wingspan model ZZZZ is not valid, skipped"), std::string::npos);
}

TEST_F(DbaseTest, FixesKeepTheFirstAndDropInvalidTargets) {
    const Database db = loaded(dbaseText());
    EXPECT_EQ(db.modelFix("737-800"), "B738");
    EXPECT_FALSE(db.modelFix("E-190").has_value());
    EXPECT_FALSE(db.modelFix("B738").has_value());
    const std::string log = tmp.log();
    EXPECT_NE(log.find("wrong part of fix: '737-800', already exists, skipped"), std::string::npos);
    EXPECT_NE(log.find("wrong fix E-190 -> E19X, the latter is not valid"), std::string::npos);
}

TEST_F(DbaseTest, DuplicateRegistrationKeepsTheFirst) {
    const Database db = loaded(dbaseText());
    ASSERT_NE(db.registration("PH-BXA"), nullptr);
    EXPECT_EQ(db.registration("PH-BXA")->airline, "KLM");
    EXPECT_EQ(db.registration("PH-BXA")->model, "B738");
    EXPECT_FALSE(db.registration("PH-BXA")->cargo);
    EXPECT_TRUE(db.registration("N850FD")->cargo);
    EXPECT_EQ(db.registration("N850FD")->opr, "");
    EXPECT_EQ(db.registration("ph-bxa"), nullptr);
    EXPECT_EQ(db.registrationCount(), 2u);
    const std::string log = tmp.log();
    EXPECT_NE(log.find("regcode PH-BXA already exists"), std::string::npos);
    EXPECT_EQ(log.find("regcode PH-BXA already exists"), log.rfind("regcode PH-BXA already exists"));
}

TEST_F(DbaseTest, EmptyRequiredSectionsStopTheLoad) {
    const auto message = [](const std::string& text) {
        try {
            loaded(text);
        } catch (const UserErrorException& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message(dbaseText({{"cargo_types", ""}})),
              "In XML file section [cargo_types], element [cargo_type], attribute [types] is empty.");
    // Children with empty lists count as empty too.
    EXPECT_EQ(message(dbaseText({{"simaddonsP3D", R"(<simaddonsP3D><simaddonP3D arpts=""/></simaddonsP3D>)"}})),
              "In XML file section [simaddonsP3D], element [simaddonP3D], attribute [arpts] is empty.");
    // Optional sections may be missing.
    EXPECT_EQ(message(dbaseText({{"similar_types", ""}, {"thirdpartiesP3D", ""}, {"dbase", ""}})), "no error");
}

TEST_F(DbaseTest, ListsAndPublishersKeepFileOrder) {
    const Database db = loaded(dbaseText());
    ASSERT_EQ(db.similarGroups().size(), 2u);
    EXPECT_EQ(db.similarGroups()[0], (std::vector<std::string>{"A320", "B738"}));
    ASSERT_EQ(db.publisherSceneries().size(), 1u);
    EXPECT_EQ(db.publisherSceneries()[0].airports, (std::vector<std::string>{"KBOS", "EHAM"}));
    EXPECT_EQ(db.addonAirports().count("EGLC"), 1u);
    EXPECT_NE(tmp.log().find("2 publishers read"), std::string::npos);
}

TEST_F(DbaseTest, PublisherOfASceneryPath) {
    const Database db = loaded(dbaseText());
    std::vector<std::string> messages;
    EXPECT_EQ(db.publisherOfPath("C:/P3D/Orbx/FTX_EU/LOWI", &messages), "simaddon");
    EXPECT_EQ(messages, (std::vector<std::string>{"from filename => publisher simaddon"}));
    EXPECT_EQ(db.publisherOfPath("D:/Addons/FLY TAMPA Boston/scenery"), "FlyTampa");  // alias, any case
    EXPECT_EQ(db.publisherOfPath("D:/Addons/as_EDDF"), "Aerosoft");
    EXPECT_EQ(db.publisherOfPath("D:/Addons/Other/scenery"), "");
}

TEST_F(DbaseTest, ReadsTheEncipheredFileAndRemovesThePlainTwin) {
    streamEncrypt(dbaseText(), tmp.path("dbase.enc"));
    ASSERT_TRUE(gf_readDbase());
    EXPECT_FALSE(fs::exists(tmp.path("dbase.xml")));
    EXPECT_EQ(database().category("E190"), AircraftCategory::Large);
    EXPECT_NE(tmp.log().find("2 dbase records read"), std::string::npos);
}

TEST_F(DbaseTest, ReadFailuresAreRaisedOrReported) {
    EXPECT_THROW(
        {
            try {
                gf_readDbase();
            } catch (const std::runtime_error& e) {
                EXPECT_NE(std::string(e.what()).find("dbase.enc not available"), std::string::npos);
                throw;
            }
        },
        std::runtime_error);

    DataKey other = dataFileKey();
    other[5] ^= 0x40;
    streamEncrypt(dbaseText(), tmp.path("dbase.enc"), other);
    try {
        gf_readDbase();
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("dbase.enc stream decrypt failed"), std::string::npos);
    }

    streamEncrypt("<aircrafts><unclosed>", tmp.path("dbase.enc"));
    EXPECT_FALSE(gf_readDbase());
    EXPECT_FALSE(fs::exists(tmp.path("dbase.xml")));
    EXPECT_NE(tmp.log().find("dbase.xml' not read because of "), std::string::npos);

    // The empty-section error leaves no plain copy behind either.
    streamEncrypt(dbaseText({{"large", ""}}), tmp.path("dbase.enc"));
    EXPECT_THROW(gf_readDbase(), UserErrorException);
    EXPECT_FALSE(fs::exists(tmp.path("dbase.xml")));
}

}  // namespace
