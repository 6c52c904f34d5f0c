// The downloader against a real HTTPS server on loopback
// (tests/support/download_server.py --run runs this program).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <random>
#include <thread>

#include "core/log.h"
#include "core/state.h"
#include "support/download_fixture.h"
#include "update/downloader.h"

namespace fs = std::filesystem;
using namespace vntx;
using namespace std::chrono_literals;

namespace {

class Downloader : public test::DownloadServerTest {
protected:
    void SetUp() override {
        DownloadServerTest::SetUp();
        if (!IsSkipped()) fs::create_directories(env.root / "downloads");
    }
    // Files in the test folder other than Log.txt: no temporary may be left behind.
    std::vector<std::string> leftovers() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(tmp.path()))
            if (e.path().filename() != "Log.txt") names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    void serve(const std::string& name, const std::string& bytes) {
        test::writeFile(env.root / "downloads" / name, bytes);
    }
};

TEST_F(Downloader, BinaryFilesArriveByteIdentical) {
    // Every byte value, CR LF pairs and a lone CR, then 3 MB of noise.
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    bytes += "\r\n\n\r\x1a";
    bytes += randomBytes(3 << 20, 7);
    serve("blob.bin", bytes);
    ASSERT_TRUE(download(downloadBase() + "blob.bin", tmp / "blob.bin", true));
    EXPECT_TRUE(test::readFile(tmp / "blob.bin") == bytes);

    // A real enciphered data file, through the data-file path of this version.
    const fs::path enc = fs::path(VNTX_BUILD_INPUT) / "airports.enc";
    ASSERT_TRUE(fs::exists(enc));
    const std::string real = test::readFile(enc);
    fs::create_directories(env.root / "downloads" / "11");
    test::writeFile(env.root / "downloads" / "11" / "airports.enc", real);
    ASSERT_TRUE(downloadDataFile("airports.enc", tmp / "airports.enc"));
    EXPECT_TRUE(test::readFile(tmp / "airports.enc") == real);
    EXPECT_NE(log().find(fmt::format("Downloaded 'airports.enc' to '{}'", (tmp / "airports.enc").string())),
              std::string::npos);
    EXPECT_EQ(requests("GET /downloads/11/airports.enc 200"), 1);

    // A newer file replaces the one there.
    serve("blob.bin", "second");
    ASSERT_TRUE(download(downloadBase() + "blob.bin", tmp / "blob.bin", true));
    EXPECT_EQ(test::readFile(tmp / "blob.bin"), "second");
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"airports.enc", "blob.bin"}));
}

TEST_F(Downloader, NotFoundIsAFailureAndLeavesNoFileAndTheOldOneUntouched) {
    const std::string url = downloadBase() + "no_such_file.xml";
    EXPECT_FALSE(download(url, tmp / "fresh.xml", false));
    EXPECT_FALSE(fs::exists(tmp / "fresh.xml"));
    EXPECT_NE(log().find("Download error: '"), std::string::npos);
    EXPECT_NE(log().find("' for " + url), std::string::npos);

    test::writeFile(tmp / "good.xml", "<good/>");
    EXPECT_FALSE(download(url, tmp / "good.xml", false));
    EXPECT_EQ(test::readFile(tmp / "good.xml"), "<good/>");
    EXPECT_FALSE(downloadDataFile("no_such_file.enc", tmp / "good.xml"));
    EXPECT_NE(log().find("Downloading 'no_such_file.enc' failed !"), std::string::npos);
    EXPECT_EQ(leftovers(), std::vector<std::string>{"good.xml"});
}

TEST_F(Downloader, TransferCutHalfWayKeepsThePreviousFile) {
    serve("half.bin", randomBytes(400000, 3));
    test::writeFile(tmp / "half.bin", "previous");
    EXPECT_FALSE(download(env.base + "_test/cut/downloads/half.bin", tmp / "half.bin", true));
    EXPECT_EQ(test::readFile(tmp / "half.bin"), "previous");
    EXPECT_EQ(requests("GET /_test/cut/downloads/half.bin 200"), 1);  // the body really was cut, not refused
    EXPECT_NE(log().find("Download error: '"), std::string::npos);
    EXPECT_EQ(leftovers(), std::vector<std::string>{"half.bin"});
}

TEST_F(Downloader, OutputInAMissingFolderIsRefusedBeforeAnyTransfer) {
    serve("x.bin", "x");
    const fs::path out = tmp / "missing" / "x.bin";
    EXPECT_FALSE(download(downloadBase() + "x.bin", out, true));
    EXPECT_NE(log().find("Could not open output file: " + out.string()), std::string::npos);
    EXPECT_EQ(requests("/downloads/x.bin"), 0);
    EXPECT_FALSE(fs::exists(tmp / "missing"));
}

TEST_F(Downloader, StalledServersAreAbandonedWithinTheTimeOuts) {
    setDownloadLimits({2, 32, 2});
    test::writeFile(tmp / "keep.xml", "kept");
    // Accepts the connection, never starts TLS: the connect time-out.
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(download(env.stall + "downloads/x.xml", tmp / "keep.xml", false));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 15s);
    // Takes the request, never answers: the low-speed abort.
    t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(download(env.base + "_test/stall/downloads/x.xml", tmp / "keep.xml", false));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 15s);
    EXPECT_EQ(requests("GET /_test/stall/downloads/x.xml stalled"), 1);
    EXPECT_EQ(test::readFile(tmp / "keep.xml"), "kept");
    EXPECT_EQ(leftovers(), std::vector<std::string>{"keep.xml"});
}

TEST_F(Downloader, TheCloseButtonAbortsARunningTransfer) {
    setDownloadLimits({20, 32, 120});  // only the stop request can end it early
    auto result = std::async(std::launch::async, [&] {
        return download(env.base + "_test/stall/downloads/y.xml", tmp / "y.xml", false);
    });
    // Wait until the server holds the request, then close as the window would.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (requests("/_test/stall/downloads/y.xml stalled") == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(requests("/_test/stall/downloads/y.xml stalled"), 1);
    requestStop(ExitReason::UserClosedSim, 0);
    ASSERT_EQ(result.wait_for(20s), std::future_status::ready);
    EXPECT_FALSE(result.get());
    EXPECT_NE(log().find("Download error: 'Operation was aborted by an application callback'"), std::string::npos);
    EXPECT_FALSE(fs::exists(tmp / "y.xml"));
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(Downloader, UntrustedCertificateIsRefused) {
    serve("t.txt", "t");
    setDownloadCaFile((fs::path(VNTX_SOURCE_DIR) / "tests" / "update" / "other_ca.pem").string());
    EXPECT_FALSE(download(downloadBase() + "t.txt", tmp / "t.txt", false));
    EXPECT_FALSE(fs::exists(tmp / "t.txt"));
    setDownloadCaFile(env.ca);
    EXPECT_TRUE(download(downloadBase() + "t.txt", tmp / "t.txt", false));
}

}  // namespace
