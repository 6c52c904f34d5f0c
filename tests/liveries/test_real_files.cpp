// The scan of real add-on aircraft.cfg files (../shared/data/aircraft_cfg)
// with the reference data the build ships, and the catalogue and matching
// that follow from it.
#include <gtest/gtest.h>

#include <algorithm>

#include "input/test_support.h"
#include "liveries/catalogue.h"
#include "liveries/liveries_fixture.h"
#include "liveries/matching.h"
#include "liveries/scan.h"
#include "refdata/dbase.h"

namespace fs = std::filesystem;
using namespace vntx;
using namespace vntx::test;

namespace {

const fs::path kC172 = fs::path("p3dv5_c172") / "Aircraft.cfg";
const fs::path kEmb190 = fs::path("surair_emb190") / "aircraft.cfg";
const fs::path kEf2000 =
    fs::path("tql_nbai_ef2000") / "SimObjects" / "TQL_NBAI_Eurofighter_EF2000_Spain_Ala_14" / "Aircraft.cfg";
const fs::path kEf2000T =
    fs::path("tql_nbai_ef2000") / "SimObjects" / "TQL_NBAI_Eurofighter_EF2000T_Spain_Ala_14" / "Aircraft.cfg";

class RealFiles : public ::testing::Test {
protected:
    void SetUp() override {
        source = fs::path(vntx::testing::sharedDir()) / "data" / "aircraft_cfg";
        if (!fs::is_directory(source)) GTEST_SKIP() << source << " is not there";
        for (const char* f : {"dbase.enc", "AIG-regcodes.enc"})
            fs::copy_file(fs::path(VNTX_BUILD_INPUT) / f, tmp.dir() / "input" / f);
        ASSERT_TRUE(gf_readDbase());
        // The packages as installed: the copies in ../shared hold the text
        // files only, so the flight models (.air) and, for the E-190, its
        // model and texture folders are put back.
        root = tmp.dir() / "SimObjects";
        fs::copy(source, root, fs::copy_options::recursive);
        // The copies keep the read-only marks of ../shared, which Windows
        // will not delete.
        for (const auto& e : fs::recursive_directory_iterator(root))
            fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
        writeText(root / "p3dv5_c172" / "SingleEngineProp.air", "air");
        writeText(root / "surair_emb190" / "emb190.air", "air");
        fs::create_directories(root / "surair_emb190" / "model");
        fs::create_directories(root / "surair_emb190" / "texture.SUR-NEW");
        writeText(root / kEf2000.parent_path() / "NBAI_Typhoon_F2_AI_ONLY.air", "air");
        writeText(root / kEf2000T.parent_path() / "NBAI_Typhoon_T1_AI_ONLY.air", "air");
    }
    void TearDown() override { database().clear(); }

    ScanResult scan() {
        ScanOptions o;
        o.outputFolder = tmp.output();
        return runLiveryScan({{0, root}}, database(), loadDontUseTitles(), o);
    }
    std::vector<std::string> report(const char* folder, const char* name) {
        return readLines(tmp.output() / folder / name);
    }
    std::string path(const fs::path& file) const { return (root / file).string(); }
    // The line of a section without airline.
    std::string noAirline(const fs::path& file, int section) const {
        return fmt::format("{} [fltsim.{}] icao_airline is missing, or it has invalid info ", path(file), section);
    }

    TempFolder tmp;
    fs::path source, root;
};

struct Expected {
    std::string airline, model, title, registration;
};

TEST_F(RealFiles, EveryPackageGivesItsLiveriesAndReportLines) {
    const ScanResult result = scan();
    EXPECT_EQ(result.files, 4u);

    std::vector<Expected> expected = {
        // p3dv5_c172: seven liveries; the last one ends where [General] begins.
        {"PVT", "C172", "C172N Skyhawk II", "N2095K"},
        {"PVT", "C172", "C172N Skyhawk II WGF", "N2095K"},
        {"PVT", "C172", "C172N Skyhawk II ORANGE", "N259DL"},
        {"PVT", "C172", "C172N Skyhawk II ORANGE WGF", "N259DL"},
        {"PVT", "C172", "C172N Skyhawk II BLUE", "N399CK"},
        {"PVT", "C172", "C172N Skyhawk II BLUE WGF", "N399CK"},
        {"PVT", "C172", "C172 Anniversary", "N265K"},
        // surair_emb190: "Embraer 190 house" is a don't-use title of the AIG file.
        // tql_nbai_ef2000, two-seater: model=long //clean,long means model.long.
        {"PVT", "EUFI", "MAIW_NBAI_T1_SAF Ala14 CE-16 11", "14-70"},
        {"PVT", "EUFI", "MAIW_NBAI_T1_SAF Ala14 CE-16 12", "14-71"},
    };
    const std::vector<std::pair<int, int>> ef2000 = {
        {31, 1},  {36, 3},  {37, 4},  {38, 5},  {39, 6},  {41, 7},  {42, 8},  {44, 9},  {45, 10}, {47, 11}, {48, 12},
        {49, 13}, {50, 14}, {55, 15}, {58, 17}, {59, 18}, {60, 19}, {61, 20}, {62, 21}, {64, 22}, {65, 23}, {66, 24},
        {67, 25}, {68, 26}, {70, 28}, {71, 29}, {72, 30}, {73, 31}, {74, 32}, {75, 33}, {76, 34}, {77, 35}};
    for (auto [c16, reg] : ef2000)
        expected.push_back(
            {"PVT", "EUFI", fmt::format("MAIW_NBAI_F2_SAF Ala14 C.16-{}", c16), fmt::format("14-{:02}", reg)});
    std::vector<Livery> want;
    for (const auto& e : expected) want.push_back(Livery{e.airline, e.model, e.title, e.registration, 0, false});
    std::sort(want.begin(), want.end(), catalogueLess);
    auto got = loadLiveriesScanned(tmp.output() / "LiveriesScanned.xml");
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i], want[i]) << i << ": " << got[i].title << " / " << want[i].title;
    }

    EXPECT_EQ(report("errors", "Fixes.txt"),
              (std::vector<std::string>{"Model fix: C172N found in " + path(kC172) + " changed into C172",
                                        "Model fix: E-190 found in " + path(kEmb190) + " changed into E190",
                                        "Model fix: Typhoon found in " + path(kEf2000T) + " changed into EUFI",
                                        "Model fix: Typhoon found in " + path(kEf2000) + " changed into EUFI"}));
    // 141F (a squadron code) is no airline; one line per section.
    std::vector<std::string> airlines(32, fmt::format("{:12} in {}", "141F", path(kEf2000)));
    airlines.insert(airlines.begin(), 2, fmt::format("{:12} in {}", "141F", path(kEf2000T)));
    EXPECT_EQ(report("errors", "InvalidAirlineCodes.txt"), airlines);

    std::vector<std::string> incomplete;
    for (int s = 0; s < 7; ++s) incomplete.push_back(noAirline(kC172, s));
    incomplete.push_back(noAirline(kEmb190, 0));
    for (int s = 0; s < 2; ++s) incomplete.push_back(noAirline(kEf2000T, s));
    for (int s = 0; s < 32; ++s) incomplete.push_back(noAirline(kEf2000, s));
    std::sort(incomplete.begin(), incomplete.end());
    EXPECT_EQ(report("errors", "IncompleFltsimSections.txt"), incomplete);

    for (const char* name : {"InvalidAircraftCodes.txt", "InvalidAircraftCfgFiles.txt"})
        EXPECT_FALSE(fs::exists(tmp.output() / "errors" / name)) << name;
    for (const char* name : {"AircraftCfgWithNoFltsimSection.txt", "AirlineModelConversions.txt"})
        EXPECT_FALSE(fs::exists(tmp.output() / "info" / name)) << name;
    EXPECT_EQ(tmp.log().find("more than one title key"), std::string::npos);
}

TEST_F(RealFiles, TheDontUseTitleIsTheOnlyReasonTheEmbraerIsLeftOut) {
    ScanOptions o;
    o.outputFolder = tmp.output();
    runLiveryScan({{0, root / "surair_emb190"}}, database(), {}, o);
    const auto got = loadLiveriesScanned(tmp.output() / "LiveriesScanned.xml");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].title, "Embraer 190 house");
    EXPECT_EQ(got[0].model, "E190");
    EXPECT_EQ(got[0].airline, "PVT");
    EXPECT_EQ(report("errors", "IncompleFltsimSections.txt"), std::vector<std::string>{noAirline(kEmb190, 0)});
}

// A C172 of the real package repainted as a generic livery: with the
// shipped airline table ZZZ is an airline, so the livery stays generic and
// matching finds it at step 4 for any operator that has no C172 of its own.
TEST_F(RealFiles, GenericLiveryWithTheShippedTablesIsMatchedAtStepFour) {
    std::string text = readText(root / kC172);
    const std::string id = "atc_id=N2095K\n";
    const auto at = text.find(id);
    ASSERT_NE(at, std::string::npos);
    text.insert(at + id.size(), "atc_parking_codes=ZZZ\n");
    writeText(root / kC172, text);
    ASSERT_TRUE(database().isValidAirline("ZZZ"));

    ScanOptions o;
    o.outputFolder = tmp.output();
    runLiveryScan({{0, root / "p3dv5_c172"}}, database(), loadDontUseTitles(), o);
    const auto list = loadLiveriesScanned(tmp.output() / "LiveriesScanned.xml");
    auto generic = std::find_if(list.begin(), list.end(), [](const Livery& l) { return l.title == "C172N Skyhawk II"; });
    ASSERT_NE(generic, list.end());
    EXPECT_EQ(generic->airline, "ZZZ");
    EXPECT_EQ(generic->registration, "");  // a generic livery has none
    EXPECT_FALSE(fs::exists(tmp.output() / "errors" / "InvalidAirlineCodes.txt"));

    LiveryCatalogue cat;
    cat.build(list, database(), tmp.output());
    EXPECT_NE(tmp.log().find("1 model have a generic livery"), std::string::npos);
    EXPECT_EQ(tmp.log().find("No generic liveries"), std::string::npos);

    LiveryMatcher matcher(cat, database());
    matcher.setRandom(false);
    for (std::string_view airline : {"AAL", "PVT"}) {
        LiveryRequest r;
        r.airline = airline;
        r.model = "C172";
        r.category = database().category("C172");
        r.logName = "N172XX";
        ASSERT_TRUE(matcher.matchLive(r)) << airline;
        EXPECT_EQ(r.title, "C172N Skyhawk II") << airline;
        EXPECT_EQ(r.step, 4) << airline;
    }
    // The registrations of the shipped AIG file reach the installed liveries.
    LiveryRequest registered;
    registered.airline = "AAL";
    registered.model = "C172";
    registered.registration = "N259DL";
    registered.category = database().category("C172");
    registered.logName = "N259DL";
    ASSERT_TRUE(matcher.matchLive(registered));
    EXPECT_EQ(registered.step, 1);
}

}  // namespace
