// The traffic tick with 100, 500 and 1000 airborne aircraft following their
// reports (the simulator link discards what it is sent).
#include <benchmark/benchmark.h>

#include <deque>

#include "traffic/traffic_manager.h"

using namespace vntx;
using namespace vntx::traffic;

namespace {

class NullLink final : public NullSimLink {
    void queuePosition(std::uint32_t, const AiPosition& p) override { benchmark::DoNotOptimize(p); }
};

// Active aircraft on a grid, each with reports every 5 s for 20 minutes.
void populate(TrafficManager& mgr, int n) {
    auto& live = mgr.liveList();
    for (int i = 0; i < n; ++i) {
        LiveAircraft ac;
        ac.hexid = 0x400000 + static_cast<std::uint32_t>(i);
        ac.objectId = 100 + static_cast<std::uint32_t>(i);
        ac.callsign = "BEN" + std::to_string(i);
        ac.state = AcState::active;
        ac.flightState = FlightState::flying;
        ac.motion = motionConstants(Category::Large, trafficRandom());
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
    NullLink link;
    TrafficServices services;
    TrafficManager mgr(link, services);
    mgr.setIncomingSource([](std::deque<TrafficRecord>&, std::size_t) { return std::size_t{0}; });
    populate(mgr, n);
    std::size_t reports = 0;
    for (const auto& ac : mgr.liveList()) reports += ac.stream.size();
    std::int64_t ticks = 0;
    for (auto _ : state) {
        mgr.tick();
        if (++ticks == 100000) {  // reports run out after 20 minutes: start again
            state.PauseTiming();
            mgr.reset();
            populate(mgr, n);
            ticks = 0;
            state.ResumeTiming();
        }
    }
    state.counters["aircraft"] = n;
    state.counters["bytes_per_aircraft_record"] = static_cast<double>(sizeof(LiveAircraft));
    state.counters["bytes_per_report"] = static_cast<double>(sizeof(TrafficRecord));
}

}  // namespace

BENCHMARK(BM_TrafficTick)->Arg(100)->Arg(500)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
