// A temporary "input" folder with its own Log.txt, for the reference data tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "core/log.h"
#include "refdata/crypt.h"

namespace vntx::test {

class TempInput {
public:
    TempInput() {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() / ("vntx_refdata_" + std::to_string(rd()));
        std::filesystem::create_directories(dir_ / "input");
        previous_ = inputFolder();
        setInputFolder(dir_ / "input");
        openLog(dir_ / "Log.txt");
    }
    ~TempInput() {
        closeLog();
        setInputFolder(previous_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::filesystem::path input() const { return dir_ / "input"; }
    std::filesystem::path path(const std::string& name) const { return dir_ / "input" / name; }
    std::string log() const {
        flushLog();
        std::ifstream in(dir_ / "Log.txt");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    std::filesystem::path dir_, previous_;
};

inline std::string readBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeBytes(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace vntx::test
