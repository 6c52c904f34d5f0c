// A program folder of its own for the park-file benchmarks: the current
// directory, with the build's database read and Log.txt open.
#pragma once

#include <filesystem>
#include <string>

#include "core/files.h"
#include "core/log.h"
#include "refdata/crypt.h"
#include "refdata/dbase.h"

namespace vntx::bench {

inline std::filesystem::path parkBenchFolder(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / name;
    fs::remove_all(dir);
    fs::create_directories(dir / "input");
    fs::create_directories(dir / "airports" / "my_thirdparty");
    fs::current_path(dir);
    fs::copy_file(fs::path(VNTX_BUILD_INPUT) / "dbase.enc", dir / "input" / "dbase.enc");
    setInputFolder(dir / "input");
    openLog(dir / "Log.txt");
    gf_readDbase();
    return dir;
}

}  // namespace vntx::bench
