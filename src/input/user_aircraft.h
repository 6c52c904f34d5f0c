// The user aircraft as the simulator link last reported it, and the
// simulator's clock. Written by the simulator link, read by the RealTraffic
// link and the traffic reader's range filter.
#pragma once

#include <atomic>
#include <cstdint>

namespace vntx {

struct UserAircraftState {
    double latitude = 0;      // degrees
    double longitude = 0;     // degrees
    double pitch = 0;         // radians
    double bank = 0;          // radians
    double trueHeading = 0;   // radians
    double altitude = 0;      // feet
    double trueAirspeed = 0;  // knots
    double aboveGround = 0;   // feet
    bool onGround = false;
};

void setUserAircraft(const UserAircraftState& state);
UserAircraftState userAircraft();

// The simulator's UTC date and time, seconds since 1970; 0 while unknown.
std::atomic<std::int64_t>& simulatorEpochSeconds();

}  // namespace vntx
