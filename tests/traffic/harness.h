// Drives the live traffic tick by tick against the in-process simulator
// stand-in, with reports fed as the traffic reader would hand them over.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "core/cycle.h"
#include "core/parameters.h"
#include "stub_sim.h"
#include "traffic/traffic_manager.h"

namespace vntx::traffic::test {

struct Harness {
    using Adjust = std::function<void(TrafficServices&)>;
    fidelity::StubSim sim;
    std::deque<TrafficRecord> feed;
    std::set<std::string> typesWithoutLivery;
    std::map<std::string, Category> categories;
    std::optional<ParkAirportInfo> park;
    std::optional<UserPosition> user;
    double qnh = 1013;
    int matchCalls = 0;  // livery choices
    int probeCalls = 0;  // trials
    std::set<std::string> noLivery;
    std::multimap<std::int32_t, TrafficRecord> later;
    std::string liverySuffix;  // changes the livery chosen, for respawns
    TrafficManager mgr;

    // adjust: changes to the services before the manager is made.
    explicit Harness(const std::function<void(TrafficServices&)>& adjust = {}) : mgr(sim, services(adjust)) {
        params().resetToDefaults();
        seedTrafficRandom(7);
        mgr.setIncomingSource([this](std::deque<TrafficRecord>& out, std::size_t n) {
            std::size_t k = 0;
            while (k < n && !feed.empty()) {
                out.push_back(std::move(feed.front()));
                feed.pop_front();
                ++k;
            }
            return k;
        });
    }
    ~Harness() {
        params().resetToDefaults();
        cycleState().blockedCallsignChanged = false;
    }

    TrafficServices services(const std::function<void(TrafficServices&)>& adjust) {
        TrafficServices s;
        s.category = [this](const std::string& t) {
            auto it = categories.find(t);
            return it == categories.end() ? Category::Large : it->second;
        };
        s.halfWingspan = [](const std::string&) { return 0.01; };
        s.matchLivery = [this](LiveAircraft& ac) {
            ++matchCalls;
            ac.liveryTitle = titleFor(ac);
            return !ac.liveryTitle.empty();
        };
        s.probeLivery = [this](const LiveAircraft& ac) {
            ++probeCalls;
            return titleFor(ac);
        };
        s.noLiveryContains = [this](const LiveAircraft& ac) { return noLivery.count(ac.registration) != 0; };
        s.noLiveryAdd = [this](const LiveAircraft& ac) { noLivery.insert(ac.registration); };
        s.noLiveryClear = [this] { noLivery.clear(); };
        s.parkAirport = [this] { return park; };
        s.qnh = [this] { return qnh; };
        s.userPosition = [this] { return user; };
        if (adjust) adjust(s);
        return s;
    }

    std::string titleFor(const LiveAircraft& ac) const {
        if (typesWithoutLivery.count(ac.aircraftType)) return {};
        return ac.aircraftType + " " + ac.operatorCode + " " + ac.registration + liverySuffix;
    }

    // A report arriving now, due 3000 ticks later.
    void arrive(TrafficRecord r) {
        r.scheduledTick = mgr.tickCount() + 3000;
        feed.push_back(std::move(r));
    }
    // A report arriving at a later tick.
    void arriveAt(std::int32_t tick, TrafficRecord r) { later.emplace(tick, std::move(r)); }
    void run(int ticks) {
        for (int i = 0; i < ticks; ++i) {
            while (!later.empty() && later.begin()->first <= mgr.tickCount()) {
                arrive(std::move(later.begin()->second));
                later.erase(later.begin());
            }
            mgr.tick();
        }
    }
    // Runs until the tick counter reaches the given value.
    void runTo(std::int32_t tick) {
        while (mgr.tickCount() < tick) run(1);
    }
    LiveAircraft* ac(std::uint32_t hexid) { return mgr.find(hexid); }
};

// An airborne report.
inline TrafficRecord report(std::uint32_t hexid, double t, double lat, double lon, double alt = 5000, double gs = 200,
                            double track = 90, const std::string& callsign = "TST123", const std::string& type = "A320",
                            const std::string& reg = "") {
    TrafficRecord r;
    r.hexid = hexid;
    r.timestamp = t;
    r.latitude = lat;
    r.longitude = lon;
    r.altitude = alt;
    r.groundSpeed = gs;
    r.track = track;
    r.trueAirspeed = gs;
    r.airborne = alt > 0;
    r.callsign = callsign;
    r.aircraftType = type;
    r.registration = reg;
    return r;
}

// The point reached from (lat, lon) after `seconds` at `gs` knots due east.
inline double eastOf(double lat, double lon, double gs, double seconds) {
    double la = lat, lo = lon;
    movePoint(la, lo, kPi / 2, gs * seconds / 3600.0);
    return lo;
}

}  // namespace vntx::traffic::test
