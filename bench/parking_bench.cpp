// Static parking and stand allocation on the largest airport the build made
// (most stands): a whole selection of static aircraft (`selectStaticAircraft`'s
// passes) and one search at one fit step (`lf_searchStands`), each from fresh
// marks; and the stand search of a live aircraft that came to rest.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

#include "airports/park_file.h"
#include "park_bench_folder.h"
#include "airports/stand_search.h"
#include "airports/static_select.h"
#include "core/log.h"
#include "refdata/crypt.h"
#include "refdata/dbase.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

ParkAirport& largest() {
    static ParkAirport airport = [] {
        const fs::path dir = bench::parkBenchFolder("vntx_parking_bench");
        fs::path most;
        std::size_t mostStands = 0;
        for (const auto& e : fs::directory_iterator(fs::path(VNTX_BUILD_SERVER) / "downloads/P3D/archive/stock")) {
            ParkAirport a;
            a.code = e.path().stem().string();
            fs::copy_file(e.path(), dir / "airports" / "my_thirdparty" / e.path().filename(),
                          fs::copy_options::overwrite_existing);
            gf_readApf("airports/my_thirdparty/" + e.path().filename().string(), a);
            if (a.positions.size() > mostStands) {
                mostStands = a.positions.size();
                most = e.path();
            }
        }
        ParkAirport a;
        a.code = most.stem().string();
        gf_readApf("airports/my_thirdparty/" + most.filename().string(), a);
        return a;
    }();
    return airport;
}

std::size_t occurrences(const ParkAirport& a) {
    std::size_t n = 0;
    for (const auto& p : a.positions) n += p.occupancies.size();
    return n;
}

SelectionContext context(std::mt19937& rng) {
    SelectionContext ctx;
    ctx.rules.week = true;
    ctx.rules.parkSoft = true;
    ctx.rng = &rng;
    ctx.inSimulator = [](std::string_view) { return false; };
    ctx.halfWingspan = [](std::string_view t) { return database().halfWingspan(t); };
    return ctx;
}

void BM_selectStaticAircraft(benchmark::State& state) {
    ParkAirport& a = largest();
    std::mt19937 rng(7);
    const auto ctx = context(rng);
    const int wanted = wantedStaticCount(500, 100, a.positions.size());
    std::vector<StaticCandidate> c;
    c.reserve(512);
    for (auto _ : state) {
        clearStandMarks(a);
        for (auto& p : a.positions) {
            std::uint32_t n = 0;
            for (auto& o : p.occupancies) o.number = ++n;
        }
        c.clear();
        runSelectionPasses(a, ctx, {3, 20}, wanted, 0, c);
        benchmark::DoNotOptimize(c.data());
    }
    state.counters["stands"] = static_cast<double>(a.positions.size());
    state.counters["opts"] = static_cast<double>(occurrences(a));
    state.counters["placed"] = static_cast<double>(c.size());
    state.SetLabel(a.code);
}
BENCHMARK(BM_selectStaticAircraft)->Unit(benchmark::kMillisecond);

void BM_lf_searchStands(benchmark::State& state) {
    ParkAirport& a = largest();
    std::mt19937 rng(7);
    const auto ctx = context(rng);
    std::vector<StaticCandidate> c;
    c.reserve(512);
    for (auto _ : state) {
        clearStandMarks(a);
        c.clear();
        lf_searchStands(a, ctx, {3, 20}, true, false, 4, c);
        benchmark::DoNotOptimize(c.data());
    }
    state.counters["stands"] = static_cast<double>(a.positions.size());
}
BENCHMARK(BM_lf_searchStands)->Unit(benchmark::kMicrosecond);

void BM_standSearch(benchmark::State& state) {
    ParkAirport& a = largest();
    StandSeeker s;
    s.halfSpan = 17.9 * kMetre;
    s.callsign = "XYZ1";
    const auto& p = a.positions[a.positions.size() / 2];
    for (auto _ : state) benchmark::DoNotOptimize(searchStand(a.positions, p.lat, p.lon, s, k55m, true, {}));
}
BENCHMARK(BM_standSearch)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
