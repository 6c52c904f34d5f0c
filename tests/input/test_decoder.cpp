#include <cmath>

#include <gtest/gtest.h>

#include "input/traffic_decoder.h"
#include "test_support.h"

using namespace vntx;
using namespace vntx::input;
using vntx::testing::Datagram;

namespace {

constexpr double kPi = 3.14159265358979323846;

DecoderSettings userNearZurich() {
    DecoderSettings s;
    s.userLatitude = 47.45;
    s.userLongitude = 8.56;
    s.rangeNm = 40;
    return s;
}

struct Decoded {
    DecodeOutcome outcome;
    TrafficRecord record;
    std::string error;
    bool hasTimestamp;
    double timestamp;
};

Decoded decode(const std::string& datagram, const DecoderSettings& s = userNearZurich()) {
    TrafficDecoder d;
    Decoded r;
    r.outcome = d.decode(datagram, s, r.record);
    r.error = d.error();
    r.hasTimestamp = d.hasTimestamp();
    r.timestamp = d.timestamp();
    return r;
}

DecodeOutcome outcome(const Datagram& g, const DecoderSettings& s = userNearZurich()) {
    return decode(g.text(), s).outcome;
}

}  // namespace

TEST(TrafficDecoder, ConvertsAnAcceptedReport) {
    const auto r = decode(Datagram{}.text());
    ASSERT_EQ(r.outcome, DecodeOutcome::Accepted) << r.error;
    const auto& t = r.record;
    EXPECT_EQ(t.hexid, 4953807u);
    EXPECT_EQ(t.callsign, "SWR123");
    EXPECT_EQ(t.aircraftType, "A320");
    EXPECT_EQ(t.registration, "HB-JLT");
    EXPECT_EQ(t.origin, "ZRH");
    EXPECT_EQ(t.destination, "LHR");
    EXPECT_TRUE(t.operatorCode.empty());
    EXPECT_DOUBLE_EQ(t.latitude, 47.5);
    EXPECT_DOUBLE_EQ(t.longitude, 8.6);
    EXPECT_DOUBLE_EQ(t.altitude, 7000);
    EXPECT_TRUE(t.airborne);
    EXPECT_DOUBLE_EQ(t.groundSpeed, 250);
    EXPECT_DOUBLE_EQ(t.track, 123.4);
    EXPECT_DOUBLE_EQ(t.verticalRate, -640);
    EXPECT_DOUBLE_EQ(t.trueAirspeed, 265);
    EXPECT_TRUE(t.bankValid);
    EXPECT_NEAR(t.bank, -5.5 * kPi / 180, 1e-12);  // right wing down is negative
    EXPECT_TRUE(t.headingValid);
    EXPECT_NEAR(t.trueHeading, 123.0 * kPi / 180, 1e-12);
    EXPECT_DOUBLE_EQ(t.timestamp, 1704067200.5);
}

TEST(TrafficDecoder, EmitterCategoryDecidesWhichTypesPass) {
    EXPECT_EQ(outcome(Datagram{}.set(10, "GLID").set(28, "A1")), DecodeOutcome::Dropped);
    EXPECT_EQ(outcome(Datagram{}.set(10, "GLID").set(28, "")), DecodeOutcome::Accepted);
    EXPECT_EQ(outcome(Datagram{}.set(10, "GLID").set(28, "null")), DecodeOutcome::Accepted);
    EXPECT_EQ(outcome(Datagram{}.set(10, "A320X").set(28, "A3")), DecodeOutcome::Dropped);
    EXPECT_EQ(outcome(Datagram{}.set(10, "A320X").set(28, "")), DecodeOutcome::Accepted);
    for (const char* c : {"B1", "B2", "B4", "C1", "C2"})
        EXPECT_EQ(outcome(Datagram{}.set(28, c)), DecodeOutcome::Dropped) << c;
    for (const char* t : {"BALL", "EMER", "GRND", "GND", "PARA", "SERV", "SHIP", "VENT"})
        EXPECT_EQ(outcome(Datagram{}.set(10, t)), DecodeOutcome::Dropped) << t;
    for (const char* t : {"null", "0", "ZZZZ"})
        EXPECT_EQ(outcome(Datagram{}.set(10, t).set(28, "")), DecodeOutcome::Dropped) << t;
}

TEST(TrafficDecoder, GroundVehiclesAreIgnoredBeforeAnythingIsRead) {
    const auto r = decode(Datagram{}.set(9, "FIRE VEH").text());
    EXPECT_EQ(r.outcome, DecodeOutcome::Ignored);
    EXPECT_FALSE(r.hasTimestamp);
    EXPECT_EQ(decode(Datagram{}.set(27, "x VEH1").text()).outcome, DecodeOutcome::Ignored);
    EXPECT_EQ(decode(Datagram{}.set(9, "VEHICLE").text()).outcome, DecodeOutcome::Accepted);  // no blank before
}

TEST(TrafficDecoder, InvalidPositionsFailButStillStampTheTime) {
    const auto r = decode(Datagram{}.set(2, "0.00005").set(3, "0.00005").text());
    EXPECT_EQ(r.outcome, DecodeOutcome::Failed);
    EXPECT_EQ(r.error, "invalid lalo: 0.000050,0.000050");
    EXPECT_TRUE(r.hasTimestamp);
    EXPECT_DOUBLE_EQ(r.timestamp, 1704067200.5);
    EXPECT_EQ(decode(Datagram{}.set(2, "90.5").text()).error, "invalid lalo: 90.500000,8.600000");
    EXPECT_EQ(decode(Datagram{}.set(3, "-180.1").text()).outcome, DecodeOutcome::Failed);
    EXPECT_EQ(decode(Datagram{}.set(2, "abc").text()).error, "lat:abc");
    EXPECT_EQ(decode(Datagram{}.set(14, "").text()).error, "timestamp:");
}

TEST(TrafficDecoder, NumbersUsePlainDecimalSyntaxOnly) {
    for (const char* bad : {"+47.5", " 47.5", "47.5 ", "nan", "inf", "-inf", "47,5x", "0x2F"}) {
        const auto r = decode(Datagram{}.set(2, bad).text());
        EXPECT_EQ(r.outcome, DecodeOutcome::Failed) << bad;
    }
    EXPECT_EQ(decode(Datagram{}.set(2, "47.50").text()).outcome, DecodeOutcome::Accepted);
    EXPECT_EQ(decode(Datagram{}.set(20, "").text()).error, "TAS incorrect");
    EXPECT_EQ(decode(Datagram{}.set(7, "x").text()).error, "track incorrect x");
    EXPECT_EQ(decode(Datagram{}.set(4, "7k").text()).error,
              "altitude 7k incorrect, from: " + Datagram{}.set(4, "7k").text());
}

TEST(TrafficDecoder, HexidIsReadFromLeadingDigits) {
    EXPECT_EQ(outcome(Datagram{}.set(1, "10000")), DecodeOutcome::Dropped);
    const auto ok = decode(Datagram{}.set(1, "10001").text());
    ASSERT_EQ(ok.outcome, DecodeOutcome::Accepted);
    EXPECT_EQ(ok.record.hexid, 10001u);
    EXPECT_EQ(outcome(Datagram{}.set(1, "4CA2D1")), DecodeOutcome::Dropped);  // reads as 4
    EXPECT_EQ(decode(Datagram{}.set(1, "12345678xyz").text()).record.hexid, 12345678u);
    EXPECT_EQ(decode(Datagram{}.set(1, "A4CA2D1").text()).error, "hexid incorrectA4CA2D1");
    EXPECT_EQ(decode(Datagram{}.set(1, "4294967296").text()).outcome, DecodeOutcome::Failed);
    EXPECT_EQ(decode(Datagram{}.set(1, "4294967295").text()).record.hexid, 4294967295u);
}

TEST(TrafficDecoder, SlowLowAircraftAreOnTheGroundAndKeptOnlyNearThePark) {
    auto g = Datagram{}.set(4, "1050").set(8, "30");
    auto s = userNearZurich();
    EXPECT_EQ(outcome(g, s), DecodeOutcome::Dropped);  // no park airport
    s.parkAirport = ParkAirportRef{47.40, 8.55, 1400};
    EXPECT_EQ(outcome(g, s), DecodeOutcome::Dropped);  // > 5 nm away
    s.parkAirport = ParkAirportRef{47.5, 8.65, 1400};
    const auto near = decode(g.text(), s);
    ASSERT_EQ(near.outcome, DecodeOutcome::Accepted);
    EXPECT_EQ(near.record.altitude, 0);
    EXPECT_FALSE(near.record.airborne);
    EXPECT_FALSE(near.record.bankValid);  // roll is read only in the air
}

TEST(TrafficDecoder, AltitudeNearTheParkElevationCountsAsGround) {
    auto s = userNearZurich();
    s.parkAirport = ParkAirportRef{47.5, 8.6, 1400};
    auto alt = [&](const char* a, const char* gs) {
        const auto r = decode(Datagram{}.set(4, a).set(8, gs).text(), s);
        return r.outcome == DecodeOutcome::Accepted ? r.record.altitude : -1;
    };
    EXPECT_EQ(alt("1442", "120"), 0);     // within 42 ft up to 120 kt
    EXPECT_EQ(alt("1443", "120"), 1443);
    EXPECT_EQ(alt("1442", "121"), 1442);
    EXPECT_EQ(alt("1484", "80"), 0);      // within 84 ft up to 80 kt
    EXPECT_EQ(alt("1484", "81"), 1484);
    EXPECT_EQ(alt("1508", "43"), 0);      // within 108 ft up to 43 kt
    EXPECT_EQ(alt("1509", "43"), 1509);
    EXPECT_EQ(alt("1300", "150"), 0);     // below the field
    EXPECT_EQ(alt("-20", "150"), 0);
    EXPECT_EQ(alt("14500", "30"), 0);     // slow means on the ground at any height
    s.parkAirport.reset();                // reference -1000 ft without a park airport
    EXPECT_EQ(alt("30", "150"), 30);
}

TEST(TrafficDecoder, AirborneOnlyDropsWhatIsNearTheGround) {
    auto s = userNearZurich();
    s.airborneOnly = true;
    s.parkAirport = ParkAirportRef{47.5, 8.6, 1400};
    EXPECT_EQ(outcome(Datagram{}.set(4, "1700"), s), DecodeOutcome::Dropped);
    EXPECT_EQ(outcome(Datagram{}.set(4, "1701"), s), DecodeOutcome::Accepted);
    EXPECT_EQ(outcome(Datagram{}.set(4, "1000").set(8, "20"), s), DecodeOutcome::Dropped);
    s.parkAirport.reset();
    EXPECT_EQ(outcome(Datagram{}.set(4, "300"), s), DecodeOutcome::Dropped);
}

TEST(TrafficDecoder, TrueAirspeedFallsBackOnTheAltitude) {
    auto tas = [](const char* alt) {
        return decode(Datagram{}.set(4, alt).set(20, "-1").text()).record.trueAirspeed;
    };
    EXPECT_EQ(tas("7000"), 250);
    EXPECT_EQ(tas("2000"), 180);
    EXPECT_EQ(tas("2001"), 220);
    EXPECT_EQ(tas("10000"), 250);
    EXPECT_EQ(tas("20000"), 350);
    EXPECT_EQ(tas("20001"), 430);
}

TEST(TrafficDecoder, HeadingAndBank) {
    auto heading = [](const char* h, const char* source = "adsb_icao") {
        return decode(Datagram{}.set(25, h).set(17, source).text());
    };
    auto north = heading("0");
    ASSERT_EQ(north.outcome, DecodeOutcome::Accepted);
    EXPECT_TRUE(north.record.headingValid);
    EXPECT_DOUBLE_EQ(north.record.trueHeading, 2 * kPi);
    EXPECT_DOUBLE_EQ(heading("360").record.trueHeading, 2 * kPi);
    EXPECT_EQ(heading("360.5").error, "trueheading: 360.50");
    EXPECT_FALSE(heading("-1").record.headingValid);
    const auto mlat = heading("garbage", "mlat");
    ASSERT_EQ(mlat.outcome, DecodeOutcome::Accepted);
    EXPECT_FALSE(mlat.record.headingValid);
    for (const char* roll : {"-1", "0"}) {
        const auto r = decode(Datagram{}.set(23, roll).text());
        EXPECT_FALSE(r.record.bankValid);
        EXPECT_EQ(r.record.bank, 0);
    }
    EXPECT_NEAR(decode(Datagram{}.set(23, "-12").text()).record.bank, 12 * kPi / 180, 1e-12);
}

TEST(TrafficDecoder, IdentityFilters) {
    EXPECT_EQ(outcome(Datagram{}.set(11, "ABCDEFGHIJKL")), DecodeOutcome::Accepted);
    EXPECT_EQ(outcome(Datagram{}.set(11, "ABCDEFGHIJKLM")), DecodeOutcome::Dropped);
    for (const char* c : {"ERARMTR0", "AIRPORT1", "00000000"})
        EXPECT_EQ(outcome(Datagram{}.set(9, c)), DecodeOutcome::Dropped) << c;
    EXPECT_EQ(outcome(Datagram{}.set(9, "null").set(11, "null")), DecodeOutcome::Dropped);
    EXPECT_EQ(outcome(Datagram{}.set(9, "a@b").set(11, "null")), DecodeOutcome::Dropped);
    const auto noCallsign = decode(Datagram{}.set(9, "a@b").text());
    ASSERT_EQ(noCallsign.outcome, DecodeOutcome::Accepted);
    EXPECT_TRUE(noCallsign.record.callsign.empty());
    const auto noReg = decode(Datagram{}.set(11, "null").set(12, "null").set(13, "null").set(7, "").text());
    ASSERT_EQ(noReg.outcome, DecodeOutcome::Accepted);
    EXPECT_TRUE(noReg.record.registration.empty());
    EXPECT_TRUE(noReg.record.origin.empty());
    EXPECT_TRUE(noReg.record.destination.empty());
    EXPECT_EQ(noReg.record.track, 0);
}

TEST(TrafficDecoder, RangeAroundTheUser) {
    auto s = userNearZurich();
    s.rangeNm = 2;
    EXPECT_EQ(outcome(Datagram{}, s), DecodeOutcome::Dropped);  // about 3.4 nm away
    s.rangeNm = 4;
    EXPECT_EQ(outcome(Datagram{}, s), DecodeOutcome::Accepted);
}

TEST(TrafficDecoder, CollectsCallsignsOnlyWhenAsked) {
    TrafficDecoder d;
    TrafficRecord r;
    auto s = userNearZurich();
    d.decode(Datagram{}.text(), s, r);
    EXPECT_FALSE(d.hasSeenCallsign());
    s.collectCallsigns = true;
    // Collected even when the record is dropped later (no type). The views
    // point into the datagram, which must outlive them.
    const std::string dropped = Datagram{}.set(10, "null").text();
    d.decode(dropped, s, r);
    ASSERT_TRUE(d.hasSeenCallsign());
    EXPECT_EQ(d.seenTimestampText(), "1704067200.5");
    EXPECT_EQ(d.seenCallsign(), "SWR123");
    d.decode(Datagram{}.set(9, "x@y").text(), s, r);
    EXPECT_FALSE(d.hasSeenCallsign());
}

TEST(TrafficDecoder, ShortDatagramsFailCleanlyAtEveryField) {
    const Datagram full;
    for (std::size_t n = 1; n < 29; ++n) {
        const auto r = decode(full.text(n));
        EXPECT_EQ(r.outcome, DecodeOutcome::Failed) << n << " fields";
        EXPECT_NE(r.error.find("missing"), std::string::npos) << r.error;
        EXPECT_NE(r.error.find("datagram with " + std::to_string(n) + " fields"), std::string::npos) << r.error;
    }
    EXPECT_EQ(decode(full.text(29)).outcome, DecodeOutcome::Accepted);
    // Cut at every byte: never accepted with a partial last needed field, never a crash.
    const std::string text = full.text(29);
    for (std::size_t n = 0; n < text.size(); ++n) {
        const auto r = decode(text.substr(0, n));
        EXPECT_NE(r.outcome, DecodeOutcome::Ignored);
        if (r.outcome == DecodeOutcome::Accepted) {
            EXPECT_GT(n, full.text(28).size());
        }
    }
}

TEST(TrafficDecoder, LongDatagramsKeepOnlyWhatIsRead) {
    Datagram g;
    for (int i = 0; i < 100; ++i) g.f.push_back("extra");
    TrafficDecoder d;
    EXPECT_EQ(d.split(g.text()), g.f.size());
    EXPECT_EQ(d.fieldCount(), TrafficDecoder::kMaxFields);
    EXPECT_EQ(decode(g.text()).outcome, DecodeOutcome::Accepted);
}
