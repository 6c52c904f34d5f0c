#include <gtest/gtest.h>

#ifndef _WIN32
// A FIFO stands in for a file whose read hangs (POSIX only).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <thread>

#include "liveries/catalogue.h"
#include "core/parameters.h"
#include "core/status.h"
#include "liveries/scan.h"
#include "liveries/scan_file.h"
#include "liveries/liveries_fixture.h"
#include "support/temp_dir.h"
#include "livgen/livgen.h"
#include "platform/platform.h"

namespace fs = std::filesystem;
using namespace vntx;
using namespace vntx::test;

namespace {

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        loadDatabase(db, smallDbase(R"(<db reg="PH-BXA" airl="KLM" type="B738" opr="KLM"/>)"
                                    R"(<db reg="N12AB" airl="" type="C172"/>)"
                                    R"(<db reg="D-EFGH" airl="DLH" type="C172"/>)"));
        state.db = &db;
    }
    std::vector<Livery> scanFile(const fs::path& file, std::uint32_t index = 0) {
        return lf_searchLiveriesinFile(state, file, index);
    }
    std::vector<std::string> incomplete() { return state.incompleteSections.take(); }
    ScanResult scan(std::vector<ScanFolder> folders, bool prioritize = true, TitleSet dontUse = {}) {
        ScanOptions o;
        o.prioritize = prioritize;
        o.outputFolder = tmp.output();
        return runLiveryScan(folders, db, std::move(dontUse), o);
    }
    std::vector<Livery> scanned() { return loadLiveriesScanned(tmp.output() / "LiveriesScanned.xml"); }

    TempFolder tmp;
    Database db;
    ScanState state;
};

bool contains(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

TEST_F(ScanTest, HeaderNumbersAnyCaseAndOutOfRange) {
    auto file = writeAircraft(tmp.dir() / "a", "B738",
                              {{"[FLTSIM.3]", "Upper", "KLM"}, {"[fltsim.3]", "Lower", "KLM"}, {"[fltsim.x]", "Ex", "KLM"},
                               {"[fltsim.-1]", "Minus", "KLM"}});
    auto liveries = scanFile(file);
    std::vector<std::string> titles;
    for (auto& l : liveries) titles.push_back(l.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"Upper", "Lower", "Ex", "Minus"}));

    auto bad = writeAircraft(tmp.dir() / "b", "B738", {{"[fltsim.0]", "Fine", "KLM"}, {"[fltsim.10001]", "Big", "KLM"}});
    EXPECT_TRUE(scanFile(bad).empty());
    EXPECT_EQ(state.invalidCfgFiles.take(),
              std::vector<std::string>{bad.string() + " contains a [fltsim.x] section with a number < 0 or > 10000"});
    auto edge = writeAircraft(tmp.dir() / "c", "B738", {{"[fltsim.10000]", "Edge", "KLM"}});
    EXPECT_EQ(scanFile(edge).size(), 1u);

    auto huge = writeAircraft(tmp.dir() / "d", "B738", {{"[fltsim.99999999999999999999999]", "Huge", "KLM"}});
    EXPECT_TRUE(scanFile(huge).empty());
    EXPECT_NE(tmp.log().find("fltsim num [fltsim.99999999999999999999999] incorrect"), std::string::npos);
}

TEST_F(ScanTest, FileModelRules) {
    auto fixed = writeAircraft(tmp.dir() / "fix", "737-800", {{"[fltsim.0]", "Fixed", "KLM"}});
    auto l = scanFile(fixed);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].model, "B738");
    EXPECT_EQ(state.modelFixes.take(),
              std::vector<std::string>{"Model fix: 737-800 found in " + fixed.string() + " changed into B738"});

    auto bad = writeAircraft(tmp.dir() / "bad", "B7X8", {{"[fltsim.0]", "Bad", "KLM"}});
    EXPECT_TRUE(scanFile(bad).empty());
    EXPECT_EQ(state.invalidModels.take(), std::vector<std::string>{"B7X8             in " + bad.string()});

    auto none = writeAircraft(tmp.dir() / "none", "", {{"[fltsim.0]", "None", "KLM"}});
    EXPECT_TRUE(scanFile(none).empty());
    EXPECT_EQ(state.invalidCfgFiles.take(),
              std::vector<std::string>{"Line atc_model= is missing in [General] section of " + none.string()});

    writeText(tmp.dir() / "empty" / "aircraft.cfg", "[General]\natc_model=B738\n");
    EXPECT_TRUE(scanFile(tmp.dir() / "empty" / "aircraft.cfg").empty());
    EXPECT_EQ(state.filesWithoutSections.take(), std::vector<std::string>{(tmp.dir() / "empty" / "aircraft.cfg").string()});
}

TEST_F(ScanTest, Utf16FileReadsLikeUtf8) {
    auto file = writeAircraft(tmp.dir() / "w", "B738", {{"[fltsim.0]", "Wide KLM", "KLM", "PH-BXB"}});
    std::string text = readText(file), wide = "\xFF\xFE";
    for (char c : text) wide += std::string{c, '\0'};
    writeText(file, wide);
    auto l = scanFile(file);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].title, "Wide KLM");
    EXPECT_EQ(l[0].registration, "PH-BXB");
}

// What follows the last livery of a real file ([General] with its own keys,
// [CameraDefinition.N] with Title keys, engine sections) is not part of it.
TEST_F(ScanTest, SectionsEndAtAnyHeader) {
    auto file = writeAircraft(tmp.dir() / "a", "", {{"[fltsim.0]", "First", "KLM"}, {"[fltsim.1]", "Last", "KLM"}});
    std::string text = readText(file);
    text.replace(text.find("[General]\n"), 10, "");
    text += "[General]\ntitle=The general title\natc_model=B738\natc_parking_codes=DLH\natc_id=PH-GEN\n"
            "atc_parking_types=CARGO\n\n"
            "[CameraDefinition.0]\nTitle = \"Right Seat\"\n\n"
            "[airspeed_indicators]  //IAS adjustment\ntitle=Not a livery either\n";
    writeText(file, text);
    auto l = scanFile(file);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[1].title, "Last");
    EXPECT_EQ(l[1].airline, "KLM");
    EXPECT_EQ(l[1].registration, "");
    EXPECT_FALSE(l[1].cargo);
    EXPECT_EQ(l[1].model, "B738");  // atc_model is still read from [General]
    EXPECT_TRUE(incomplete().empty());

    // [General] first and a livery after the engine sections.
    auto mixed = writeAircraft(tmp.dir() / "b", "B738", {{"[fltsim.0]", "Early", "KLM"}});
    writeText(mixed, readText(mixed) + "[flaps.0]\ntitle=Flaps\n\n[FLTSIM.1]\ntitle=Late one\nsim=S\nmodel=\n"
                                       "texture=T\natc_parking_codes=BAW\n[Views]\natc_parking_codes=DLH\n");
    l = scanFile(mixed);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[1].title, "Late one");
    EXPECT_EQ(l[1].airline, "BAW");
    EXPECT_TRUE(incomplete().empty());
}

// model=long //clean,long (the real Eurofighter package) names model.long.
TEST_F(ScanTest, TrailingCommentsAreCutFromTheValues) {
    const fs::path dir = tmp.dir() / "c";
    fs::create_directories(dir / "model.long");
    fs::create_directories(dir / "texture.Ala 14");
    writeText(dir / "Typhoon.air", "air");
    writeText(dir / "aircraft.cfg",
              "[fltsim.0]\ntitle=Commented  // the title\nsim=Typhoon\t//flight model\nmodel=long //clean,long\n"
              "texture=Ala 14 // squadron\natc_id=PH-ABC //tail\natc_parking_types=MIL_CARGO //x\n"
              "atc_parking_codes=KLM //first code\n\n[General]\natc_model=B738 // the type\n");
    auto l = scanFile(dir / "aircraft.cfg");
    ASSERT_EQ(l.size(), 1u) << (incomplete().empty() ? "" : incomplete().front());
    EXPECT_EQ(l[0].title, "Commented");
    EXPECT_EQ(l[0].airline, "KLM");
    EXPECT_EQ(l[0].registration, "PH-ABC");
    EXPECT_EQ(l[0].model, "B738");
    EXPECT_TRUE(l[0].cargo);
    EXPECT_TRUE(state.invalidAirlines.take().empty());
    EXPECT_TRUE(state.invalidModels.take().empty());
}

TEST_F(ScanTest, BrokenUtf16ShowsOnTheStatusLine) {
    const fs::path file = tmp.dir() / "w" / "aircraft.cfg";
    writeText(file, std::string("\xFF\xFE[\0f\0\x3D\xD8x\0", 10));  // a high surrogate without its pair
    EXPECT_TRUE(scanFile(file).empty());
    const std::string expected = "UTF16 read failed for '" + file.string() + "': ";
    EXPECT_EQ(statusText().rfind(expected, 0), 0u) << statusText();
    EXPECT_NE(tmp.log().find(expected), std::string::npos);
    clearStatus();
}

TEST_F(ScanTest, AirlineCodesAndRegistrations) {
    auto file = writeAircraft(tmp.dir() / "a", "B738",
                              {{"[fltsim.0]", "Cut", "DLHC,KLM", "D-ABCD;note"},
                               {"[fltsim.1]", "Two regs", "KLMX", "PH-A,PH-B"},
                               {"[fltsim.2]", "Star", "KLM", "PH*1"},
                               {"[fltsim.3]", "Generic", "ZZZ", "PH-ZZZ"},
                               {"[fltsim.4]", "Ferry", "RFO", "PH-RFO"},
                               {"[fltsim.5]", "Bogus airline", "QQQ,KLM", "N999ZZ"},
                               {"[fltsim.6]", "Cargo", "DLH", "", "GATE,CARGO"}});
    auto l = scanFile(file);
    ASSERT_EQ(l.size(), 6u);
    EXPECT_EQ(l[0].airline, "DLH");
    EXPECT_EQ(l[0].registration, "D-ABCD");
    EXPECT_EQ(l[1].airline, "KLM");
    EXPECT_EQ(l[1].registration, "");
    EXPECT_EQ(l[2].registration, "");
    EXPECT_EQ(l[3].airline, "ZZZ");
    EXPECT_EQ(l[3].registration, "");
    EXPECT_EQ(l[4].title, "Bogus airline");  // no airline, unknown registration, Large model
    EXPECT_EQ(l[4].airline, "PVT");
    EXPECT_TRUE(l[5].cargo);
    EXPECT_FALSE(l[0].cargo);
    EXPECT_EQ(state.invalidAirlines.take(), std::vector<std::string>{"QQQ          in " + file.string()});
    auto lines = incomplete();
    EXPECT_TRUE(contains(lines, "invalid atc_id=PH*1 in: " + file.string()));
    EXPECT_TRUE(contains(lines, file.string() + " [fltsim.5] icao_airline is missing, or it has invalid info "));
    EXPECT_FALSE(contains(lines, "[fltsim.4]"));  // RFO is skipped without a word
}

TEST_F(ScanTest, SectionsWithoutAirline) {
    auto light = writeAircraft(tmp.dir() / "light", "C172",
                               {{"[fltsim.0]", "Cessna N12AB private"}, {"[fltsim.1]", "Cessna plain"},
                                {"[fltsim.2]", "Cessna owned", "", "D-EFGH"}});
    auto l = scanFile(light);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0].airline, "PVT");
    EXPECT_EQ(l[0].registration, "N12AB");  // a database registration the title names
    EXPECT_EQ(l[1].airline, "PVT");
    EXPECT_EQ(l[1].registration, "");
    EXPECT_EQ(l[2].airline, "DLH");  // from the registration record

    auto heavy = writeAircraft(tmp.dir() / "heavy", "B744",
                               {{"[fltsim.0]", "Jumbo bare"}, {"[fltsim.1]", "Jumbo unknown", "", "N747XX"},
                                {"[fltsim.2]", "Jumbo KLM reg", "", "PH-BXA"}});
    auto h = scanFile(heavy);
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].title, "Jumbo KLM reg");
    EXPECT_EQ(h[0].airline, "KLM");
    auto lines = incomplete();
    EXPECT_TRUE(contains(lines, "'Jumbo bare' has no airline and no regcode info"));
    EXPECT_TRUE(contains(lines, "'Jumbo unknown' has no airline and regcode not in dbase"));
}

TEST_F(ScanTest, DuplicateKeysMissingFilesAndDontUseTitles) {
    auto file = writeAircraft(tmp.dir() / "a", "B738",
                              {{"[fltsim.0]", "Twice", "KLM", "", "GATE", "T", "title=Again\n"},
                               {"[fltsim.1]", "Two ids", "KLM", "PH-A1", "GATE", "T", "atc_id=PH-A2\n"},
                               {"[fltsim.2]", "Two codes", "KLM", "", "GATE", "T", "atc_parking_codes=DLH\n"},
                               {"[fltsim.3]", "Hidden", "KLM"},
                               {"[fltsim.4]", "", "KLM"},
                               {"[fltsim.5]", "  Padded  ", "KLM"}});
    state.dontUseTitles.insert("Hidden");
    auto l = scanFile(file);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].title, "Padded");
    auto lines = incomplete();
    const std::string f = file.string();
    EXPECT_TRUE(contains(lines, f + " [fltsim.0] has more than one title key"));
    EXPECT_TRUE(contains(lines, f + ", [fltsim.1], has more than one atc_id key"));
    EXPECT_TRUE(contains(lines, f + " [fltsim.2] has more than one atc_parking_codes key"));
    EXPECT_TRUE(contains(lines, f + " [fltsim.4] misses title"));
    EXPECT_FALSE(contains(lines, "Hidden"));

    auto missing = writeAircraft(tmp.dir() / "m", "B738", {{"[fltsim.0]", "No texture", "KLM", "", "GATE", "Gone"}});
    fs::remove_all(tmp.dir() / "m" / "texture.Gone");
    EXPECT_TRUE(scanFile(missing).empty());
    EXPECT_TRUE(contains(incomplete(), " or related path does not exist: " + (tmp.dir() / "m" / "texture.Gone").string()));
    fs::create_directories(tmp.dir() / "m" / "texture.Gone");
    fs::remove(tmp.dir() / "m" / "S.air");
    EXPECT_TRUE(scanFile(missing).empty());
    EXPECT_TRUE(contains(incomplete(), " or related path does not exist: " + (tmp.dir() / "m" / "S.air").string()));
}

TEST_F(ScanTest, IvaoModelFromPath) {
    EXPECT_EQ(ivaoModelFromPath("C:\\x\\IVAO_MTL\\IVAO_B738w\\aircraft.cfg"), "B738");
    EXPECT_EQ(ivaoModelFromPath("/x/IVAO_MTL/IVAO_B744F/aircraft.cfg"), "B744");
    EXPECT_EQ(ivaoModelFromPath("/x/IVAO_MTL/IVAO_T154B2/aircraft.cfg"), "T154");
    EXPECT_EQ(ivaoModelFromPath("/x/IVAO_MTL/IVAO_GLID_KA6/aircraft.cfg"), "GLID");
    EXPECT_EQ(ivaoModelFromPath("/x/ivao_mtl/ivao_A320/AIRCRAFT.CFG"), "A320");
    EXPECT_EQ(ivaoModelFromPath("/x/IVAO_MTL/B738/aircraft.cfg"), "");

    auto file = writeAircraft(tmp.dir() / "IVAO_MTL" / "IVAO_B738w", "", {{"[fltsim.0]", "KLM Boeing"},
                                                                        {"[fltsim.1]", "XYZ owned", "", "PH-BXA"},
                                                                        {"[fltsim.2]", "Nobody", "", "N1"}},
                              false);
    auto l = scanFile(file);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].airline, "KLM");
    EXPECT_EQ(l[0].model, "B738");
    EXPECT_EQ(l[1].airline, "KLM");
    EXPECT_TRUE(contains(incomplete(), file.string() + " misses airlinecode in title: Nobody, and regcode unknown "));
}

TEST_F(ScanTest, SameTitleInTwoFilesGivesOneLivery) {
    writeAircraft(tmp.dir() / "lf" / "one", "B738", {{"[fltsim.0]", "Shared title", "KLM"}});
    writeAircraft(tmp.dir() / "lf" / "two", "A320", {{"[fltsim.0]", "Shared title", "DLH"}});
    auto r = scan({{0, tmp.dir() / "lf"}});
    EXPECT_EQ(r.liveries, 1u);
    auto lines = readLines(tmp.output() / "errors" / "IncompleFltsimSections.txt");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("[fltsim.0] title 'Shared title' already exists"), std::string::npos);
}

TEST_F(ScanTest, PriorityFoldersAndSkippedDirectories) {
    writeAircraft(tmp.dir() / "lf0" / "klm", "B738", {{"[fltsim.0]", "KLM high", "KLM"}});
    writeAircraft(tmp.dir() / "lf2" / "klm", "B738", {{"[fltsim.0]", "KLM low", "KLM"}});
    writeAircraft(tmp.dir() / "lf2" / "dlh", "B738", {{"[fltsim.0]", "DLH low", "DLH"}});
    writeAircraft(tmp.dir() / "lf2" / "my airports" / "x", "B738", {{"[fltsim.0]", "In airport dir", "BAW"}});
    auto titles = [&] {
        std::vector<std::string> t;
        for (auto& l : scanned()) t.push_back(l.title);
        return t;
    };
    scan({{0, tmp.dir() / "lf0"}, {2, tmp.dir() / "lf2"}}, true);
    EXPECT_EQ(titles(), (std::vector<std::string>{"DLH low", "KLM high"}));
    scan({{0, tmp.dir() / "lf0"}, {2, tmp.dir() / "lf2"}}, false);
    EXPECT_EQ(titles(), (std::vector<std::string>{"DLH low", "KLM high", "KLM low"}));
    // A folder whose own path names an airport is not searched at all.
    writeAircraft(tmp.dir() / "airport_lf", "B738", {{"[fltsim.0]", "Root airport", "KLM"}});
    EXPECT_EQ(scan({{0, tmp.dir() / "airport_lf"}}).liveries, 0u);
    EXPECT_NE(tmp.log().find("No liveries " + (tmp.dir() / "airport_lf").string()), std::string::npos);
}

// Folder settings are UTF-8 text; on Windows a narrow path conversion would
// misspell a user name or folder beyond ASCII and lose the folder.
TEST_F(ScanTest, FoldersBeyondAsciiAreFoundAndLoggedInUtf8) {
    const std::string utf8Root = platform::pathToUtf8(tmp.dir()) + "/Liv\xC3\xA9ries \xC3\x9C";
    const fs::path root = platform::pathFromUtf8(utf8Root);
    writeAircraft(root / platform::pathFromUtf8("B\xC3\xB8" "eing"), "B738", {{"[fltsim.0]", "KLM \xC3\xA9t\xC3\xA9", "KLM"}});
    Parameters& p = params();
    const std::string before = p.lfolder[0].get();
    p.lfolder[0].set(utf8Root);
    const std::vector<ScanFolder> folders = liveryFolders();
    p.lfolder[0].set(before);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_TRUE(fs::equivalent(folders[0].path, root));
    EXPECT_EQ(scan(folders).liveries, 1u);
    ASSERT_EQ(scanned().size(), 1u);
    EXPECT_EQ(scanned()[0].title, "KLM \xC3\xA9t\xC3\xA9");
    EXPECT_NE(tmp.log().find("found in " + utf8Root), std::string::npos) << tmp.log();
}

TEST(SortAndDeduplicate, CatalogueOrderAndOnlyTrueRepeatsGo) {
    auto liv = [](std::string airline, std::string model, std::string title, std::string reg, bool cargo,
                  std::uint32_t folder) { return Livery{airline, model, title, reg, folder, cargo}; };
    std::vector<Livery> list = {liv("KLM", "B738", "b", "", false, 0),     liv("DLH", "B738", "z", "", false, 0),
                                liv("KLM", "A320", "c", "", false, 0),     liv("KLM", "B738", "a", "PH-1", false, 0),
                                liv("KLM", "B738", "a", "PH-1", false, 3), liv("KLM", "B738", "a", "PH-1", true, 0),
                                liv("KLM", "B738", "a", "", false, 0)};
    sortAndDeduplicate(list);
    std::vector<std::string> got;
    for (const auto& l : list) got.push_back(l.airline + " " + l.model + " " + l.title + " " + l.registration +
                                              (l.cargo ? " cargo" : ""));
    EXPECT_EQ(got, (std::vector<std::string>{"DLH B738 z ", "KLM A320 c ", "KLM B738 a ", "KLM B738 a PH-1",
                                             "KLM B738 a PH-1 cargo", "KLM B738 b "}));
}

TEST_F(ScanTest, DatabaseCorrectionsAndSortedUniqueReports) {
    loadDatabase(db, smallDbase(R"(<db reg="PH-BXA" airl="KLM" type="A20N" cargo="true"/>)"));
    writeAircraft(tmp.dir() / "lf" / "a", "B738", {{"[fltsim.0]", "Corrected", "DLH", "PH-BXA"}});
    writeAircraft(tmp.dir() / "lf" / "b", "B744", {{"[fltsim.0]", "Heavy one"}, {"[fltsim.1]", "Heavy one"}});
    scan({{0, tmp.dir() / "lf"}});
    auto l = scanned();
    auto it = std::find_if(l.begin(), l.end(), [](auto& x) { return x.title == "Corrected"; });
    ASSERT_NE(it, l.end());
    EXPECT_EQ(it->airline, "KLM");
    EXPECT_EQ(it->model, "A20N");
    EXPECT_TRUE(it->cargo);
    auto conv = readLines(tmp.output() / "info" / "AirlineModelConversions.txt");
    ASSERT_EQ(conv.size(), 3u);
    EXPECT_EQ(conv[0], fmt::format("{:80} PH-BXA airl DLH => KLM", "Corrected"));
    EXPECT_EQ(conv[1], fmt::format("{:80} PH-BXA cargo false => true", "Corrected"));
    // Both heavy sections report the same lines; the report keeps one of each.
    auto inc = readLines(tmp.output() / "errors" / "IncompleFltsimSections.txt");
    EXPECT_TRUE(std::is_sorted(inc.begin(), inc.end()));
    EXPECT_EQ(std::adjacent_find(inc.begin(), inc.end()), inc.end());
    EXPECT_NE(tmp.log().find("liveries updated with real live data from dbase"), std::string::npos);
}

#ifndef _WIN32
TEST_F(ScanTest, TimedOutFileTaskKeepsItsStateAlive) {
    // A FIFO named aircraft.cfg blocks its reader until someone writes to it.
    const fs::path folder = tmp.dir() / "lf" / "slow";
    fs::create_directories(folder);
    const fs::path fifo = folder / "aircraft.cfg";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directories(folder / "model");
    fs::create_directories(folder / "texture");
    writeText(folder / "S.air", "air");
    auto shared = std::make_shared<ScanState>();
    shared->db = &db;
    std::weak_ptr<ScanState> watch = shared;
    ScanOptions o;
    o.outputFolder = tmp.output();
    o.futureTimeout = std::chrono::milliseconds(200);
    try {
        runLiveryScan({{0, tmp.dir() / "lf"}}, std::move(shared), o);
        FAIL() << "expected a time-out";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Future wait timed out after", 0), 0u);
    }
    // The scan has ended; its stuck task still holds the state.
    ASSERT_FALSE(watch.expired());
    std::shared_ptr<ScanState> state = watch.lock();
    {
        const int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        const std::string text = "[fltsim.0]\ntitle=Late\nsim=S\nmodel=\ntexture=\natc_parking_codes=KLM\n"
                                 "[fltsim.1]\ntitle=Late\nsim=S\nmodel=\ntexture=\natc_parking_codes=KLM\n[General]\natc_model=B738\n";
        ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
    }
    // The released task reports into that state, then its worker lets go of it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (state.use_count() > 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(state.use_count(), 1);
    EXPECT_TRUE(state->hasTitle("Late"));
    EXPECT_EQ(state->incompleteSections.take(),
              std::vector<std::string>{fifo.string() + " [fltsim.1] title 'Late' already exists"});
}
#endif

// One worker, and more workers than the machine has: the walk shares its
// folders among them and every livery and report line arrives once.
class GeneratedTree : public ScanTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(GeneratedTree, ReportsExactlyThePlantedFaults) {
    livgen::Options o;
    o.files = 480;  // 48 planted faults, four of each kind
    o.faultEvery = 10;
    const auto tree = livgen::generate(tmp.dir() / "tree", o);
    loadDatabase(db, tree.dbaseXml);
    ScanOptions options;
    options.outputFolder = tmp.output();
    options.workers = GetParam();
    const auto result = runLiveryScan({{0, tmp.dir() / "tree"}}, db, {}, options);
    EXPECT_EQ(result.files, tree.files);
    std::vector<std::string> titles;
    for (auto& l : scanned()) titles.push_back(l.title);
    std::sort(titles.begin(), titles.end());
    EXPECT_EQ(titles, tree.titles);
    const std::map<std::string, std::string> folders = {
        {"InvalidAirlineCodes.txt", "errors"}, {"InvalidAircraftCodes.txt", "errors"}, {"Fixes.txt", "errors"},
        {"InvalidAircraftCfgFiles.txt", "errors"}, {"IncompleFltsimSections.txt", "errors"},
        {"AircraftCfgWithNoFltsimSection.txt", "info"}, {"AirlineModelConversions.txt", "info"}};
    for (const auto& [name, folder] : folders) {
        auto it = tree.expected.find(name);
        ASSERT_NE(it, tree.expected.end()) << name << " has no planted fault";
        EXPECT_EQ(readLines(tmp.output() / folder / name), it->second) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Workers, GeneratedTree, ::testing::Values(1u, 2u, 5u));

}  // namespace

// A scan stopped part way (the program closing) writes nothing: the list of
// the last whole scan stays for the next start. One that ran to the end and
// found nothing leaves no list behind.
TEST_F(ScanTest, AStoppedScanKeepsThePreviousListAndAnEmptyOneRemovesIt) {
    livgen::Options o;
    o.files = 200;
    const auto tree = livgen::generate(tmp.dir() / "tree", o);
    loadDatabase(db, tree.dbaseXml);
    ScanOptions options;
    options.outputFolder = tmp.output();
    ASSERT_FALSE(runLiveryScan({{0, tmp.dir() / "tree"}}, db, {}, options).stopped);
    const auto list = tmp.output() / "LiveriesScanned.xml";
    const std::string whole = readFile(list);
    ASSERT_FALSE(whole.empty());

    int asked = 0;
    options.stopped = [&] { return ++asked >= 1; };
    const auto stopped = runLiveryScan({{0, tmp.dir() / "tree"}}, db, {}, options);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.liveries, 0u);
    EXPECT_EQ(readFile(list), whole);

    options.stopped = {};
    fs::create_directories(tmp.dir() / "empty");
    EXPECT_EQ(runLiveryScan({{0, tmp.dir() / "empty"}}, db, {}, options).liveries, 0u);
    EXPECT_FALSE(fs::exists(list));
}

// A list that cannot be written (a folder in its place stands for a full or
// read-only disk) is reported as not written, so that the scan is not taken
// as done.
TEST_F(ScanTest, AListThatCannotBeWrittenIsNotReportedAsWritten) {
    livgen::Options o;
    o.files = 20;
    const auto tree = livgen::generate(tmp.dir() / "tree", o);
    loadDatabase(db, tree.dbaseXml);
    ScanOptions options;
    options.outputFolder = tmp.output();
    const auto whole = runLiveryScan({{0, tmp.dir() / "tree"}}, db, {}, options);
    EXPECT_TRUE(whole.written);
    fs::remove(tmp.output() / "LiveriesScanned.xml");
    fs::create_directories(tmp.output() / "LiveriesScanned.xml" / "x");
    const auto refused = runLiveryScan({{0, tmp.dir() / "tree"}}, db, {}, options);
    EXPECT_GT(refused.liveries, 0u);
    EXPECT_FALSE(refused.written);
}
