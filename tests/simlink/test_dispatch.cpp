// The dispatch handler: simulator check, identification of created objects,
// exceptions, the user aircraft replies and the simulator time.
#include <chrono>

#include "core/cycle.h"
#include "core/errors.h"
#include "simlink/fixture.h"

namespace vntx::simlink::test {
namespace {

wire::Bytes openReply(const std::string& name) {
    wire::Bytes m;
    const DWORD app[4] = {5, 4, 9, 28482}, sc[4] = {5, 4, 0, 0};
    wire::appendOpenReply(m, 4, name, app, sc);
    return m;
}

std::string userErrorOf(SimLink& link, const wire::Bytes& m) {
    try {
        link.handleMessage(m.data(), m.size());
    } catch (const UserErrorException& e) {
        return e.what();
    }
    return "";
}

TEST_F(LinkTest, OpenAcceptsTheConfiguredVersionAndRefusesOtherSimulators) {
    EXPECT_EQ(userErrorOf(link, openReply("Lockheed Martin Prepar3D v5")), "");
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(link.simulatorText(), "Lockheed Martin Prepar3D v5 (5.4.9.28482)");
    EXPECT_NE(log().find("Lockheed Martin Prepar3D v5 (5.4.9.28482) connected"), std::string::npos);

    EXPECT_EQ(userErrorOf(link, openReply("Kitty-Hawk")), "KittyHawk, (MSFS) not being P3D connects ... ?");
    EXPECT_EQ(userErrorOf(link, openReply("SunRise")), "SunRise, (MSFS) not being P3D connects ... ?");
    // A v6 simulator while v5 is configured and the install path names v5.
    EXPECT_EQ(userErrorOf(link, openReply("Lockheed Martin Prepar3D v6")),
              "wrong P3D version 'Lockheed Martin Prepar3D v6 (5.4.9.28482)' connects ... ?)");
    // The install path decides before the configured version.
    link.services().simInstallPath = [] { return std::string("D:/P3DV6"); };
    EXPECT_EQ(userErrorOf(link, openReply("Lockheed Martin Prepar3D v6")), "");
    link.services().simInstallPath = [] { return std::string("D:/sim"); };
    link.services().configuredVersion = [] { return 6; };
    EXPECT_EQ(userErrorOf(link, openReply("Lockheed Martin Prepar3D v6")), "");
    EXPECT_NE(userErrorOf(link, openReply("Lockheed Martin Prepar3D v5")), "");
}

TEST_F(LinkTest, AnEmptySimulatorNameIsOnlyLogged) {
    EXPECT_EQ(userErrorOf(link, openReply("")), "");
    EXPECT_FALSE(link.connected());
    EXPECT_NE(log().find("! Simulator name empty?"), std::string::npos);
}

TEST_F(LinkTest, ACreatedObjectIsIdentifiedByItsAtcIdAndReleasedAndFrozen) {
    connect();
    link.setUserObjectId(1);
    link.queueCreation({{}, "SWR123", "Livery", 0x4B1234});
    link.queueCreation({{}, "STAT7", "Livery", 7});
    link.flushFrame();
    client.clear();
    objectAdded(40);
    objectAdded(41);
    objectAdded(42);
    aircraftInRange(40, 0, 1400, 1, "SWR123");
    aircraftInRange(41, 0, 1400, 1, "STAT7");
    aircraftInRange(42, 0, 1400, 1, "OTHER1");  // added by someone else
    auto notices = link.takeNotices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].kind, NoticeKind::CreatedLive);
    EXPECT_EQ(notices[0].objectId, 40u);
    EXPECT_EQ(notices[0].value, 0x4B1234u);
    EXPECT_EQ(notices[1].kind, NoticeKind::CreatedStatic);
    EXPECT_EQ(notices[1].value, 7u);
    EXPECT_TRUE(link.pendingCreations().empty());
    auto released = client.callsOf("AIReleaseControl");
    ASSERT_EQ(released.size(), 2u);
    EXPECT_EQ(released[0].objectId, 40u);
    EXPECT_NE(log().find("just spawned, but not by Ventrix_P3D, oid: 42, callsign 'OTHER1', altaboveGnd:0 ft, "
                         "onground:1, gnd_alt:1400 ft"),
              std::string::npos);
    // The three freeze events go out with the next frame.
    client.clear();
    link.flushFrame();
    auto frozen = client.callsOf("TransmitClientEvent");
    ASSERT_EQ(frozen.size(), 6u);
    EXPECT_EQ(frozen[0].id, EVT_FREEZE_LATITUDE_LONGITUDE_SET);
    EXPECT_EQ(frozen[1].id, EVT_FREEZE_ALTITUDE_SET);
    EXPECT_EQ(frozen[2].id, EVT_FREEZE_ATTITUDE_SET);
    EXPECT_EQ(frozen[0].data, 1u);
    EXPECT_EQ(frozen[3].objectId, 41u);
}

TEST_F(LinkTest, AHelicopterIsIdentifiedAndItsRemovalReported) {
    connect();
    link.setUserObjectId(1);
    link.queueCreation({{}, "HKG1", "Heli livery", 0x780123});
    link.flushFrame();
    wire::Bytes m;
    wire::appendObjectAddRemove(m, 4, EVT_OBJECT_ADDED, 50, SIMCONNECT_SIMOBJECT_TYPE_HELICOPTER);
    send(m);
    aircraftInRange(50, 0, 20, 1, "HKG1");
    auto notices = link.takeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, NoticeKind::CreatedLive);
    EXPECT_EQ(notices[0].objectId, 50u);
    m.clear();
    wire::appendObjectAddRemove(m, 4, EVT_OBJECT_REMOVED, 50, SIMCONNECT_SIMOBJECT_TYPE_HELICOPTER);
    send(m);
    notices = link.takeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, NoticeKind::Removed);
}

TEST_F(LinkTest, GroundReportsOnlyForLowAircraftWithATrueAtcId) {
    link.setUserObjectId(10);
    aircraftInRange(11, 2500, 300, 1, "EZY1");   // at the limit: reported
    aircraftInRange(12, 2500.5, 300, 0, "EZY2");  // above it
    aircraftInRange(13, 50, 300, 1, "EZY3*");     // a marked ATC ID
    aircraftInRange(14, 50, 300, 1, "");          // none
    aircraftInRange(10, 50, 300, 1, "USER");      // the user object
    aircraftInRange(9, 50, 300, 1, "LOWER");      // below it
    auto notices = link.takeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, NoticeKind::GroundReport);
    EXPECT_EQ(notices[0].objectId, 11u);
    EXPECT_EQ(notices[0].value, 1u);
    EXPECT_DOUBLE_EQ(notices[0].value1, 300);
    EXPECT_DOUBLE_EQ(notices[0].value2, 2500);
    // An added object at or below the user id is never remembered.
    objectAdded(5);
    aircraftInRange(15, 10, 0, 0, "ABC");
    EXPECT_EQ(link.takeNotices().size(), 1u);
}

TEST_F(LinkTest, ARefusedCreationGivesACreationRefusedNoticeExceptForHexidZero) {
    connect();
    link.setUserObjectId(1);
    link.queueCreation({{}, "LIVE1", "Unknown title", 0x3C0001});
    link.flushFrame();
    DWORD liveSend = link.pendingCreations().at(0).sendId;
    link.queueCreation({{}, "STAT0", "Unknown title", 0});
    link.flushFrame();
    DWORD staticSend = link.pendingCreations().at(1).sendId;
    wire::Bytes m;
    wire::appendException(m, 4, SIMCONNECT_EXCEPTION_CREATE_OBJECT_FAILED, 99999, 0);  // nobody's
    wire::appendException(m, 4, SIMCONNECT_EXCEPTION_CREATE_OBJECT_FAILED, staticSend, 0);
    wire::appendException(m, 4, SIMCONNECT_EXCEPTION_CREATE_OBJECT_FAILED, liveSend, 0);
    wire::Framer f(12, 1 << 20);
    f.append(m.data(), m.size());
    wire::ByteView one;
    while (f.next(one)) link.handleMessage(one.data(), one.size());
    auto notices = link.takeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, NoticeKind::CreationRefused);
    EXPECT_EQ(notices[0].value, 0x3C0001u);
    EXPECT_TRUE(link.pendingCreations().empty());
}

TEST_F(LinkTest, ExceptionsAreReportedByKind) {
    wire::Bytes m;
    wire::appendException(m, 4, SIMCONNECT_EXCEPTION_TOO_MANY_OBJECTS, 1, 0);
    send(m);
    EXPECT_EQ(statusText(), "SimConnect: too many objects (max 1000)");
    m.clear();
    wire::appendException(m, 4, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 1, 0);
    send(m);  // no user position yet: not logged
    EXPECT_EQ(log().find("SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID"), std::string::npos);
    userPosition(1, 47.4, 8.5);
    send(m);
    EXPECT_NE(log().find("==> SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID"), std::string::npos);
    m.clear();
    wire::appendException(m, 4, 31, 1, 0);
    send(m);
    EXPECT_NE(log().find("SIMCONNECT_EXCEPTION #31"), std::string::npos);
    m.clear();
    wire::appendException(m, 4, SIMCONNECT_EXCEPTION_VERSION_MISMATCH, 1, 4);
    EXPECT_EQ(userErrorOf(link, m), "SimConnect Version Mismatch, dwIndex: 4");
}

TEST_F(LinkTest, AJumpOfMoreThanTenMilesIsANewFlightButTheFirstReplyIsNot) {
    userPosition(1, 47.0, 8.0);  // from zero: no jump
    EXPECT_FALSE(stopRequested());
    userPosition(1, 47.0 + 9.9 / 60.0, 8.0);  // 9.9 nm north
    EXPECT_FALSE(stopRequested());
    userPosition(1, 47.0 + 9.9 / 60.0 + 10.2 / 60.0, 8.0);
    EXPECT_TRUE(stopRequested());
    EXPECT_EQ(exitReason(), ExitReason::NewFlight);
    EXPECT_EQ(restartDelaySeconds(), 30);
    EXPECT_NE(log().find("Teleport"), std::string::npos);
    EXPECT_EQ(link.userObjectId(), 1u);
}

TEST_F(LinkTest, UserPositionIsStoredWithANonNegativeAltitudeAndPublished) {
    UserPosition published;
    link.services().publishUser = [&](const UserPosition& u, bool) { published = u; };
    link.services().nearestAirport = [](double lat, double) { return lat > 47 ? std::string("LSZH") : ""; };
    userPosition(7, 47.46, 8.55, -20);
    EXPECT_EQ(link.userObjectId(), 7u);
    EXPECT_DOUBLE_EQ(link.userPosition().latitude, 47.46);
    EXPECT_DOUBLE_EQ(link.userPosition().altitude, 0);
    EXPECT_DOUBLE_EQ(published.longitude, 8.55);
    EXPECT_EQ(link.nearestAirportText(), "LSZH");
}

TEST_F(LinkTest, TheOnGroundReplyIsTheOnceASecondReport) {
    cycleState().reportPending = false;
    std::vector<std::uint8_t> d;
    put(d, std::int64_t{1});
    send(objectData(REQ_USER_ON_GROUND, 1, DEF_USER_ON_GROUND, d));
    EXPECT_TRUE(cycleState().reportPending.exchange(false));
    EXPECT_FALSE(link.onGroundKnown());  // no position yet
    userPosition(1, 47.4, 8.5);
    send(objectData(REQ_USER_ON_GROUND, 1, DEF_USER_ON_GROUND, d));
    EXPECT_TRUE(cycleState().reportPending.exchange(false));
    EXPECT_TRUE(link.onGroundKnown());
    EXPECT_TRUE(link.userOnGround());
}

TEST(SimulatorTime, FormulaGivesSecondsSince1970) {
    using namespace std::chrono;
    struct Date {
        int y;
        unsigned m, d;
    };
    for (Date t : {Date{1970, 1, 1}, Date{2000, 2, 29}, Date{2000, 3, 1}, Date{2023, 12, 31}, Date{2024, 7, 15},
                   Date{2100, 3, 1}, Date{1969, 12, 31}}) {
        sys_days day = year_month_day{year{t.y}, month{t.m}, std::chrono::day{t.d}};
        sys_days jan1 = year_month_day{year{t.y}, January, std::chrono::day{1}};
        std::int64_t dayOfYear = (day - jan1).count() + 1;
        std::int64_t expected = duration_cast<seconds>(day.time_since_epoch()).count() + 45296;
        EXPECT_EQ(simulatorUtcSeconds(t.y, dayOfYear, 45296), expected) << t.y << "-" << t.m << "-" << t.d;
    }
    EXPECT_EQ(simulatorUtcSeconds(2024, 1, 0), 1704067200);
}

TEST_F(LinkTest, SimulatorTimeIsKeptOnlyWhileTimeSynchronisationIsOn) {
    userPosition(1, 47.4, 8.5, 1000, 3600, 1, 2024);
    EXPECT_EQ(link.simulatorTime(), 0);
    std::int64_t published = 0;
    link.services().timeSyncEnabled = [] { return true; };
    link.services().publishSimulatorTime = [&](std::int64_t t) { published = t; };
    userPosition(1, 47.4, 8.5, 1000, 3600, 1, 2024);
    EXPECT_EQ(link.simulatorTime(), 1704067200 + 3600);
    EXPECT_EQ(published, link.simulatorTime());
}

class UserModel : public LinkTest {
protected:
    void title(const std::string& t) {
        std::vector<std::uint8_t> d(t.begin(), t.end());
        d.push_back(0);
        send(objectData(REQ_USER_TITLE, 1, DEF_USER_TITLE, d));
    }
    std::string model(const std::string& m) {
        std::vector<std::uint8_t> d;
        putString(d, m, 32);
        try {
            send(objectData(REQ_USER_MODEL, 1, DEF_USER_MODEL, d));
        } catch (const UserErrorException& e) {
            return e.what();
        }
        return "";
    }
};

TEST_F(UserModel, AFourLetterModelGetsItsOwnWingSpan) {
    title("Boeing 737-800 Stand-in");
    EXPECT_EQ(model("B738"), "");
    EXPECT_EQ(link.userModel(), "B738");
    EXPECT_DOUBLE_EQ(link.userHalfWingspan(), 0.0097);
    EXPECT_TRUE(link.wingspanKnown());
    EXPECT_EQ(link.userCategory(), AircraftCategory::Large);
    auto text = log();
    EXPECT_NE(text.find("SimConnect: User aircraft title: Boeing 737-800 Stand-in"), std::string::npos);
    EXPECT_NE(text.find("model raw: B738"), std::string::npos);
    EXPECT_NE(text.find("SimConnect: User aircraft model: B738, half wing span: 18.0 meter, category: Large"),
              std::string::npos);
}

TEST_F(UserModel, ALongModelFallsBackToTheLargestUnlessTheTitleTells) {
    title("Some Long Title Here");
    EXPECT_EQ(model("B7378"), "");
    EXPECT_DOUBLE_EQ(link.userHalfWingspan(), 0.0433);
    EXPECT_FALSE(link.wingspanKnown());
    EXPECT_EQ(statusText(), "User aircraft wing span unknown, max is taken instead, please report in my Forum!");
    EXPECT_NE(log().find("SimConnect: User aircraft model: B7378, category: Light"), std::string::npos);

    title("Aerosoft A320 Professional");
    EXPECT_EQ(model("AIRBUS-A320"), "");
    EXPECT_EQ(link.userModel(), "A320");
    EXPECT_TRUE(link.wingspanKnown());
    EXPECT_NE(log().find("SimConnect: User aircraft model deduced from title: A320"), std::string::npos);
    // A four-letter model without an entry in the database also looks at the title.
    title("Aerosoft A321 x");
    EXPECT_EQ(model("ZZZZ"), "");
    EXPECT_EQ(link.userModel(), "A321");
    EXPECT_FALSE(link.wingspanKnown());  // A321 has no entry either
    EXPECT_DOUBLE_EQ(link.userHalfWingspan(), 0.0433);
}

TEST_F(UserModel, CameraPodAndEmptyModelAndLongTitles) {
    title(std::string(60, 'T'));
    EXPECT_EQ(link.userTitle(), std::string(48, 'T'));
    EXPECT_EQ(model("my camerapod"), "");
    EXPECT_EQ(link.userModel(), "E190");
    EXPECT_EQ(link.userCategory(), AircraftCategory::Light);
    EXPECT_TRUE(link.wingspanKnown());
    EXPECT_EQ(model(""), "atc_model= in [General] section of your aircraft.cfg is empty or missing");
    title("");
    EXPECT_NE(log().find("! Title of your aircraft is empty?"), std::string::npos);
    EXPECT_EQ(link.userTitle(), std::string(48, 'T'));
    // A failing lookup becomes the "not selected an aircraft" error.
    link.services().categoryOf = [](std::string_view) -> AircraftCategory { throw std::runtime_error("x"); };
    EXPECT_EQ(model("B738"), "It looks like you have not selected an aircraft as user vehicle");
}

TEST_F(LinkTest, EventsSetRunningAndStopForANewFlight) {
    wire::Bytes m;
    wire::appendEvent(m, 4, SIMCONNECT_RECV_UNKNOWN_GROUP, EVT_SIM, 1);
    send(m);
    EXPECT_TRUE(link.simulationRunning());
    EXPECT_TRUE(indicators().simRunning);
    m.clear();
    wire::appendEvent(m, 4, SIMCONNECT_RECV_UNKNOWN_GROUP, EVT_SIM, 0);
    send(m);
    EXPECT_FALSE(link.simulationRunning());
    m.clear();
    wire::appendObjectAddRemove(m, 4, EVT_OBJECT_REMOVED, 33, SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT);
    send(m);
    m.clear();
    wire::appendObjectAddRemove(m, 4, EVT_OBJECT_REMOVED, 34, SIMCONNECT_SIMOBJECT_TYPE_BOAT);
    send(m);
    auto notices = link.takeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, NoticeKind::Removed);
    EXPECT_EQ(notices[0].objectId, 33u);
    // The user object and lower ids are never reported to the traffic code.
    link.setUserObjectId(5);
    for (DWORD id : {1u, 5u, 6u}) {
        m.clear();
        wire::appendObjectAddRemove(m, 4, EVT_OBJECT_REMOVED, id, SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT);
        send(m);
    }
    notices = link.takeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].objectId, 6u);
    EXPECT_FALSE(stopRequested());
    m.clear();
    wire::appendFileNameEvent(m, 4, EVT_FLIGHT_LOADED, "flight.fxml");
    send(m);
    EXPECT_TRUE(stopRequested());
    EXPECT_EQ(exitReason(), ExitReason::NewFlight);
    EXPECT_NE(log().find("==> SimConnect: New file event"), std::string::npos);
}

}  // namespace
}  // namespace vntx::simlink::test

namespace vntx::simlink::test {
namespace {
TEST_F(LinkTest, ASimulatorNameInItsCodePageIsLoggedAsUtf8) {
    const DWORD app[4] = {5, 4, 9, 28482}, sc[4] = {5, 4, 0, 0};
    wire::Bytes m;
    wire::appendOpenReply(m, 4, "Lockheed Martin\xAE Prepar3D\xAE v5", app, sc);
    send(m);
    EXPECT_EQ(link.simulatorText(), "Lockheed Martin\xC2\xAE Prepar3D\xC2\xAE v5 (5.4.9.28482)");
    m.clear();
    wire::appendOpenReply(m, 4, "Sim \xC3\xA9 v5", app, sc);  // already UTF-8: kept
    send(m);
    EXPECT_EQ(link.simulatorText(), "Sim \xC3\xA9 v5 (5.4.9.28482)");
}
}  // namespace
}  // namespace vntx::simlink::test
