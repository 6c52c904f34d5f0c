// Decoding of one RealTraffic traffic datagram into a TrafficRecord: field
// split, validation, conversion and the filters that keep out what is not
// shown (too far, ground vehicles, unwanted categories, ground traffic away
// from the park airport).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "traffic/traffic_record.h"

namespace vntx::input {

// The airport whose stands the program manages; ground traffic is kept only
// near it and its elevation is the ground reference of the altitude rules.
struct ParkAirportRef {
    double latitude = 0;     // degrees
    double longitude = 0;    // degrees
    double elevationFt = 0;  // feet
};

// What the decoder needs from the rest of the program, read once per datagram.
struct DecoderSettings {
    double rangeNm = 40;          // RANGE
    bool airborneOnly = false;    // AIRBORNE_ONLY
    std::optional<ParkAirportRef> parkAirport;
    double userLatitude = 0;      // userPositionForRange
    double userLongitude = 0;
    bool collectCallsigns = false;
};

// A record that cannot be decoded; its text is logged after
// "exception in processLineSub: ".
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class DecodeOutcome {
    Accepted,  // record filled, ready for the hand-over
    Dropped,   // filtered out silently
    Ignored,   // a ground vehicle (" VEH"), not even split
    Failed,    // a bad field; error() tells which
};

class TrafficDecoder {
public:
    // Fields past this index are never read; the split stops there.
    static constexpr std::size_t kMaxFields = 32;

    DecodeOutcome decode(std::string_view datagram, const DecoderSettings& settings, TrafficRecord& out);

    // Set for every datagram whose time stamp parsed, whatever came after.
    bool hasTimestamp() const { return hasTimestamp_; }
    double timestamp() const { return timestamp_; }
    // Set when call signs are being collected and this datagram carried one.
    bool hasSeenCallsign() const { return hasSeenCallsign_; }
    std::string_view seenTimestampText() const { return seenTimestamp_; }
    std::string_view seenCallsign() const { return seenCallsign_; }
    // The message of the last Failed outcome.
    const std::string& error() const { return error_; }

    // Splits at every ","; the number of fields (at most kMaxFields are kept).
    std::size_t split(std::string_view datagram);
    std::size_t fieldCount() const { return count_; }

private:
    DecodeOutcome decodeFields(std::string_view datagram, const DecoderSettings& settings, TrafficRecord& out);
    std::string_view field(std::size_t index, const char* name) const;
    double number(std::size_t index, const char* name) const;

    std::array<std::string_view, kMaxFields> fields_{};
    std::size_t count_ = 0;
    std::size_t total_ = 0;
    bool hasTimestamp_ = false;
    double timestamp_ = 0;
    bool hasSeenCallsign_ = false;
    std::string_view seenTimestamp_;
    std::string_view seenCallsign_;
    std::string error_;
};

// Plain decimal number over the whole text (no blanks, no "+", finite).
bool parseNumber(std::string_view text, double& out);

// True airspeed assumed from the altitude when the report has none.
double assumedTrueAirspeed(double altitudeFt);

}  // namespace vntx::input
