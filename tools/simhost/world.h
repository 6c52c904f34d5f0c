// The simulated world of the simulator stand-in: the user aircraft flown by
// a script, the AI objects, the installed container titles and the ground.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vntx::simhost {

// One simulated object. Angles in radians, lat/lon in degrees, altitudes in
// feet, vertical speed in feet per second, speeds in knots.
struct SimObject {
    std::uint32_t id = 0;
    std::string title;
    std::string atcId;
    std::string atcModel;
    double lat = 0, lon = 0, alt = 0, pitch = 0, bank = 0, heading = 0, verticalSpeed = 0, airspeed = 0;
    double groundSpeed = 0;
    bool onGround = false;
    bool released = false;   // AIReleaseControl: the client flies it
    bool frozen = false;     // a FREEZE_..._SET event with data 1: the client places it
    bool helicopter = false;
    std::int64_t lights = 0;
    double spoilers = 0, throttle1 = 0, throttle2 = 0;
    double staticCgToGround = 6.5, staticPitch = 0;
    std::string flightPlan;
    std::map<std::string, std::uint32_t> lastEvents;  // simulator event name -> data
    std::uint64_t owner = 0;                          // connection that created it
};

// A flat ground elevation over a latitude/longitude box.
struct GroundArea {
    double lat1, lon1, lat2, lon2, elevationFt;
};

// The user aircraft's motion.
class UserScript {
public:
    enum class Kind { Parked, Taxi, Route, Track, Final };
    struct Point {
        double t, lat, lon, alt, heading;  // heading in degrees
        bool onGround;
    };
    // "parked:LAT,LON[,HDG]", "taxi:LAT,LON,HDG,KTS", "route:KTS,ALTFT:LAT,LON;LAT,LON;...",
    // "final:LAT,LON,HDG,KTS,FT" (a 3-degree approach along HDG that starts FT
    // above the ground and touches down at LAT,LON, then rolls out to 20 kt
    // and rolls on) or "track:FILE" (lines "seconds,lat,lon,alt_ft,heading_deg[,on_ground]").
    static std::optional<UserScript> parse(const std::string& text, std::string& error);

    // Moves the user object to where the script has it `seconds` after start.
    void place(double seconds, SimObject& user, double groundFt) const;
    Kind kind() const { return kind_; }

private:
    Kind kind_ = Kind::Parked;
    double speedKts_ = 0, altitudeFt_ = 0, headingDeg_ = 0;
    std::vector<Point> points_;
};

// The installed container titles (lower case), and those of helicopters.
struct Titles {
    std::set<std::string> all;
    std::set<std::string> helicopters;
};

class World {
public:
    static constexpr std::uint32_t kUserId = 1;
    // The simulator never gives an AI object an id of 2 or below.
    static constexpr std::uint32_t kFirstAiId = 3;

    World();
    void setTitles(Titles titles) { titles_ = std::move(titles); }
    void addGroundArea(const GroundArea& area) { ground_.push_back(area); }
    void setUserScript(UserScript script) { script_ = std::move(script); }
    void setMaxObjects(std::size_t n) { maxObjects_ = n; }

    bool knowsTitle(const std::string& title) const;
    bool helicopterTitle(const std::string& title) const;
    double groundElevation(double lat, double lon) const;
    // An AI object's ground contact after it moved: on the ground when its
    // reference point is no higher above the ground than its static centre
    // of gravity (and half a foot).
    void settle(SimObject& o) const;
    void advance(double secondsSinceStart);

    SimObject& user() { return objects_.at(kUserId); }
    SimObject* find(std::uint32_t id);
    std::map<std::uint32_t, SimObject>& objects() { return objects_; }
    std::size_t aiCount() const { return objects_.size() - 1; }
    bool full() const { return aiCount() >= maxObjects_; }
    // A new AI object with the next id (never reused).
    SimObject& create();
    void remove(std::uint32_t id) { objects_.erase(id); }

private:
    std::map<std::uint32_t, SimObject> objects_;
    Titles titles_;
    std::vector<GroundArea> ground_;
    std::optional<UserScript> script_;
    std::size_t maxObjects_ = 1000;
    std::uint32_t nextId_ = kFirstAiId;
};

// Container titles from a file (one per line, a tab and "helicopter" after
// the title of a helicopter) or from the title= lines of the aircraft.cfg /
// sim.cfg files under a livery folder (helicopters by "category=Helicopter"
// in [General]); lower case.
Titles readTitles(const std::filesystem::path& fileOrFolder);

// Why the simulator would refuse a flight plan file's text; empty when it
// loads.
std::string flightPlanProblem(const std::string& text);

// Great-circle distance in metres.
double distanceMetres(double lat1, double lon1, double lat2, double lon2);

}  // namespace vntx::simhost
