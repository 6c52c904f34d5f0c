#include "core/wiring.h"

#include <algorithm>

#include "airports/catalogue.h"
#include "airports/parking_program.h"
#include "airports/park_file.h"
#include "core/hooks.h"
#include "input/input.h"
#include "input/traffic_reader.h"
#include "input/user_aircraft.h"
#include "liveries/catalogue.h"
#include "liveries/scan.h"
#include "scan/airport_scan.h"
#include "simlink/simlink.h"
#include "traffic/program_link.h"
#include "traffic/traffic.h"
#include "ui/window_hooks.h"
#include "ui/window_model.h"
#include "update/version_check.h"

namespace vntx {
namespace {

// What the main window shows of the simulator, the user aircraft and the live traffic.
ui::WindowSources windowSources() {
    ui::WindowSources s;
    s.simulatorConnected = [] { return simLink().connected(); };
    s.simulatorText = [] { return simLink().simulatorText(); };
    s.userTitle = [] { return simLink().userTitle(); };
    s.userModel = [] { return simLink().userModel(); };
    s.userWingspanMeters = []() -> std::optional<double> {
        if (!simLink().wingspanKnown()) return std::nullopt;
        return simLink().userHalfWingspan() * 2 * 1852.0;
    };
    s.nearestAirport = [] { return simLink().nearestAirportText(); };
    s.userOnGround = [] { return userAircraft().onGround; };
    s.userAltitudeFeet = [] { return userAircraft().altitude; };
    s.airportInSightNm = [] { return programParking().statics.inSightDistance(); };
    s.liveCallsigns = [] {
        std::vector<std::string> out;
        for (const auto& ac : trafficManager().liveList())
            if (ac.state == traffic::AcState::active && ac.objectId != 0 && !ac.callsign.empty())
                out.push_back(ac.callsign);
        return out;
    };
    return s;
}

}  // namespace

void installAllHooks() {
    installRefdataHooks();
    installParkFileHooks();
    installInputHooks();
    installLiveryHooks();
    installUpdateHooks(liveriesScannedFile);
    installAirportScanHooks();
    auto& h = hooks();
    h.lastTrafficTime = [] { return static_cast<std::int64_t>(input::trafficReader().lastTrafficTime.load()); };
    h.resetCycleState = [] { resetInputState(); };
    // The simulator link chains its own steps onto the reset, clear and join hooks.
    installSimlinkHooks();
    // The live traffic replaces the link's stand-in tick and adds its own part
    // to the shared hooks, so it comes after the link.
    installProgramTraffic();
    // Static parking and stand allocation join the traffic tick's services.
    installParkingHooks();
    // The window last: it adds its share to hooks the others fill.
    h.airportKnown = [](const std::string& code) { return isRtSupportedAirport(code); };
    ui::setWindowSources(windowSources());
    ui::installWindowHooks();
}

}  // namespace vntx
