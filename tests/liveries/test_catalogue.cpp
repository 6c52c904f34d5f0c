#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/parameters.h"
#include "liveries/catalogue.h"
#include "liveries/liveries_fixture.h"

namespace fs = std::filesystem;
using namespace vntx;
using namespace vntx::test;

namespace {

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        loadDatabase(db, smallDbase());
        params().LIGHT_AIRCRAFT.set(true);
        params().HELICOPTERS.set(true);
        params().HIGH_PERF_AIRCRAFT.set(true);
    }
    void TearDown() override {
        params().LIGHT_AIRCRAFT.set(true);
        params().HELICOPTERS.set(true);
        params().HIGH_PERF_AIRCRAFT.set(true);
    }
    fs::path file() const { return tmp.output() / "LiveriesScanned.xml"; }
    std::string loadError(const std::string& xml) {
        writeText(file(), xml);
        try {
            loadLiveriesScanned(file());
        } catch (const UserErrorException& e) {
            return e.what();
        }
        return "no error";
    }

    TempFolder tmp;
    Database db;
    LiveryCatalogue cat;
};

TEST_F(CatalogueTest, WriterOrderAndRoundTrip) {
    std::vector<Livery> list = {{"KLM", "B738", "KLM one", "PH-BXA", 3, false}, {"FDX", "B744", "FDX one", "", 0, true}};
    ASSERT_TRUE(writeLiveriesScanned(list, file()));
    const std::string text = readText(file());
    EXPECT_NE(text.find(R"(<liv airl="KLM" type="B738" title="KLM one" atcid="PH-BXA" />)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"(<liv airl="FDX" type="B744" cargo="true" title="FDX one" />)"), std::string::npos) << text;
    auto back = loadLiveriesScanned(file());
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0], list[1]);  // sorted by airline
    EXPECT_EQ(back[1], list[0]);
    EXPECT_EQ(back[1].folderIndex, 0u);  // not stored
    EXPECT_FALSE(writeLiveriesScanned({}, tmp.dir() / "none.xml"));
    EXPECT_FALSE(fs::exists(tmp.dir() / "none.xml"));
}

TEST_F(CatalogueTest, LoaderUserErrors) {
    EXPECT_EQ(loadError(R"(<liveries><liv airl="KLM" type="B738"/></liveries>)"),
              "Missing required attribute 'title' in <liv>");
    EXPECT_EQ(loadError(R"(<liveries><liv airl="" type="B738" title="x"/></liveries>)"),
              "Missing required attribute 'airl' in <liv>");
    EXPECT_EQ(loadError("<other/>"), file().string() + " does not contain a <liveries> section");
    EXPECT_EQ(loadError("<liveries/>"), file().string() + " does not contain liveries");
    EXPECT_EQ(loadError("<liveries"), "File " + file().string() + " not found");
    writeText(file(), R"(<liveries><liv airl="KLM" type="B738" title="No reg"/></liveries>)");
    EXPECT_EQ(loadLiveriesScanned(file())[0].registration, "");
}

TEST_F(CatalogueTest, IndexesSummariesAndSwitchOffs) {
    std::vector<Livery> list = {
        {"KLM", "B738", "KLM A", "PH-A1", 0, false}, {"KLM", "B738", "KLM C", "", 0, true},
        {"KLM", "B744", "KLM 744", "", 0, true},    {"PVT", "C172", "Cessna", "", 0, false},
        {"ZZZ", "A320", "Generic 320", "", 0, false}, {"ZZZ", "GLF5", "Generic GLF5", "", 0, false},
        {"DLH", "A20N", "DLH neo", "", 0, false}};
    std::sort(list.begin(), list.end(), catalogueLess);
    cat.build(list, db, tmp.output());
    EXPECT_TRUE(cat.built());
    EXPECT_EQ(cat.liveryCount(), 7u);
    ASSERT_NE(cat.liveries(false, "KLM", "B738"), nullptr);
    EXPECT_EQ(*cat.liveries(false, "KLM", "B738"), TitleList{"KLM A"});
    EXPECT_EQ(*cat.liveries(true, "KLM", "B738"), TitleList{"KLM C"});
    EXPECT_EQ(cat.liveries(false, "KLM", "B744"), nullptr);
    EXPECT_EQ(*cat.modelLiveries(false, "A320"), TitleList{"Generic 320"});
    EXPECT_EQ(*cat.regcodes().titleFor("PH-A1"), "KLM A");
    EXPECT_EQ(cat.classModels(AircraftCategory::Light), std::vector<std::string>{"C172"});
    EXPECT_EQ(cat.classModels(AircraftCategory::Buzjets), std::vector<std::string>{"GLF5"});
    // A320 -> A20N, B738 (the members with liveries); KLM lacks A320 and A20N but has B738.
    EXPECT_EQ(*cat.similarModels("A320"), (std::vector<std::string>{"A20N", "B738"}));
    EXPECT_EQ(*cat.airlineSimilarModels("KLM", "A20N"), std::vector<std::string>{"B738"});
    EXPECT_EQ(cat.airlineSimilarModels("KLM", "B738"), nullptr);  // it has its own
    EXPECT_EQ(*cat.similarModels("PA28"), std::vector<std::string>{"C172"});
    EXPECT_EQ(cat.similarModels("C172"), nullptr);  // no other member has a livery
    EXPECT_FALSE(params().HELICOPTERS.get());
    EXPECT_FALSE(params().HIGH_PERF_AIRCRAFT.get());
    EXPECT_TRUE(params().LIGHT_AIRCRAFT.get());
    const std::string log = tmp.log();
    EXPECT_NE(log.find("HELICOPTERS temporarily switched off because you do not have Helicopters installed"),
              std::string::npos);
    EXPECT_NE(log.find("Category Large: 3 pax liveries and 1 cargo liverie\n  A20N, A320, B738\n"), std::string::npos);
    EXPECT_NE(log.find("Category Heavy: 0 pax liveries and 1 cargo liverie\n  B744\n"), std::string::npos);
    EXPECT_NE(log.find("2 models have a generic livery\n  A320, GLF5\n"), std::string::npos);
    EXPECT_NE(log.find("4 airlines, 5 pax aircraft models and 2 cargo aircraft models"), std::string::npos);
}

TEST_F(CatalogueTest, ModelLinesHoldTwentyModels) {
    std::vector<std::string> models;
    for (int i = 0; i < 41; ++i) models.push_back(fmt::format("M{:02}", i));
    auto lines = modelLines(models);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("  M00, M01", 0), 0u);
    EXPECT_EQ(lines[1].rfind("  M20, ", 0), 0u);
    EXPECT_EQ(lines[2], "  M40");
}

}  // namespace
