// The local HTTPS download server a test runs under (tests/support/download_server.py
// --run <test>): its addresses, certificate, served folder and request log.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace vntx::test {

struct DownloadServerEnv {
    std::string base;    // https://localhost:<port>/
    std::string ca;      // certificate to trust
    std::string stall;   // a port that accepts and never answers
    std::filesystem::path root;        // served folder
    std::filesystem::path requestLog;  // "METHOD path status" per request

    static std::optional<DownloadServerEnv> fromEnvironment() {
        auto get = [](const char* n) {
            const char* v = std::getenv(n);
            return std::string(v ? v : "");
        };
        DownloadServerEnv e{get("VNTX_DOWNLOAD_BASE"), get("VNTX_DOWNLOAD_CA"), get("VNTX_DOWNLOAD_STALL"),
                            get("VNTX_DOWNLOAD_ROOT"), get("VNTX_DOWNLOAD_LOG")};
        if (e.base.empty() || e.ca.empty() || e.root.empty() || e.requestLog.empty()) return std::nullopt;
        return e;
    }

    // Requests whose log line contains text, counted from line fromLine on
    // (0: every request the server took).
    int requests(const std::string& text, std::size_t fromLine = 0) const {
        std::ifstream in(requestLog);
        int n = 0;
        std::size_t i = 0;
        for (std::string line; std::getline(in, line); ++i)
            if (i >= fromLine && line.find(text) != std::string::npos) ++n;
        return n;
    }
    // Lines in the request log so far (a mark for requests()).
    std::size_t requestLines() const {
        std::ifstream in(requestLog);
        std::size_t n = 0;
        for (std::string line; std::getline(in, line);) ++n;
        return n;
    }
};

}  // namespace vntx::test
