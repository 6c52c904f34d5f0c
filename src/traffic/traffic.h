// The live traffic as the cycle sees it: the program's traffic manager, the
// simulator link and services it works with, and its hook points.
#pragma once

#include "traffic/sim_port.h"
#include "traffic/traffic_manager.h"

namespace vntx {

// The program's live traffic. Until a simulator link is set, a link that
// accepts everything and reports nothing stands in.
traffic::TrafficManager& trafficManager();
// Replaces the simulator link and the services (before the cycle runs).
void setTrafficSimLink(traffic::SimLinkPort* link);
void setTrafficServices(traffic::TrafficServices services);

// Fills trafficTick, refreshCounts, perReportDuties, pauseEnter, pauseDuties,
// withdrawLiveTraffic and clearGhosts of hooks(), and adds the traffic's
// part to clearContainers and resetCycleState (earlier parts run first).
void installTrafficHooks();
// What the live traffic empties at the end of each cycle.
void resetTrafficState();

}  // namespace vntx
