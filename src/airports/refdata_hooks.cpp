// Kept apart from the catalogue so that programs without the cycle (tools,
// tests) can link the catalogue alone.
#include "airports/catalogue.h"
#include "core/hooks.h"
#include "refdata/dbase.h"

namespace vntx {

void installRefdataHooks() {
    hooks().readDataFiles = readDataFiles;
    hooks().readAirports = readAirports;
}

}  // namespace vntx
