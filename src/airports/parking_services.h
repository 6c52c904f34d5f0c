// Static parking and stand allocation together, and their place among the
// traffic tick's services.
#pragma once

#include "airports/stand_allocation.h"
#include "airports/static_parking.h"
#include "traffic/sim_port.h"

namespace vntx {

struct Parking {
    explicit Parking(ParkingPort port) : statics(std::move(port)), stands(statics) {
        statics.onLeave = [this] { stands.releaseAll(); };
    }
    Parking(const Parking&) = delete;
    Parking& operator=(const Parking&) = delete;
    StaticParking statics;
    StandAllocation stands;
};

// Fills the stand, static-parking and park-airport services of the traffic
// tick from parking (which must outlive the services).
void addParkingServices(traffic::TrafficServices& services, Parking& parking);

// Hands a live aircraft given a stand to ground movement, which drives it
// there and, once its reports move away, pushes it back or pulls it out
// (the stand is freed by the stand checks). Without it the aircraft is put
// on its stand and simply taxis off.
void useGroundMovement(StandAllocation& stands);

}  // namespace vntx
