// Whole flights of the Zurich ground recording replayed through the traffic
// decoder and the live traffic tick, with Zurich's stock park file: an
// arrival that rolls out, taxis in and parks, and a departure that stands on
// its stand, pushes back, taxis out and takes off.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "input/traffic_decoder.h"
#include "parking_traffic_fixture.h"
#include "recording.h"

using namespace vntx;
using namespace vntx::test;
using traffic::FlightState;
using traffic::LiveAircraft;

namespace {

class ZurichReplay : public ParkingTraffic {
protected:
    void SetUp() override {
        ParkingTraffic::SetUp();
        useGroundMovement(parking->stands);  // driven onto and off stands as in the program
        params().CUSTOM_PARKING_PERCENTAGE.set(0);
        parking->statics.updateStaticParking();
        ASSERT_TRUE(parking->statics.loaded());
        harness->sim.groundElevation = 1416;
    }

    // Feeds one flight of the recording at its own pace (its first report
    // now), one tick at a time, until `done` says so or the ticks run out;
    // returns the tick it stopped at.
    int replay(std::uint32_t hex, int maxTicks, const std::function<bool(const LiveAircraft*)>& done) {
        const auto all = rtfeed::readRecordingFile(VNTX_SOURCE "/data/traffic/lszh_ground_2019_arranged.rtrec");
        std::vector<rtfeed::Report> reports;
        for (const auto& r : all)
            if (r.hex == hex) reports.push_back(r);
        EXPECT_GT(reports.size(), 100u);
        if (reports.empty()) return 0;
        const AirportEntry* zh = findAirport("LSZH");
        input::TrafficDecoder decoder;
        input::DecoderSettings ds;
        ds.userLatitude = zh->lat;
        ds.userLongitude = zh->lon;
        ds.parkAirport = input::ParkAirportRef{zh->lat, zh->lon, 1416};
        std::size_t next = 0;
        const double t0 = reports.front().time;
        for (int tick = 0; tick < maxTicks; ++tick) {
            while (next < reports.size() && reports[next].time <= t0 + tick / 100.0) {
                TrafficRecord rec;
                if (decoder.decode(rtfeed::trafficDatagram(reports[next], reports[next].time), ds, rec) ==
                    input::DecodeOutcome::Accepted)
                    harness->arrive(rec);
                ++next;
            }
            harness->run(1);
            if (done(harness->ac(hex))) return tick;
        }
        return maxTicks;
    }
};

}  // namespace

TEST_F(ZurichReplay, ALiveArrivalComesToRestAndTakesTheStandBesideIt) {
    // VJT796 (a GLEX) is first seen rolling out on runway 28, taxis back east
    // and stops 13 m from stand F70; while it stands its reported position
    // wanders between points up to 30 m apart for half an hour.
    std::string parkedAt;
    bool takeOffRun = false;
    const int parkedTick = replay(0x4D20CD, 240000, [&](const LiveAircraft* ac) {
        takeOffRun = takeOffRun || (ac && ac->takeOffRun);
        if (ac && ac->flightState == FlightState::parked)
            parkedAt = parking->statics.standLabel(static_cast<std::uint32_t>(ac->standId));
        return !parkedAt.empty();
    });
    EXPECT_EQ(parkedAt, "F70");
    EXPECT_TRUE(logged("F70     : VJT796   arrived at stand"));
    EXPECT_EQ(parking->stands.holderOf(stand("F70").index), 0x4D20CDu);
    // It stops at 376 s of the recording: it parks from the reports that
    // follow, 30 s of playback later and within two minutes, not when its
    // reports run out.
    EXPECT_GT(parkedTick, 40600);
    EXPECT_LT(parkedTick, 52600);
    EXPECT_LE(parking->stands.searches(), 4u);
    EXPECT_FALSE(takeOffRun);  // a roll-out slowing down is no take-off run
}

TEST_F(ZurichReplay, ADepartureStandingOnItsStandPushesBackTaxisOutAndTakesOff) {
    // AEE5ZH (an A320) is first seen standing on A10 (nose north), moves off
    // tail first towards the south at 246 s, waits, taxis out to runway 28
    // and takes off.
    std::vector<FlightState> states;
    std::int32_t standWhileParked = 0;
    bool freed = false;
    const int tick = replay(0x4690E2, 120000, [&](const LiveAircraft* ac) {
        if (!ac || ac->state != traffic::AcState::active) return false;
        if (states.empty() || states.back() != ac->flightState) states.push_back(ac->flightState);
        if (ac->flightState == FlightState::parked && ac->standId != 0) standWhileParked = ac->standId;
        freed = freed || (standWhileParked != 0 && parking->stands.holderOf(stand("A10").index) == 0);
        return !ac->onGround && ac->flightState != FlightState::parked && ac->pos.altitude > 1416 + 300;
    });
    ASSERT_LT(tick, 120000) << "no take-off; states seen: " << states.size();
    EXPECT_EQ(standWhileParked, static_cast<std::int32_t>(stand("A10").index));
    EXPECT_TRUE(logged("AEE5ZH   parks"));
    EXPECT_TRUE(logged("A10     : AEE5ZH   pushing back"));
    auto at = [&](FlightState s) { return std::find(states.begin(), states.end(), s); };
    ASSERT_NE(at(FlightState::parked), states.end());
    ASSERT_NE(at(FlightState::pushing_back), states.end());
    ASSERT_NE(at(FlightState::pushed_back), states.end());
    ASSERT_NE(at(FlightState::take_off), states.end());
    EXPECT_LT(at(FlightState::parked), at(FlightState::pushing_back));
    EXPECT_LT(at(FlightState::pushing_back), at(FlightState::pushed_back));
    EXPECT_LT(at(FlightState::pushed_back), at(FlightState::take_off));
    EXPECT_TRUE(freed);  // the stand is free for the next one
}
