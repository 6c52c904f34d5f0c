// The add-on airport scan: telling airport files from the rest against
// merely reading the start of every file, decoding the airport files, and the
// whole scan of a tree of 500 add-on airports.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "bglgen/bglgen.h"
#include "refdata/dbase.h"
#include "scan/airport_scan.h"
#include "scan/bgl.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

// 2,500 add-on airports, each folder with three files without airports:
// 10,000 scenery files.
struct Tree {
    fs::path root;
    std::vector<fs::path> files;
    std::vector<bglgen::TreeAirport> airports;

    Tree() {
        std::error_code ec;
        const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
        root = base / ("vntx_scan_bench_" + std::to_string(std::random_device{}()));
        std::vector<std::string> codes;
        for (int i = 0; i < 2500; ++i)
            codes.push_back(std::string("Z") + static_cast<char>('A' + i / 676) + static_cast<char>('A' + i / 26 % 26) +
                            static_cast<char>('A' + i % 26));
        airports = bglgen::writeTree(root, codes, {});
        for (auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file()) files.push_back(e.path());
        std::size_t found = 0;
        for (const auto& f : files) found += hasAirportSection(f);
        std::cout << "tree: " << files.size() << " scenery files, " << found << " with an airport section (expected "
                  << airports.size() << ")\n";
    }
    ~Tree() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

Tree& tree() {
    static Tree t;
    return t;
}

void BM_HasAirportSection(benchmark::State& state) {
    auto& t = tree();
    for (auto _ : state) {
        std::size_t found = 0;
        for (const auto& f : t.files) found += hasAirportSection(f);
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(t.files.size()));
}
BENCHMARK(BM_HasAirportSection)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The floor: open every file and read its first 4 KB.
void BM_ReadFirst4K(benchmark::State& state) {
    auto& t = tree();
    std::vector<char> buffer(4096);
    for (auto _ : state) {
        std::size_t bytes = 0;
        for (const auto& f : t.files) {
            std::ifstream in(f, std::ios::binary);
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            bytes += static_cast<std::size_t>(in.gcount());
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(t.files.size()));
}
BENCHMARK(BM_ReadFirst4K)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_DecodeAirportFiles(benchmark::State& state) {
    auto& t = tree();
    std::size_t stands = 0;
    for (auto _ : state) {
        stands = 0;
        for (const auto& a : t.airports)
            for (const auto& airport : decodeBglFile(a.file, nullptr).airports) stands += airport.stands.size();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(t.airports.size()));
    state.counters["stands"] = static_cast<double>(stands);
}
BENCHMARK(BM_DecodeAirportFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole scan of 500 add-on airports (2,000 scenery files): walk, tasks,
// park files generated for every airport, the report and tblo.zip, in a
// program folder of its own.
void BM_FullScan500(benchmark::State& state) {
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path program = base / ("vntx_scan_full_" + std::to_string(std::random_device{}()));
    std::vector<std::string> codes;
    for (int i = 0; i < 500; ++i)
        codes.push_back(std::string("Y") + static_cast<char>('A' + i / 676) + static_cast<char>('A' + i / 26 % 26) +
                        static_cast<char>('A' + i % 26));
    bglgen::writeTree(program / "Addons", codes, {});
    const fs::path previous = fs::current_path();
    fs::current_path(program);
    Database noPublishers;
    AirportScanOptions options;
    options.db = &noPublishers;
    options.supported = [](std::string_view) { return true; };
    std::size_t generated = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all("airports", ec);
        fs::remove_all("tblo", ec);
        state.ResumeTiming();
        generated = scanFolders({(program / "Addons").string()}, options).generated;
    }
    fs::current_path(previous);
    fs::remove_all(program, ec);
    state.counters["airports"] = static_cast<double>(generated);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(codes.size()));
}
BENCHMARK(BM_FullScan500)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
