// Decoder throughput on datagrams built from a real recording, and the heap
// allocations per accepted record (counted by a replaced operator new).
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "input/traffic_decoder.h"
#include "recording.h"

namespace {
std::atomic<std::size_t> allocations{0};
}

void* operator new(std::size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

std::vector<std::string> datagrams() {
    const char* src = std::getenv("VNTX_SOURCE_DIR");
    const std::string file = std::string(src ? src : ".") + "/data/traffic/readsb_trace_ac671b.rtrec";
    std::vector<std::string> out;
    for (const auto& r : rtfeed::readRecordingFile(file)) out.push_back(rtfeed::trafficDatagram(r, r.time));
    return out;
}

void BM_DecodeRecording(benchmark::State& state) {
    const auto data = datagrams();
    vntx::input::TrafficDecoder decoder;
    vntx::input::DecoderSettings settings;
    settings.rangeNm = 100000;
    vntx::TrafficRecord record;
    std::size_t accepted = 0, i = 0, allocs = 0;
    for (auto _ : state) {
        const std::size_t before = allocations.load(std::memory_order_relaxed);
        const auto outcome = decoder.decode(data[i], settings, record);
        if (outcome == vntx::input::DecodeOutcome::Accepted) {
            ++accepted;
            allocs += allocations.load(std::memory_order_relaxed) - before;
        }
        benchmark::DoNotOptimize(record);
        if (++i == data.size()) i = 0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.counters["datagrams/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["accepted"] = static_cast<double>(accepted) / static_cast<double>(state.iterations());
    state.counters["allocs/accepted"] = accepted ? static_cast<double>(allocs) / static_cast<double>(accepted) : 0;
}
BENCHMARK(BM_DecodeRecording);

}  // namespace

BENCHMARK_MAIN();
