// The airport scan driver on generated scenery trees with the shipped
// reference data: which files are decoded, what becomes of each airport, the
// worker tasks and their time-out, the clean-up, tblo.zip and the settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "bglgen/bglgen.h"
#include "core/errors.h"
#include "core/hooks.h"
#include "core/state.h"
#include "core/status.h"
#include "scan/addon_parkfiles.h"
#include "scan/airport_scan.h"
#include "scan/scan_fixture.h"
#include "ui/layout.h"
#include "update/downloader.h"

namespace fs = std::filesystem;
using namespace vntx;
using vntx::test::readFile;

namespace {

BglAirport decoded(const std::string& code, std::size_t stands) {
    BglAirport a;
    a.ident = code;
    for (std::size_t i = 0; i < stands; ++i)
        a.stands.push_back({fmt::format("g{}", i + 1), 47.0 + i * 1e-4, 11.3, 1.0, 20.0});
    return a;
}

class ScanDriver : public test::ScanFolder {
protected:
    std::string report() const { return readFile(kScanReportFile); }
    AirportScanOptions options;
};

TEST_F(ScanDriver, MostStandsWinWhateverOrderTheFilesCameIn) {
    std::vector<scan::DecodedFile> files{{"b/EGKK.bgl", {}, {decoded("EGKK", 5)}, {}},
                                         {"c/EGKK.bgl", {}, {decoded("EGKK", 3)}, {}},
                                         {"a/EGKK.bgl", {}, {decoded("EGKK", 5)}, {}}};
    for (int round = 0; round < 3; ++round) {
        std::rotate(files.begin(), files.begin() + 1, files.end());
        for (auto& f : files) f.decisions.clear();
        const scan::Placement p = scan::placeAirports(files, database());
        ASSERT_EQ(p.unrecognised.size(), 1u);
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_file("airports/my_thirdparty/EGKK.xml"));
        EXPECT_STREQ(doc.select_node("/parameters/parameter[@name='BGLpath']").node().attribute("value").value(),
                     "a/EGKK.bgl");
        for (const auto& f : files) {
            const auto expected = f.path == "a/EGKK.bgl"
                                      ? std::vector<std::string>{"thirdparty  EGKK does not exist",
                                                                 "Generated EGKK: 5 positions"}
                                      : std::vector<std::string>{"EGKK of " + f.path + " with " +
                                                                 std::to_string(f.airports[0].stands.size()) +
                                                                 " parkpos skipped, a/EGKK.bgl has 5"};
            EXPECT_EQ(f.decisions, expected) << f.path;
        }
    }
}

// The whole tree test covers ORBX and unknown publishers; here: a publisher
// name with a blank, a maker's file that cannot be had, an airport without stands.
TEST_F(ScanDriver, LinksWhatTheMakerKnowsAndGeneratesTheRest) {
    // The kept copy of the maker's EPWA file has 3 stands.
    ParkAirport archived;
    for (std::size_t i = 0; i < 3; ++i) archived.positions.push_back({{}, fmt::format("s{}", i), {}, 52.1, 20.9 + i * 1e-4});
    fs::create_directories("airports/stock/thirdparty/Drzewiecki Design");
    ASSERT_TRUE(writeParkFile(archived, ParkFileMode::Archive, "airports/stock/thirdparty/Drzewiecki Design/EPWA.xml"));
    std::vector<scan::DecodedFile> files{
        {"D:/Drzewiecki Design/EPWA/a.bgl", {}, {decoded("EPWA", 5)}, {}},
        {"D:/Drzewiecki Design/UUEE/a.bgl", {}, {decoded("UUEE", 2)}, {}},  // UUEE: no kept copy
        {"D:/Nobody/EGKK/a.bgl", {}, {decoded("EGKK", 0)}, {}}};
    setDownloadServer("https://127.0.0.1:9/");  // nothing listens: the download fails at once
    const scan::Placement p = scan::placeAirports(files, database());
    setDownloadServer("");

    EXPECT_EQ(files[0].decisions,
              (std::vector<std::string>{"thirdparty airport EPWA linked to archive/thirdparty/Drzewiecki%20Design/EPWA.xml",
                                        "===> EPWA has 5 parkpos while archived one has 3", "Generated EPWA: 5 positions"}));
    ASSERT_EQ(files[1].decisions.size(), 2u);
    EXPECT_EQ(files[1].decisions[1].rfind("===> stands of archive/thirdparty/Drzewiecki%20Design/UUEE.xml not counted", 0), 0u);
    EXPECT_EQ(files[2].decisions, (std::vector<std::string>{"thirdparty  EGKK does not exist",
                                                             "EGKK has no parkpos, no park file generated"}));
    EXPECT_EQ(p.airports, 3u);
    EXPECT_EQ(p.linked, 2u);
    EXPECT_EQ(p.generated, 1u);
    EXPECT_TRUE(p.unrecognised.empty());
    // The redirect wins the lookup over the generated file beside it.
    EXPECT_EQ(findParkFileLocation("EPWA"), "archive/thirdparty/Drzewiecki%20Design/EPWA.xml");
    EXPECT_TRUE(fs::exists("airports/my_thirdparty/EPWA.xml"));
    EXPECT_FALSE(fs::exists("airports/my_thirdparty/EGKK.xml"));
}

TEST_F(ScanDriver, EarlierScanFilesGoTheUsersOwnStay) {
    write("airports/my_thirdparty/OLD1.txt", "archive/thirdparty/X/OLD1.xml\n");
    ParkAirport generated;
    generated.positions.push_back({{}, "g1", {}, 47.0, 11.0});
    ASSERT_TRUE(writeParkFile(generated, ParkFileMode::Generated, "airports/my_ORBX/OLD2.xml"));
    ASSERT_TRUE(writeParkFile(generated, ParkFileMode::Archive, "airports/my_thirdparty/MINE.xml"));
    write("airports/my_thirdparty/HAND.xml", "<parkpositions/>");
    write("airports/learned/stock/OLD1.xml", "<parkpositions/>");
    write("airports/my_ORBX/MINE.xml", "<parameters><parameter name='altitude' value='1'/></parameters>");
    bgl("addons/x/MINE.bgl", "EGKK");  // stands for MINE in neither folder
    params().afolder[0].set((tmp / "addons").string());

    // A wrong folder setting stops the scan before anything is removed.
    params().afolder[1].set((tmp / "P3D/Scenery/World").string());
    params().ALL_INSTALL_PATH.set((tmp / "P3D").string());
    try {
        scanAddonAirports(false);
        FAIL() << "no user error";
    } catch (const UserErrorException& e) {
        EXPECT_EQ(e.code(), 42);
        EXPECT_STREQ(e.what(), "42: parameter afolder1 points to stock airports instead of add-on airports!");
    }
    EXPECT_TRUE(fs::exists("airports/my_thirdparty/OLD1.txt"));

    params().afolder[1].set("");
    scanAddonAirports(true);
    std::set<std::string> left;
    for (const char* folder : {"airports/my_thirdparty", "airports/my_ORBX"})
        for (const auto& e : fs::directory_iterator(folder)) left.insert(e.path().generic_string());
    EXPECT_EQ(left, (std::set<std::string>{"airports/my_ORBX/MINE.xml", "airports/my_thirdparty/EGKK.xml",
                                           "airports/my_thirdparty/HAND.xml", "airports/my_thirdparty/MINE.xml"}));
    EXPECT_TRUE(fs::exists("airports/learned/stock/OLD1.xml"));
    EXPECT_TRUE(logged("++++++++++++++++++++++++ airports scan manual  starts"));
}

TEST_F(ScanDriver, NoAfolderIsTheUsersToFix) {
    try {
        scanAddonAirports(false);
        FAIL() << "no user error";
    } catch (const UserErrorException& e) {
        EXPECT_STREQ(e.what(), "49: Exit Ventrix_P3D first!   Then set one or more afolder parameters to your add-on "
                               "airports, see Manual 6.2");
    }
}

TEST_F(ScanDriver, DecodesOnlyAirportFilesOutsideStaticsHeliportsAndTheSimulator) {
    bgl("a/EGKK/EGKK.bgl", "EGKK");
    bgl("a/EGSS/EGSS.BGL", "EGSS");
    bgl("a/EGBB/SceneryExtra/EGBB.bgl", "EGBB");
    bgl("a/EGLL/statics/EGLL.bgl", "EGLL");
    bgl("a/EGCC/EGCC_heliports.bgl", "EGCC");
    bgl("a/EGPH/EGPH.Bgl", "EGPH");
    bgl("a/P3D/Scenery/EGPF.bgl", "EGPF");
    bglgen::File exclusion;
    exclusion.exclusion = true;
    bglgen::writeFile(tmp / "a/EGKK/EGKK_CVX.bgl", exclusion);
    write("notes.txt", "not a folder");
    options.stockScenery = tmp / "a/P3D/Scenery";
    std::mutex m;
    std::set<std::string> seen;
    options.decode = [&](const fs::path& f, const AirportFilter& filter) {
        std::lock_guard lock(m);
        seen.insert(f.filename().string());
        return decodeBglFile(f, filter);
    };
    const std::string missing = (tmp / "gone").string(), file = (tmp / "notes.txt").string();
    const AirportScanResult r = scanFolders({missing, file, (tmp / "a").string()}, options);
    EXPECT_EQ(seen, (std::set<std::string>{"EGKK.bgl", "EGSS.BGL", "EGBB.bgl"}));
    EXPECT_EQ(r.files, 3u);
    EXPECT_EQ(r.generated, 3u);
    const std::string text = report();
    EXPECT_EQ(text.rfind(missing + " does not exist, skipped!\n" + file + " is not a folder name, skipped!\n" +
                             "Scanning for addon  airports in " + (tmp / "a").string() + "\n",
                         0),
              0u)
        << text;
}

TEST_F(ScanDriver, AHungTaskEndsItsFolderOnly) {
    bgl("slow/EGKK.bgl", "EGKK");
    bgl("fast/EGSS.bgl", "EGSS");
    struct Gate {
        std::mutex m;
        std::condition_variable cv;
        bool open = false, done = false;
    };
    auto gate = std::make_shared<Gate>();
    options.taskTimeout = std::chrono::milliseconds(300);
    options.decode = [gate](const fs::path& f, const AirportFilter& filter) {
        if (f.filename() == "EGKK.bgl") {
            std::unique_lock lock(gate->m);
            gate->cv.wait(lock, [&] { return gate->open; });
        }
        BglFileResult r = decodeBglFile(f, filter);
        std::lock_guard lock(gate->m);
        gate->done = gate->done || f.filename() == "EGKK.bgl";
        gate->cv.notify_all();
        return r;
    };
    const AirportScanResult r = scanFolders({(tmp / "slow").string(), (tmp / "fast").string()}, options);
    EXPECT_NE(report().find("===> addon  airports search in " + (tmp / "slow").string() +
                            " aborted, futs outer error: Future wait timed out after 0.3 seconds"),
              std::string::npos)
        << report();
    EXPECT_EQ(r.unrecognised, std::vector<std::string>{"EGSS"});
    // The task given up on finishes later on its own.
    std::unique_lock lock(gate->m);
    gate->open = true;
    gate->cv.notify_all();
    EXPECT_TRUE(gate->cv.wait_for(lock, std::chrono::seconds(10), [&] { return gate->done; }));
}

TEST_F(ScanDriver, NoMoreTasksAtOnceThanWorkers) {
    for (const char* code : {"EGKK", "EGSS", "EGLL", "EGCC", "EGPH", "EGPF", "EGBB", "EGNX", "EGAA"})
        bgl(std::string("a/") + code + ".bgl", code);
    options.workers = 3;
    std::mutex m;
    std::condition_variable cv;
    int inFlight = 0, most = 0;
    options.decode = [&](const fs::path& f, const AirportFilter& filter) {
        std::unique_lock lock(m);
        most = std::max(most, ++inFlight);
        cv.notify_all();
        // Hold on until the other workers are busy too (or a second passed).
        cv.wait_for(lock, std::chrono::seconds(1), [&] { return inFlight >= 3; });
        lock.unlock();
        BglFileResult r = decodeBglFile(f, filter);
        lock.lock();
        --inFlight;
        return r;
    };
    EXPECT_EQ(scanFolders({(tmp / "a").string()}, options).files, 9u);
    EXPECT_EQ(most, 3);
}

TEST_F(ScanDriver, ZipHoldsTheFolderFilesButNotItselfOrSubfolders) {
    fs::create_directories(tmp / "src/sub");
    write("src/EGKK.xml", "<a/>");
    const std::string big(70000, 'x');
    write("src/NZQN.xml", big);
    write("src/sub/EGLL.xml", "<c/>");
    write("src/tblo.zip", "old");
    EXPECT_TRUE(zipFolder("src", "src/tblo.zip")) << log();
    const auto entries = test::zipEntries("src/tblo.zip");
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.count("EGKK.xml") ? entries.at("EGKK.xml") : "", "<a/>");
    EXPECT_TRUE(entries.count("NZQN.xml") && entries.at("NZQN.xml") == big);
    EXPECT_TRUE(logged("[zip] Removing old zip src/tblo.zip"));
    EXPECT_TRUE(logged("[zip] Added 2 files, ok_close=true, exists=true"));
    EXPECT_FALSE(zipFolder("src/EGKK.xml", "x.zip"));
    EXPECT_TRUE(logged("[zip] Not a directory: src/EGKK.xml"));
}

TEST_F(ScanDriver, TheCycleSwitchesTheScanOffUnlessAStopCutItShort) {
    params().setFile(tmp / "appdata/parameters.xml");
    bgl("addons/EGKK.bgl", "EGKK");
    params().afolder[0].set((tmp / "addons").string());
    installAirportScanHooks();
    requestStop(ExitReason::UserClosedSim, 0);
    hooks().scanAirports();
    EXPECT_TRUE(params().SCAN_AIRPORTS.get());
    resetStopState();
    hooks().scanAirports();
    EXPECT_FALSE(params().SCAN_AIRPORTS.get());
    EXPECT_NE(readFile(tmp / "appdata/parameters.xml").find("name=\"SCAN_AIRPORTS\" value=\"false\""), std::string::npos);
    params().setFile({});
}

// What the window shows of a scan: each status line as painted, and the
// enable calls of the button that opens tblo.zip.
class WindowRecorder final : public WindowFrontEnd {
public:
    void repaint() override {
        const std::string text = statusText();
        std::lock_guard lock(m);
        if (statuses.empty() || statuses.back() != text) statuses.push_back(text);
    }
    void postStartCycle() override {}
    void postEndProgram() override {}
    void enableControl(int id, bool enabled) override {
        std::lock_guard lock(m);
        if (id == ui::kButtonTblo) tblo.push_back(enabled);
    }
    void refreshControls() override {}
    void setTopMost(bool) override {}
    bool shown(const std::string& text) const {
        return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
    }
    std::mutex m;
    std::vector<std::string> statuses;
    std::vector<bool> tblo;
};

TEST_F(ScanDriver, TheStatusLineFollowsTheScanAndTheTbloButtonTheArchive) {
    for (int i = 0; i < 30; ++i) bgl(fmt::format("addons/A{:02}/scenery/A.bgl", i), fmt::format("ZQ{:02}", i), 4);
    write("tblo/tblo.zip", "an archive of an earlier scan");
    params().afolder[0].set((tmp / "addons").string());
    options.supported = [](std::string_view code) { return code.starts_with("ZQ"); };
    WindowRecorder window;
    clearStatus();
    setFrontEnd(&window);
    scanAddonAirports(false, options);

    EXPECT_TRUE(window.shown("Scanning for addon airports ..."));
    // Progress while the tasks are collected, the last count once the folder is done.
    const auto progress = std::find_if(window.statuses.begin(), window.statuses.end(), [](const std::string& s) {
        return s.starts_with("Scanning for addon airports ... 25 of ");
    });
    EXPECT_NE(progress, window.statuses.end());
    EXPECT_TRUE(window.shown("Scanning for addon airports ... 30 of 30 airport files decoded"));
    // The mail request is what stays on the status line.
    ASSERT_GE(window.statuses.size(), 2u);
    EXPECT_EQ(window.statuses[window.statuses.size() - 2], "Airports scan successful");
    EXPECT_TRUE(window.statuses.back().starts_with("! Mail " + fs::absolute(kTbloZip).string()))
        << window.statuses.back();
    EXPECT_EQ(window.tblo, (std::vector<bool>{false, true}));
    EXPECT_EQ(test::zipEntries(kTbloZip).size(), 30u);

    // A scan that finds nothing leaves no archive and the button off.
    params().afolder[0].set((tmp / "empty").string());
    fs::create_directories(tmp / "empty");
    window.tblo.clear();
    scanAddonAirports(true, options);
    setFrontEnd(nullptr);
    EXPECT_FALSE(fs::exists(kTbloZip));
    EXPECT_EQ(window.tblo, std::vector<bool>{false});
    EXPECT_EQ(window.statuses.back(), "Warning: Scan has not found any add-on airports");
}

TEST(StockScenery, MatchesWholeFolderNamesWithoutRegardToCaseOrSeparators) {
    EXPECT_TRUE(isStockScenery("c:\\p3d v5\\SCENERY\\World\\x.bgl", "C:/P3D v5/Scenery"));
    EXPECT_TRUE(isStockScenery("C:/P3D v5/Scenery/", "C:/P3D v5/Scenery"));
    EXPECT_FALSE(isStockScenery("C:/P3D v5/Scenery Addons/x.bgl", "C:/P3D v5/Scenery"));
    EXPECT_FALSE(isStockScenery("D:/Addon Scenery/x.bgl", ""));
}

}  // namespace
