#include "core/wiring.h"

#include "airports/catalogue.h"
#include "airports/park_file.h"
#include "core/hooks.h"
#include "input/input.h"
#include "input/traffic_reader.h"
#include "liveries/scan.h"
#include "scan/airport_scan.h"
#include "simlink/simlink.h"
#include "traffic/program_link.h"

namespace vntx {

void installAllHooks() {
    installRefdataHooks();
    installParkFileHooks();
    installInputHooks();
    installLiveryHooks();
    installAirportScanHooks();
    auto& h = hooks();
    h.lastTrafficTime = [] { return static_cast<std::int64_t>(input::trafficReader().lastTrafficTime.load()); };
    h.resetCycleState = [] { resetInputState(); };
    // The simulator link chains its own steps onto the reset, clear and join hooks.
    installSimlinkHooks();
    // The live traffic replaces the link's stand-in tick and adds its own part
    // to the shared hooks, so it comes after the link.
    installProgramTraffic();
}

}  // namespace vntx
