// Static parking: the park airport (chosen, kept, left), its park file, and
// the parked aircraft on its stands, chosen for the current weekday and half
// hour and renewed every 20 minutes. Runs on the control-loop thread; the
// live traffic is read through the traffic manager, everything else through
// the parking port.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "airports/park_airport_choice.h"
#include "airports/park_file.h"
#include "airports/parking_port.h"
#include "airports/static_select.h"
#include "traffic/traffic_manager.h"

namespace vntx {

struct StaticAircraft {
    enum class State { waiting, creating, active, removing };
    std::uint32_t hexid = 0;     // 1..10000: marks a static aircraft in the simulator link
    std::uint32_t objectId = 0;  // 0 until the simulator created it
    std::uint32_t stand = 0;     // stand index
    std::string callsign, reg, airline, type, title;
    State state = State::waiting;
    bool removeWhenCreated = false;
};

class StaticParking {
public:
    explicit StaticParking(ParkingPort port);
    void setTraffic(traffic::TrafficManager* traffic) { traffic_ = traffic; }
    traffic::TrafficManager* traffic() const { return traffic_; }
    ParkingPort& port() { return port_; }

    // --- the park airport
    void readParkAirports();
    const std::vector<ParkAirportEntry>& parkAirportList() const { return list_; }
    // The driver, once a second or so: reads a newly set airport's park file
    // and places static aircraft, or chooses / checks the park airport.
    void updateStaticParking();
    bool setParkAirport(const std::string& code);
    void leaveParkAirport();
    bool parkAirportSet() const { return !code_.empty(); }
    bool loaded() const { return loaded_; }
    const std::string& parkCode() const { return code_; }
    std::optional<ParkAirportRefInfo> parkAirportRef() const;
    // The park airport's distance while it is in sight (the window's automatic range).
    std::optional<double> inSightDistance() const;
    ParkAirport& airport() { return currentParkAirport(); }
    // A new flight or a changed file: the park airport is chosen again.
    void reevaluate() { leaveParkAirport(); }
    // Runs first when the park airport is left (stand allocation releases its stands).
    std::function<void()> onLeave;

    // --- the static aircraft
    int wantedCount() const;
    void selectStaticAircraft();
    void parkingAdjustments();
    // "Flush static": every static aircraft goes; the renewal follows in the next tick.
    void flush();
    void placementStep();  // every tick
    bool creationWaiting() const { return !waiting_.empty(); }
    void takeCreation();
    void created(std::uint32_t hexid, std::uint32_t objectId);
    void removed(std::uint32_t objectId);
    void refused(std::uint32_t hexid);
    void couple(const traffic::LiveAircraft& ac);
    void removeDuplicate();
    void removeAll();
    // The static aircraft on a stand gives way to a live one.
    void makeWay(std::uint32_t stand, const traffic::LiveAircraft& ac, bool excluded);
    // Removes one static aircraft (the first of the list) when there is one.
    bool removeFirst(const char* why);
    // Removes the active static aircraft with this simulator object (log line
    // written by the caller); false when there is none.
    bool removeActive(std::uint32_t objectId);
    const StaticAircraft* onStand(std::uint32_t stand) const;
    const std::vector<StaticAircraft>& statics() const { return statics_; }
    const std::vector<StaticCandidate>& candidates() const { return candidates_; }
    int staticCount() const;
    std::string standLabel(std::uint32_t stand) const;
    void reset();

    // Parked live aircraft (stand allocation keeps the list; static parking
    // counts and removes them).
    struct ParkedLive {
        std::uint32_t hexid = 0;
        std::uint32_t stand = 0;
        ScheduleTime parkedAt;
    };
    std::vector<ParkedLive>& parkedLive() { return parkedLive_; }
    // The stand the user's aircraft stands on (index), 0 for none.
    std::uint32_t userStand() const { return userStand_; }

    // Totals for the summary.
    struct Totals {
        std::uint64_t placed = 0;   // static aircraft created
        std::uint64_t dropped = 0;  // candidates dropped before creation
    };
    const Totals& totals() const { return totals_; }

private:
    SelectionContext selectionContext();
    void remove(StaticAircraft& s, const std::string& why);
    void queueCandidates();
    void markReserved();
    void findParkAirport(const UserFix& u);
    void checkInSight(const UserFix& u);
    void readParkFile();
    void showCounts();

    ParkingPort port_;
    traffic::TrafficManager* traffic_ = nullptr;
    std::vector<ParkAirportEntry> list_;
    std::string code_;
    double parkLat_ = 0, parkLon_ = 0, parkElevation_ = 0;
    bool readRequested_ = false;
    bool loaded_ = false;
    bool renewalPending_ = false;
    int maxLiveOwn_ = -1;
    std::string lastGroundMessage_;
    std::string failedCode_;  // the airport whose park file could not be had (not retried until the list is re-read)  // the last situation shown while no park airport is found  // MAX_LIVE_SEL before the park file's settings
    std::optional<double> sightDistance_;
    double lastLat_ = 0, lastLon_ = 0;
    std::uint32_t userStand_ = 0;
    std::vector<StaticCandidate> candidates_;
    std::deque<StaticCandidate> waiting_;
    std::vector<StaticAircraft> statics_;
    std::vector<ParkedLive> parkedLive_;
    std::uint32_t nextHexid_ = 1;
    std::mt19937 rng_{20240607};
    Totals totals_;
};

}  // namespace vntx
