// Stands for live aircraft: an aircraft that comes to rest or is first seen
// standing gets the nearest stand of the park airport that fits it; the stand
// is cleared of static aircraft and colliding neighbours, the aircraft is
// driven onto it, parks, is learned into the park file and, when it leaves,
// frees the stand again.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "airports/stand_search.h"
#include "airports/static_parking.h"
#include "traffic/live_aircraft.h"

namespace vntx {

class StandAllocation {
public:
    explicit StandAllocation(StaticParking& statics);

    // A taxiing aircraft came to rest (wide: its reports are extrapolated).
    void try2Park(traffic::LiveAircraft& ac, bool wide);
    // An aircraft first seen on the ground: true when it spawns parked on a stand.
    bool standAtSpawn(traffic::LiveAircraft& ac);
    void freeStand(traffic::LiveAircraft& ac);
    // A new report of a parking or parked aircraft: false rejects it.
    bool standChecks(traffic::LiveAircraft& ac, const TrafficRecord& rec);
    // The reports of a parking aircraft ran out: arrived, or back to taxi.
    void arrivalStep(traffic::LiveAircraft& ac);
    // A parked aircraft was created.
    void parksStep(traffic::LiveAircraft& ac);
    // The maximum of live and static parked aircraft together.
    void parkingLimits(traffic::LiveAircraft& ac);
    // An aircraft without a stand ends near the park airport: a soft occurrence.
    void softLearning(traffic::LiveAircraft& ac);
    // Every reservation goes (the park airport is left); live aircraft heading
    // for a stand or parked lose it.
    void releaseAll();

    // The hand-over to the ground movement: drive the aircraft onto its stand.
    // Until ground movement is wired the aircraft jumps there.
    std::function<void(traffic::LiveAircraft&)> drive2Stand;
    // A parked aircraft starts to leave its stand (push back or pull out).
    std::function<void(traffic::LiveAircraft&)> startLeaving;

    // Stand searches made (each resting position is searched once).
    std::uint64_t searches() const { return searches_; }
    std::size_t reservedCount() const;
    std::uint32_t holderOf(std::uint32_t stand) const;

private:
    std::vector<ParkPosition>& stands();
    void reserve(traffic::LiveAircraft& ac, std::uint32_t stand);
    void takeStand(traffic::LiveAircraft& ac, std::size_t index, bool enlarge);
    void clearNeighbours(traffic::LiveAircraft& ac, std::uint32_t stand);
    bool learnReal(traffic::LiveAircraft& ac);
    void parkedNow(traffic::LiveAircraft& ac);
    void cargoRule(traffic::LiveAircraft& ac);
    std::vector<bool> skipMask(bool reservedToo) const;
    StandSeeker seekerOf(const traffic::LiveAircraft& ac) const;
    traffic::LiveAircraft* liveOn(std::uint32_t stand, const traffic::LiveAircraft* except);
    void removeLive(traffic::LiveAircraft& ac, const std::string& line);

    StaticParking& statics_;
    std::vector<std::uint32_t> holder_;  // per stand: hexid of the live aircraft that reserved it
    std::unordered_map<std::uint32_t, LeaveTracker> leave_;
    std::unordered_map<std::uint32_t, std::pair<double, double>> lastAttempt_;
    std::uint64_t searches_ = 0;
};

}  // namespace vntx
