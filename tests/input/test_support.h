// Helpers shared by the input tests: a captured Log.txt and datagram building.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/log.h"

namespace vntx::testing {

// Opens Log.txt in a fresh temporary folder for the test; text() reads it back.
class CapturedLog {
public:
    CapturedLog() {
        dir_ = std::filesystem::temp_directory_path() /
               ("vntx_input_" + std::to_string(::getpid()) + "_" + std::to_string(counter()++));
        std::filesystem::create_directories(dir_);
        openLog(dir_ / "Log.txt");
    }
    ~CapturedLog() {
        closeLog();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string text() const {
        flushLog();
        std::ifstream in(dir_ / "Log.txt");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool contains(const std::string& s) const { return text().find(s) != std::string::npos; }

private:
    static int& counter() {
        static int c = 0;
        return c;
    }
    std::filesystem::path dir_;
};

// A traffic datagram that the decoder accepts with the default settings
// (user at 47.45, 8.56; no park airport): an airborne A320 near the user.
struct Datagram {
    std::vector<std::string> f{
        "RTTFC", "4953807", "47.5", "8.6", "7000", "-640", "0", "123.4", "250", "SWR123", "A320", "HB-JLT",
        "ZRH", "LHR", "1704067200.5", "adsb", "LX123", "adsb_icao", "7150", "230", "265", "0.41", "0.00",
        "5.5", "121.0", "123.0", "-600", "none", "A3", "1013.2", "-1", "-1", "null"};
    Datagram& set(std::size_t i, std::string v) {
        f.at(i) = std::move(v);
        return *this;
    }
    std::string text(std::size_t count = 0) const {
        if (count == 0) count = f.size();
        std::string s;
        for (std::size_t i = 0; i < count; ++i) {
            if (i) s += ',';
            s += f[i];
        }
        return s;
    }
};

inline std::string sharedDir() {
    const char* e = std::getenv("VNTX_SHARED_DIR");
    return e ? e : "";
}
inline std::string sourceDir() {
    const char* e = std::getenv("VNTX_SOURCE_DIR");
    return e ? e : ".";
}

}  // namespace vntx::testing
