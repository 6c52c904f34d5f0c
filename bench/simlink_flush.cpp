// The frame flush with 1,000 aircraft positions queued, sent to the
// simulator stand-in over TCP on the loopback interface.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fmt/format.h>

#include "core/log.h"
#include "core/state.h"
#include "server.h"
#include "simconnect/simconnect.h"
#include "simlink/sim_link.h"

namespace {

using namespace vntx;
using namespace vntx::simconnect;

// The system client, opened on a given TCP port instead of the configured places.
class LoopbackClient final : public Client {
public:
    explicit LoopbackClient(int port) : port_(port), system_(makeSystemClient()) {}
    HRESULT SimConnect_Open(HANDLE* ph, LPCSTR name, HWND, DWORD, HANDLE ev, DWORD) override {
        Config c;
        c.protocol = Protocol::IPv4;
        c.address = "127.0.0.1";
        c.port = std::to_string(port_);
        SystemConnector connector;
        return openWith(ph, name, ev, c, connector);
    }
#define FORWARD(name, params, args) \
    HRESULT name params override { return system_->name args; }
    FORWARD(SimConnect_Close, (HANDLE h), (h))
    FORWARD(SimConnect_CallDispatch, (HANDLE h, DispatchProc p, void* c), (h, p, c))
    FORWARD(SimConnect_GetLastSentPacketID, (HANDLE h, DWORD* id), (h, id))
    FORWARD(SimConnect_MapClientEventToSimEvent, (HANDLE h, SIMCONNECT_CLIENT_EVENT_ID e, const char* n), (h, e, n))
    FORWARD(SimConnect_TransmitClientEvent,
            (HANDLE h, SIMCONNECT_OBJECT_ID o, SIMCONNECT_CLIENT_EVENT_ID e, DWORD d, SIMCONNECT_NOTIFICATION_GROUP_ID g,
             SIMCONNECT_EVENT_FLAG f),
            (h, o, e, d, g, f))
    FORWARD(SimConnect_AddClientEventToNotificationGroup,
            (HANDLE h, SIMCONNECT_NOTIFICATION_GROUP_ID g, SIMCONNECT_CLIENT_EVENT_ID e, BOOL m), (h, g, e, m))
    FORWARD(SimConnect_SetNotificationGroupPriority, (HANDLE h, SIMCONNECT_NOTIFICATION_GROUP_ID g, DWORD p), (h, g, p))
    FORWARD(SimConnect_AddToDataDefinition,
            (HANDLE h, SIMCONNECT_DATA_DEFINITION_ID d, const char* n, const char* u, SIMCONNECT_DATATYPE t, float e,
             DWORD id),
            (h, d, n, u, t, e, id))
    FORWARD(SimConnect_RequestDataOnSimObject,
            (HANDLE h, SIMCONNECT_DATA_REQUEST_ID r, SIMCONNECT_DATA_DEFINITION_ID d, SIMCONNECT_OBJECT_ID o,
             SIMCONNECT_PERIOD p, SIMCONNECT_DATA_REQUEST_FLAG f, DWORD a, DWORD b, DWORD c),
            (h, r, d, o, p, f, a, b, c))
    FORWARD(SimConnect_RequestDataOnSimObjectType,
            (HANDLE h, SIMCONNECT_DATA_REQUEST_ID r, SIMCONNECT_DATA_DEFINITION_ID d, DWORD radius,
             SIMCONNECT_SIMOBJECT_TYPE t),
            (h, r, d, radius, t))
    FORWARD(SimConnect_SetDataOnSimObject,
            (HANDLE h, SIMCONNECT_DATA_DEFINITION_ID d, SIMCONNECT_OBJECT_ID o, SIMCONNECT_DATA_SET_FLAG f, DWORD n,
             DWORD size, void* data),
            (h, d, o, f, n, size, data))
    FORWARD(SimConnect_SubscribeToSystemEvent, (HANDLE h, SIMCONNECT_CLIENT_EVENT_ID e, const char* n), (h, e, n))
    FORWARD(SimConnect_AICreateNonATCAircraft,
            (HANDLE h, const char* t, const char* tail, SIMCONNECT_DATA_INITPOSITION p, SIMCONNECT_DATA_REQUEST_ID r),
            (h, t, tail, p, r))
    FORWARD(SimConnect_AIReleaseControl, (HANDLE h, SIMCONNECT_OBJECT_ID o, SIMCONNECT_DATA_REQUEST_ID r), (h, o, r))
    FORWARD(SimConnect_AIRemoveObject, (HANDLE h, SIMCONNECT_OBJECT_ID o, SIMCONNECT_DATA_REQUEST_ID r), (h, o, r))
    FORWARD(SimConnect_AISetAircraftFlightPlan,
            (HANDLE h, SIMCONNECT_OBJECT_ID o, const char* p, SIMCONNECT_DATA_REQUEST_ID r), (h, o, p, r))
#undef FORWARD

private:
    int port_;
    std::unique_ptr<Client> system_;
};

constexpr int kAircraft = 1000;

void BM_FrameFlush1000Positions(benchmark::State& state) {
    auto titles = std::filesystem::temp_directory_path() / "vntx_bench_titles.txt";
    std::ofstream(titles) << "Bench Livery\n";
    simhost::Options options;
    options.port = 0;
    options.pipeName = "";
    options.writeRegistry = false;
    options.frameRate = 60;
    options.titles = titles.string();
    openLog(std::filesystem::temp_directory_path() / "vntx_bench_Log.txt");
    simhost::Server server(options);
    std::string error;
    if (!server.start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    LoopbackClient client(server.port());
    simlink::SimLink link(client);
    // The benchmark is the link's thread: it dispatches between the measured flushes.
    auto pump = [&](auto done) {
        for (int i = 0; i < 1000 && !done(); ++i) {
            link.dispatchOnce();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    if (link.openOnce()) pump([&] { return link.connected(); });
    if (!link.connected()) {
        state.SkipWithError("no connection to simhost");
        return;
    }
    link.setUserObjectId(simhost::World::kUserId);
    // The aircraft to move: the stand-in numbers them from 2 on.
    for (int i = 0; i < kAircraft; ++i) {
        simlink::CreationRecord c;
        c.callsign = fmt::format("B{}", i);
        c.title = "Bench Livery";
        c.hexid = 0x400000 + i;
        c.initPosition.Latitude = 47 + i * 1e-4;
        c.initPosition.Longitude = 8.5;
        link.queueCreation(c);
    }
    link.flushFrame();
    pump([&] { return server.aiObjectCount() >= kAircraft; });

    simlink::AiPosition p;
    p.altitude = 3000;
    p.trueAirspeed = 250;
    double step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        link.dispatchOnce();
        step += 1e-5;
        for (int i = 0; i < kAircraft; ++i) {
            p.latitude = 47 + i * 1e-4 + step;
            p.longitude = 8.5 + step;
            link.queuePosition(static_cast<std::uint32_t>(2 + i), p);
        }
        link.handOverPositions();
        state.ResumeTiming();
        link.flushFrame();
    }
    state.counters["aircraft"] = static_cast<double>(server.aiObjectCount());
    state.SetItemsProcessed(state.iterations() * kAircraft);
    link.closeConnection();
    server.stop();
    std::filesystem::remove(titles);
}
BENCHMARK(BM_FrameFlush1000Positions)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// The link's own share: the same flush over a client that accepts every call at once.
class AcceptingClient final : public Client {
public:
    HRESULT SimConnect_Open(HANDLE* ph, LPCSTR, HWND, DWORD, HANDLE, DWORD) override {
        *ph = reinterpret_cast<HANDLE>(std::uintptr_t{1});
        return S_OK;
    }
    HRESULT SimConnect_Close(HANDLE) override { return S_OK; }
    HRESULT SimConnect_CallDispatch(HANDLE, DispatchProc, void*) override { return S_OK; }
    HRESULT SimConnect_GetLastSentPacketID(HANDLE, DWORD* id) override { return *id = 0, S_OK; }
    HRESULT SimConnect_MapClientEventToSimEvent(HANDLE, SIMCONNECT_CLIENT_EVENT_ID, const char*) override { return S_OK; }
    HRESULT SimConnect_TransmitClientEvent(HANDLE, SIMCONNECT_OBJECT_ID, SIMCONNECT_CLIENT_EVENT_ID, DWORD,
                                           SIMCONNECT_NOTIFICATION_GROUP_ID, SIMCONNECT_EVENT_FLAG) override {
        return S_OK;
    }
    HRESULT SimConnect_AddClientEventToNotificationGroup(HANDLE, SIMCONNECT_NOTIFICATION_GROUP_ID,
                                                         SIMCONNECT_CLIENT_EVENT_ID, BOOL) override {
        return S_OK;
    }
    HRESULT SimConnect_SetNotificationGroupPriority(HANDLE, SIMCONNECT_NOTIFICATION_GROUP_ID, DWORD) override {
        return S_OK;
    }
    HRESULT SimConnect_AddToDataDefinition(HANDLE, SIMCONNECT_DATA_DEFINITION_ID, const char*, const char*,
                                           SIMCONNECT_DATATYPE, float, DWORD) override {
        return S_OK;
    }
    HRESULT SimConnect_RequestDataOnSimObject(HANDLE, SIMCONNECT_DATA_REQUEST_ID, SIMCONNECT_DATA_DEFINITION_ID,
                                              SIMCONNECT_OBJECT_ID, SIMCONNECT_PERIOD, SIMCONNECT_DATA_REQUEST_FLAG,
                                              DWORD, DWORD, DWORD) override {
        return S_OK;
    }
    HRESULT SimConnect_RequestDataOnSimObjectType(HANDLE, SIMCONNECT_DATA_REQUEST_ID, SIMCONNECT_DATA_DEFINITION_ID,
                                                  DWORD, SIMCONNECT_SIMOBJECT_TYPE) override {
        return S_OK;
    }
    HRESULT SimConnect_SetDataOnSimObject(HANDLE, SIMCONNECT_DATA_DEFINITION_ID, SIMCONNECT_OBJECT_ID,
                                          SIMCONNECT_DATA_SET_FLAG, DWORD, DWORD, void* data) override {
        benchmark::DoNotOptimize(data);
        return S_OK;
    }
    HRESULT SimConnect_SubscribeToSystemEvent(HANDLE, SIMCONNECT_CLIENT_EVENT_ID, const char*) override { return S_OK; }
    HRESULT SimConnect_AICreateNonATCAircraft(HANDLE, const char*, const char*, SIMCONNECT_DATA_INITPOSITION,
                                              SIMCONNECT_DATA_REQUEST_ID) override {
        return S_OK;
    }
    HRESULT SimConnect_AIReleaseControl(HANDLE, SIMCONNECT_OBJECT_ID, SIMCONNECT_DATA_REQUEST_ID) override { return S_OK; }
    HRESULT SimConnect_AIRemoveObject(HANDLE, SIMCONNECT_OBJECT_ID, SIMCONNECT_DATA_REQUEST_ID) override { return S_OK; }
    HRESULT SimConnect_AISetAircraftFlightPlan(HANDLE, SIMCONNECT_OBJECT_ID, const char*,
                                               SIMCONNECT_DATA_REQUEST_ID) override {
        return S_OK;
    }
};

void BM_FrameFlush1000PositionsLinkOnly(benchmark::State& state) {
    AcceptingClient client;
    simlink::SimLink link(client);
    link.openOnce();
    link.setUserObjectId(1);
    simlink::AiPosition p;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kAircraft; ++i) link.queuePosition(static_cast<std::uint32_t>(2 + i), p);
        link.handOverPositions();
        state.ResumeTiming();
        link.flushFrame();
    }
    state.SetItemsProcessed(state.iterations() * kAircraft);
}
BENCHMARK(BM_FrameFlush1000PositionsLinkOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
