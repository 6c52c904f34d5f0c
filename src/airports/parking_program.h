// Static parking and stand allocation joined to the program: the simulator
// link, the livery matching, the reference data, the traffic reader and the
// cycle's hooks.
#pragma once

#include "airports/parking_services.h"

namespace vntx {

// The program's static parking and stand allocation.
Parking& programParking();
// Puts the parking services behind the traffic tick and fills the parking
// hooks of the cycle. Call after installProgramTraffic() and before the window's hooks.
void installParkingHooks();

}  // namespace vntx
