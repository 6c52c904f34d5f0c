// Start-up read of the three shipped data files and the closest-airport walk.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

#include "airports/catalogue.h"
#include "core/log.h"
#include "refdata/crypt.h"
#include "refdata/dbase.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

fs::path workFolder() {
    static const fs::path dir = [] {
        const fs::path d = fs::temp_directory_path() / "vntx_refdata_bench";
        fs::create_directories(d);
        for (const char* f : {"dbase.enc", "airports.enc", "AIG-regcodes.enc"})
            fs::copy_file(fs::path(VNTX_BUILD_INPUT) / f, d / f, fs::copy_options::overwrite_existing);
        setInputFolder(d);
        return d;
    }();
    return dir;
}

// Everything the start-up does with the files: the database, the airports and
// deciphering the AIG registration codes (their reader belongs to the liveries).
void BM_StartupReadOfTheDataFiles(benchmark::State& state) {
    const fs::path dir = workFolder();
    for (auto _ : state) {
        resetAirportCatalogue();
        benchmark::DoNotOptimize(gf_readDbase());
        benchmark::DoNotOptimize(gf_readAirports());
        benchmark::DoNotOptimize(gf_streamDecrypt(dir / "AIG-regcodes.enc", dir / "AIG-regcodes.xml"));
        fs::remove(dir / "AIG-regcodes.xml");
    }
    for (const char* f : {"dbase.enc", "airports.enc", "AIG-regcodes.enc"})
        state.counters[f] = static_cast<double>(fs::file_size(dir / f));
}
BENCHMARK(BM_StartupReadOfTheDataFiles)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Decipher(benchmark::State& state) {
    const fs::path dir = workFolder();
    for (auto _ : state) benchmark::DoNotOptimize(gf_streamDecrypt(dir / "dbase.enc", dir / "plain.xml"));
    fs::remove(dir / "plain.xml");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(dir / "dbase.enc")));
}
BENCHMARK(BM_Decipher)->Unit(benchmark::kMillisecond);

void BM_ClosestAirport(benchmark::State& state) {
    workFolder();
    resetAirportCatalogue();
    gf_readAirports();
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> lat(-60, 70), lon(-180, 180);
    for (auto _ : state) benchmark::DoNotOptimize(closestAirport(lat(rng), lon(rng)));
    state.counters["airports"] = static_cast<double>(airportCatalogue().size());
}
BENCHMARK(BM_ClosestAirport)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
