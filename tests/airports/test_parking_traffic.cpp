// Static parking and stand allocation with the live traffic tick against the
// in-process simulator stand-in, on Zurich's real stock park file and the
// shipped reference data.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "airports/parking_services.h"
#include "core/parameters.h"
#include "core/status.h"
#include "harness.h"
#include "park_fixture.h"
#include "parking_traffic_fixture.h"

namespace fs = std::filesystem;
using namespace vntx;
using namespace vntx::test;
using traffic::FlightState;
using traffic::LiveAircraft;

TEST_F(ParkingTraffic, StaticAircraftFillTheWantedStandsNeverOverlappingEachWithItsLivery) {
    params().parking_percentage.set(30);
    params().CUSTOM_PARKING_PERCENTAGE.set(15);
    noLivery.insert("KAL");  // no livery installed for this airline: its aircraft are dropped
    parking->statics.updateStaticParking();
    ASSERT_TRUE(parking->statics.loaded());
    EXPECT_EQ(parking->statics.parkCode(), "LSZH");
    ASSERT_EQ(decoderPark.size(), 1u);
    ASSERT_TRUE(decoderPark[0]);
    EXPECT_NEAR(decoderPark[0]->elevationFt, 1416, 1);  // ground reports are judged against Zurich now
    const auto& positions = parking->statics.airport().positions;
    const int wanted = static_cast<int>(std::lround(0.15 * static_cast<double>(positions.size())));
    EXPECT_EQ(parking->statics.wantedCount(), wanted);
    const auto candidates = parking->statics.candidates();
    ASSERT_EQ(static_cast<int>(candidates.size()), wanted);
    placeAll();

    const auto& statics = parking->statics.statics();
    EXPECT_EQ(parking->statics.staticCount() + static_cast<int>(parking->statics.totals().dropped), wanted);
    EXPECT_GT(parking->statics.staticCount(), wanted / 2);
    std::set<std::uint32_t> used;
    for (const auto& s : statics) {
        EXPECT_TRUE(used.insert(s.stand).second) << "two static aircraft on " << s.stand;
        EXPECT_EQ(s.title, s.airline + " " + s.type + " livery");
        EXPECT_NE(s.airline, "KAL");
        EXPECT_NE(positions[s.stand - 1].id, "W42");  // the user's stand stays free
    }
    for (const auto& s : statics)
        for (auto nb : positions[s.stand - 1].neighbours) EXPECT_FALSE(used.count(nb)) << "adjacent at " << nb;
    // The simulator was asked for exactly these, on their stands.
    std::size_t created = 0;
    for (const auto& c : harness->sim.creations)
        if (c.hexid <= 10000) {
            ++created;
            EXPECT_TRUE(c.onGround);
        }
    EXPECT_EQ(created, statics.size());
    EXPECT_TRUE(logged("The park airport is LSZH"));

    // "Flush static": all go, and the renewal in the next tick puts them back.
    parking->statics.flush();
    EXPECT_EQ(parking->statics.staticCount(), 0);
    harness->run(1);
    EXPECT_TRUE(parking->statics.creationWaiting());
    placeAll();
    EXPECT_GT(parking->statics.staticCount(), wanted / 2);
    EXPECT_EQ(indicators().staticUpdates.load(), 1);
}

TEST_F(ParkingTraffic, ARegistrationFlyingLiveIsNeverParkedStatically) {
    params().CUSTOM_PARKING_PERCENTAGE.set(100);
    parking->statics.updateStaticParking();
    ASSERT_FALSE(parking->statics.candidates().empty());
    const StaticCandidate first = parking->statics.candidates().front();
    parking->statics.leaveParkAirport();
    EXPECT_FALSE(decoderPark.back());
    // The same aircraft now flies live nearby.
    harness->arrive(traffic::test::report(0x4B0001, 1, 47.6, 8.7, 8000, 250, 90, "LIVE1", first.type, first.reg));
    harness->arrive(traffic::test::report(0x4B0001, 6, 47.6, 8.71, 8000, 250, 90, "LIVE1", first.type, first.reg));
    harness->run(3100);
    ASSERT_TRUE(harness->ac(0x4B0001));
    parking->statics.updateStaticParking();
    ASSERT_TRUE(parking->statics.loaded());
    for (const auto& c : parking->statics.candidates()) EXPECT_NE(c.reg, first.reg);
}

TEST_F(ParkingTraffic, TheAdjustmentKeepsWhatStandsAndAddsTheMissingForTheNewHalfHour) {
    params().CUSTOM_PARKING_PERCENTAGE.set(10);
    params().MAX_FIT.set(3);
    parking->statics.updateStaticParking();
    placeAll();
    const auto before = parking->statics.statics();
    ASSERT_FALSE(before.empty());
    now = {3, 22};  // 20 minutes on, past the next half hour
    params().CUSTOM_PARKING_PERCENTAGE.set(20);
    parking->statics.parkingAdjustments();
    placeAll();
    const auto after = parking->statics.statics();
    EXPECT_GT(after.size(), before.size());
    for (const auto& b : before) {
        bool kept = false;
        for (const auto& a : after) kept = kept || (a.objectId == b.objectId && a.stand == b.stand);
        EXPECT_TRUE(kept) << b.callsign;
    }
    EXPECT_TRUE(logged("Parking adjustments: 0 to be removed,"));
}

TEST_F(ParkingTraffic, TheParkAirportIsTakenKeptAndLostExactlyAtItsSightLimits) {
    write("airports/my_park_airports.txt", "LSZH\n");
    parking->statics.readParkAirports();
    const AirportEntry* zh = findAirport("LSZH");
    ASSERT_TRUE(zh);
    // Due north of the airport by AIRP_RANGE (20 nm, to the last bit), at exactly AIRP_HEIGHT.
    double north = zh->lat + 20.0 / 60.0;
    while (distanceNm(north, zh->lon, zh->lat, zh->lon) > 20.0) north = std::nextafter(north, 0.0);
    ASSERT_NEAR(distanceNm(north, zh->lon, zh->lat, zh->lon), 20.0, 1e-9);
    user = UserFix{north, zh->lon, 18000, false};
    parking->statics.updateStaticParking();
    ASSERT_TRUE(parking->statics.parkAirportSet());
    EXPECT_TRUE(parking->statics.loaded());
    ASSERT_TRUE(parking->statics.inSightDistance());
    user->altitude = 18001;
    parking->statics.updateStaticParking();
    EXPECT_FALSE(parking->statics.parkAirportSet());
    EXPECT_FALSE(decoderPark.back());
    user->altitude = 18000;
    parking->statics.updateStaticParking();
    ASSERT_TRUE(parking->statics.parkAirportSet());
    user->lat = north + 0.002;  // farther than 20 nm
    parking->statics.updateStaticParking();
    EXPECT_FALSE(parking->statics.parkAirportSet());
    EXPECT_TRUE(logged("LSZH is out of sight"));
    EXPECT_EQ(parking->statics.staticCount(), 0);
}

TEST_F(ParkingTraffic, ALiveAircraftComingToRestTakesTheStandParksLearnsAndFreesItWhenLeaving) {
    params().CUSTOM_PARKING_PERCENTAGE.set(0);  // no static aircraft in the way
    user = UserFix{47.47, 8.56, 1416, true};
    parking->statics.updateStaticParking();
    ASSERT_TRUE(parking->statics.loaded());
    const ParkPosition& e42 = stand("E42");
    const std::size_t optsBefore = e42.occupancies.size();
    // A B738 at rest 15 m from E42 (radius 21.7 m): it fits and takes it.
    auto& live = harness->mgr.liveList();
    live.push_back(groundAircraft(0x4C0001, "B738", e42.lat + 15 * kMetre / 60.0, e42.lon));
    LiveAircraft& ac = live.back();
    parking->stands.try2Park(ac, false);
    parking->stands.try2Park(ac, false);  // the same resting spot: no second search
    EXPECT_EQ(parking->stands.searches(), 1u);
    ASSERT_EQ(ac.standId, static_cast<std::int32_t>(e42.index));
    EXPECT_EQ(ac.flightState, FlightState::parking);
    EXPECT_EQ(drives, 1);
    EXPECT_EQ(parking->stands.holderOf(e42.index), ac.hexid);
    // Its reports ran out on the stand: it arrived and is learned there.
    parking->stands.arrivalStep(ac);
    EXPECT_EQ(ac.flightState, FlightState::parked);
    ASSERT_EQ(e42.occupancies.size(), optsBefore + 1);
    EXPECT_EQ(e42.occupancies.back().reg, ac.registration);
    EXPECT_EQ(e42.occupancies.back().day, 3u);
    EXPECT_TRUE(e42.occupancies.back().hours.test(20));
    EXPECT_EQ(parking->statics.parkedLive().size(), 1u);
    EXPECT_TRUE(logged(fmt::format("E42     : {:8} arrived at stand", ac.callsign)));
    // Reports at the stand are held back; one far beyond the half span starts the leave.
    auto at = traffic::test::report(ac.hexid, 10, e42.lat, e42.lon, 0, 0);
    EXPECT_FALSE(parking->stands.standChecks(ac, at));
    auto away = traffic::test::report(ac.hexid, 20, e42.lat + 60 * kMetre / 60.0, e42.lon, 0, 5);
    EXPECT_TRUE(parking->stands.standChecks(ac, away));
    EXPECT_EQ(ac.standId, 0);
    EXPECT_EQ(parking->stands.holderOf(e42.index), 0u);
    EXPECT_TRUE(parking->statics.parkedLive().empty());

    // What was learned is written when the airport is left, and read back after a restart.
    parking->statics.leaveParkAirport();
    const fs::path learned = tmp / "airports/learned/stock/LSZH.xml";
    ASSERT_TRUE(fs::exists(learned));
    EXPECT_NE(readFile(learned).find(ac.registration), std::string::npos);
    Parking again(port());
    again.statics.setTraffic(&harness->mgr);
    again.statics.updateStaticParking();
    ASSERT_TRUE(again.statics.loaded());
    bool found = false;
    for (const auto& p : again.statics.airport().positions)
        if (p.id == "E42")
            for (const auto& o : p.occupancies) found = found || (o.reg == ac.registration && o.source == 0);
    EXPECT_TRUE(found);
}

TEST_F(ParkingTraffic, AnAircraftFirstSeenStandingOnAStandSpawnsParkedThereAndTheStaticOneMakesWay) {
    params().CUSTOM_PARKING_PERCENTAGE.set(100);
    parking->statics.updateStaticParking();
    placeAll();
    ASSERT_FALSE(parking->statics.statics().empty());
    const StaticAircraft target = parking->statics.statics().front();
    const ParkPosition& s = parking->statics.airport().positions[target.stand - 1];
    // A small aircraft standing still on that stand (a Rotorcraft never takes it).
    for (int i = 0; i < 3; ++i)
        harness->arrive(traffic::test::report(0x4D0001, i * 20.0, s.lat, s.lon, 0, 0, 90, "SWR99X", "A320", "HB-TST"));
    harness->run(3500);
    const LiveAircraft* ac = harness->ac(0x4D0001);
    ASSERT_TRUE(ac) << log().substr(log().size() > 3000 ? log().size() - 3000 : 0);
    EXPECT_EQ(ac->flightState, FlightState::parked);
    EXPECT_EQ(ac->standId, static_cast<std::int32_t>(target.stand));
    for (const auto& st : parking->statics.statics()) EXPECT_NE(st.stand, target.stand);
    EXPECT_TRUE(logged("makes way for SWR99X A320"));
}

TEST_F(ParkingTraffic, SoftLearningAndTheMaximumOfLiveAndStaticParkedAircraft) {
    params().CUSTOM_PARKING_PERCENTAGE.set(2);  // 5 of 269 stands
    parking->statics.updateStaticParking();
    placeAll();
    const int wanted = parking->statics.wantedCount();
    ASSERT_EQ(parking->statics.staticCount(), wanted);
    auto& live = harness->mgr.liveList();
    live.reserve(16);

    // An aircraft without a stand that ends on the ground near the airport: a
    // soft occurrence on the nearest stand it fits, once.
    const ParkPosition& e42 = stand("E42");
    live.push_back(groundAircraft(0x4E0001, "A320", e42.lat, e42.lon + 0.0002));
    auto countSoft = [&](const std::string& reg) {
        int n = 0;
        for (const auto& p : parking->statics.airport().positions)
            for (const auto& o : p.occupancies) n += (o.reg == reg && !o.real) ? 1 : 0;
        return n;
    };
    parking->stands.softLearning(live.back());
    parking->stands.softLearning(live.back());
    EXPECT_EQ(countSoft(live.back().registration), 1);
    params().LEARN_SOFT.set(false);
    live.push_back(groundAircraft(0x4E0002, "A320", e42.lat, e42.lon));
    parking->stands.softLearning(live.back());
    EXPECT_EQ(countSoft(live.back().registration), 0);

    // Live aircraft parking beyond the wanted count: the first parked live one
    // goes, then a static one.
    std::vector<std::uint32_t> parkedHex;
    for (std::uint32_t i = 0; i < 2; ++i) {
        const ParkPosition& s = parking->statics.airport().positions[100 + 20 * i];
        live.push_back(groundAircraft(0x4F0001 + i, "A320", s.lat, s.lon));
        parking->stands.try2Park(live.back(), false);
        ASSERT_NE(live.back().standId, 0);
        live.back().objectId = 500 + i;
        parking->stands.arrivalStep(live.back());
        parkedHex.push_back(live.back().hexid);
    }
    // The first made a static aircraft go (no earlier live one to remove); the
    // second made the first live one go. The total stays at wanted.
    EXPECT_EQ(parking->statics.staticCount(), wanted - 1);
    EXPECT_TRUE(logged("static max park exceeded, removed"));
    EXPECT_TRUE(logged("live max park exceeded, removed"));
    EXPECT_EQ(harness->ac(parkedHex[0])->state, traffic::AcState::removingfromsim);
    EXPECT_EQ(harness->ac(parkedHex[1])->flightState, FlightState::parked);
    EXPECT_EQ(static_cast<int>(parking->statics.parkedLive().size()) + parking->statics.staticCount(), wanted);
}

TEST_F(ParkingTraffic, TheUserOnTheGroundAwayFromAnyParkFileIsToldOnceNotAtEveryLook) {
    // Bern (LSZB) is in the catalogue without a stock park file.
    const AirportEntry* bern = findAirport("LSZB");
    ASSERT_TRUE(bern);
    ASSERT_TRUE(findParkFileLocation("LSZB").empty());
    user = UserFix{bern->lat, bern->lon, 1674, true};
    parking->statics.updateStaticParking();
    EXPECT_EQ(statusText(), "User aircraft on the ground at LSZB, no airport file found");
    showStatus("Be aware, airborne live traffic only!", false);
    parking->statics.updateStaticParking();
    EXPECT_EQ(statusText(), "Be aware, airborne live traffic only!");
    EXPECT_FALSE(parking->statics.parkAirportSet());
}

TEST_F(ParkingTraffic, AParkFileThatCannotBeHadIsShownOnceAndNotFetchedAgainUntilTheListIsReRead) {
    int reads = 0;
    parking->statics.port().readParkFile = [&reads](ParkAirport&) {
        ++reads;
        return std::string("failed to download: 'https://x.invalid/downloads/P3D/archive/stock/LSZH.xml'");
    };
    parking->statics.updateStaticParking();
    EXPECT_EQ(reads, 1);
    EXPECT_FALSE(parking->statics.parkAirportSet());
    EXPECT_EQ(statusText(), "failed to download: 'https://x.invalid/downloads/P3D/archive/stock/LSZH.xml'");
    for (int i = 0; i < 5; ++i) parking->statics.updateStaticParking();
    EXPECT_EQ(reads, 1);
    parking->statics.readParkAirports();
    parking->statics.updateStaticParking();
    EXPECT_EQ(reads, 2);
}

TEST_F(ParkingTraffic, AParkedGhostIsNamedByItsStandWhenTheRealAircraftComes) {
    params().CUSTOM_PARKING_PERCENTAGE.set(0);
    parking->statics.updateStaticParking();
    const ParkPosition& e42 = stand("E42");
    for (int i = 0; i < 3; ++i)
        harness->arrive(traffic::test::report(0x4D0002, i * 20.0, e42.lat, e42.lon, 0, 0, 90, "SWR12_", "A320", "HB-JXA"));
    harness->run(3500);
    const LiveAircraft* ghost = harness->ac(0x4D0002);
    ASSERT_TRUE(ghost);
    ASSERT_EQ(ghost->flightState, FlightState::parked);
    harness->arrive(traffic::test::report(0x4D0003, 100, 47.6, 8.7, 8000, 250, 90, "SWR12", "A320", "HB-JXB"));
    harness->arrive(traffic::test::report(0x4D0003, 105, 47.6, 8.71, 8000, 250, 90, "SWR12", "A320", "HB-JXB"));
    harness->run(3500);
    EXPECT_TRUE(logged("E42     : SWR12_   is a ghost and will be removed, continue with SWR12"));
}
