// A whole scan of an add-on scenery tree: the real LEAB and LEAR packages
// beside generated airports of a publisher the maker knows (its park file on
// the local download server), of ORBX, of an unknown publisher, one in a
// "statics" folder, and an afolder that names a file. Checked: the redirects,
// the generated park files as the park-file reader then finds them, the scan
// report and tblo.zip read back with libzip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include <fmt/format.h>

#include "scan/airport_scan.h"
#include "scan/scan_fixture.h"
#include "support/download_env.h"

namespace fs = std::filesystem;
using namespace vntx;
using vntx::test::readFile;

namespace {

fs::path realScenery() {
    if (const char* dir = std::getenv("VNTX_SHARED_DIR")) return fs::path(dir) / "data/scenery_bgl";
    return fs::path(VNTX_SOURCE_DIR) / "../shared/data/scenery_bgl";
}

std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        out.insert(it->path().filename().string());
    return out;
}

class ScanTree : public test::ScanFolder {
protected:
    void SetUp() override {
        server = test::DownloadServerEnv::fromEnvironment();
        if (!server) GTEST_SKIP() << "needs the local download server (download_server.py --run)";
        ScanFolder::SetUp();
    }
    // The maker's park file of KBOS on the server, with `stands` stands.
    void archiveKbos(std::size_t stands) const {
        ParkAirport a;
        a.publisher = "FlyTampa";
        for (std::size_t i = 0; i < stands; ++i) a.positions.push_back({{}, fmt::format("A{}", i), {}, 42.36, -71.0 + i * 1e-4});
        const fs::path file = server->root / "downloads/P3D/archive/thirdparty/FlyTampa/KBOS.xml";
        fs::create_directories(file.parent_path());
        ASSERT_TRUE(writeParkFile(a, ParkFileMode::Archive, file));
    }
    std::optional<test::DownloadServerEnv> server;
};

TEST_F(ScanTree, WritesRedirectsParkFilesReportAndTblo) {
    if (!fs::is_directory(realScenery())) GTEST_SKIP() << realScenery() << " is absent";
    const fs::path addons = tmp / "Addons";
    for (const auto& [from, to] : {std::pair{"leab", "LEAB ARV187/scenery"}, std::pair{"lear", "LEAR_ARV187/scenery"}}) {
        fs::create_directories(addons / to);
        for (const auto& e : fs::directory_iterator(realScenery() / from))
            fs::copy_file(e.path(), addons / to / e.path().filename());
    }
    bgl("Addons/FlyTampa KBOS/scenery/KBOS_ADE.bgl", "KBOS", 30);
    bgl("Addons/ORBX/LOWI/scenery/LOWI.bgl", "LOWI", 10);
    bgl("Addons/ORBX/NZWN/scenery/NZWN.bgl", "NZWN", 8);
    bgl("Addons/Some Dev EDDB/scenery/EDDB.bgl", "EDDB", 12);
    bgl("Addons/Some Dev EDDB/statics/EDDC.bgl", "EDDC", 4);
    write("Addons/readme.txt", "a file");
    archiveKbos(12);
    params().afolder[0].set(addons.string());
    params().afolder[2].set((addons / "readme.txt").string());

    // Each LEAB file on its own: the scan must take the one with the most
    // stands, of equal counts the first by path.
    BglAirport leabBest;
    std::string leabFile;
    std::set<fs::path> leabFiles(fs::directory_iterator(addons / "LEAB ARV187/scenery"), {});
    for (const fs::path& file : leabFiles)
        for (BglAirport& a : decodeBglFile(file, nullptr).airports)
            if (a.stands.size() > leabBest.stands.size()) {
                leabBest = std::move(a);
                leabFile = file.string();
            }
    const std::size_t leabStands = leabBest.stands.size();
    ASSERT_GT(leabStands, 50u);
    ASSERT_EQ(leabBest.helipads, 1u);

    const AirportScanResult r = scanAddonAirports(false);
    EXPECT_FALSE(r.interrupted);
    EXPECT_EQ(filesIn("airports/my_thirdparty"), (std::set<std::string>{"EDDB.xml", "KBOS.txt", "KBOS.xml", "LEAB.xml"}));
    EXPECT_EQ(filesIn("airports/my_ORBX"), (std::set<std::string>{"LOWI.txt", "NZWN.xml"}));
    EXPECT_EQ(readFile("airports/my_thirdparty/KBOS.txt"), "archive/thirdparty/FlyTampa/KBOS.xml\n");
    EXPECT_EQ(readFile("airports/my_ORBX/LOWI.txt"), "archive/simaddon/LOWI.xml\n");
    EXPECT_EQ(server->requests("GET /downloads/P3D/archive/thirdparty/FlyTampa/KBOS.xml 200"), 1);

    const std::string report = readFile(kScanReportFile);
    for (const std::string& line :
         {"Scanning for addon  airports in " + addons.string(), (addons / "readme.txt").string() + " is not a folder name, skipped!",
          std::string("LEAR is not an airport supported by RealTraffic "),
          std::string("thirdparty airport KBOS linked to archive/thirdparty/FlyTampa/KBOS.xml"),
          std::string("===> KBOS has 30 parkpos while archived one has 12"), std::string("Generated KBOS: 30 positions"),
          std::string("simaddon airport LOWI linked to archive/simaddon/LOWI.xml"),
          std::string("NZWN does not exist as simaddon"), std::string("thirdparty  EDDB does not exist"),
          "Generated LEAB: " + std::to_string(leabStands) + " positions, of which 1 helipad"})
        EXPECT_NE(report.find(line + "\n"), std::string::npos) << line << "\n" << report;
    EXPECT_EQ(report.find("EDDC"), std::string::npos);
    EXPECT_EQ(report.find("LOWI: "), std::string::npos);  // linked, nothing generated

    // The next read of the park files finds the generated stands.
    EXPECT_EQ(findParkFileLocation("KBOS"), "archive/thirdparty/FlyTampa/KBOS.xml");
    ASSERT_EQ(findParkFileLocation("LEAB"), "airports/my_thirdparty/LEAB.xml");
    ParkAirport leab;
    leab.code = "LEAB";
    ASSERT_EQ(gf_readApf("airports/my_thirdparty/LEAB.xml", leab), "");
    EXPECT_EQ(leab.positions.size(), leabStands);
    EXPECT_EQ(fs::path(leab.BGLpath), fs::path(leabFile));
    EXPECT_EQ(leab.altitude, leabBest.altitudeFt);
    EXPECT_EQ(leab.airport_name, leabBest.name);
    for (std::size_t i = 0; i < leabStands; ++i) EXPECT_EQ(leab.positions[i].id, leabBest.stands[i].id);

    // The airports the maker does not know go to tblo.zip, copied from where they were generated.
    EXPECT_EQ(r.unrecognised, (std::vector<std::string>{"EDDB", "LEAB", "NZWN"}));
    EXPECT_EQ(filesIn("tblo"), (std::set<std::string>{"EDDB.xml", "LEAB.xml", "NZWN.xml", "tblo.zip"}));
    const auto zip = test::zipEntries(kTbloZip);
    ASSERT_EQ(zip.size(), 3u);
    EXPECT_EQ(zip.at("LEAB.xml"), readFile("airports/my_thirdparty/LEAB.xml"));
    EXPECT_EQ(zip.at("NZWN.xml"), readFile("airports/my_ORBX/NZWN.xml"));
    EXPECT_EQ(zip.at("EDDB.xml"), readFile("airports/my_thirdparty/EDDB.xml"));
    EXPECT_FALSE(logged("All your third party airports are recognised"));
    EXPECT_TRUE(logged("! Mail " + fs::absolute(kTbloZip).string()));
}

TEST_F(ScanTree, OnlyKnownAirportsGiveRedirectsAndNoTblo) {
    bgl("Addons/FlyTampa KBOS/scenery/KBOS_ADE.bgl", "KBOS", 30);
    bgl("Addons/ORBX/LOWI/scenery/LOWI.bgl", "LOWI", 10);
    archiveKbos(40);
    params().afolder[3].set((tmp / "Addons").string());
    const AirportScanResult r = scanAddonAirports(false);
    EXPECT_EQ(r.linked, 2u);
    EXPECT_EQ(filesIn("airports/my_thirdparty"), std::set<std::string>{"KBOS.txt"});
    EXPECT_EQ(filesIn("airports/my_ORBX"), std::set<std::string>{"LOWI.txt"});
    EXPECT_TRUE(filesIn("tblo").empty());
    EXPECT_TRUE(logged("All your third party airports are recognised, no off line learning needed."));
    EXPECT_TRUE(logged("Airports scan successful"));
}

}  // namespace
