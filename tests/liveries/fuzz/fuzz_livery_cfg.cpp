// libFuzzer target: any bytes as an aircraft.cfg / sim.cfg of the livery
// scan, in whatever character set they claim. Every livery it takes must
// carry a known model and a non-empty title.
#include <cstddef>
#include <cstdint>

#include "liveries/scan_file.h"
#include "liveries/fuzz/fuzz_database.h"
#include "support/fuzz/scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vntx::ScanState state;
    state.db = &vntx::fuzz::smallDatabase();
    // Both names the scan reads; an IVAO_MTL path switches the model source.
    const char* name = size % 3 == 0 ? "SimObjects/Airplanes/X/aircraft.cfg"
                       : size % 3 == 1 ? "SimObjects/Airplanes/X/sim.cfg"
                                       : "IVAO_MTL/IVAO_B738/aircraft.cfg";
    const auto file = vntx::fuzz::writeScratch(name, data, size);
    for (const vntx::Livery& l : vntx::lf_searchLiveriesinFile(state, file, 0)) {
        if (l.title.empty() || !state.db->isValidModel(l.model)) __builtin_trap();
    }
    return 0;
}
