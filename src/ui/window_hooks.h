// The window's places in the cycle.
#pragma once

namespace vntx::ui {

// Fills the cycle hooks the window's commands reach: applyDestination,
// autoRange, fillCallsignList; and adds the window's share to the per-report
// duties (a refill asked for with "cs->oid:"), to the 15-second and paused
// once-a-second static-parking duties (a re-read asked for with "Re-read")
// and to the RealTraffic handshake (the start-up mark ends once it has
// connected). Call it after every other module has filled its hooks.
void installWindowHooks();

}  // namespace vntx::ui
