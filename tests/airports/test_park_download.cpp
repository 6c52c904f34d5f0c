// Park files of the maker's archive, fetched from the local HTTPS server that
// serves the build's download tree (download_server.py --tree <build>/server --run).
#include <gtest/gtest.h>

#include "park_fixture.h"
#include "support/download_env.h"
#include "update/downloader.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

class ParkDownload : public test::ParkFolder {
protected:
    void SetUp() override {
        auto e = test::DownloadServerEnv::fromEnvironment();
        if (!e) GTEST_SKIP() << "no download server: run through tests/support/download_server.py --run";
        env = *e;
        ParkFolder::SetUp();
        setDownloadServer(env.base);
        setDownloadCaFile(env.ca);
        shippedReferenceData();
    }
    void TearDown() override {
        if (env.base.empty()) return;
        ParkFolder::TearDown();
        setDownloadServer("");
    }
    test::DownloadServerEnv env;
};

TEST_F(ParkDownload, AMissingParkFileIsDownloadedOnceThenReadFromDisk) {
    ASSERT_FALSE(fs::exists(tmp / "airports/stock/LSZH.xml"));
    const std::string location = findParkFileLocation("LSZH");
    ASSERT_EQ(location, "archive/stock/LSZH.xml");
    const std::string request = "GET /downloads/P3D/archive/stock/LSZH.xml 200";
    const int before = env.requests(request);

    ParkAirport first;
    first.code = "LSZH";
    ASSERT_EQ(gf_readApf(location, first), "");
    EXPECT_EQ(env.requests(request), before + 1);
    EXPECT_TRUE(fs::exists(tmp / "airports/stock/LSZH.xml"));
    ASSERT_GT(first.positions.size(), 250u);
    EXPECT_TRUE(logged(fmt::format("{:24}: {}", "num_parkpos", first.positions.size())));
    EXPECT_TRUE(logged("Airport file read from 'archive/stock/LSZH.xml' for LSZH"));

    ParkAirport second;
    second.code = "LSZH";
    ASSERT_EQ(gf_readApf(location, second), "");
    EXPECT_EQ(env.requests(request), before + 1);  // from disk this time
    EXPECT_EQ(second.positions.size(), first.positions.size());
}

TEST_F(ParkDownload, AFailedDownloadIsReportedAndLeavesNothing) {
    catalogue(R"(<airport code="XXXX" iata="XXX" lat="1" lon="1" alt="1" stands="1"/>)");
    ParkAirport a;
    a.code = "XXXX";
    const std::string url = env.base + "downloads/P3D/archive/stock/XXXX.xml";
    EXPECT_EQ(gf_readApf(findParkFileLocation("XXXX"), a), "failed to download: '" + url + "'");
    EXPECT_TRUE(logged("failed to download: '" + url + "'"));
    EXPECT_FALSE(fs::exists(tmp / "airports/stock/XXXX.xml"));
    EXPECT_TRUE(fs::is_empty(tmp / "airports/stock"));
}

TEST_F(ParkDownload, ARedirectOutOfTheArchiveIsRefusedWithoutARequest) {
    write("airports/my_thirdparty/EVIL.txt", "../../../etc/evil.xml\n");
    ASSERT_EQ(findParkFileLocation("EVIL"), "../../../etc/evil.xml");
    ParkAirport a;
    a.code = "EVIL";
    EXPECT_EQ(gf_readApf("../../../etc/evil.xml", a), "invalid park file location: '../../../etc/evil.xml'");
    EXPECT_EQ(env.requests("evil"), 0);
}

TEST_F(ParkDownload, TheNeighbourWithTheNearerStandIsClosest) {
    // Zurich's stock file comes from the server; a small field 3 nm away has
    // a file of its own with a stand much farther from the user.
    ParkAirport zurich;
    zurich.code = "LSZH";
    ASSERT_EQ(gf_readApf("archive/stock/LSZH.xml", zurich), "");
    const ParkPosition& s = zurich.positions.front();
    catalogue(fmt::format(R"(<airport code="LSZH" iata="ZRH" lat="{}" lon="{}" alt="1416" stands="1"/>
                             <airport code="LSZZ" iata="ZZZ" lat="{}" lon="{}" alt="1" stands="0"/>)",
                          s.lat + 0.06, s.lon, s.lat - 0.03, s.lon));
    write("airports/my_thirdparty/LSZZ.xml",
          fmt::format(R"(<parameters><parameter name="altitude" value="1"/></parameters>
                         <parkpositions><parkpos id="FAR" latitude="{}" longitude="{}"/></parkpositions>)",
                      s.lat - 0.05, s.lon));
    installParkFileHooks();
    const AirportEntry* closest = closestAirport(s.lat, s.lon);
    ASSERT_NE(closest, nullptr);
    EXPECT_EQ(closest->code, "LSZH");
    EXPECT_TRUE(logged(fmt::format("Airport LSZZ is closest, but stand {} at neighbouring airport LSZH", s.id)));
    // Without a park file to be had, the neighbour's stand counts as 100 nm away.
    setDownloadServer(env.base + "nothing-here/");
    fs::remove_all(tmp / "airports/stock");
    EXPECT_EQ(closestAirport(s.lat, s.lon)->code, "LSZZ");
}

}  // namespace
