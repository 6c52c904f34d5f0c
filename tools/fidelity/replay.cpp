#include "replay.h"

#include "svg.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <set>
#include <unordered_map>

#include <fmt/format.h>

#include "core/files.h"
#include "input/traffic_decoder.h"
#include "recording.h"
#include "stub_sim.h"
#include "traffic/traffic_manager.h"

namespace vntx::fidelity {

using traffic::Category;

Category categoryOfType(const std::string& t) {
    static const std::set<std::string> heavy{"B741", "B742", "B743", "B744", "B748", "B74F", "B762", "B763", "B764",
                                             "B772", "B773", "B77L", "B77W", "B778", "B779", "B788", "B789", "B78X",
                                             "A306", "A30B", "A310", "A332", "A333", "A337", "A338", "A339", "A342",
                                             "A343", "A345", "A346", "A359", "A35K", "A388", "MD11", "IL76", "A124",
                                             "DC10"};
    static const std::set<std::string> buzjets{"C25A", "C25B", "C25C", "C510", "C525", "C550", "C560", "C56X",
                                               "C650", "C680", "C68A", "C700", "C750", "CL30", "CL35", "CL60",
                                               "E35L", "E50P", "E55P", "F2TH", "F900", "FA7X", "FA8X", "G150",
                                               "G280", "GLEX", "GLF4", "GLF5", "GLF6", "GL5T", "GL7T", "H25B",
                                               "LJ35", "LJ45", "LJ60", "PC24", "PRM1", "SF50", "HDJT"};
    static const std::set<std::string> rotor{"EC35", "EC45", "EC30", "EC20", "EC55", "EC75", "R22", "R44", "R66",
                                             "B06", "B407", "B412", "B429", "A109", "A119", "A139", "A169", "AS50",
                                             "AS55", "AS65", "H60", "S76", "S92", "H500", "MD52", "EH10"};
    static const std::set<std::string> highPerf{"F16", "F15", "F18", "FA18", "F35", "EUFI", "TOR", "RFAL", "T38",
                                                "HAWK", "F5", "A10", "MG29", "SU27"};
    static const std::set<std::string> light{"C150", "C152", "C172", "C182", "C206", "C208", "C210", "P28A", "P28B",
                                             "P28R", "PA32", "PA34", "PA44", "PA46", "SR20", "SR22", "DA40", "DA42",
                                             "DA62", "BE35", "BE36", "BE58", "BE20", "BE9L", "M20P", "M20T", "TBM7",
                                             "TBM8", "TBM9", "PC12", "C82R", "RV7", "RV8", "AA5", "GLST", "DHC2",
                                             "C177", "C170", "C140", "P210", "E300", "J3"};
    if (heavy.count(t)) return Category::Heavy;
    if (buzjets.count(t)) return Category::Buzjets;
    if (rotor.count(t)) return Category::Rotorcraft;
    if (highPerf.count(t)) return Category::HighPerf;
    if (light.count(t)) return Category::Light;
    if (t.empty()) return Category::Light;
    return Category::Large;
}

namespace {

struct Expectation {
    std::uint32_t hexid;
    double lat, lon;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(std::ceil(p * v.size())) - (p > 0 ? 1 : 0));
    return v[i];
}

void writeSvg(const std::string& path, const std::vector<rtfeed::Report>& reports, const StubSim& sim,
              const ReplayOptions& o) {
    double minLat = 90, maxLat = -90, minLon = 180, maxLon = -180;
    auto grow = [&](double la, double lo) {
        minLat = std::min(minLat, la);
        maxLat = std::max(maxLat, la);
        minLon = std::min(minLon, lo);
        maxLon = std::max(maxLon, lo);
    };
    for (const auto& r : reports) grow(r.lat, r.lon);
    if (minLat > maxLat) return;
    const double w = 1000, h = 1000;
    const double cosLat = std::cos((minLat + maxLat) / 2 * traffic::kDeg);
    const double spanX = std::max(1e-6, (maxLon - minLon) * cosLat), spanY = std::max(1e-6, maxLat - minLat);
    const double scale = std::min(w / spanX, h / spanY) * 0.95;
    auto X = [&](double lon) { return 25 + (lon - minLon) * cosLat * scale; };
    auto Y = [&](double lat) { return 25 + (maxLat - lat) * scale; };
    std::string svg = svgOpen(w + 50, h + 50, "Reported positions (red dots) and paths flown by the AI objects (blue lines)");
    auto paths = [&](const SimObject& obj) {
        if (obj.path.size() < 2) return;
        svg += "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.2\" points=\"";
        for (const auto& p : obj.path) svg += fmt::format("{:.1f},{:.1f} ", X(p.longitude), Y(p.latitude));
        svg += "\"/>\n";
    };
    for (const auto& g : sim.gone) paths(g);
    for (const auto& [id, obj] : sim.objects) paths(obj);
    for (const auto& r : reports)
        svg += fmt::format("<circle cx=\"{:.1f}\" cy=\"{:.1f}\" r=\"1.6\" fill=\"{}\"/>\n", X(r.lon), Y(r.lat),
                           r.onGround ? "#999" : "#d62728");
    if (o.park)
        svg += fmt::format("<rect x=\"{:.1f}\" y=\"{:.1f}\" width=\"8\" height=\"8\" fill=\"#2ca02c\"/>\n",
                           X(o.park->longitude) - 4, Y(o.park->latitude) - 4);
    svg += "</svg>\n";
    writeFileAtomically(path, svg);
}

// Follows every live aircraft tick by tick: its ground motion second by
// second, and the stages of its landings and departures.
class GroundTracker {
public:
    void step(const traffic::TrafficManager& mgr, const StubSim& sim) {
        const bool second = mgr.tickCount() % 100 == 0;
        for (const auto& ac : mgr.liveList()) {
            if (ac.state != traffic::AcState::active || ac.objectId == 0) continue;
            auto obj = sim.objects.find(ac.objectId);
            if (obj == sim.objects.end()) continue;
            Track& t = tracks_[ac.hexid];
            using traffic::FlightState;
            if (ac.flareStage > 0) t.flared = true;
            if (ac.touchedDown && ac.landingRoll) t.touched = true;
            if (t.touched && t.wasRolling && !ac.landingRoll && ac.onGround && ac.flightState != FlightState::take_off)
                t.exited = true;
            t.wasRolling = ac.landingRoll;
            if (ac.flightState == FlightState::pushing_back) t.pushed = true;
            if (t.lastFs == FlightState::parked && ac.flightState == FlightState::taxi) t.pulled = true;
            if (ac.flightState == FlightState::parked && t.lastFs != FlightState::parked && t.lastFs != FlightState::birth)
                t.parked = true;
            if (t.rolling && !ac.onGround && (ac.flightState == FlightState::take_off || ac.flightState == FlightState::flying))
                t.tookOff = true;
            t.rolling = ac.takeOffRun && ac.onGround;
            t.lastFs = ac.flightState;
            if (!second) continue;
            const auto& p = obj->second.last;
            if (t.valid && t.onGround && ac.onGround) {
                const double turn = std::fabs(traffic::angleDiff(p.heading, t.heading)) / traffic::kDeg;
                headingRates_.push_back(turn);
                const double metres = traffic::distanceNm(t.lat, t.lon, p.latitude, p.longitude) * 1852.0;
                const double knots = metres / 1852.0 * 3600.0;
                if (t.touched && knots < 30) t.rolledOut = true;
                const bool pushing = ac.flightState == FlightState::pushing_back || t.lastSampleFs == FlightState::pushing_back;
                if (knots > 3 && !pushing) {
                    const double motion = traffic::bearingRad(t.lat, t.lon, p.latitude, p.longitude);
                    sideways_.push_back(std::fabs(traffic::angleDiff(p.heading, motion)) / traffic::kDeg);
                }
            }
            t.valid = true;
            t.onGround = ac.onGround;
            t.lat = p.latitude;
            t.lon = p.longitude;
            t.heading = p.heading;
            t.lastSampleFs = ac.flightState;
        }
    }

    GroundFigures finish(const traffic::TrafficManager& mgr, const StubSim& sim) {
        GroundFigures g;
        for (const auto& [hex, t] : tracks_) {
            g.landingsFlared += t.flared && t.touched;
            g.touchdowns += t.touched;
            g.rolledOut += t.touched && t.rolledOut;
            g.runwayExits += t.exited;
            if (t.touched && !t.exited) g.stillOnRunway.push_back(hex);
            g.takeOffs += t.tookOff;
            g.pushBacks += t.pushed;
            g.pullOuts += t.pulled;
            g.parked += t.parked;
            if (t.touched) {
                const auto* ac = const_cast<traffic::TrafficManager&>(mgr).find(hex);
                const bool alive = sim.objectOf(hex) != nullptr;
                if (!alive || (ac && ac->flightState == traffic::FlightState::parked)) ++g.landedEnded;
            }
        }
        g.headingSamples = headingRates_.size();
        g.p99HeadingRate = percentile(headingRates_, 0.99);
        g.maxHeadingRate = headingRates_.empty() ? 0 : *std::max_element(headingRates_.begin(), headingRates_.end());
        g.p99Sideways = percentile(sideways_, 0.99);
        g.maxSideways = sideways_.empty() ? 0 : *std::max_element(sideways_.begin(), sideways_.end());
        return g;
    }

private:
    struct Track {
        bool flared = false, touched = false, rolledOut = false, exited = false, wasRolling = false;
        bool pushed = false, pulled = false, parked = false, tookOff = false, rolling = false;
        traffic::FlightState lastFs = traffic::FlightState::birth, lastSampleFs = traffic::FlightState::birth;
        bool valid = false, onGround = false;
        double lat = 0, lon = 0, heading = 0;
    };
    std::unordered_map<std::uint32_t, Track> tracks_;
    std::vector<double> headingRates_, sideways_;
};

}  // namespace

ReplaySummary runReplay(const ReplayOptions& o) {
    auto all = rtfeed::loadAny(o.recording, rtfeed::guessFormat(o.recording));
    if (all.empty()) throw std::runtime_error("empty recording " + o.recording);
    if (!o.registrationFiles.empty()) {
        rtfeed::RegistrationDb db;
        for (const auto& f : o.registrationFiles) db.load(f);
        for (auto& r : all) db.fill(r);
    }
    if (!o.hexids.empty()) {
        const std::set<std::uint32_t> wanted(o.hexids.begin(), o.hexids.end());
        std::erase_if(all, [&](const rtfeed::Report& r) { return !wanted.count(r.hex); });
        if (all.empty()) throw std::runtime_error("no reports of the chosen aircraft in " + o.recording);
    }
    if (o.densifySeconds > 0) all = rtfeed::densify(all, o.densifySeconds);
    std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    const double t0 = all.front().time + o.startOffset;
    std::vector<rtfeed::Report> reports;
    for (auto& r : all)
        if (r.time >= t0 && r.time < t0 + o.duration) reports.push_back(std::move(r));

    traffic::seedTrafficRandom(o.seed);
    StubSim sim;
    sim.groundElevation = o.park ? o.park->elevation : 0;
    traffic::TrafficServices svc;
    svc.category = [](const std::string& t) { return categoryOfType(t); };
    svc.halfWingspan = [](const std::string& t) {
        switch (categoryOfType(t)) {
            case Category::Heavy: return 0.017;
            case Category::Large: return 0.0095;
            default: return 0.006;
        }
    };
    std::map<std::string, std::size_t> steps;
    svc.matchLivery = [&steps](traffic::LiveAircraft& ac) {
        if (ac.aircraftType.empty()) return false;
        const bool airline = ac.operatorCode != "PVT" && !ac.operatorCode.empty();
        ac.liveryTitle = airline ? fmt::format("{} {}", ac.operatorCode, ac.aircraftType) : fmt::format("Generic {}", ac.aircraftType);
        ++steps[airline ? "airline and model" : "model only"];
        return true;
    };
    const auto park = o.park;
    svc.parkAirport = [park] { return park; };
    svc.qnh = [] { return 1013.0; };
    // The user stands parked at the centre: only the ground rules of the
    // collision avoidance apply, and only around it.
    traffic::UserPosition user{o.userLatitude, o.userLongitude};
    user.onGround = true;
    user.halfWingspan = 0.0095;
    svc.userPosition = [user] { return std::optional<traffic::UserPosition>(user); };

    traffic::TrafficManager mgr(sim, svc);
    std::deque<TrafficRecord> feed;
    mgr.setIncomingSource([&feed](std::deque<TrafficRecord>& out, std::size_t n) {
        std::size_t k = 0;
        while (k < n && !feed.empty()) {
            out.push_back(std::move(feed.front()));
            feed.pop_front();
            ++k;
        }
        return k;
    });

    input::TrafficDecoder decoder;
    input::DecoderSettings ds;
    ds.rangeNm = o.rangeNm;
    ds.userLatitude = o.userLatitude;
    ds.userLongitude = o.userLongitude;
    if (o.park) ds.parkAirport = input::ParkAirportRef{o.park->latitude, o.park->longitude, o.park->elevation};

    ReplaySummary s;
    std::set<std::uint32_t> decoded, airborne;
    std::unordered_map<std::uint32_t, double> maxSpeed;
    std::multimap<std::int32_t, Expectation> expect, expectGround;
    std::vector<double> distances, groundDistances;
    GroundTracker tracker;

    std::ofstream trace;
    if (!o.tracePath.empty()) {
        trace.open(o.tracePath);
        trace << "frame,hexid,lat,lon,alt,heading\n";
    }
    std::vector<double> headingRates;
    sim.onFrame = [&](const SimObject& obj, int frame) {
        if (frame % 100 == 0 && trace.is_open())
            trace << fmt::format("{},{:06X},{:.6f},{:.6f},{:.0f},{:.1f}\n", frame, obj.hexid, obj.last.latitude,
                                 obj.last.longitude, obj.last.altitude, obj.last.heading / traffic::kDeg);
    };

    std::size_t next = 0;
    const std::int32_t lastTick = static_cast<std::int32_t>((o.duration + o.tail) * 100) + 3000;
    for (std::int32_t tick = 0; tick < lastTick; ++tick) {
        const double now = t0 + tick / 100.0;
        while (next < reports.size() && reports[next].time <= now) {
            const auto& r = reports[next++];
            TrafficRecord rec;
            if (decoder.decode(rtfeed::trafficDatagram(r, r.time), ds, rec) != input::DecodeOutcome::Accepted) continue;
            rec.scheduledTick = mgr.tickCount() + 3000;
            ++s.reportsFed;
            decoded.insert(rec.hexid);
            if (rec.airborne) {
                airborne.insert(rec.hexid);
                expect.insert({rec.scheduledTick, {rec.hexid, rec.latitude, rec.longitude}});
            } else {
                expectGround.insert({rec.scheduledTick, {rec.hexid, rec.latitude, rec.longitude}});
            }
            maxSpeed[rec.hexid] = std::max(maxSpeed[rec.hexid], rec.groundSpeed);
            feed.push_back(std::move(rec));
        }
        mgr.tick();
        for (const auto& ac : mgr.liveList()) s.flareStagesSeen |= 1u << (ac.flareStage & 7);
        // Positions of this tick went out as frame sim.frame - 1.
        auto [a, b] = expect.equal_range(mgr.tickCount() - 1);
        for (auto it = a; it != b; ++it) {
            const SimObject* obj = sim.objectOf(it->second.hexid);
            if (!obj || obj->lastFrame != sim.frame - 1) {
                ++s.figures.notInSim;
                continue;
            }
            distances.push_back(traffic::distanceNm(obj->last.latitude, obj->last.longitude, it->second.lat,
                                                    it->second.lon) * 1852.0);
        }
        expect.erase(a, b);
        auto [ga, gb] = expectGround.equal_range(mgr.tickCount() - 1);
        for (auto it = ga; it != gb; ++it) {
            const SimObject* obj = sim.objectOf(it->second.hexid);
            if (!obj || obj->lastFrame != sim.frame - 1) {
                ++s.ground.notInSim;
                continue;
            }
            groundDistances.push_back(traffic::distanceNm(obj->last.latitude, obj->last.longitude, it->second.lat,
                                                          it->second.lon) * 1852.0);
        }
        expectGround.erase(ga, gb);
        tracker.step(mgr, sim);
        if (next >= reports.size() && feed.empty() && mgr.liveList().empty() && tick > 3000) break;
    }
    s.ticks = mgr.tickCount();

    auto motion = [&](const SimObject& obj) {
        s.figures.maxStep = std::max(s.figures.maxStep, obj.maxStepMeters);
        headingRates.push_back(obj.maxHeadingRate);
        const double allowed = std::max(maxSpeed[obj.hexid], 30.0) * 1852.0 / 3600.0 * 0.01 * 2.0 + 0.05;  // twice the speed: catching up, not jumping
        if (obj.maxStepMeters > allowed) ++s.figures.teleports;
    };
    std::set<std::uint32_t> createdHex;
    for (const auto& g : sim.gone) {
        motion(g);
        createdHex.insert(g.hexid);
    }
    for (const auto& [id, obj] : sim.objects) {
        motion(obj);
        createdHex.insert(obj.hexid);
    }
    s.figures.maxHeadingRate = headingRates.empty() ? 0 : *std::max_element(headingRates.begin(), headingRates.end());
    s.figures.p99HeadingRate = percentile(headingRates, 0.99);
    s.figures.samples = distances.size();
    s.figures.median = percentile(distances, 0.5);
    s.figures.p95 = percentile(distances, 0.95);
    s.figures.max = distances.empty() ? 0 : *std::max_element(distances.begin(), distances.end());

    s.ground = tracker.finish(mgr, sim);
    s.ground.samples = groundDistances.size();
    s.ground.notInSim = s.ground.notInSim;
    s.ground.median = percentile(groundDistances, 0.5);
    s.ground.p95 = percentile(groundDistances, 0.95);
    s.ground.max = groundDistances.empty() ? 0 : *std::max_element(groundDistances.begin(), groundDistances.end());
    s.aircraftDecoded = decoded.size();
    s.airborneDecoded = airborne.size();
    s.created = sim.creations.size();
    for (auto h : airborne) {
        if (createdHex.count(h))
            ++s.airborneCreated;
        else
            s.airborneNotCreated.push_back(h);
    }
    s.removed = sim.gone.size();
    s.aliveAtEnd = sim.objects.size();
    s.noLivery = mgr.stats().noLivery;
    s.landings = mgr.stats().landings;
    s.extrapolated = mgr.stats().extrapolated;
    s.liverySteps = steps;
    if (!o.svgPath.empty()) writeSvg(o.svgPath, reports, sim, o);
    return s;
}

std::string formatSummary(const ReplaySummary& s) {
    std::string out;
    out += fmt::format("reports fed            {}\n", s.reportsFed);
    out += fmt::format("aircraft seen          {} ({} airborne)\n", s.aircraftDecoded, s.airborneDecoded);
    out += fmt::format("objects created        {} (airborne aircraft created: {} of {})\n", s.created,
                       s.airborneCreated, s.airborneDecoded);
    out += fmt::format("objects removed        {} (still in the simulator at the end: {})\n", s.removed, s.aliveAtEnd);
    out += fmt::format("landings               {} (flare stages seen: {:05b})\n", s.landings, s.flareStagesSeen);
    out += fmt::format("extrapolated reports   {}\n", s.extrapolated);
    out += fmt::format("no livery              {}\n", s.noLivery);
    for (const auto& [k, v] : s.liverySteps) out += fmt::format("liveries by {:<11}{}\n", k, v);
    const auto& f = s.figures;
    out += fmt::format("distance at due time   median {:.1f} m, 95th percentile {:.1f} m, max {:.1f} m ({} reports, {} "
                       "before creation)\n",
                       f.median, f.p95, f.max, f.samples, f.notInSim);
    out += fmt::format("largest frame step     {:.2f} m, teleports {}\n", f.maxStep, f.teleports);
    out += fmt::format("heading change         max {:.2f} deg/s, 99th percentile of aircraft maxima {:.2f} deg/s\n",
                       f.maxHeadingRate, f.p99HeadingRate);
    const auto& g = s.ground;
    out += fmt::format("ground distance at due median {:.1f} m, 95th percentile {:.1f} m, max {:.1f} m ({} reports, {} "
                       "before creation)\n",
                       g.median, g.p95, g.max, g.samples, g.notInSim);
    out += fmt::format("ground heading change  99th percentile {:.1f} deg/s, max {:.1f} deg/s ({} seconds on the ground)\n",
                       g.p99HeadingRate, g.maxHeadingRate, g.headingSamples);
    out += fmt::format("nose against motion    99th percentile {:.1f} deg, max {:.1f} deg (above 3 kt, not pushing back)\n",
                       g.p99Sideways, g.maxSideways);
    out += fmt::format("landings               flared {}, touched down {}, rolled out {}, left the runway {}, ended "
                       "parked or removed {}\n",
                       g.landingsFlared, g.touchdowns, g.rolledOut, g.runwayExits, g.landedEnded);
    for (auto hex : g.stillOnRunway) out += fmt::format("not off the runway     {:06X}\n", hex);
    out += fmt::format("departures             push-backs {}, pull-outs {}, take-offs {}, parked {}\n", g.pushBacks,
                       g.pullOuts, g.takeOffs, g.parked);
    out += fmt::format("simulated              {:.0f} s in {} ticks\n", s.ticks / 100.0, s.ticks);
    return out;
}

}  // namespace vntx::fidelity
