// The transport against the simulator stand-in over loopback TCP and the pipe.
#include <gtest/gtest.h>

#include <cstring>

#include "helpers.h"
#include "platform/platform.h"
#include "platform/socket.h"
#include "server.h"
#include "simconnect/config.h"
#include "simconnect/simconnect.h"

using namespace vntx::simconnect;
using namespace vntx::simconnect::testing;
using vntx::simhost::Options;
using vntx::simhost::Server;

namespace {

constexpr double kUserLat = 47.4647, kUserLon = 8.5492;

// A flight plan as the program writes it (the quote after the document's
// opening tag included).
constexpr const char* kPlan =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SimBase.Document Type=\"AceXML\" version=\"4,3\">\"\n"
    "<FlightPlan.FlightPlan>\n<FPType>IFR</FPType>\n<DepartureID>LSZH</DepartureID>\n"
    "<DestinationID>EGLL</DestinationID>\n</FlightPlan.FlightPlan>\n</SimBase.Document>\n";

class SimhostTest : public ::testing::Test {
protected:
    Sandbox box;
    std::unique_ptr<Server> server;
    HANDLE h = nullptr;
    Collected got;

    Options options() {
        Options o;
        o.port = 0;
        o.pipeName = "";
        o.frameRate = 100;
        o.traceInterval = 0;
        o.userScript = "parked:" + std::to_string(kUserLat) + "," + std::to_string(kUserLon) + ",160";
        o.titles = box.write("titles.txt", "Airbus A320 Swiss\nBoeing 737-800 Test\n").string();
        o.tracePath = (box.dir() / "trace.jsonl").string();
        o.ground.push_back({47.0, 8.0, 48.0, 9.0, 1416});
        return o;
    }
    void startHost(const Options& o) {
        server = std::make_unique<Server>(o);
        std::string error;
        ASSERT_TRUE(server->start(error)) << error;
    }
    void open() { ASSERT_EQ(SimConnect_Open(&h, "Ventrix_P3D", nullptr, 0, nullptr, 0), S_OK); }
    void TearDown() override {
        if (h) SimConnect_Close(h);
        if (server) server->stop();
    }
    // Dispatches until the condition holds (or a few seconds pass).
    bool pumpUntil(const std::function<bool()>& done) {
        return waitFor([&] {
            SimConnect_CallDispatch(h, &Collected::proc, &got);
            return done();
        });
    }
    std::vector<nlohmann::json> traced(const std::string& op) {
        std::vector<nlohmann::json> out;
        for (auto& j : readTrace(box.dir() / "trace.jsonl"))
            if (j.is_object() && j.value("op", "") == op) out.push_back(j);
        return out;
    }
    // A by-type answer is whole when as many entries arrived as each says it has.
    bool allEntries(DWORD id) {
        auto r = got.of(id);
        return !r.empty() && r.size() >= r.front().outOf;
    }
    DWORD lastPacket() {
        DWORD id = 0;
        EXPECT_EQ(SimConnect_GetLastSentPacketID(h, &id), S_OK);
        return id;
    }
    void defineAiObject() {
        ASSERT_EQ(SimConnect_AddToDataDefinition(h, 404, "Plane Alt Above Ground", "feet"), S_OK);
        ASSERT_EQ(SimConnect_AddToDataDefinition(h, 404, "Ground Altitude", "feet"), S_OK);
        ASSERT_EQ(SimConnect_AddToDataDefinition(h, 404, "SIM ON GROUND", "Bool", SIMCONNECT_DATATYPE_INT64), S_OK);
        ASSERT_EQ(SimConnect_AddToDataDefinition(h, 404, "ATC ID", nullptr, SIMCONNECT_DATATYPE_STRING32), S_OK);
    }
    HRESULT create(const char* title, const char* tail, double lat, double lon) {
        SIMCONNECT_DATA_INITPOSITION p{lat, lon, 3000, 0, 0, 90, 0, 250};
        return SimConnect_AICreateNonATCAircraft(h, title, tail, p, 104);
    }
};

}  // namespace

TEST_F(SimhostTest, OpenOverTcpIsAnsweredWithTheApplicationNameAndVersion) {
    startHost(options());
    open();
    EXPECT_EQ(lastPacket(), 1u);  // the Open itself
    ASSERT_TRUE(pumpUntil([&] { return !got.of(SIMCONNECT_RECV_ID_OPEN).empty(); }));
    auto reply = got.of(SIMCONNECT_RECV_ID_OPEN).front();
    EXPECT_EQ(reply.applicationName, "Lockheed Martin\xAE Prepar3D\xAE v5");
    EXPECT_EQ(reply.applicationVersion[0], 5u);
    EXPECT_EQ(reply.version, 35u);
    auto opens = traced("Open");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0]["size"], 296);
    EXPECT_EQ(opens[0]["name"], "Ventrix_P3D");
    EXPECT_EQ(opens[0]["version"], 35);
    EXPECT_EQ(opens[0]["packet"], 1);
}

TEST_F(SimhostTest, OpenOverThePipeReachesAVersion6Simulator) {
    Options o = options();
    o.port = -1;
    o.pipeName = kDefaultPipeName;
    o.p3dVersion = 6;
    startHost(o);
    open();
    ASSERT_TRUE(pumpUntil([&] { return !got.of(SIMCONNECT_RECV_ID_OPEN).empty(); }));
    auto reply = got.of(SIMCONNECT_RECV_ID_OPEN).front();
    EXPECT_NE(reply.applicationName.find("v6"), std::string::npos);
    EXPECT_EQ(reply.applicationVersion[0], 6u);
}

TEST_F(SimhostTest, EveryOperationArrivesWithItsSizeAndFields) {
    startHost(options());
    auto plan = box.write("orig_dest/SWR12.pln", kPlan);
    open();
    ASSERT_EQ(SimConnect_SubscribeToSystemEvent(h, 201, "Sim"), S_OK);
    ASSERT_EQ(SimConnect_SubscribeToSystemEvent(h, 202, "ObjectAdded"), S_OK);
    ASSERT_EQ(SimConnect_SubscribeToSystemEvent(h, 204, "Frame"), S_OK);
    ASSERT_EQ(SimConnect_MapClientEventToSimEvent(h, 215, "FREEZE_LATITUDE_LONGITUDE_SET"), S_OK);
    ASSERT_EQ(SimConnect_AddClientEventToNotificationGroup(h, 301, 215, 1), S_OK);
    ASSERT_EQ(SimConnect_SetNotificationGroupPriority(h, 301, SIMCONNECT_GROUP_PRIORITY_HIGHEST), S_OK);
    const char* names[8] = {"Plane Latitude", "Plane Longitude", "Plane Pitch degrees", "Plane Bank degrees",
                            "Plane Heading degrees true", "Plane Altitude", "Vertical Speed", "Airspeed True"};
    const char* units[8] = {"degree", "degree", "radians", "radians", "radians", "feet", "feet per second", "knots"};
    for (int i = 0; i < 8; ++i) ASSERT_EQ(SimConnect_AddToDataDefinition(h, 402, names[i], units[i]), S_OK);
    ASSERT_EQ(SimConnect_RequestDataOnSimObject(h, 109, 402, SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_ONCE), S_OK);
    ASSERT_EQ(create("Airbus A320 Swiss", "SWR12", kUserLat + 0.01, kUserLon), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return !got.of(SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID).empty(); }));
    DWORD object = got.of(SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID).front().objectId;
    auto added = got.of(SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].eventId, 202u);
    EXPECT_EQ(added[0].objectId, object);

    double block[8] = {kUserLat + 0.02, kUserLon + 0.01, 0.05, -0.1, 1.5, 3500, 10, 180};
    ASSERT_EQ(SimConnect_TransmitClientEvent(h, object, 215, 1, 301, 0), S_OK);
    ASSERT_EQ(SimConnect_AIReleaseControl(h, object, 103), S_OK);
    ASSERT_EQ(SimConnect_SetDataOnSimObject(h, 402, object, 0, 0, sizeof block, block), S_OK);
    ASSERT_EQ(SimConnect_AISetAircraftFlightPlan(h, object, plan.string().c_str(), 110), S_OK);
    defineAiObject();
    ASSERT_EQ(SimConnect_RequestDataOnSimObjectType(h, 101, 404, 20000, SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT), S_OK);
    ASSERT_EQ(SimConnect_AIRemoveObject(h, object, 105), S_OK);
    const DWORD last = lastPacket();
    EXPECT_EQ(last, 27u);  // Open, 3 subscriptions, 3 event set-ups, 8 datums, request, create, 4 more, 4 datums, 2

    ASSERT_TRUE(pumpUntil([&] {
        return got.of(SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE).size() >= 1 &&
               !got.of(SIMCONNECT_RECV_ID_SIMOBJECT_DATA).empty() && !got.of(SIMCONNECT_RECV_ID_EVENT_FRAME).empty() &&
               traced("AIRemoveObject").size() == 1;
    }));
    // The simulator runs, frames arrive, and the user position came back by its definition.
    auto sim = got.of(SIMCONNECT_RECV_ID_EVENT);
    ASSERT_FALSE(sim.empty());
    EXPECT_EQ(sim[0].eventId, 201u);
    EXPECT_EQ(sim[0].data, 1u);
    EXPECT_FLOAT_EQ(got.of(SIMCONNECT_RECV_ID_EVENT_FRAME)[0].frameRate, 100.0f);
    auto user = got.of(SIMCONNECT_RECV_ID_SIMOBJECT_DATA)[0];
    EXPECT_EQ(user.requestId, 109u);
    EXPECT_EQ(user.objectId, 1u);
    ASSERT_EQ(user.objectData.size(), 64u);
    double lat, alt;
    std::memcpy(&lat, user.objectData.data(), 8);
    std::memcpy(&alt, user.objectData.data() + 40, 8);
    EXPECT_NEAR(lat, kUserLat, 1e-6);
    EXPECT_DOUBLE_EQ(alt, 1416);  // parked on the configured ground

    struct Expect {
        const char* op;
        int size;
        const char* field;
        nlohmann::json value;
    };
    const Expect expected[] = {
        {"SubscribeToSystemEvent", 276, "event", "Sim"},
        {"MapClientEventToSimEvent", 276, "event", "FREEZE_LATITUDE_LONGITUDE_SET"},
        {"TransmitClientEvent", 36, "group", 301},
        {"AddClientEventToNotificationGroup", 28, "maskable", 1},
        {"SetNotificationGroupPriority", 24, "priority", 1},
        {"AddToDataDefinition", 544, "datum", "Plane Latitude"},
        {"RequestDataOnSimObject", 48, "request", 109},
        {"RequestDataOnSimObjectType", 32, "radius", 20000},
        {"SetDataOnSimObject", 100, "unit_size", 64},
        {"AICreateNonATCAircraft", 344, "tail", "SWR12"},
        {"AIReleaseControl", 24, "request", 103},
        {"AIRemoveObject", 24, "object", object},
        {"AISetAircraftFlightPlan", 284, "path", plan.string()},
    };
    for (const auto& e : expected) {
        auto seen = traced(e.op);
        ASSERT_FALSE(seen.empty()) << e.op;
        EXPECT_EQ(seen[0]["size"], e.size) << e.op;
        EXPECT_EQ(seen[0][e.field], e.value) << e.op;
        EXPECT_FALSE(seen[0].contains("exception")) << e.op << " " << seen[0].dump();
    }
    EXPECT_EQ(traced("SetDataOnSimObject")[0]["values"][5], 3500.0);
    EXPECT_EQ(traced("AIRemoveObject")[0]["packet"], last);
    // The object's path: the creation, then the position that was set.
    std::vector<nlohmann::json> path;
    for (auto& j : readTrace(box.dir() / "trace.jsonl"))
        if (j.contains("pos") && j["pos"] == object) path.push_back(j);
    ASSERT_GE(path.size(), 2u);
    EXPECT_NEAR(path.front()["lat"].get<double>(), kUserLat + 0.01, 1e-9);
    EXPECT_NEAR(path.back()["alt"].get<double>(), 3500, 1e-9);
}

TEST_F(SimhostTest, ByTypeRequestIsAnsweredOncePerAircraftWithinTheRadius) {
    startHost(options());
    open();
    defineAiObject();
    ASSERT_EQ(create("Airbus A320 Swiss", "SWR1", kUserLat + 0.05, kUserLon), S_OK);        // ~5.6 km
    ASSERT_EQ(create("Boeing 737-800 Test", "EZY22", kUserLat, kUserLon + 0.1), S_OK);      // ~7.5 km
    ASSERT_EQ(create("Airbus A320 Swiss", "SWR3", kUserLat - 0.08, kUserLon), S_OK);        // ~8.9 km
    ASSERT_EQ(create("Airbus A320 Swiss", "FAR4", kUserLat + 1.0, kUserLon), S_OK);         // ~111 km
    ASSERT_TRUE(pumpUntil([&] { return got.of(SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID).size() == 4; }));
    ASSERT_EQ(SimConnect_RequestDataOnSimObjectType(h, 101, 404, 10000, SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT), S_OK);
    // Every entry says how many the answer has: wait for that many.
    ASSERT_TRUE(pumpUntil([&] { return allEntries(SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE); }));
    auto replies = got.of(SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE);
    ASSERT_EQ(replies.size(), 4u);  // the user aircraft and the three near ones
    std::vector<std::string> tails;
    for (DWORD i = 0; i < replies.size(); ++i) {
        EXPECT_EQ(replies[i].entryNumber, i + 1);
        EXPECT_EQ(replies[i].outOf, 4u);
        EXPECT_EQ(replies[i].requestId, 101u);
        ASSERT_EQ(replies[i].objectData.size(), 56u);
        vntx::simconnect::wire::DatumReader r(replies[i].objectData);
        double above, ground;
        std::int64_t onGround;
        std::string tail;
        ASSERT_TRUE(r.float64(above) && r.float64(ground) && r.int64(onGround) && r.fixedString(32, tail));
        EXPECT_DOUBLE_EQ(ground, 1416);
        tails.push_back(tail);
    }
    EXPECT_EQ(tails, (std::vector<std::string>{"N12345", "SWR1", "EZY22", "SWR3"}));
    EXPECT_EQ(traced("RequestDataOnSimObjectType")[0]["entries"], 4);

    ASSERT_EQ(SimConnect_RequestDataOnSimObjectType(h, 101, 404, 200001, SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT), S_OK);
    const DWORD tooFar = lastPacket();
    ASSERT_TRUE(pumpUntil([&] { return !got.of(SIMCONNECT_RECV_ID_EXCEPTION).empty(); }));
    EXPECT_EQ(got.of(SIMCONNECT_RECV_ID_EXCEPTION)[0].exception, SIMCONNECT_EXCEPTION_OUT_OF_BOUNDS);
    EXPECT_EQ(got.of(SIMCONNECT_RECV_ID_EXCEPTION)[0].sendId, tooFar);
}

TEST_F(SimhostTest, RefusedCreationAndMissingFlightPlanComeBackAsExceptionsWithTheirSendIds) {
    startHost(options());
    open();
    ASSERT_EQ(create("Airbus A320 Swiss", "SWR7", kUserLat, kUserLon), S_OK);
    ASSERT_EQ(create("Not Installed Livery", "DLH9", kUserLat, kUserLon), S_OK);
    const DWORD refused = lastPacket();
    ASSERT_TRUE(pumpUntil([&] { return !got.of(SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID).empty(); }));
    DWORD object = got.of(SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID)[0].objectId;
    ASSERT_EQ(SimConnect_AISetAircraftFlightPlan(h, object, (box.dir() / "missing").string().c_str(), 110), S_OK);
    const DWORD plan = lastPacket();
    ASSERT_TRUE(pumpUntil([&] { return got.of(SIMCONNECT_RECV_ID_EXCEPTION).size() == 2; }));
    auto ex = got.of(SIMCONNECT_RECV_ID_EXCEPTION);
    EXPECT_EQ(ex[0].exception, SIMCONNECT_EXCEPTION_CREATE_OBJECT_FAILED);
    EXPECT_EQ(ex[0].sendId, refused);
    EXPECT_EQ(ex[1].exception, SIMCONNECT_EXCEPTION_LOAD_FLIGHTPLAN_FAILED);
    EXPECT_EQ(ex[1].sendId, plan);
    EXPECT_EQ(server->aiObjectCount(), 1u);
}

// A stand-in that accepted everything hid faults of the program: it must
// refuse and show what the simulator refuses and shows.
class StrictSimhostTest : public SimhostTest {
protected:
    void SetUp() override {
        Options o = options();
        o.titles = box.write("titles.txt", "Airbus A320 Swiss\nEurocopter EC135 Police\thelicopter\n").string();
        startHost(o);
        open();
        ASSERT_EQ(SimConnect_SubscribeToSystemEvent(h, 202, "ObjectAdded"), S_OK);
        ASSERT_EQ(SimConnect_SubscribeToSystemEvent(h, 203, "ObjectRemoved"), S_OK);
        ASSERT_EQ(SimConnect_MapClientEventToSimEvent(h, 215, "FREEZE_LATITUDE_LONGITUDE_SET"), S_OK);
        const char* names[3] = {"Plane Latitude", "Plane Longitude", "Plane Altitude"};
        const char* units[3] = {"degree", "degree", "feet"};
        for (int i = 0; i < 3; ++i) ASSERT_EQ(SimConnect_AddToDataDefinition(h, 402, names[i], units[i]), S_OK);
        defineAiObject();
    }
    DWORD created(const char* title, const char* tail) {
        const std::size_t before = got.of(SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID).size();
        EXPECT_EQ(create(title, tail, kUserLat + 0.01, kUserLon), S_OK);
        EXPECT_TRUE(pumpUntil([&] { return got.of(SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID).size() > before; }));
        return got.of(SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID).back().objectId;
    }
    void place(DWORD object, double alt) {
        double block[3] = {kUserLat + 0.01, kUserLon, alt};
        ASSERT_EQ(SimConnect_SetDataOnSimObject(h, 402, object, 0, 0, sizeof block, block), S_OK);
    }
    // (on ground, altitude above ground) of an object, as a by-type request sees it.
    std::pair<std::int64_t, double> ground(DWORD object) {
        got.clear(SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE);
        EXPECT_EQ(SimConnect_RequestDataOnSimObjectType(h, 101, 404, 20000, SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT), S_OK);
        EXPECT_TRUE(pumpUntil([&] {
            for (const auto& r : got.of(SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE))
                if (r.entryNumber == r.outOf) return true;
            return false;
        }));
        for (const auto& r : got.of(SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE))
            if (r.objectId == object) {
                vntx::simconnect::wire::DatumReader in(r.objectData);
                double above = 0, elevation = 0;
                std::int64_t onGround = 0;
                in.float64(above) && in.float64(elevation) && in.int64(onGround);
                last = {onGround, above};
            }
        return last;
    }
    std::pair<std::int64_t, double> last;
};

TEST_F(StrictSimhostTest, AiObjectsAreNeverNumberedTwoOrBelow) {
    EXPECT_EQ(created("Airbus A320 Swiss", "SWR1"), 3u);
    EXPECT_EQ(created("Airbus A320 Swiss", "SWR2"), 4u);
}

TEST_F(StrictSimhostTest, APositionIsRefusedUntilTheObjectIsReleasedOrFrozen) {
    const DWORD a = created("Airbus A320 Swiss", "SWR3");
    const DWORD b = created("Airbus A320 Swiss", "SWR4");
    place(a, 5000);
    ASSERT_TRUE(waitFor([&] { return traced("SetDataOnSimObject").size() == 1; }));
    EXPECT_EQ(traced("SetDataOnSimObject")[0]["refused"], "position of an object never released or frozen");
    EXPECT_NEAR(ground(a).second, 3000 - 1416, 1e-6);  // still where it was created
    ASSERT_EQ(SimConnect_AIReleaseControl(h, a, 103), S_OK);
    ASSERT_EQ(SimConnect_TransmitClientEvent(h, b, 215, 1, 301, 0), S_OK);
    place(a, 5000);
    place(b, 6000);
    ASSERT_TRUE(waitFor([&] { return traced("SetDataOnSimObject").size() == 3; }));
    EXPECT_FALSE(traced("SetDataOnSimObject")[1].contains("refused"));
    EXPECT_FALSE(traced("SetDataOnSimObject")[2].contains("refused"));
    EXPECT_NEAR(ground(a).second, 5000 - 1416, 1e-6);
    EXPECT_NEAR(ground(b).second, 6000 - 1416, 1e-6);
}

TEST_F(StrictSimhostTest, SimOnGroundFollowsEveryPositionAgainstTheGround) {
    const DWORD a = created("Airbus A320 Swiss", "SWR5");
    EXPECT_EQ(ground(a).first, 0);  // created at 3000 ft
    ASSERT_EQ(SimConnect_AIReleaseControl(h, a, 103), S_OK);
    place(a, 1416 + 6.5);  // its static centre of gravity above the 1416 ft ground
    EXPECT_EQ(ground(a), std::make_pair(std::int64_t{1}, 6.5));
    place(a, 1416 + 40);
    EXPECT_EQ(ground(a).first, 0);
    // Created on the ground: standing on its gear there.
    SIMCONNECT_DATA_INITPOSITION p{kUserLat + 0.02, kUserLon, 0, 0, 0, 90, 1, 0};
    ASSERT_EQ(SimConnect_AICreateNonATCAircraft(h, "Airbus A320 Swiss", "SWR6", p, 104), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return got.of(SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID).size() == 2; }));
    EXPECT_EQ(ground(got.of(SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID)[1].objectId),
              std::make_pair(std::int64_t{1}, 6.5));
}

TEST_F(StrictSimhostTest, FlightPlansTheSimulatorCannotLoadAreRefused) {
    const DWORD a = created("Airbus A320 Swiss", "SWR7");
    const std::string good = box.write("plans/good.pln", kPlan).string();
    std::string bad = kPlan;
    bad.replace(bad.find("EGLL"), 4, "");
    const std::string noDestination = box.write("plans/nodest.pln", bad).string();
    const std::string notXml = box.write("plans/broken.pln", "<SimBase.Document><FlightPlan.FlightPlan>").string();
    ASSERT_EQ(SimConnect_AISetAircraftFlightPlan(h, a, good.c_str(), 110), S_OK);
    ASSERT_EQ(SimConnect_AISetAircraftFlightPlan(h, a, noDestination.c_str(), 110), S_OK);
    const DWORD second = lastPacket();
    ASSERT_EQ(SimConnect_AISetAircraftFlightPlan(h, a, notXml.c_str(), 110), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return got.of(SIMCONNECT_RECV_ID_EXCEPTION).size() == 2; }));
    auto ex = got.of(SIMCONNECT_RECV_ID_EXCEPTION);
    EXPECT_EQ(ex[0].exception, SIMCONNECT_EXCEPTION_LOAD_FLIGHTPLAN_FAILED);
    EXPECT_EQ(ex[0].sendId, second);
    auto plans = traced("AISetAircraftFlightPlan");
    ASSERT_EQ(plans.size(), 3u);
    EXPECT_FALSE(plans[0].contains("refused"));
    EXPECT_EQ(plans[1]["refused"], "DestinationID '' is not an airport ident");
    EXPECT_NE(plans[2]["refused"].get<std::string>().find("not XML"), std::string::npos);
}

TEST_F(StrictSimhostTest, AHelicopterIsAnnouncedAsOne) {
    const DWORD plane = created("Airbus A320 Swiss", "SWR8");
    const DWORD heli = created("Eurocopter EC135 Police", "POL1");
    ASSERT_TRUE(pumpUntil([&] { return got.of(SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE).size() == 2; }));
    auto added = got.of(SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE);
    EXPECT_EQ(added[0].objectId, plane);
    EXPECT_EQ(added[0].objectType, static_cast<DWORD>(SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT));
    EXPECT_EQ(added[1].objectId, heli);
    EXPECT_EQ(added[1].objectType, static_cast<DWORD>(SIMCONNECT_SIMOBJECT_TYPE_HELICOPTER));
    ASSERT_EQ(SimConnect_RequestDataOnSimObjectType(h, 101, 404, 20000, SIMCONNECT_SIMOBJECT_TYPE_HELICOPTER), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return allEntries(SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE); }));
    ASSERT_EQ(got.of(SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE).size(), 1u);
    EXPECT_EQ(got.of(SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE)[0].objectId, heli);
    ASSERT_EQ(SimConnect_AIRemoveObject(h, heli, 105), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return got.of(SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE).size() == 3; }));
    EXPECT_EQ(got.of(SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE)[2].objectType,
              static_cast<DWORD>(SIMCONNECT_SIMOBJECT_TYPE_HELICOPTER));
}

TEST_F(SimhostTest, StringsThatDoNotFitAreRefusedWithoutSendingAnything) {
    startHost(options());
    open();
    ASSERT_EQ(create("Airbus A320 Swiss", "SWR1", kUserLat, kUserLon), S_OK);
    const DWORD before = lastPacket();
    const std::string title(256, 'A');
    EXPECT_EQ(create(title.c_str(), "SWR2", kUserLat, kUserLon), E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(create("Airbus A320 Swiss", "ABCDEFGHIJKL", kUserLat, kUserLon), E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(lastPacket(), before);
    ASSERT_EQ(SimConnect_AIRemoveObject(h, 999, 105), S_OK);  // a later message still flows
    ASSERT_TRUE(waitFor([&] { return traced("AIRemoveObject").size() == 1; }));
    EXPECT_EQ(traced("AIRemoveObject")[0]["packet"], before + 1);
    EXPECT_EQ(traced("AICreateNonATCAircraft").size(), 1u);
}

TEST_F(SimhostTest, ADroppedConnectionIsReportedAsClosed) {
    startHost(options());
    open();
    ASSERT_TRUE(pumpUntil([&] { return !got.of(SIMCONNECT_RECV_ID_OPEN).empty(); }));
    EXPECT_EQ(connectionState(h), ConnectionState::Open);
    EXPECT_EQ(server->command("drop"), "");
    ASSERT_TRUE(waitFor([&] { return connectionState(h) != ConnectionState::Open; }));
    EXPECT_EQ(connectionState(h), ConnectionState::Closed);
    EXPECT_EQ(SimConnect_CallDispatch(h, &Collected::proc, &got), E_FAIL);
    EXPECT_EQ(SimConnect_AIRemoveObject(h, 5, 105), E_FAIL);
    EXPECT_EQ(SimConnect_Close(h), S_OK);
    EXPECT_EQ(SimConnect_Close(h), E_FAIL);  // the handle is gone
    h = nullptr;
}

TEST_F(SimhostTest, QuitIsDispatchedBeforeTheConnectionEnds) {
    startHost(options());
    open();
    ASSERT_EQ(SimConnect_SubscribeToSystemEvent(h, 206, "FlightLoaded"), S_OK);
    ASSERT_TRUE(waitFor([&] { return traced("SubscribeToSystemEvent").size() == 1; }));
    EXPECT_EQ(server->command("flightloaded C:\\Flights\\LSZH.fxml"), "");
    EXPECT_EQ(server->command("quit"), "");
    ASSERT_TRUE(waitFor([&] { return connectionState(h) == ConnectionState::Closed; }));
    // Messages that arrived before the end are still handed over.
    EXPECT_EQ(SimConnect_CallDispatch(h, &Collected::proc, &got), S_OK);
    ASSERT_EQ(got.of(SIMCONNECT_RECV_ID_EVENT_FILENAME).size(), 1u);
    EXPECT_EQ(got.of(SIMCONNECT_RECV_ID_EVENT_FILENAME)[0].fileName, "C:\\Flights\\LSZH.fxml");
    EXPECT_EQ(got.of(SIMCONNECT_RECV_ID_QUIT).size(), 1u);
    EXPECT_EQ(SimConnect_CallDispatch(h, &Collected::proc, &got), E_FAIL);
}

TEST_F(SimhostTest, AStalledSimulatorStopsReadingUntilTheStallEnds) {
    startHost(options());
    open();
    ASSERT_TRUE(pumpUntil([&] { return !got.of(SIMCONNECT_RECV_ID_OPEN).empty(); }));
    EXPECT_NE(server->command("stall x"), "");
    EXPECT_EQ(server->command("stall 600"), "");
    const auto handledBefore = server->messagesHandled();
    // Nothing is read: the link and then the client's queue fill until the client refuses more.
    int accepted = 0;
    while (create("Unknown title", "N1", kUserLat, kUserLon) == S_OK) {
        ++accepted;
        ASSERT_LT(accepted, 200000) << "the stalled simulator went on reading";
    }
    EXPECT_GT(accepted, 1000);
    EXPECT_LE(server->messagesHandled(), handledBefore + 1);  // at most the chunk read as the stall began
    EXPECT_EQ(connectionState(h), ConnectionState::Open);
    // Awake again, it reads everything that waited, in order.
    EXPECT_EQ(server->command("stall 0"), "");
    ASSERT_TRUE(waitFor([&] { return server->messagesHandled() >= handledBefore + accepted; }, 30000));
    EXPECT_EQ(create("Airbus A320 Swiss", "N2", kUserLat, kUserLon), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return !got.of(SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID).empty(); }));
}

TEST_F(SimhostTest, OpenFailsWhenNothingListens) {
    Options o = options();
    o.port = -1;
    startHost(o);  // neither TCP nor pipe: every attempt fails
    // The registry keeps the port of a simulator that has quit, and on Windows
    // it is the one registry of every test: hold that port bound without
    // listening, so that no other program can take it and answer.
    namespace net = vntx::platform::net;
    net::startup();
    net::Address a;
    ASSERT_EQ(net::resolve("127.0.0.1", "0", net::Family::IPv4, net::Kind::Stream, true, a), 0);
    const net::Handle quit = net::open(a, net::Kind::Stream);
    ASSERT_NE(quit, net::kInvalidSocket);
    ASSERT_TRUE(net::bind(quit, a));
    using vntx::platform::RegistryHive;
    using vntx::platform::registryWriteString;
    ASSERT_TRUE(registryWriteString(RegistryHive::CurrentUser, kRegistryKey, kRegistryPortIPv4,
                                    std::to_string(net::localPort(quit))));
    ASSERT_TRUE(registryWriteString(RegistryHive::CurrentUser, kRegistryKey, kRegistryPortIPv6, ""));
    EXPECT_EQ(SimConnect_Open(&h, "Ventrix_P3D", nullptr, 0, nullptr, 0), E_FAIL);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(SimConnect_Open(&h, "Ventrix_P3D", nullptr, 0, nullptr, 3), E_FAIL);  // no [SimConnect.3]
    net::close(quit);
}

// Runs only under run_simhost_process.sh, against the simhost program it started.
TEST(ExternalSimhost, FoundThroughTheRegistryAndAnswers) {
    const char* dir = std::getenv("VNTX_EXTERNAL_SIMHOST");
    if (!dir) GTEST_SKIP() << "needs the simhost program (run_simhost_process.sh)";
    HANDLE h = nullptr;
    ASSERT_EQ(SimConnect_Open(&h, "Ventrix_P3D", nullptr, 0, nullptr, 0), S_OK);
    SIMCONNECT_DATA_INITPOSITION p{47.46, 8.55, 2000, 0, 0, 0, 0, 200};
    ASSERT_EQ(SimConnect_AICreateNonATCAircraft(h, "Airbus A320 Swiss", "SWR5", p, 104), S_OK);
    Collected got;
    ASSERT_TRUE(waitFor([&] {
        SimConnect_CallDispatch(h, &Collected::proc, &got);
        return !got.of(SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID).empty();
    }));
    auto open = got.of(SIMCONNECT_RECV_ID_OPEN);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_NE(open[0].applicationName.find("v6"), std::string::npos);
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

TEST_F(StrictSimhostTest, AQuietOperationLeavesNoRecordUnlessRefused) {
    // A long run's trace: the position calls go to the position records only.
    server->stop();
    if (h) SimConnect_Close(h);
    h = nullptr;
    got = Collected{};
    Options o = options();
    o.titles = box.write("titles.txt", "Airbus A320 Swiss\n").string();
    o.tracePath = (box.dir() / "quiet.jsonl").string();
    o.quietOps = {"SetDataOnSimObject"};
    startHost(o);
    open();
    ASSERT_EQ(SimConnect_SubscribeToSystemEvent(h, 202, "ObjectAdded"), S_OK);
    const char* names[3] = {"Plane Latitude", "Plane Longitude", "Plane Altitude"};
    const char* units[3] = {"degree", "degree", "feet"};
    for (int i = 0; i < 3; ++i) ASSERT_EQ(SimConnect_AddToDataDefinition(h, 402, names[i], units[i]), S_OK);
    const DWORD a = created("Airbus A320 Swiss", "SWR9");
    place(a, 5000);  // refused: never released
    ASSERT_EQ(SimConnect_AIReleaseControl(h, a, 103), S_OK);
    place(a, 6000);
    auto lines = [&](const char* key, const char* value) {
        std::vector<nlohmann::json> out;
        for (auto& j : readTrace(box.dir() / "quiet.jsonl"))
            if (j.is_object() && j.contains(key) && (!value || j.value(key, "") == value)) out.push_back(j);
        return out;
    };
    ASSERT_TRUE(waitFor([&] {
        for (const auto& j : lines("pos", nullptr))
            if (j.value("alt", 0.0) == 6000.0) return true;
        return false;
    }));
    const auto sets = lines("op", "SetDataOnSimObject");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0]["refused"], "position of an object never released or frozen");
    EXPECT_EQ(lines("op", "AIReleaseControl").size(), 1u);  // other operations keep their records
}
