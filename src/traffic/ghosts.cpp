// Ghosts: an aircraft whose callsign ends with "_" stands for one that has
// not reported its own callsign yet; it goes when the real one comes.
#include "traffic/traffic_manager.h"

#include <fmt/format.h>

#include "core/log.h"

namespace vntx::traffic {

void TrafficManager::ghostCheck(const std::string& callsign) {
    const std::string ghostName = callsign + "_";
    for (auto& g : live_) {
        if (g.callsign != ghostName || g.state == AcState::removingfromsim || g.removalPending || g.eraseNow ||
            g.eraseAfterRemoval)
            continue;
        if (g.flightState == FlightState::parked) {
            const std::string label = services_.standLabel ? services_.standLabel(g.standId)
                                      : g.standId == 0       ? "sid==0?"
                                                             : fmt::format("{}", g.standId);
            logf("{:8}: {:8} is a ghost and will be removed, continue with {}", label, g.callsign, callsign);
        } else {
            logf("          {:8} is a ghost and will be removed, continue with {}", g.callsign, callsign);
        }
        ghosts_.push_back(g.callsign);
        removeAircraftFromSim(g);
    }
}

}  // namespace vntx::traffic
