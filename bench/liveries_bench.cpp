// Livery scan against plain reading of the same files, live matching calls,
// and LiveriesScanned.xml load plus catalogue build.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>

#include <pugixml.hpp>

#include "core/log.h"
#include "liveries/catalogue.h"
#include "liveries/matching.h"
#include "liveries/scan.h"
#include "livgen/livgen.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

struct Fixture {
    fs::path root;
    livgen::Tree tree;
    Database db;
    std::vector<fs::path> files;

    Fixture() {
        std::error_code ec;
        const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
        root = base / ("vntx_liveries_bench_" + std::to_string(std::random_device{}()));
        livgen::Options o;
        o.files = 20000;
        o.faultEvery = 100;
        tree = livgen::generate(root / "tree", o);
        pugi::xml_document doc;
        doc.load_string(tree.dbaseXml.c_str());
        db.load(doc);
        for (auto& e : fs::recursive_directory_iterator(root / "tree"))
            if (e.path().filename() == "aircraft.cfg") files.push_back(e.path());
        verify();
    }
    ~Fixture() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    ScanResult scan() {
        ScanOptions o;
        o.outputFolder = root / "output";
        return runLiveryScan({{0, root / "tree"}}, db, {}, o);
    }
    // The scan's reports must list exactly the planted faults.
    void verify() {
        ScanResult r = scan();
        std::size_t lines = 0;
        bool same = true;
        for (const auto& [name, expected] : tree.expected) {
            const char* folder = (name == "AircraftCfgWithNoFltsimSection.txt" || name == "AirlineModelConversions.txt")
                                     ? "info" : "errors";
            std::ifstream in(root / "output" / folder / name);
            std::vector<std::string> got;
            for (std::string l; std::getline(in, l);) got.push_back(l);
            same = same && got == expected;
            lines += expected.size();
        }
        const auto back = loadLiveriesScanned(root / "output" / "LiveriesScanned.xml");
        std::cout << "generated tree: " << tree.files << " aircraft.cfg files, " << tree.sections << " sections; scan: "
                  << r.files << " files, " << back.size() << " liveries (expected " << tree.titles.size() << "), "
                  << lines << " planted report lines " << (same ? "all reported exactly" : "MISMATCH") << "\n";
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_ReadLiveryFilesOnly(benchmark::State& state) {
    auto& f = fixture();
    for (auto _ : state) {
        std::size_t bytes = 0;
        for (const auto& p : f.files) {
            std::ifstream in(p, std::ios::binary);
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            bytes += text.size();
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["files"] = static_cast<double>(f.files.size());
}
BENCHMARK(BM_ReadLiveryFilesOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The same files found by walking the tree first (what any scan must do):
// the plain program the scan is measured against.
std::size_t plainWalkAndRead(const fs::path& tree) {
    std::size_t bytes = 0;
    for (auto& e : fs::recursive_directory_iterator(tree)) {
        if (e.path().filename() != "aircraft.cfg") continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bytes += text.size();
    }
    return bytes;
}

void BM_WalkAndReadLiveryFiles(benchmark::State& state) {
    auto& f = fixture();
    for (auto _ : state) benchmark::DoNotOptimize(plainWalkAndRead(f.root / "tree"));
}
BENCHMARK(BM_WalkAndReadLiveryFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ScanLiveryTree(benchmark::State& state) {
    auto& f = fixture();
    std::size_t liveries = 0;
    for (auto _ : state) liveries = f.scan().liveries;
    state.counters["liveries"] = static_cast<double>(liveries);
}
BENCHMARK(BM_ScanLiveryTree)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The goal of the scan: close to the plain walk-and-read of the same tree.
// Both run in turn in every iteration (warm cache), so a machine whose load
// changes during the run slows both alike; the counters give the medians of
// both times and of the per-iteration ratio.
void BM_ScanAgainstPlainWalk(benchmark::State& state) {
    auto& f = fixture();
    std::vector<double> walks, scans, ratios;
    auto millis = [](auto from) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count();
    };
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(plainWalkAndRead(f.root / "tree"));
        walks.push_back(millis(t0));
        t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(f.scan().liveries);
        scans.push_back(millis(t0));
        ratios.push_back(scans.back() / walks.back());
        state.SetIterationTime(scans.back() / 1000.0);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    state.counters["walk_ms"] = median(walks);
    state.counters["scan_ms"] = median(scans);
    state.counters["ratio"] = median(ratios);
}
BENCHMARK(BM_ScanAgainstPlainWalk)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);

struct Catalogued {
    std::vector<Livery> list;
    LiveryCatalogue cat;
    fs::path xml;
    Catalogued() {
        auto& f = fixture();
        xml = f.root / "output" / "LiveriesScanned.xml";
        list = loadLiveriesScanned(xml);
        cat.build(list, f.db, f.root / "output", false);
    }
};

Catalogued& catalogued() {
    static Catalogued c;
    return c;
}

void BM_LoadAndBuildCatalogue(benchmark::State& state) {
    auto& f = fixture();
    const fs::path xml = catalogued().xml;
    for (auto _ : state) {
        LiveryCatalogue cat;
        cat.build(loadLiveriesScanned(xml), f.db, f.root / "output", false);
        benchmark::DoNotOptimize(cat.liveryCount());
    }
    state.counters["liveries"] = static_cast<double>(catalogued().cat.liveryCount());
}
BENCHMARK(BM_LoadAndBuildCatalogue)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LiveMatching(benchmark::State& state) {
    auto& c = catalogued();
    auto& f = fixture();
    LiveryMatcher matcher(c.cat, f.db);
    matcher.setDepth(4);
    matcher.setRandom(true);
    // A mix of aircraft: own registration, airline and model, similar models, unknown airlines.
    std::vector<LiveryRequest> requests;
    std::mt19937 rng(3);
    const std::vector<std::string> airlines = {"KLM", "DLH", "BAW", "XXX", "PVT", "UAE", ""};
    static std::vector<std::string> keep;
    keep.reserve(4096);
    for (int i = 0; i < 1024; ++i) {
        const Livery& l = c.list[rng() % c.list.size()];
        LiveryRequest r;
        const int kind = static_cast<int>(rng() % 4);
        keep.push_back(kind == 0 ? l.registration : std::string());
        r.registration = keep.back();
        keep.push_back(kind == 3 ? airlines[rng() % airlines.size()] : l.airline);
        r.airline = keep.back();
        keep.push_back(kind == 2 ? std::string("A20N") : l.model);
        r.model = keep.back();
        r.category = f.db.category(r.model);
        r.cargo = l.cargo;
        r.logName = "BENCH";
        requests.push_back(r);
    }
    std::size_t i = 0, found = 0;
    for (auto _ : state) {
        LiveryRequest& r = requests[i++ & 1023];
        found += matcher.matchLive(r);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["matched"] = benchmark::Counter(static_cast<double>(found) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_LiveMatching);

}  // namespace

BENCHMARK_MAIN();
