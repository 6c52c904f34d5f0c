// Position updates per second through the SimConnect transport to simhost
// over loopback TCP: SetDataOnSimObject with the 64-byte position block,
// counted when simhost has handled them.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "server.h"
#include "simconnect/simconnect.h"

using namespace vntx::simconnect;

namespace {

struct Link {
    vntx::simhost::Server server;
    HANDLE h = nullptr;
    DWORD object = 0;

    static vntx::simhost::Options options() {
        vntx::simhost::Options o;
        o.pipeName = "";
        o.writeRegistry = false;
        o.frameRate = 30;
        return o;
    }
    Link() : server(options()) {
        std::string error;
        if (!server.start(error)) throw std::runtime_error(error);
        Config c;
        c.protocol = Protocol::IPv4;
        c.port = std::to_string(server.port());
        c.disableNagle = true;
        SystemConnector connector;
        if (openWith(&h, "Ventrix_P3D", nullptr, c, connector) != S_OK) throw std::runtime_error("open failed");
        const char* names[8] = {"Plane Latitude", "Plane Longitude", "Plane Pitch degrees", "Plane Bank degrees",
                                "Plane Heading degrees true", "Plane Altitude", "Vertical Speed", "Airspeed True"};
        const char* units[8] = {"degree", "degree", "radians", "radians", "radians", "feet", "feet per second", "knots"};
        for (int i = 0; i < 8; ++i) SimConnect_AddToDataDefinition(h, 402, names[i], units[i]);
        // The user aircraft (object 1) takes the positions, so no creation is needed.
        object = 1;
    }
    ~Link() {
        SimConnect_Close(h);
        server.stop();
    }
    void waitHandled(std::uint64_t n) {
        while (server.messagesHandled() < n) std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
};

void BM_SetDataOnSimObjectToSimhost(benchmark::State& state) {
    Link link;
    const int batch = static_cast<int>(state.range(0));
    double block[8] = {47.46, 8.55, 0.01, 0.0, 1.2, 1500, 12, 160};
    std::uint64_t expected = link.server.messagesHandled();
    std::uint64_t discarded = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) {
            block[0] += 1e-7;
            if (SimConnect_SetDataOnSimObject(link.h, 402, link.object, 0, 0, sizeof block, block) != S_OK) ++discarded;
        }
        expected += static_cast<std::uint64_t>(batch);
        link.waitHandled(expected - discarded);
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["refused"] = static_cast<double>(discarded);
}
BENCHMARK(BM_SetDataOnSimObjectToSimhost)->Arg(10000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
