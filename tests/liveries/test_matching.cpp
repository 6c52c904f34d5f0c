#include <gtest/gtest.h>

#include <set>

#include "liveries/catalogue.h"
#include "liveries/liveries_fixture.h"
#include "liveries/matching.h"

using namespace vntx;
using namespace vntx::test;

namespace {

Livery liv(std::string airline, std::string model, std::string title, std::string reg = "", bool cargo = false) {
    return Livery{std::move(airline), std::move(model), std::move(title), std::move(reg), 0, cargo};
}

class MatchingTest : public ::testing::Test {
protected:
    void SetUp() override {
        loadDatabase(db, smallDbase(R"(<db reg="PH-OWN" airl="KLM" type="B738" opr="KLM"/>)"
                                    R"(<db reg="PH-NOP" airl="DLH" type="B738"/>)"));
        writeText(tmp.dir() / "input" / "my_regcodes" / "special.txt",
                  "KLM 738 S1;PH-SPA;#\nKLM 738 S2;PH-SPB,PH-SPC;#\nBAW 738 A special;G-SPEC,G-SPED;#\n"
                  "DLH 320 S1;D-SPA,D-SPB;#\nDLH 320 S2;D-SPC,D-SPD;#\n");
        list = {
            liv("KLM", "B738", "KLM 738 A"),       liv("KLM", "B738", "KLM 738 B", "PH-BXB"),
            liv("KLM", "B738", "KLM 738 S1"),      liv("KLM", "B738", "KLM 738 S2"),
            liv("KLM", "B744", "KLM 744 cargo", "", true), liv("DLH", "B744", "DLH 744 pax"),
            liv("FDX", "B744", "FDX 744 cargo", "", true), liv("ZZZ", "A388", "Generic 388"),
            liv("BAW", "A388", "BAW 388"),         liv("TRA", "A320", "TRA 320"),
            liv("PVT", "C172", "PVT Cessna"),      liv("ZZZ", "PA28", "Generic PA28"),
            liv("BAW", "B738", "BAW 738 A special"), liv("BAW", "B738", "BAW 738 B"),
            liv("DLH", "A320", "DLH 320 S1"),      liv("DLH", "A320", "DLH 320 S2"),
            liv("EZY", "A20N", "FSLTL_EZY_A20N"),
        };
        std::sort(list.begin(), list.end(), catalogueLess);
        cat.build(list, db, tmp.output());
        matcher.setRandom(false);
        matcher.setDepth(4);
    }
    LiveryRequest request(std::string_view airline, std::string_view model, std::string_view reg = "",
                          bool cargo = false) {
        LiveryRequest r;
        r.airline = airline;
        r.model = model;
        r.registration = reg;
        r.category = db.category(model);
        r.cargo = cargo;
        r.logName = "TEST01";
        return r;
    }
    // (title, step) of a live match.
    std::pair<std::string, int> live(std::string_view airline, std::string_view model, std::string_view reg = "",
                                     bool cargo = false) {
        auto r = request(airline, model, reg, cargo);
        const bool found = matcher.matchLive(r);
        EXPECT_EQ(found, !r.title.empty());
        return {r.title, r.step};
    }

    TempFolder tmp;
    Database db;
    std::vector<Livery> list;
    LiveryCatalogue cat;
    LiveryMatcher matcher{cat, db};
};

using Match = std::pair<std::string, int>;

TEST_F(MatchingTest, RegistrationMatchesEvenAtDepthOne) {
    matcher.setDepth(1);
    EXPECT_EQ(live("XXX", "A388", "PH-BXB"), Match("KLM 738 B", 1));
    EXPECT_EQ(live("XXX", "A388", "PH-SPA"), Match("KLM 738 S1", 0));  // a special livery of one registration
    EXPECT_EQ(live("XXX", "A388", "PH-SPB"), Match("KLM 738 S2", 1));  // special, but of two registrations
    EXPECT_EQ(live("KLM", "B738", "PH-NONE"), Match("", -1));
}

TEST_F(MatchingTest, CargoMayFallBackToPassengerButNeverTheReverse) {
    EXPECT_EQ(live("DLH", "B744", "", true), Match("DLH 744 pax", 2));
    EXPECT_EQ(live("KLM", "B744", "", true), Match("KLM 744 cargo", 2));
    // A passenger aircraft of an airline with only cargo liveries of the model gets none of them.
    EXPECT_EQ(live("FDX", "B744", "", false), Match("", -1));
    EXPECT_EQ(live("KLM", "B744", "", false), Match("", -1));
}

TEST_F(MatchingTest, AirlineOwnerAndSimilarModels) {
    EXPECT_EQ(live("KLM", "B738"), Match("KLM 738 A", 2));
    EXPECT_EQ(live("XYZ", "B738", "PH-OWN"), Match("KLM 738 A", 2));  // the registration's operator
    EXPECT_EQ(live("XYZ", "B738", "PH-NOP"), Match("", -1));          // a record without operator does not count
    EXPECT_EQ(live("TRA", "A20N"), Match("TRA 320", 3));
    matcher.setDepth(2);
    EXPECT_EQ(live("TRA", "A20N"), Match("", -1));
    matcher.setDepth(3);
    // The similar model must be of the aircraft's class.
    auto r = request("TRA", "A20N");
    r.category = AircraftCategory::Heavy;
    EXPECT_FALSE(matcher.matchLive(r));
}

TEST_F(MatchingTest, PrivateWithoutGenericUsesPvtAsAirline) {
    EXPECT_EQ(live("PVT", "C172"), Match("PVT Cessna", 2));
    EXPECT_EQ(live("PVT", "PA28"), Match("Generic PA28", 4));
}

TEST_F(MatchingTest, DepthThreeAndFourForHeavyAndSmallClasses) {
    matcher.setDepth(3);
    EXPECT_EQ(live("XXX", "A388"), Match("", -1));
    EXPECT_EQ(live("XXX", "PA28"), Match("Generic PA28", 4));  // small classes go on below depth 4
    EXPECT_EQ(live("XXX", "C172"), Match("PVT Cessna", 5));
    matcher.setDepth(4);
    EXPECT_EQ(live("XXX", "A388"), Match("Generic 388", 4));
    EXPECT_EQ(live("XXX", "B744"), Match("", -1));  // never any airline's B744 for a Heavy
    // A Light model without liveries: a similar model, else one of its class.
    loadDatabase(db, smallDbase("", R"(<similar types="C172,PA28"/><similar types="BE58,PA28"/>)"));
    cat.build(list, db, tmp.output());
    EXPECT_EQ(live("XXX", "BE58"), Match("Generic PA28", 6));
    EXPECT_EQ(live("XXX", "C150"), Match("PVT Cessna", 6));  // the first model of the Light list
}

TEST_F(MatchingTest, RefusedTitleIsSkipped) {
    EXPECT_EQ(live("KLM", "B738", "PH-BXB"), Match("KLM 738 B", 1));
    matcher.addRefusedTitle("KLM 738 B");
    EXPECT_EQ(live("KLM", "B738", "PH-BXB"), Match("KLM 738 A", 2));
    matcher.addRefusedTitle("Generic 388");
    EXPECT_EQ(live("XXX", "A388"), Match("", -1));
}

TEST_F(MatchingTest, PickAvoidsSpecialTitles) {
    EXPECT_EQ(live("BAW", "B738"), Match("BAW 738 B", 2));  // the first in order is special
    EXPECT_EQ(live("DLH", "A320"), Match("DLH 320 S1", 2)); // only specials: the fifth pick stays
    matcher.setRandom(true);
    seedMatchingRandom(42);
    std::set<std::string> seen, special;
    for (int i = 0; i < 300; ++i) {
        seen.insert(live("BAW", "B738").first);
        special.insert(live("DLH", "A320").first);
        live("KLM", "B738");
    }
    EXPECT_EQ(seen, std::set<std::string>{"BAW 738 B"});
    EXPECT_EQ(special, (std::set<std::string>{"DLH 320 S1", "DLH 320 S2"}));
}

TEST_F(MatchingTest, RandomSpreadsOverTheCandidates) {
    matcher.setRandom(true);
    seedMatchingRandom(7);
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) seen.insert(live("KLM", "B738").first);
    EXPECT_EQ(seen, (std::set<std::string>{"KLM 738 A", "KLM 738 B"}));
}

TEST_F(MatchingTest, FsltlFlagSummaryAndStaticVariant) {
    auto r = request("EZY", "A20N");
    ASSERT_TRUE(matcher.matchLive(r));
    EXPECT_TRUE(r.fsltl);
    live("KLM", "B738", "PH-SPA");
    live("KLM", "B738", "PH-BXB");
    matcher.addRefusedTitle("BAW 388");
    auto lines = matcher.summaryLines();
    ASSERT_GE(lines.size(), 12u);
    EXPECT_EQ(lines[0].size(), 100u);
    EXPECT_NE(lines[0].find("live traffic livery matching summary"), std::string::npos);
    EXPECT_EQ(lines[2], "  0: 1");
    EXPECT_EQ(lines[3], "  1: 1");
    EXPECT_EQ(lines[4], "  2: 1");
    EXPECT_EQ(lines[9], "\nCould not be created by P3D:");
    EXPECT_EQ(lines[10], "BAW 388");
    EXPECT_EQ(lines.back(), std::string(100, '*'));

    // Static matches log instead of counting.
    const auto before = matcher.counters();
    auto s = request("KLM", "B738");
    s.title = "Chosen before";
    EXPECT_TRUE(matcher.matchStatic(s, false, "KLM123"));
    EXPECT_EQ(s.title, "Chosen before");
    auto cargo = request("DLH", "B744");
    EXPECT_TRUE(matcher.matchStatic(cargo, true, "DLH8"));
    EXPECT_TRUE(cargo.cargo);
    matcher.setDepth(1);
    auto none = request("KLM", "B738");
    EXPECT_FALSE(matcher.matchStatic(none, false, "KLM9"));
    EXPECT_EQ(matcher.counters(), before);
    const std::string log = tmp.log();
    EXPECT_NE(log.find("          TEST01 =s= Chosen before"), std::string::npos);
    EXPECT_NE(log.find("          TEST01 =2= DLH 744 pax"), std::string::npos);
    EXPECT_NE(log.find("KLM9    : TEST01 no livery match ..."), std::string::npos);
}

TEST(NoMatchReport, KeysAndLogLines) {
    TempFolder tmp;
    noLiverySet().clear();
    writeNoMatchReport();
    EXPECT_EQ(tmp.log().find("No match found for:"), std::string::npos);
    noLiverySet().insert(noLiveryKey("PVT", "C17", "N1"));
    noLiverySet().insert(noLiveryKey("KLM", "B738", ""));
    writeNoMatchReport();
    EXPECT_NE(tmp.log().find("\nNo match found for:\nKLM B738 \nPVT C17  N1\n"), std::string::npos);
    noLiverySet().clear();
}

}  // namespace
