#include "input/user_aircraft.h"

#include <mutex>

namespace vntx {
namespace {
std::mutex userMutex;
UserAircraftState userState;
std::atomic<std::int64_t> simSeconds{0};
}  // namespace

void setUserAircraft(const UserAircraftState& state) {
    std::lock_guard lock(userMutex);
    userState = state;
}

UserAircraftState userAircraft() {
    std::lock_guard lock(userMutex);
    return userState;
}

std::atomic<std::int64_t>& simulatorEpochSeconds() { return simSeconds; }

}  // namespace vntx
