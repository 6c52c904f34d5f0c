// The input's place in the cycle. Kept apart from the rest of the module: it
// is the only part that needs the settings store and the hook table.
#include <cstdlib>

#include "core/hooks.h"
#include "core/parameters.h"
#include "input/input.h"

namespace vntx {
namespace {
int portFromEnvironment(const char* name, int fallback) {
    const char* v = std::getenv(name);
    if (!v || !*v) return fallback;
    char* end = nullptr;
    long port = std::strtol(v, &end, 10);
    return (*end == '\0' && port > 0 && port < 65536) ? static_cast<int>(port) : fallback;
}
}  // namespace

void installInputHooks() {
    using namespace input;
    auto& h = hooks();
    trafficReader().rangeSource = [] { return params().RANGE.get(); };
    trafficReader().airborneOnlySource = [] { return params().AIRBORNE_ONLY.get(); };
    realTrafficLink().resetReaderState = [] { resetReaderState(); };
    realTrafficLink().withdrawLiveTraffic = [] {
        if (hooks().withdrawLiveTraffic) hooks().withdrawLiveTraffic();
    };

    h.realTrafficInstalled = [] { return detectRealTraffic(); };
    h.openRealTrafficServer = [] { realTrafficLink().openServer(params().PORT_NUMBER.get()); };
    h.realTrafficHandshake = [] { realTrafficLink().handshake(); };
    h.sendSimulatorTime = [] { realTrafficLink().sendSimulatorTime(); };
    h.timeSyncEnabled = [] { return realTrafficLink().timeSyncEnabled.load(); };
    // RealTraffic's ports; the environment may move them (stand-ins running side by side).
    h.startWeatherReader = [] { startWeatherReader(portFromEnvironment("VNTX_WEATHER_PORT", kWeatherPort)); };
    h.startTrafficReader = [] { startTrafficReader(portFromEnvironment("VNTX_TRAFFIC_PORT", kTrafficPort)); };
    h.sendUserPosition = [] { realTrafficLink().sendUserPosition(); };
    h.copyRangePosition = [] { copyRangePosition(); };
    h.trafficTimeArrived = [] { return trafficReader().lastTrafficTime.load() > 0; };
    h.collectCallsigns = [](bool on) {
        if (on) trafficReader().clearSeenCallsigns();
        trafficReader().collectCallsigns = on;
    };
    h.stopReaders = [] { stopReaders(); };
    h.closeRealTraffic = [] { realTrafficLink().closeLink(); };
    h.weatherCountChanged = [] { return weatherReader().countChangedSinceLastCheck(); };
    h.trafficCountChanged = [] { return trafficReader().countChangedSinceLastCheck(); };
}

}  // namespace vntx
