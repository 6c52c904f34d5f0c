// One accepted traffic report, as the traffic reader hands it to the live
// traffic code.
#pragma once

#include <cstdint>
#include <string>

namespace vntx {

struct TrafficRecord {
    // Identity texts. The operator code and the two further texts are left
    // empty by the reader; the live-traffic code fills them.
    std::string operatorCode;
    std::string aircraftType;
    std::string origin;
    std::string destination;
    std::string callsign;
    std::string identity1;
    std::string identity2;
    std::string registration;

    double latitude = 0;     // degrees
    double longitude = 0;    // degrees
    double altitude = 0;     // feet; 0 means on the ground
    double groundSpeed = 0;  // knots
    double track = 0;        // degrees
    double verticalRate = 0; // feet per minute
    double trueAirspeed = 0; // knots

    std::int32_t scheduledTick = 0;  // tick at which the report is due
    bool airborne = false;
    std::uint32_t flags = 0;         // owned by the live-traffic code

    double bank = 0;  // radians, right wing down negative
    bool bankValid = false;
    double trueHeading = 0;  // radians
    bool headingValid = false;

    double timestamp = 0;  // seconds since 1970
    std::uint32_t hexid = 0;
};

}  // namespace vntx
