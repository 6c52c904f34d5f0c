// libFuzzer target: any bytes as the user's my_park_airports.txt. Reading
// keeps only known airports, each once; remembering the user's stand
// rewrites the file so that the next start reads that stand back.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include "airports/catalogue.h"
#include "airports/park_airport_choice.h"
#include "refdata/crypt.h"
#include "support/fuzz/scratch.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const fs::path input = vntx::fuzz::scratchFolder() / "input";
    fs::create_directories(input);
    vntx::setInputFolder(input);
    vntx::streamEncrypt(R"(<?xml version="1.0"?>
<airports>
  <airport code="LSZH" iata="ZRH" lat="47.46" lon="8.55" alt="1416" stands="2"/>
  <airport code="EHAM" iata="AMS" lat="52.31" lon="4.76" alt="-11" stands="5"/>
  <airport code="KSFO" iata="SFO" lat="37.62" lon="-122.38" alt="13" stands="3"/>
</airports>)",
                        input / "airports.enc");
    if (!vntx::gf_readAirports()) __builtin_trap();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path file = vntx::fuzz::writeScratch("airports/my_park_airports.txt", data, size);
    const fs::path none = vntx::fuzz::scratchFolder() / "airports" / "my_thirdparty";
    auto list = vntx::lf_readMyParkAirports(file, none);
    std::set<std::string> codes;
    for (const auto& e : list)
        if (!vntx::findAirport(e.code) || !codes.insert(e.code).second) __builtin_trap();

    vntx::rememberUserStand(list, file, "EHAM", "B12");
    bool found = false;
    for (const auto& e : vntx::lf_readMyParkAirports(file, none))
        if (e.code == "EHAM") found = e.stand == "B12";
    if (!found) __builtin_trap();
    return 0;
}
