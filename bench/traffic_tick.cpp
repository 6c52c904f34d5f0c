// The traffic tick with 100, 500 and 1000 airborne aircraft following their
// reports, and 1000 of which 200 taxi on the ground along winding reports
// (the simulator link discards what it is sent).
#include <benchmark/benchmark.h>

#include <deque>
#include <string>

#include "traffic/traffic_manager.h"

using namespace vntx;
using namespace vntx::traffic;

namespace {

class NullLink final : public NullSimLink {
    void queuePosition(std::uint32_t, const AiPosition& p) override { benchmark::DoNotOptimize(p); }
};

LiveAircraft active(std::uint32_t hexid, std::uint32_t objectId, const std::string& callsign, FlightState fs) {
    LiveAircraft ac;
    ac.hexid = hexid;
    ac.objectId = objectId;
    ac.callsign = callsign;
    ac.state = AcState::active;
    ac.flightState = fs;
    ac.motion = motionConstants(Category::Large, trafficRandom());
    return ac;
}

// A taxiing aircraft: reports every 2 s at 15 kt for 8 minutes, turning
// 20 degrees left and right in turn, so that every leg is a curve.
LiveAircraft taxiing(int i) {
    LiveAircraft ac = active(0x500000 + static_cast<std::uint32_t>(i), 5000 + static_cast<std::uint32_t>(i),
                             "GND" + std::to_string(i), FlightState::taxi);
    ac.onGround = true;
    ac.halfWingspan = 0.0095;
    ac.turnRate = ac.motion.baseTurnRate;
    const double lat = 47 + (i % 20) * 0.01, lon = 8 + (i / 20) * 0.01;
    ac.pos.latitude = lat;
    ac.pos.longitude = lon;
    double la = lat, lo = lon;
    for (int k = 0; k < 240; ++k) {
        TrafficRecord r;
        r.hexid = ac.hexid;
        r.latitude = la;
        r.longitude = lo;
        r.groundSpeed = 15;
        const double track = 90 + ((k / 3) % 2 == 0 ? 20 : -20);
        r.track = track;
        r.timestamp = 1000 + 2 * k;
        r.scheduledTick = 200 * k;
        ac.stream.push_back(r);
        movePoint(la, lo, track * kDeg, 15 * 2 / 3600.0);
    }
    return ac;
}

// Active aircraft on a grid, each with reports every 5 s for 20 minutes;
// the first `onGround` of them taxi instead.
void populate(TrafficManager& mgr, int n, int onGround = 0) {
    auto& live = mgr.liveList();
    for (int i = 0; i < onGround; ++i) live.push_back(taxiing(i));
    for (int i = onGround; i < n; ++i) {
        LiveAircraft ac = active(0x400000 + static_cast<std::uint32_t>(i), 100 + static_cast<std::uint32_t>(i),
                                 "BEN" + std::to_string(i), FlightState::flying);
        const double lat = 40 + (i % 40) * 0.02, lon = -100 + (i / 40) * 0.02;
        ac.pos.latitude = lat;
        ac.pos.longitude = lon;
        ac.pos.altitude = 12000;
        ac.pos.heading = kPi / 4;
        double la = lat, lo = lon;
        for (int k = 0; k < 240; ++k) {
            TrafficRecord r;
            r.hexid = ac.hexid;
            r.latitude = la;
            r.longitude = lo;
            r.altitude = 12000 + k * 10;
            r.groundSpeed = 280;
            r.track = 45 + (k % 10);
            r.verticalRate = 120;
            r.airborne = true;
            r.timestamp = 1000 + 5 * k;
            r.scheduledTick = 500 * k;
            ac.stream.push_back(r);
            movePoint(la, lo, (45 + (k % 10)) * kDeg, 280 * 5 / 3600.0);
        }
        live.push_back(std::move(ac));
    }
}

void BM_TrafficTick(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const int onGround = static_cast<int>(state.range(1));
    NullLink link;
    TrafficServices services;
    TrafficManager mgr(link, services);
    mgr.setIncomingSource([](std::deque<TrafficRecord>&, std::size_t) { return std::size_t{0}; });
    populate(mgr, n, onGround);
    std::size_t reports = 0;
    for (const auto& ac : mgr.liveList()) reports += ac.stream.size();
    std::int64_t ticks = 0;
    for (auto _ : state) {
        mgr.tick();
        // Reports run out after 8 minutes on the ground, 20 in the air: start again.
        if (++ticks == (onGround > 0 ? 40000 : 100000)) {
            state.PauseTiming();
            mgr.reset();
            populate(mgr, n, onGround);
            ticks = 0;
            state.ResumeTiming();
        }
    }
    state.counters["aircraft"] = n;
    state.counters["on_ground"] = onGround;
    state.counters["bytes_per_aircraft_record"] = static_cast<double>(sizeof(LiveAircraft));
    state.counters["bytes_per_report"] = static_cast<double>(sizeof(TrafficRecord));
}

}  // namespace

BENCHMARK(BM_TrafficTick)
    ->Args({100, 0})
    ->Args({500, 0})
    ->Args({1000, 0})
    ->Args({1000, 200})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
