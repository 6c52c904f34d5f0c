#include "input/traffic_reader.h"

#include "core/log.h"
#include "core/status.h"
#include "traffic/traffic_feed.h"

namespace vntx::input {

void TrafficReader::setParkAirport(std::optional<ParkAirportRef> park) {
    std::lock_guard lock(mutex_);
    park_ = park;
}

void TrafficReader::setUserPositionForRange(double latitude, double longitude) {
    std::lock_guard lock(mutex_);
    userLat_ = latitude;
    userLon_ = longitude;
}

std::pair<double, double> TrafficReader::userPositionForRange() const {
    std::lock_guard lock(mutex_);
    return {userLat_, userLon_};
}

void TrafficReader::clearSeenCallsigns() {
    std::lock_guard lock(mutex_);
    seen_.clear();
}

std::map<std::string, std::string> TrafficReader::seenCallsigns() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

void TrafficReader::resetState() {
    lastTrafficTime = 0;
    qnhCopy = 1013;
    clearSeenCallsigns();
}

DecoderSettings TrafficReader::currentSettings() const {
    DecoderSettings s;
    if (rangeSource) s.rangeNm = rangeSource();
    if (airborneOnlySource) s.airborneOnly = airborneOnlySource();
    s.collectCallsigns = collectCallsigns.load();
    std::lock_guard lock(mutex_);
    s.parkAirport = park_;
    s.userLatitude = userLat_;
    s.userLongitude = userLon_;
    return s;
}

void TrafficReader::processDatagram(std::string_view datagram) {
    const DecoderSettings settings = currentSettings();
    const DecodeOutcome outcome = decoder_.decode(datagram, settings, record_);
    if (decoder_.hasTimestamp()) lastTrafficTime.store(decoder_.timestamp());
    if (decoder_.hasSeenCallsign()) {
        std::lock_guard lock(mutex_);
        seen_.insert_or_assign(std::string(decoder_.seenTimestampText()), std::string(decoder_.seenCallsign()));
    }
    switch (outcome) {
    case DecodeOutcome::Accepted:
        acceptedCount.fetch_add(1, std::memory_order_relaxed);
        if (enqueueIncoming(std::move(record_))) queuedCount.fetch_add(1, std::memory_order_relaxed);
        record_ = TrafficRecord{};
        break;
    case DecodeOutcome::Failed:
        logf("exception in processLineSub: {}", decoder_.error());
        break;
    case DecodeOutcome::Dropped:
    case DecodeOutcome::Ignored:
        break;
    }
}

void TrafficReader::onConnected() {
    indicators().trafficLiveness = 1;
    indicators().weatherLiveness = 1;
    requestRepaint();
}

void TrafficReader::onStopped() {
    indicators().trafficLiveness = 3;
    requestRepaint();
    logLine("Traffic Reader has stopped");
}

}  // namespace vntx::input
