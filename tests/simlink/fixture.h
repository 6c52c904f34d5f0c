// Common ground of the simulator-link tests: a temporary folder with its own
// Log.txt, a clean stop state, a link over the recording client, and helpers
// that build the simulator's messages.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "core/log.h"
#include "core/state.h"
#include "core/status.h"
#include "simconnect/wire.h"
#include "simlink/sim_link.h"
#include "support/temp_dir.h"
#include "simlink/recording_client.h"

namespace vntx::simlink::test {

class LinkTest : public ::testing::Test {
public:
    LinkTest() : link(client, services()) {
        openLog(dir / "Log.txt");
        resetStopState();
        clearStatus();
        clearError();
    }
    ~LinkTest() override {
        closeLog();
        resetStopState();
    }

    static Services services() {
        Services s;
        s.hasWingspan = [](std::string_view m) { return m == "B738" || m == "A320" || m == "E190"; };
        s.halfWingspan = [](std::string_view m) { return m == "B738" ? 0.0097 : m == "A320" ? 0.0097 : 0.0077; };
        s.largestHalfWingspan = [] { return 0.0433; };
        s.categoryOf = [](std::string_view m) {
            return m == "B738" || m == "A320" ? AircraftCategory::Large : AircraftCategory::Light;
        };
        s.simInstallPath = [] { return std::string("C:/Program Files/Lockheed Martin/Prepar3D v5"); };
        s.configuredVersion = [] { return 5; };
        return s;
    }

    std::string log() {
        flushLog();
        std::ifstream in(dir / "Log.txt");
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    // Opens the link's connection through its thread body without dispatching:
    // the recording client's dispatch returns nothing, so a stopped token ends it.
    void connect() {
        std::jthread t([&](std::stop_token st) { link.run(st); });
        // Registration is done once "Open" and the priority call are recorded.
        for (int i = 0; i < 500 && client.callsOf("SetNotificationGroupPriority").empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        // Keep the handle: stop the run loop only by tearing down in the destructor.
        runner = std::move(t);
        client.clear();
    }

    void send(const wire::Bytes& m) { link.handleMessage(m.data(), m.size()); }

    static wire::Bytes objectData(DWORD request, DWORD object, DWORD define, const std::vector<std::uint8_t>& data,
                                  bool byType = false) {
        wire::Bytes m;
        wire::appendObjectData(m, 4, byType ? SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE : SIMCONNECT_RECV_ID_SIMOBJECT_DATA,
                               request, object, define, 0, 0, 1, 1, data);
        return m;
    }
    template <typename T>
    static void put(std::vector<std::uint8_t>& out, T v) {
        std::uint8_t b[sizeof(T)];
        std::memcpy(b, &v, sizeof(T));
        out.insert(out.end(), b, b + sizeof(T));
    }
    static void putString(std::vector<std::uint8_t>& out, const std::string& s, std::size_t width) {
        std::vector<std::uint8_t> f(width, 0);
        std::memcpy(f.data(), s.data(), std::min(s.size(), width - 1));
        out.insert(out.end(), f.begin(), f.end());
    }
    // A reply to request 109.
    void userPosition(DWORD object, double lat, double lon, double alt = 1000, std::int64_t zulu = 3600,
                      std::int64_t day = 1, std::int64_t year = 2024) {
        std::vector<std::uint8_t> d;
        for (double v : {lat, lon, 0.0, 0.0, 1.0, alt, 0.0, 0.0}) put(d, v);
        for (std::int64_t v : {zulu, day, year, std::int64_t{0}}) put(d, v);
        send(objectData(REQ_USER_POSITION, object, DEF_USER_POSITION, d));
    }
    // A reply to request 101 for one aircraft.
    void aircraftInRange(DWORD object, double above, double ground, std::int64_t onGround, const std::string& atcId) {
        std::vector<std::uint8_t> d;
        put(d, above);
        put(d, ground);
        put(d, onGround);
        putString(d, atcId, 32);
        send(objectData(REQ_AI_WITHIN_RANGE, object, DEF_AI_OBJECT, d, true));
    }
    void objectAdded(DWORD object) {
        wire::Bytes m;
        wire::appendObjectAddRemove(m, 4, EVT_OBJECT_ADDED, object, SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT);
        send(m);
    }

    vntx::test::TempDir dir;
    RecordingClient client;
    SimLink link;
    std::jthread runner;
};

}  // namespace vntx::simlink::test
