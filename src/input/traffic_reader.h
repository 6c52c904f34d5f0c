// The "Traffic Reader": decodes RealTraffic's traffic datagrams and hands the
// accepted reports to the incoming traffic queue.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "input/traffic_decoder.h"
#include "input/udp_reader.h"

namespace vntx::input {

inline constexpr int kTrafficPort = 49005;

class TrafficReader : public UdpReader {
public:
    TrafficReader() : UdpReader("Traffic Reader") {}

    void processDatagram(std::string_view datagram) override;

    // Where the settings owned elsewhere come from; unset members keep their
    // defaults (RANGE 40, AIRBORNE_ONLY off).
    std::function<int()> rangeSource;
    std::function<bool()> airborneOnlySource;
    void setParkAirport(std::optional<ParkAirportRef> park);

    void setUserPositionForRange(double latitude, double longitude);
    std::pair<double, double> userPositionForRange() const;

    std::atomic<double> lastTrafficTime{0};
    std::atomic<bool> collectCallsigns{false};
    std::atomic<int> qnhCopy{1013};
    // Reports accepted by the decoder (handed over or not) and records queued.
    std::atomic<std::uint64_t> acceptedCount{0};
    std::atomic<std::uint64_t> queuedCount{0};

    // seenCallsigns: time-stamp text -> call-sign text, under its own lock
    // because the reader fills it while the cycle thread clears and reads it.
    void clearSeenCallsigns();
    std::map<std::string, std::string> seenCallsigns() const;

    // The per-cycle state back to its start values (stop flag excluded).
    void resetState();

    DecoderSettings currentSettings() const;

protected:
    void onConnected() override;
    void onStopped() override;

private:
    TrafficDecoder decoder_;
    TrafficRecord record_;
    mutable std::mutex mutex_;  // guards the members below
    std::optional<ParkAirportRef> park_;
    double userLat_ = 0, userLon_ = 0;
    std::map<std::string, std::string> seen_;
};

}  // namespace vntx::input
