// The simulator link as the rest of the program sees it: the one link to
// the simulator, and its place in the cycle.
#pragma once

#include "simlink/flight_plan.h"
#include "simlink/sim_link.h"

namespace vntx {

// The program's link, over the system's SimConnect client.
simlink::SimLink& simLink();

// Fills the simulator link's members of hooks(): startSimulator,
// simulationRunning, waitForUserAircraft, stopSimulator, joinThreads, the
// flight-plan folder steps, and its part of clearContainers and
// resetCycleState.
void installSimlinkHooks();

}  // namespace vntx
