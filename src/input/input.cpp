#include "input/input.h"

#include <filesystem>
#include <thread>

#include <fmt/format.h>

#include "core/log.h"
#include "core/status.h"
#include "platform/platform.h"
#include "traffic/traffic_feed.h"

namespace vntx::input {
namespace {

struct Readers {
    TrafficReader traffic;
    WeatherReader weather{&traffic};
    std::thread trafficThread;
    std::thread weatherThread;

    ~Readers() {
        traffic.stopFlag = true;
        weather.stopFlag = true;
        if (trafficThread.joinable()) trafficThread.join();
        if (weatherThread.joinable()) weatherThread.join();
    }
};

Readers& readers() {
    static Readers r;
    return r;
}

void restart(std::thread& thread, UdpReader& reader, int port) {
    if (thread.joinable()) {
        reader.stopFlag = true;
        thread.join();
    }
    reader.stopFlag = false;
    const bool local = realTrafficLink().realTrafficInstalled.load();
    thread = std::thread([&reader, port, local] {
        platform::setThreadName(reader.name());
        reader.run(port, local);
    });
}

}  // namespace

TrafficReader& trafficReader() { return readers().traffic; }
WeatherReader& weatherReader() { return readers().weather; }

void startWeatherReader(int port) { restart(readers().weatherThread, readers().weather, port); }
void startTrafficReader(int port) { restart(readers().trafficThread, readers().traffic, port); }

void stopReaders() {
    readers().traffic.stopFlag = true;
    readers().weather.stopFlag = true;
}

void joinReaders() {
    auto& r = readers();
    stopReaders();
    if (r.trafficThread.joinable()) r.trafficThread.join();
    if (r.weatherThread.joinable()) r.weatherThread.join();
}

void resetReaderState() {
    auto& r = readers();
    r.weather.resetState();
    publishedQnh() = 1013;
    indicators().qnh = 1013;
    r.traffic.resetState();
    r.traffic.stopFlag = false;
    r.weather.stopFlag = false;
    r.weather.zeroCount();
    indicators().weatherLiveness = 1;
    indicators().trafficLiveness = 1;
}

bool detectRealTraffic() {
    const auto folder = platform::knownFolder(platform::KnownFolder::RoamingAppData);
    std::error_code ec;
    const bool found = !folder.empty() && std::filesystem::is_regular_file(folder / "InsideSystems" / "RealTraffic.jar", ec);
    realTrafficLink().realTrafficInstalled = found;
    const auto text = fmt::format("RealTraffic {}detected at this PC", found ? "" : "not ");
    showStatus(text, false);
    logLine(text);
    return found;
}

void copyRangePosition() {
    const auto user = userAircraft();
    readers().traffic.setUserPositionForRange(user.latitude, user.longitude);
}

}  // namespace vntx::input

namespace vntx {

void resetInputState() {
    using namespace input;
    joinReaders();
    auto& r = readers();
    r.traffic.resetState();
    r.traffic.collectCallsigns = false;
    r.weather.resetState();
    publishedQnh() = 1013;
    r.traffic.stopFlag = false;
    r.weather.stopFlag = false;
    r.traffic.zeroCount();
    r.weather.zeroCount();
    indicators().weatherLiveness = 3;
    indicators().trafficLiveness = 3;
    indicators().qnh = 1013;
    realTrafficLink().timeSyncEnabled = false;
    resetTrafficFeed();
}

}  // namespace vntx
