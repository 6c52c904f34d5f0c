#include "input/traffic_decoder.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include <fmt/format.h>

#include "input/geo.h"

namespace vntx::input {

bool parseNumber(std::string_view text, double& out) {
    if (text.empty()) return false;
    const char* first = text.data();
    const char* last = first + text.size();
    // from_chars already refuses "+" and blanks; refuse "inf" and "nan" too.
    if (*first != '-' && *first != '.' && (*first < '0' || *first > '9')) return false;
    auto [ptr, ec] = std::from_chars(first, last, out, std::chars_format::general);
    return ec == std::errc() && ptr == last && std::isfinite(out);
}

double assumedTrueAirspeed(double altitudeFt) {
    if (altitudeFt <= 2000) return 180;
    if (altitudeFt <= 5000) return 220;
    if (altitudeFt <= 10000) return 250;
    if (altitudeFt <= 20000) return 350;
    return 430;
}

std::size_t TrafficDecoder::split(std::string_view datagram) {
    count_ = 0;
    total_ = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = datagram.find(',', start);
        const std::size_t end = comma == std::string_view::npos ? datagram.size() : comma;
        if (count_ < kMaxFields) fields_[count_++] = datagram.substr(start, end - start);
        ++total_;
        if (comma == std::string_view::npos) break;
        if (count_ == kMaxFields) {
            // Nothing past the kept fields is read; count the rest cheaply.
            for (std::size_t i = comma + 1; i < datagram.size(); ++i) total_ += datagram[i] == ',';
            ++total_;
            break;
        }
        start = comma + 1;
    }
    return total_;
}

std::string_view TrafficDecoder::field(std::size_t index, const char* name) const {
    if (index >= count_)
        throw DecodeError(fmt::format("{} missing: field {} of a datagram with {} fields", name, index, total_));
    return fields_[index];
}

double TrafficDecoder::number(std::size_t index, const char* name) const {
    const auto text = field(index, name);
    double v;
    if (!parseNumber(text, v)) throw DecodeError(fmt::format("{}:{}", name, text));
    return v;
}

DecodeOutcome TrafficDecoder::decode(std::string_view datagram, const DecoderSettings& settings,
                                     TrafficRecord& out) {
    hasTimestamp_ = false;
    hasSeenCallsign_ = false;
    error_.clear();
    if (datagram.find(" VEH") != std::string_view::npos) return DecodeOutcome::Ignored;
    split(datagram);
    try {
        return decodeFields(datagram, settings, out);
    } catch (const DecodeError& e) {
        error_ = e.what();
        return DecodeOutcome::Failed;
    }
}

namespace {
bool isNull(std::string_view s) { return s == "null"; }
}  // namespace

DecodeOutcome TrafficDecoder::decodeFields(std::string_view datagram, const DecoderSettings& settings,
                                           TrafficRecord& out) {
    // 1. The time stamp, before any filter: it drives the program's clock.
    timestamp_ = number(14, "timestamp");
    hasTimestamp_ = true;

    // 2-3. Position.
    const double lat = number(2, "lat");
    const double lon = number(3, "lon");
    if (lat < -90 || lat > 90 || lon < -180 || lon > 180 || (std::fabs(lat) < 0.0001 && std::fabs(lon) < 0.0001))
        throw DecodeError(fmt::format("invalid lalo: {:.6f},{:.6f}", lat, lon));

    // 4. Range around the user.
    if (distanceNm(settings.userLatitude, settings.userLongitude, lat, lon) > settings.rangeNm)
        return DecodeOutcome::Dropped;

    // 5. Registration.
    std::string_view registration = field(11, "registration");
    if (isNull(registration)) registration = {};
    if (registration.size() > 12) return DecodeOutcome::Dropped;

    // 6. Call signs seen, for the static-parking schedule.
    const std::string_view callsignField = field(9, "callsign");
    if (settings.collectCallsigns && !isNull(callsignField) && !callsignField.empty() &&
        callsignField.find('@') == std::string_view::npos) {
        hasSeenCallsign_ = true;
        seenTimestamp_ = fields_[14];
        seenCallsign_ = callsignField;
    }

    // 7-8. Type and emitter category.
    std::string_view type = field(10, "type");
    if (isNull(type) || type == "0" || type == "ZZZZ") type = {};
    if (type.empty()) return DecodeOutcome::Dropped;
    const std::string_view category = field(28, "category");
    if (!category.empty() && !isNull(category)) {
        if (category == "B1" || category == "B2" || category == "B4" || category == "C1" || category == "C2")
            return DecodeOutcome::Dropped;
        if (type.size() > 4) return DecodeOutcome::Dropped;
        static constexpr std::string_view kNotAircraft[] = {"BALL", "EMER", "GLID", "GRND", "GND",
                                                            "PARA", "SERV", "SHIP", "VENT"};
        for (auto t : kNotAircraft)
            if (type == t) return DecodeOutcome::Dropped;
    }

    // 9. True heading, trusted only from ADS-B.
    bool headingValid = false;
    double heading = 0;
    if (field(17, "source") == "adsb_icao") {
        const double h = number(25, "trueheading");
        if (h == 0) {
            heading = 2 * kPi;
            headingValid = true;
        } else if (h > 0 && h <= 360) {
            heading = h * kDegToRad;
            headingValid = true;
        } else if (h > 360) {
            throw DecodeError(fmt::format("trueheading: {:.2f}", h));
        }
    }

    // 10. Hexid from the leading decimal digits; small numbers mark static aircraft.
    const std::string_view hexText = field(1, "hexid");
    std::uint32_t hexid = 0;
    {
        auto [ptr, ec] = std::from_chars(hexText.data(), hexText.data() + hexText.size(), hexid, 10);
        if (ec != std::errc() || ptr == hexText.data()) throw DecodeError(fmt::format("hexid incorrect{}", hexText));
    }
    if (hexid <= 10000) return DecodeOutcome::Dropped;

    // 11-12. Ground speed and altitude with the ground rules.
    const double gs = number(8, "gs");
    double altitude;
    {
        const std::string_view altText = field(4, "altitude");
        if (!parseNumber(altText, altitude))
            throw DecodeError(fmt::format("altitude {} incorrect, from: {}", altText, datagram));
    }
    const double parkElevation = settings.parkAirport ? settings.parkAirport->elevationFt : 0.0;
    if (altitude <= 0) {
        altitude = 0;
    } else if (altitude < 14000) {
        const double reference = settings.parkAirport ? parkElevation : -1000.0;
        const double d = altitude - reference;
        if (d <= 0 || (d <= 42 && gs <= 120) || (d <= 84 && gs <= 80) || (d <= 108 && gs <= 43)) altitude = 0;
    }
    if (gs <= 35 && altitude > 0) altitude = 0;
    // Airborne only: an aircraft on the ground (altitude 0) is dropped as well,
    // whatever the park airport's elevation; comparing 0 with a field at
    // 1400 ft would otherwise let all of its ground traffic through.
    if (settings.airborneOnly && (altitude <= 0 || std::fabs(altitude - parkElevation) <= 300))
        return DecodeOutcome::Dropped;

    // 13.
    const bool airborne = altitude > 0;

    // 14-15. Call sign.
    std::string_view callsign = callsignField;
    if (isNull(callsign) || callsign.find('@') != std::string_view::npos) callsign = {};
    if (callsign == "ERARMTR0" || callsign == "AIRPORT1" || callsign == "00000000") return DecodeOutcome::Dropped;
    if (callsign.empty() && registration.empty()) return DecodeOutcome::Dropped;

    // 16. Ground traffic only around the park airport.
    if (!airborne) {
        if (!settings.parkAirport ||
            distanceNm(settings.parkAirport->latitude, settings.parkAirport->longitude, lat, lon) > 5.0)
            return DecodeOutcome::Dropped;
    }

    // 17-18.
    double track = 0;
    {
        const std::string_view t = field(7, "track");
        if (!t.empty() && !parseNumber(t, track)) throw DecodeError(fmt::format("track incorrect {}", t));
    }
    const double vs = number(5, "vs");

    // 19.
    std::string_view origin = field(12, "origin");
    if (isNull(origin)) origin = {};
    std::string_view destination = field(13, "destination");
    if (isNull(destination)) destination = {};

    // 20. Bank, from the reported roll (right wing down is negative here).
    double bank = 0;
    bool bankValid = false;
    if (airborne) {
        const double roll = number(23, "roll");
        if (roll != -1 && roll != 0) {
            bank = -roll * kDegToRad;
            bankValid = true;
        }
    }

    // 21. True airspeed.
    double tas;
    {
        const std::string_view t = field(20, "TAS");
        if (!parseNumber(t, tas)) throw DecodeError(fmt::format("TAS incorrect{}", t));
    }
    if (tas == -1) tas = assumedTrueAirspeed(altitude);

    out.operatorCode.clear();
    out.aircraftType.assign(type);
    out.origin.assign(origin);
    out.destination.assign(destination);
    out.callsign.assign(callsign);
    out.identity1.clear();
    out.identity2.clear();
    out.registration.assign(registration);
    out.latitude = lat;
    out.longitude = lon;
    out.altitude = altitude;
    out.groundSpeed = gs;
    out.track = track;
    out.verticalRate = vs;
    out.trueAirspeed = tas;
    out.scheduledTick = 0;
    out.airborne = airborne;
    out.flags = 0;
    out.bank = bank;
    out.bankValid = bankValid;
    out.trueHeading = heading;
    out.headingValid = headingValid;
    out.timestamp = timestamp_;
    out.hexid = hexid;
    return DecodeOutcome::Accepted;
}

}  // namespace vntx::input
