// The input's place in the cycle. Kept apart from the rest of the module: it
// is the only part that needs the settings store and the hook table.
#include "core/hooks.h"
#include "core/parameters.h"
#include "input/input.h"

namespace vntx {

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
    h.startWeatherReader = [] { startWeatherReader(kWeatherPort); };
    h.startTrafficReader = [] { startTrafficReader(kTrafficPort); };
    h.sendUserPosition = [] { realTrafficLink().sendUserPosition(); };
    h.copyRangePosition = [] { copyRangePosition(); };
    h.trafficTimeArrived = [] { return trafficReader().lastTrafficTime.load() > 0; };
    h.stopReaders = [] { stopReaders(); };
    h.closeRealTraffic = [] { realTrafficLink().closeLink(); };
    h.weatherDatagramCount = [] { return static_cast<unsigned long>(weatherReader().datagramCount.load()); };
    h.trafficDatagramCount = [] { return static_cast<unsigned long>(trafficReader().datagramCount.load()); };
}

}  // namespace vntx
