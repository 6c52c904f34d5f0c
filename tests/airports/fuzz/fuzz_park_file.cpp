// libFuzzer target: any bytes as an airport's park file (from the maker's
// archive, a third party or the airport scan) and, over a sound park file,
// as its learned file. Reading refuses what it cannot use with the user
// errors it names; what it keeps is a usable stand table, and the learned
// file it will write stays inside the learned folder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include "airports/park_file.h"
#include "core/errors.h"
#include "core/parameters.h"
#include "refdata/crypt.h"
#include "support/fuzz/scratch.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kBase = R"(<?xml version="1.0" encoding="UTF-8"?>
<parameters><parameter name="publisher" value="stock"/><parameter name="altitude" value="1416"/></parameters>
<parkpositions>
  <parkpos id="W42" latitude="47.452531" longitude="8.547643" heading="155.0" radius="40.0" cargo="false" ramp="true">
    <opt reg="HB-JMC" day="1" hh="10,11,12" cs="SWR289:SWR188"/>
  </parkpos>
  <parkpos id="W43" latitude="47.452700" longitude="8.547900" heading="155.0" radius="30.0"/>
  <parkpos id="H1" latitude="47.460000" longitude="8.560000" heading="0.0" radius="10.0" heli="true"/>
</parkpositions>
)";

void checkTable(const vntx::ParkAirport& a) {
    std::set<std::string> ids;
    for (std::size_t i = 0; i < a.positions.size(); ++i) {
        const vntx::ParkPosition& p = a.positions[i];
        if (!ids.insert(p.id).second || p.index != i + 1) __builtin_trap();
        for (std::uint32_t n : p.neighbours)
            if (n == 0 || n > a.positions.size() || n == i + 1) __builtin_trap();  // 1-based, never itself
    }
    const fs::path learned = vntx::learnedFilePath(a.code, a.publisher).lexically_normal();
    const fs::path folder = fs::path(vntx::kLearnedFolder).lexically_normal();
    if (std::mismatch(folder.begin(), folder.end(), learned.begin(), learned.end()).first != folder.end())
        __builtin_trap();
}

void read(const char* location) {
    vntx::ParkAirport a;
    a.code = "LSZH";
    try {
        if (vntx::gf_readApf(location, a).empty()) checkTable(a);
    } catch (const vntx::UserErrorException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const fs::path root = vntx::fuzz::scratchFolder() / "program";
    for (const char* f : {"airports/learned/stock", "airports/my_thirdparty", "input"})
        fs::create_directories(root / f);
    fs::current_path(root);
    vntx::setInputFolder(root / "input");
    vntx::params().setFile(root / "parameters.xml");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::error_code ec;
    fs::remove_all("airports/learned", ec);
    fs::create_directories("airports/learned/stock", ec);
    // The bytes as the park file itself.
    vntx::fuzz::writeScratch("program/airports/my_thirdparty/LSZH.xml", data, size);
    (void)vntx::countParkFileStands("airports/my_thirdparty/LSZH.xml");
    read("airports/my_thirdparty/LSZH.xml");
    // The bytes as the learned file of a sound park file.
    vntx::fuzz::writeScratch("program/airports/my_thirdparty/LSZH.xml", reinterpret_cast<const std::uint8_t*>(kBase),
                             std::char_traits<char>::length(kBase));
    vntx::fuzz::writeScratch("program/airports/learned/stock/LSZH.xml", data, size);
    read("airports/my_thirdparty/LSZH.xml");
    return 0;
}
