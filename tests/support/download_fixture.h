// A test run under the local HTTPS download server (download_server.py --run):
// the downloader pointed at it, a fresh folder with its own Log.txt (printed
// when the test fails), and the server's requests counted from the test's start.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "core/log.h"
#include "core/state.h"
#include "support/download_env.h"
#include "support/temp_dir.h"
#include "update/downloader.h"

namespace vntx::test {

class DownloadServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto e = DownloadServerEnv::fromEnvironment();
        if (!e) GTEST_SKIP() << "no download server: run through tests/support/download_server.py --run";
        env = *e;
        setDownloadServer(env.base);
        setDownloadCaFile(env.ca);
        setDownloadLimits({});
        setDownloadAbortCheck(nullptr);
        firstRequest = env.requestLines();
        openLog(tmp / "Log.txt");
    }
    void TearDown() override {
        if (env.base.empty()) return;
        if (HasFailure()) std::printf("Log.txt:\n%s\n", log().c_str());
        closeLog();
        setDownloadServer("");
        setDownloadLimits({});
        setDownloadAbortCheck(nullptr);
        resetStopState();
    }
    std::string log() {
        flushLog();
        return readFile(tmp / "Log.txt");
    }
    bool logged(const std::string& text) { return log().find(text) != std::string::npos; }
    // Requests of this test whose line in the server's log contains text.
    int requests(const std::string& text) const { return env.requests(text, firstRequest); }
    static std::string randomBytes(std::size_t n, unsigned seed) {
        std::mt19937 rng(seed);
        std::string s(n, '\0');
        for (auto& c : s) c = static_cast<char>(rng());
        return s;
    }

    DownloadServerEnv env;
    std::size_t firstRequest = 0;
    TempDir tmp;
};

}  // namespace vntx::test
