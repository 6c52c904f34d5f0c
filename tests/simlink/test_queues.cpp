// The outgoing queues and the frame flush, flaps, pacing, the position
// hand-over, flight plans and the refused-livery report.
#include <deque>
#include <future>

#include "core/errors.h"
#include "simlink/fixture.h"
#include "platform/platform.h"
#include "simlink/flight_plan.h"

namespace vntx::simlink::test {
namespace {

AiPosition at(double lat) {
    AiPosition p;
    p.latitude = lat;
    p.longitude = 8.5;
    p.altitude = 1500;
    return p;
}

CreationRecord creation(const std::string& callsign, std::uint32_t hexid, const std::string& title = "Livery A") {
    CreationRecord c;
    c.callsign = callsign;
    c.title = title;
    c.hexid = hexid;
    c.initPosition.Latitude = 47.0;
    return c;
}

TEST_F(LinkTest, FlapsEventIsFramedByTwoReleasesWhenSentAndOneWhenItFails) {
    connect();
    link.queueClientEvent(10, EVT_FLAPS_SET, 3072);
    link.queueClientEvent(10, EVT_GEAR_SET, 1);
    link.flushFrame();
    auto calls = client.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].op, "AIReleaseControl");
    EXPECT_EQ(calls[0].request, REQ_AI_RELEASE_CONTROL);
    EXPECT_EQ(calls[1].op, "TransmitClientEvent");
    EXPECT_EQ(calls[1].id, EVT_FLAPS_SET);
    EXPECT_EQ(calls[1].data, 3072u);
    EXPECT_EQ(calls[1].group, kNotificationGroup);
    EXPECT_EQ(calls[2].op, "AIReleaseControl");
    EXPECT_EQ(calls[2].objectId, 10u);
    // Other events are sent without the framing.
    EXPECT_EQ(calls[3].op, "TransmitClientEvent");
    EXPECT_EQ(calls[3].id, EVT_GEAR_SET);

    client.clear();
    client.fails = [](const Call& c) { return c.op == "TransmitClientEvent"; };
    link.queueClientEvent(11, EVT_FLAPS_SET, 0);
    link.queueClientEvent(11, EVT_SPOILERS_SET, 0);
    link.flushFrame();
    calls = client.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].op, "AIReleaseControl");
    EXPECT_EQ(calls[1].op, "TransmitClientEvent");
    EXPECT_EQ(calls[2].op, "TransmitClientEvent");  // the next event still goes out
    EXPECT_EQ(calls[2].id, EVT_SPOILERS_SET);
    EXPECT_NE(log().find("SimConnect TransmitClientEvent: 218 fails"), std::string::npos);
    EXPECT_FALSE(link.requestFailed());
}

TEST_F(LinkTest, NothingIsEverMovedOrRemovedForTheUserObjectOrLowerIds) {
    connect();
    link.setUserObjectId(5);
    for (std::uint32_t oid : {3u, 5u, 6u, 9u}) link.queuePosition(oid, at(oid));
    link.handOverPositions();
    for (std::uint32_t oid : {7u, 5u, 4u}) link.queueRemoval(oid);
    link.flushFrame();
    auto moved = client.callsOf("SetDataOnSimObject");
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[0].objectId, 6u);
    EXPECT_EQ(moved[1].objectId, 9u);
    EXPECT_EQ(moved[0].id, DEF_AI_POSITION);
    EXPECT_EQ(moved[0].data, 64u);
    EXPECT_DOUBLE_EQ(moved[1].values[0], 9.0);
    auto removed = client.callsOf("AIRemoveObject");
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0].objectId, 7u);
    EXPECT_EQ(removed[0].request, REQ_AI_REMOVE);
    auto text = log();
    EXPECT_NE(text.find("SimConnect call to remove ac with objectid 5"), std::string::npos);
    EXPECT_NE(text.find("SimConnect call to remove ac with objectid 4"), std::string::npos);
    // A sent buffer is not sent twice.
    client.clear();
    link.flushFrame();
    EXPECT_TRUE(client.calls().empty());
}

TEST_F(LinkTest, AFrameSendsPositionsThenEventsThenCreationsThenRemovals) {
    connect();
    link.setUserObjectId(1);
    link.queueRemoval(8);
    link.queueCreation(creation("DLH4AB", 0x3C6444));
    link.setCabinLights(8, 1);
    link.queuePosition(8, at(47.1));
    link.handOverPositions();
    link.flushFrame();
    std::vector<std::string> ops;
    for (auto& c : client.calls()) ops.push_back(c.op);
    EXPECT_EQ(ops, (std::vector<std::string>{"SetDataOnSimObject", "TransmitClientEvent", "AICreateNonATCAircraft",
                                             "GetLastSentPacketID", "AIRemoveObject"}));
    auto created = client.callsOf("AICreateNonATCAircraft");
    EXPECT_EQ(created[0].text, "Livery A");
    EXPECT_EQ(created[0].tail, "DLH4AB");
    EXPECT_EQ(created[0].request, REQ_AI_CREATE);
    auto pending = link.pendingCreations();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].sendId, client.nextPacketId - 1);  // the creation packet; the removal came after it
    EXPECT_EQ(pending[0].hexid, 0x3C6444u);
    EXPECT_EQ(pending[0].callsign, "DLH4AB");
}

TEST_F(LinkTest, AFailedCreationRunsTheRequestFailureStepAndLaterFramesSendNothing) {
    connect();
    link.setUserObjectId(1);
    client.fails = [](const Call& c) { return c.op == "AICreateNonATCAircraft"; };
    link.queueCreation(creation("BAW12", 0x400ABC, "Big Jet"));
    link.queueCreation(creation("BAW13", 0x400ABD));
    link.queueRemoval(9);
    link.flushFrame();
    EXPECT_EQ(client.callsOf("AICreateNonATCAircraft").size(), 1u);
    EXPECT_TRUE(client.callsOf("AIRemoveObject").empty());
    EXPECT_TRUE(link.pendingCreations().empty());
    EXPECT_TRUE(link.requestFailed());
    EXPECT_FALSE(link.simulationRunning());
    EXPECT_TRUE(stopRequested());
    EXPECT_EQ(exitReason(), ExitReason::SimConnectError);
    EXPECT_EQ(restartDelaySeconds(), 9);
    auto text = log();
    EXPECT_NE(text.find("==> ! Simcon call to create ac in sim failed, hexid:4197052, liv: 'Big Jet', callsign: BAW12)"),
              std::string::npos);
    EXPECT_NE(text.find("SimConnect request error"), std::string::npos);

    client.clear();
    link.queueClientEvent(12, EVT_GEAR_SET, 1);
    link.queuePosition(12, at(1));
    link.handOverPositions();
    link.flushFrame();
    link.requestAiWithinRange();
    EXPECT_TRUE(client.calls().empty());
    EXPECT_EQ(link.queuedPositions(), 0u);
}

TEST_F(LinkTest, LightsGoOutInTheirFixedOrder) {
    connect();
    link.setUserObjectId(1);
    const std::uint32_t v[7] = {1, 0, 1, 0, 1, 0, 1};
    link.setLights(4, v);
    link.flushFrame();
    auto sent = client.callsOf("TransmitClientEvent");
    ASSERT_EQ(sent.size(), 7u);
    const std::uint32_t order[7] = {EVT_NAV_LIGHTS_SET,  EVT_BEACON_LIGHTS_SET, EVT_LANDING_LIGHTS_SET,
                                    EVT_TAXI_LIGHTS_SET, EVT_STROBES_SET,       EVT_LOGO_LIGHTS_SET,
                                    EVT_CABIN_LIGHTS_SET};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(sent[i].id, order[i]);
        EXPECT_EQ(sent[i].data, v[i]);
    }
}

TEST_F(LinkTest, HandOverDropsThisTickAtLowFrameRatesAndWaitsAtHighOnes) {
    connect();
    link.setUserObjectId(1);
    link.queuePosition(5, at(1));
    link.handOverPositions();  // 1 position waiting to be sent
    link.queuePosition(5, at(2));
    link.setFrameRate(30);
    {
        std::lock_guard held(link.simConnectMutex());
        link.handOverPositions();  // busy, 30 fps: the new one is dropped
    }
    link.flushFrame();
    auto moved = client.callsOf("SetDataOnSimObject");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_DOUBLE_EQ(moved[0].values[0], 1.0);

    client.clear();
    link.setFrameRate(60);
    link.queuePosition(5, at(3));
    std::promise<void> locked;
    std::thread holder([&] {
        std::lock_guard held(link.simConnectMutex());
        locked.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    });
    locked.get_future().wait();
    link.handOverPositions();  // waits for the lock
    holder.join();
    link.flushFrame();
    moved = client.callsOf("SetDataOnSimObject");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_DOUBLE_EQ(moved[0].values[0], 3.0);
}

TEST_F(LinkTest, AFrameIsSkippedWhileAnotherThreadHoldsTheLock) {
    connect();
    link.setUserObjectId(1);
    link.queueClientEvent(3, EVT_GEAR_SET, 1);
    {
        std::promise<void> locked, done;
        std::thread holder([&] {
            std::lock_guard held(link.simConnectMutex());
            locked.set_value();
            done.get_future().wait();
        });
        locked.get_future().wait();
        link.flushFrame();
        done.set_value();
        holder.join();
    }
    EXPECT_TRUE(client.calls().empty());
    link.flushFrame();
    EXPECT_EQ(client.callsOf("TransmitClientEvent").size(), 1u);
}

TEST_F(LinkTest, AfterARequestFailureTheFrameStillOnlyTriesTheLock) {
    connect();
    link.setUserObjectId(1);
    link.queueClientEvent(3, EVT_GEAR_SET, 1);
    link.requestFailure();
    std::promise<void> locked, release;
    std::thread holder([&] {
        std::lock_guard held(link.simConnectMutex());
        locked.set_value();
        release.get_future().wait();
    });
    locked.get_future().wait();
    auto flushed = std::async(std::launch::async, [&] { link.flushFrame(); });
    const bool returned = flushed.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    release.set_value();
    holder.join();
    flushed.wait();
    EXPECT_TRUE(returned) << "the frame waited for the lock";
    // The next frame discards the queues unsent.
    link.flushFrame();
    link.flushFrame();
    EXPECT_TRUE(client.callsOf("TransmitClientEvent").empty());
}

TEST_F(LinkTest, FlightPlanFileHasItsEightLinesAndAnAircraftWithoutDestinationGetsNone) {
    connect();
    auto data = dir / "appdata";
    ASSERT_TRUE(prepareFlightPlanFolder(data));
    EXPECT_FALSE(createFlightPlan(link, data, 12, "LSZH", "", AircraftCategory::Large, "SWR12"));
    EXPECT_FALSE(createFlightPlan(link, data, 12, "", "EGLL", AircraftCategory::Large, "SWR12"));
    EXPECT_FALSE(std::filesystem::exists(flightPlanPath(data, 12)));
    EXPECT_TRUE(client.callsOf("AISetAircraftFlightPlan").empty());

    ASSERT_TRUE(createFlightPlan(link, data, 12, "LSZH", "EGLL", AircraftCategory::Heavy, "SWR12"));
    std::string text;
    {
        // Closed before the clean-up below: Windows does not delete an open file.
        std::ifstream in(flightPlanPath(data, 12), std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_EQ(text,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<SimBase.Document Type=\"AceXML\" version=\"4,3\">\"\n"
              "<FlightPlan.FlightPlan>\n"
              "<FPType>IFR</FPType>\n"
              "<DepartureID>LSZH</DepartureID>\n"
              "<DestinationID>EGLL</DestinationID>\n"
              "</FlightPlan.FlightPlan>\n"
              "</SimBase.Document>\n");
    auto calls = client.callsOf("AISetAircraftFlightPlan");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].objectId, 12u);
    EXPECT_EQ(calls[0].request, REQ_FLIGHT_PLAN);
    EXPECT_EQ(calls[0].text, flightPlanPath(data, 12).string());
    EXPECT_NE(flightPlanText("A", "B", AircraftCategory::Light).find("<FPType>VFR</FPType>"), std::string::npos);
    EXPECT_NE(flightPlanText("A", "B", AircraftCategory::Rotorcraft).find("VFR"), std::string::npos);
    EXPECT_NE(flightPlanText("A", "B", AircraftCategory::Buzjets).find("IFR"), std::string::npos);

    // A refused call clears the flag and names the aircraft.
    client.fails = [](const Call& c) { return c.op == "AISetAircraftFlightPlan"; };
    EXPECT_FALSE(createFlightPlan(link, data, 13, "LSZH", "EGLL", AircraftCategory::Light, "EZY13"));
    EXPECT_NE(log().find("==> EZY13 creating a flight plan failed"), std::string::npos);

    cleanFlightPlanFolder(data);
    EXPECT_TRUE(std::filesystem::is_empty(flightPlanFolder(data)));
    removeFlightPlanFolder(data);
    EXPECT_FALSE(std::filesystem::exists(flightPlanFolder(data)));
    EXPECT_TRUE(std::filesystem::exists(data));
}

// A user name with letters beyond ASCII puts them in every flight plan's path.
// The simulator reads the path in its own narrow code page: what it reads must
// name the file that was written, whether the letters have a spelling there
// ("Jürgen" in Western code pages) or not (Cyrillic and CJK in them).
TEST_F(LinkTest, FlightPlanPathsWithLettersBeyondAsciiNameTheWrittenFile) {
    connect();
    for (const char* user : {"J\xC3\xBCrgen M\xC3\xBCller", "\xD0\xAE\xD1\x80\xD0\xB8\xD0\xB9 \xE5\xB1\xB1\xE7\x94\xB0"}) {
        SCOPED_TRACE(user);
        client.clear();
        auto data = dir.path() / platform::pathFromUtf8(user) / "Ventrix_P3D";
        ASSERT_TRUE(std::filesystem::create_directories(data.parent_path()));
        ASSERT_TRUE(prepareFlightPlanFolder(data));
        ASSERT_TRUE(createFlightPlan(link, data, 21, "VHHH", "RJAA", AircraftCategory::Heavy, "CPA520"));
        auto calls = client.callsOf("AISetAircraftFlightPlan");
        ASSERT_EQ(calls.size(), 1u);
        const std::string& handed = calls[0].text;
        std::error_code ec;
        EXPECT_TRUE(std::filesystem::equivalent(platform::pathFromNarrowCodePage(handed), flightPlanPath(data, 21), ec))
            << handed << " (code page " << platform::narrowCodePage() << ")";
        EXPECT_FALSE(ec) << ec.message();
        // Where narrow paths are not UTF-8, the UTF-8 spelling would name another file.
        if (platform::narrowCodePage() != 65001) {
            EXPECT_NE(handed, platform::pathToUtf8(flightPlanPath(data, 21)));
        }
        removeFlightPlanFolder(data);
    }
}

TEST(RefusedLiveriesTest, TheTwentiethRefusalStopsWithError81) {
    vntx::test::TempDir dir;
    openLog(dir / "Log.txt");
    resetStopState();
    RefusedLiveries refused;
    for (int i = 1; i < 20; ++i) EXPECT_NO_THROW(refused.report(fmt::format("AC{}", i), i % 2 ? "Title A" : "Title B"));
    EXPECT_EQ(refused.titles().size(), 19u);
    EXPECT_EQ(refused.names(), (std::set<std::string>{"Title A", "Title B"}));
    EXPECT_EQ(statusText(), "AC19 'Title A' could not be created by your Sim!");
    try {
        refused.report("AC20", "Title C");
        ADD_FAILURE() << "no error at 20";
    } catch (const UserErrorException& e) {
        EXPECT_EQ(e.code(), 81);
        EXPECT_EQ(e.text(), "There are too many liveries that could not be created by P3D!, see Log.txt");
    }
    flushLog();
    std::ifstream in(dir / "Log.txt");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\n===> Error 81, There are too many liveries that could not be created by P3D!\n"),
              std::string::npos);
    // After a stop nothing is counted any more.
    refused.clear();
    requestStop(ExitReason::UserClosedSim, 0);
    for (int i = 0; i < 25; ++i) EXPECT_NO_THROW(refused.report("X", "T"));
    EXPECT_TRUE(refused.titles().empty());
    closeLog();
    resetStopState();
}

}  // namespace
}  // namespace vntx::simlink::test

namespace vntx::simlink::test {
namespace {
TEST_F(LinkTest, DirectCallsGoOutAtOnceAndReportTheirFailure) {
    connect();
    link.setControlBlock(6, 10, 55, 56);
    auto set = client.callsOf("SetDataOnSimObject");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].id, DEF_AI_CONTROLS);
    EXPECT_EQ(set[0].values, (std::vector<double>{10, 55, 56}));
    EXPECT_TRUE(link.gf_allLightsToggle(6));
    client.fails = [](const Call& c) { return c.op == "TransmitClientEvent"; };
    EXPECT_FALSE(link.gf_allLightsToggle(6));
    EXPECT_NE(log().find("==> SimConnect gf_allLightsToggle fails"), std::string::npos);
    auto sent = client.callsOf("TransmitClientEvent");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].id, EVT_ALL_LIGHTS_TOGGLE);
    // Within range: RANGE nautical miles in metres, aircraft only.
    link.services().rangeNm = [] { return 25; };
    link.requestAiWithinRange();
    auto byType = client.callsOf("RequestDataOnSimObjectType");
    ASSERT_EQ(byType.size(), 1u);
    EXPECT_EQ(byType[0].data, 25u * 1852u);
    EXPECT_EQ(byType[0].id, DEF_AI_OBJECT);
    EXPECT_EQ(byType[0].objectId, static_cast<DWORD>(SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT));
}
TEST_F(LinkTest, LoadFiguresCountTheFramesThatSentAndTheLargestBatch) {
    connect();
    link.setUserObjectId(1);
    for (std::uint32_t oid : {3u, 4u, 5u}) link.queuePosition(oid, at(oid));
    link.handOverPositions();
    link.queueRemoval(9);
    link.flushFrame();  // four messages
    link.queuePosition(3, at(3));
    link.handOverPositions();
    link.flushFrame();  // one
    link.flushFrame();  // nothing to send: not a frame of the figures
    link.queuePosition(4, at(4));
    link.handOverPositions();  // waits for the next frame
    auto text = link.loadFigures();
    EXPECT_NE(text.find("(2 frames); queued 1 now, 4 at most in a frame"), std::string::npos) << text;
    // Each call covers the frames since the one before.
    text = link.loadFigures();
    EXPECT_NE(text.find("(0 frames); queued 1 now, 0 at most in a frame"), std::string::npos) << text;
}

}  // namespace
}  // namespace vntx::simlink::test
