// What static parking and stand allocation need from the world around them:
// the user's aircraft, the simulator (creations and removals of static
// aircraft), the livery matching, the reference data, the traffic decoder's
// park airport and the schedule time. The program wires the real ones; tests
// give their own. Unset functions mean: not known, nothing to do.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "airports/static_select.h"
#include "traffic/live_aircraft.h"

namespace vntx {

struct UserFix {
    double lat = 0, lon = 0;  // degrees
    double altitude = 0;      // feet
    bool onGround = false;
};

// The park airport as the traffic decoder and the traffic tick see it.
struct ParkAirportRefInfo {
    double lat = 0, lon = 0;
    double elevationFt = 0;
};

struct ParkingPort {
    std::function<std::optional<UserFix>()> user;
    // The current moment of the weekly schedule.
    std::function<ScheduleTime()> now;
    // Static aircraft go to the simulator and leave it through these.
    std::function<void(const traffic::CreationRequest&)> createStatic;
    std::function<void(std::uint32_t objectId)> removeObject;
    // The static variant of the livery matching; empty when none fits.
    std::function<std::string(const std::string& airline, const std::string& type, const std::string& reg)>
        staticLivery;
    std::function<double(std::string_view type)> halfWingspan;  // nm
    std::function<bool(std::string_view reg)> cargoRegistration;
    // Reads the airport's park file into the airport (code set); the error text or empty.
    std::function<std::string(ParkAirport& airport)> readParkFile;
    // Whether a park file exists for the airport at all.
    std::function<bool(std::string_view code)> hasParkFile;
    // The traffic decoder's park airport (ground reports near it are kept).
    std::function<void(const std::optional<ParkAirportRefInfo>&)> parkAirportChanged;
    // Call signs and registrations the traffic reader saw flying lately.
    std::function<std::vector<std::string>()> seenIdentities;
    // The park settings of the airport were changed by its park file: show them.
    std::function<void()> settingsChanged;
};

}  // namespace vntx
