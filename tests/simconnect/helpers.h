// Shared helpers of the SimConnect tests: a scratch folder with its own
// registry, documents and pipe folder, waiting, and collecting dispatches.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "simconnect/simconnect.h"

namespace vntx::simconnect::testing {

inline void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

// A fresh folder that stands in for the registry, the documents folders and
// the pipe folder while the test runs.
class Sandbox {
public:
    Sandbox() {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() / ("vntx-sc-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(dir_ / "public");
        std::filesystem::create_directories(dir_ / "home" / "Documents");
        std::filesystem::create_directories(dir_ / "run");
        setEnv("VNTX_REGISTRY", (dir_ / "registry.ini").string());
        setEnv("VNTX_PUBLIC_DOCUMENTS", (dir_ / "public").string());
        setEnv("HOME", (dir_ / "home").string());
        setEnv("VNTX_RUNTIME_DIR", (dir_ / "run").string());
    }
    ~Sandbox() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path write(const std::string& name, const std::string& text) const {
        auto p = dir_ / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }

private:
    std::filesystem::path dir_;
};

// The limit only bounds a failing wait: under Wine on a loaded machine a
// round trip through the simulator stand-in has taken more than 5 s.
inline bool waitFor(const std::function<bool()>& done, int ms = 15000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

// Everything CallDispatch handed over, as whole messages.
struct Collected {
    std::vector<wire::Bytes> messages;
    static void proc(SIMCONNECT_RECV* data, DWORD size, void* ctx) {
        auto* self = static_cast<Collected*>(ctx);
        auto* p = reinterpret_cast<const std::uint8_t*>(data);
        self->messages.emplace_back(p, p + size);
    }
    std::vector<wire::Received> of(DWORD id) const {
        std::vector<wire::Received> out;
        for (const auto& m : messages)
            if (auto r = wire::decodeReceived(m); r && r->id == id) out.push_back(*r);
        return out;
    }
    void clear(DWORD id) {
        std::erase_if(messages, [&](const wire::Bytes& m) {
            auto r = wire::decodeReceived(m);
            return r && r->id == id;
        });
    }
};

inline std::vector<nlohmann::json> readTrace(const std::filesystem::path& path) {
    std::vector<nlohmann::json> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) out.push_back(nlohmann::json::parse(line, nullptr, false));
    return out;
}

}  // namespace vntx::simconnect::testing
