// Runs the live traffic input the way the cycle does, with a fixed user
// position instead of a simulator: server, handshake, weather reader, traffic
// reader, the position once a second and the time every 15 seconds, and a
// tick that empties the incoming traffic queue. Used by the end-to-end test
// with rtfeed; prints a summary at the end.
//
//   input_demo <log> <tcp port> <traffic port> <weather port> <seconds> [lat lon]
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include "core/log.h"
#include "core/state.h"
#include "input/input.h"
#include "traffic/traffic_feed.h"

using namespace vntx;
using namespace vntx::input;

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: input_demo <log> <tcp port> <traffic port> <weather port> <seconds> [lat lon]\n");
        return 2;
    }
    openLog(argv[1]);
    const int trafficPort = std::stoi(argv[3]);
    const int weatherPort = std::stoi(argv[4]);
    const int seconds = std::stoi(argv[5]);
    UserAircraftState user;
    user.latitude = argc > 7 ? std::stod(argv[6]) : 22.308;
    user.longitude = argc > 7 ? std::stod(argv[7]) : 113.918;
    user.altitude = 3000;
    user.trueAirspeed = 180;
    setUserAircraft(user);
    simulatorEpochSeconds() = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::system_clock::now().time_since_epoch()).count();
    trafficReader().rangeSource = [] { return 40; };
    trafficReader().setParkAirport(ParkAirportRef{user.latitude, user.longitude, 28});
    auto& link = realTrafficLink();
    link.realTrafficInstalled = true;
    link.resetReaderState = [] { resetReaderState(); };
    std::size_t withdrawn = 0;
    link.withdrawLiveTraffic = [&] { ++withdrawn; };

    link.openServer(argv[2]);
    link.handshake();
    if (link.timeSyncEnabled) link.sendSimulatorTime();
    setCycleRunning(false);
    startWeatherReader(weatherPort);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    startTrafficReader(trafficPort);
    link.sendUserPosition();
    copyRangePosition();
    for (int i = 0; i < 150 && trafficReader().lastTrafficTime == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (trafficReader().lastTrafficTime == 0) logLine("No traffic in this region?");
    setCycleRunning(true);

    std::set<std::uint32_t> aircraft;
    std::size_t records = 0;
    std::deque<TrafficRecord> taken;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int reports = 0;
    auto next = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < end) {
        next += std::chrono::seconds(1);
        std::this_thread::sleep_until(next);
        ++reports;
        liveTraffic().tickCount += 100;
        taken.clear();
        records += takeIncoming(taken, 100000);
        for (const auto& r : taken) aircraft.insert(r.hexid);
        link.sendUserPosition();
        if (reports % 15 == 0) {
            copyRangePosition();
            simulatorEpochSeconds() += 15;
            if (link.timeSyncEnabled) link.sendSimulatorTime();
        }
    }
    setCycleRunning(false);
    stopReaders();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    link.closeLink();
    joinReaders();
    logf("summary: {} records queued from {} aircraft, {} traffic and {} weather datagrams, QNH {}, "
         "{} withdrawals",
         records, aircraft.size(), trafficReader().datagramCount.load(), weatherReader().datagramCount.load(),
         publishedQnh().load(), withdrawn);
    flushLog();
    std::printf("input_demo: %zu records queued from %zu aircraft\n", records, aircraft.size());
    closeLog();
    return records > 0 ? 0 : 1;
}
