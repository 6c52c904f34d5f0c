// libFuzzer target: any bytes as LiveriesScanned.xml, read at start-up and
// built into the livery catalogue. A file it cannot use is refused with a
// user error, never a crash; what it reads has every required field.
#include <cstddef>
#include <cstdint>

#include "core/errors.h"
#include "liveries/catalogue.h"
#include "liveries/fuzz/fuzz_database.h"
#include "support/fuzz/scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vntx::Database& db = vntx::fuzz::smallDatabase();
    const auto file = vntx::fuzz::writeScratch("output/LiveriesScanned.xml", data, size);
    std::vector<vntx::Livery> list;
    try {
        list = vntx::loadLiveriesScanned(file);
    } catch (const vntx::UserErrorException&) {
        return 0;
    }
    for (const vntx::Livery& l : list)
        if (l.airline.empty() || l.model.empty() || l.title.empty()) __builtin_trap();
    vntx::LiveryCatalogue catalogue;
    catalogue.build(list, db, file.parent_path(), false);
    return 0;
}
