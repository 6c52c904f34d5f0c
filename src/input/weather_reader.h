// The "QNH Reader": keeps the sea-level pressure setting that RealTraffic
// sends as small JSON datagrams.
#pragma once

#include <atomic>
#include <string_view>

#include "input/udp_reader.h"

namespace vntx::input {

inline constexpr int kWeatherPort = 49004;

class TrafficReader;

class WeatherReader : public UdpReader {
public:
    explicit WeatherReader(TrafficReader* traffic = nullptr) : UdpReader("QNH Reader"), traffic_(traffic) {}

    void processDatagram(std::string_view datagram) override;

    std::atomic<int> qnhHpa{1013};
    void resetState();

protected:
    void onConnected() override;
    void onStopped() override;

private:
    TrafficReader* traffic_;
};

// The QNH the rest of the program reads (hPa).
std::atomic<int>& publishedQnh();

// A weather value in hPa: above 1100 it is hundredths of an inch of mercury;
// the result is limited to 900..1100.
int qnhToHpa(long long value);

}  // namespace vntx::input
