// Reading the park file of the largest airport the build made (stands and
// occurrences) and merging a learned file into it; writing its learned file.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "airports/park_file.h"
#include "park_bench_folder.h"
#include "core/log.h"
#include "refdata/crypt.h"
#include "refdata/dbase.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

struct Largest {
    std::string code;
    std::size_t stands = 0, occurrences = 0;
};

// A program folder with the largest stock park file as a local file and a
// learned file for it: a tenth of the stands changed, a learned occurrence on
// every stand.
const Largest& prepare() {
    static const Largest largest = [] {
        const fs::path dir = bench::parkBenchFolder("vntx_park_bench");
        fs::path biggest;
        for (const auto& e : fs::directory_iterator(fs::path(VNTX_BUILD_SERVER) / "downloads/P3D/archive/stock"))
            if (biggest.empty() || e.file_size() > fs::file_size(biggest)) biggest = e.path();
        Largest l;
        l.code = biggest.stem().string();
        fs::copy_file(biggest, dir / "airports" / "my_thirdparty" / biggest.filename());
        ParkAirport& a = currentParkAirport();
        a.code = l.code;
        gf_readApf("airports/my_thirdparty/" + l.code + ".xml", a);
        for (std::size_t i = 0; i < a.positions.size(); ++i) {
            ParkPosition& p = a.positions[i];
            if (i % 10 == 0) {
                p.radius_change = true;
                p.radius *= 1.1;
            }
            StandOccupancy o;
            o.reg = "N" + std::to_string(1000 + i);
            o.airline = "XYZ";
            o.type = "B738";
            o.callsign = "XYZ" + std::to_string(i);
            o.day = static_cast<std::uint32_t>(i % 7 + 1);
            o.hours.set(i % 48);
            o.number = static_cast<std::uint32_t>(p.occupancies.size() + 1);
            p.occupancies.push_back(o);
        }
        saveLearnedFile(a);
        a = {};
        a.code = l.code;
        gf_readApf("airports/my_thirdparty/" + l.code + ".xml", a);
        l.stands = a.positions.size();
        for (const auto& p : a.positions) l.occurrences += p.occupancies.size();
        return l;
    }();
    return largest;
}

void BM_ReadAndMergeLargestParkFile(benchmark::State& state) {
    const Largest& l = prepare();
    const std::string location = "airports/my_thirdparty/" + l.code + ".xml";
    for (auto _ : state) {
        ParkAirport a;
        a.code = l.code;
        benchmark::DoNotOptimize(gf_readApf(location, a));
    }
    state.SetLabel(l.code);
    state.counters["stands"] = static_cast<double>(l.stands);
    state.counters["occurrences"] = static_cast<double>(l.occurrences);
}
BENCHMARK(BM_ReadAndMergeLargestParkFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_SaveLearnedFileOfLargest(benchmark::State& state) {
    const Largest& l = prepare();
    ParkAirport a;
    a.code = l.code;
    gf_readApf("airports/my_thirdparty/" + l.code + ".xml", a);
    for (auto _ : state) benchmark::DoNotOptimize(saveLearnedFile(a));
    state.SetLabel(l.code);
}
BENCHMARK(BM_SaveLearnedFileOfLargest)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
