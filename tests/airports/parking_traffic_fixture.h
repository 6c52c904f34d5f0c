// A program folder with Zurich's real stock park file as the user's own, the
// shipped reference data, static parking and stand allocation wired into the
// live traffic tick of the in-process simulator stand-in; the user parked at
// stand W42.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "airports/parking_services.h"
#include "harness.h"
#include "park_fixture.h"

namespace vntx::test {

inline constexpr double kW42Lat = 47.452531, kW42Lon = 8.547643;

class ParkingTraffic : public ParkFolder {
protected:
    void SetUp() override {
        ParkFolder::SetUp();
        shippedReferenceData();
        std::filesystem::copy_file(std::filesystem::path(VNTX_BUILD_SERVER) / "downloads/P3D/archive/stock/LSZH.xml",
                      tmp / "airports/my_thirdparty/LSZH.xml");
        parking = std::make_unique<Parking>(port());
        harness = std::make_unique<traffic::test::Harness>(
            [this](traffic::TrafficServices& s) { addParkingServices(s, *parking); });
        parking->statics.setTraffic(&harness->mgr);
        parking->stands.drive2Stand = [this, jump = parking->stands.drive2Stand](traffic::LiveAircraft& ac) {
            ++drives;
            jump(ac);
        };
    }
    void TearDown() override {
        harness.reset();
        parking.reset();
        ParkFolder::TearDown();
    }

    ParkingPort port() {
        ParkingPort p;
        p.user = [this] { return user; };
        p.now = [this] { return now; };
        p.createStatic = [this](const traffic::CreationRequest& c) { harness->sim.queueCreation(c); };
        p.removeObject = [this](std::uint32_t id) { harness->sim.queueRemoval(id); };
        p.staticLivery = [this](const std::string& airline, const std::string& type, const std::string&) {
            if (airline.empty() || type.empty() || noLivery.count(airline)) return std::string();
            return airline + " " + type + " livery";
        };
        p.halfWingspan = [](std::string_view t) { return database().halfWingspan(t); };
        p.hasParkFile = [](std::string_view code) { return !findParkFileLocation(code).empty(); };
        p.readParkFile = [](ParkAirport& a) { return gf_readApf(findParkFileLocation(a.code), a); };
        p.parkAirportChanged = [this](const std::optional<ParkAirportRefInfo>& r) { decoderPark.push_back(r); };
        return p;
    }

    // Ticks until no static creation waits and the last created one is active.
    void placeAll() {
        for (int i = 0; i < 40000 && (parking->statics.creationWaiting() || creating()); ++i) harness->run(1);
        harness->run(250);
    }
    bool creating() const {
        for (const auto& s : parking->statics.statics())
            if (s.state == StaticAircraft::State::creating) return true;
        return false;
    }
    const ParkPosition& stand(const std::string& id) {
        for (const auto& p : parking->statics.airport().positions)
            if (p.id == id) return p;
        throw std::runtime_error("no stand " + id);
    }
    traffic::LiveAircraft groundAircraft(std::uint32_t hexid, const std::string& type, double lat, double lon) {
        traffic::LiveAircraft ac;
        ac.hexid = hexid;
        ac.callsign = "EZY" + std::to_string(hexid % 1000);
        ac.operatorCode = "EZY";
        ac.aircraftType = type;
        ac.registration = "G-T" + std::to_string(hexid % 1000);
        ac.halfWingspan = database().halfWingspan(type);
        ac.category = static_cast<traffic::Category>(database().category(type));
        ac.onGround = true;
        ac.state = traffic::AcState::active;
        ac.flightState = traffic::FlightState::taxi;
        ac.stream.push_back(traffic::test::report(hexid, 0, lat, lon, 0, 0, 90, ac.callsign, type));
        ac.pos.latitude = lat;
        ac.pos.longitude = lon;
        return ac;
    }

    std::optional<UserFix> user = UserFix{kW42Lat, kW42Lon, 1416, true};
    ScheduleTime now{3, 20};
    std::set<std::string> noLivery;
    std::vector<std::optional<ParkAirportRefInfo>> decoderPark;
    int drives = 0;
    std::unique_ptr<Parking> parking;
    std::unique_ptr<traffic::test::Harness> harness;
};

}  // namespace vntx::test
