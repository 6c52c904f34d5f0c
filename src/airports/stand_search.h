// The stand rules for live aircraft as pure functions of the stand table:
// which stand an aircraft that came to rest takes, who keeps a stand two
// aircraft want, when a parked aircraft starts to leave, and the cargo rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "airports/park_file.h"

namespace vntx {

// Distances in nautical miles.
inline constexpr double kMetre = 0.0005399568034557236;
inline constexpr double k20m = 0.010799136069114472;
inline constexpr double k35m = 0.018898488120950324;
inline constexpr double k55m = 0.029697624190064796;
inline constexpr double k85m = 0.0458963282937365;
inline constexpr double k1p8m = 0.0009719222462203025;

// The aircraft looking for a stand.
struct StandSeeker {
    double halfSpan = 0;  // nm
    bool rotorcraft = false;
    std::string callsign, airline, type;
};

struct StandChoice {
    std::size_t index = 0;  // into the position list (0-based)
    bool enlarge = false;   // the aircraft is wider than the stand, which grows
};

// The nearest stand within radius of the position that the aircraft fits
// (half span at most 1.8 m over the stand's radius), or a nearer one within
// 20 m that it does not fit (to be enlarged). With `wide`, and nothing found,
// the nearest fitting stand within 85 m whose occurrences know the aircraft.
// Heli stands only for Rotorcraft, Rotorcraft only on heli stands. Stands
// for which `skip` answers true are not looked at.
std::optional<StandChoice> searchStand(const std::vector<ParkPosition>& stands, double lat, double lon,
                                       const StandSeeker& seeker, double radius, bool wide,
                                       const std::vector<bool>& skip);
// The enlargement of a chosen stand: radius half span - 1 m, marked changed.
void enlargeStand(ParkPosition& stand, double halfSpan);
// An occurrence that knows the aircraft: by callsign, or by airline and type.
bool occupancyMatches(const StandOccupancy& o, const StandSeeker& seeker);

// Who keeps a stand that a newcomer wants.
struct StandHolder {
    std::string callsign;
    bool active = false;
    bool parkedOrPushing = false;  // parked or pushing back
    bool confirmed = false;        // a report confirmed it at its stand since it parked
};
enum class HolderVerdict {
    NewcomerTakes,      // no holder that counts
    SameCallsign,       // the holder goes: the same flight again
    GhostReplaced,      // the ghost of the two goes
    UnconfirmedHolder,  // the holder goes: nothing confirmed it there
    HolderKeeps,
};
HolderVerdict holderVerdict(const std::optional<StandHolder>& holder, std::string_view newcomer);

// Leave detection of a parked aircraft from its reports' distances to its stand.
struct LeaveTracker {
    bool started = false;
    double start = 0, last = 0;  // nm
    int steps = 0;
};
enum class StandReport {
    Reject,    // still at the stand: the report is not used
    Leave,     // it starts to leave: accept the report
    Elsewhere, // a parking aircraft goes elsewhere: back to taxi, accept
    Remove,    // a parked aircraft reported far away: remove it
};
StandReport standReport(LeaveTracker& tracker, double distance, bool parking, bool wasParking, double halfSpan);

// Whether an aircraft parking on a cargo stand takes away its cargo mark: a
// passenger aircraft (not cargo) on a cargo stand.
bool cargoRuleApplies(bool aircraftCargo, bool standCargo);

}  // namespace vntx
