// The fidelity of a live run, from the feed's sent datagrams and simhost's
// trace: synthetic runs whose figures are known.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include <fmt/format.h>

#include "recording.h"
#include "trace_check.h"
#include "traffic/traffic_manager.h"

namespace vntx::fidelity {
namespace {

constexpr double kWall = 1.7e9;  // the trace's start on the system clock

rtfeed::Report flightReport(std::uint32_t hex, double lat, double lon, const std::string& callsign) {
    rtfeed::Report r;
    r.hex = hex;
    r.lat = lat;
    r.lon = lon;
    r.altitude = 6000;
    r.track = 90;
    r.groundSpeed = 180;
    r.callsign = callsign;
    r.type = "A320";
    return r;
}

struct LiveRun {
    std::ostringstream sent, trace;
    input::DecoderSettings settings;
    LiveRun() {
        settings.userLatitude = 47.0;
        settings.userLongitude = 8.0;
        settings.rangeNm = 40;
        trace << fmt::format(R"({{"event":"start","t":0.0,"wall":{:.3f}}})", kWall) << "\n";
    }
    void send(double sentAt, const rtfeed::Report& r) {
        sent << fmt::format("{:.3f}\t", sentAt) << rtfeed::trafficDatagram(r, sentAt) << "\n";
    }
    void pos(std::uint32_t id, const std::string& tail, double t, double lat, double lon, double hdg = 90,
             bool onGround = false) {
        trace << fmt::format(
                     R"({{"t":{:.3f},"pos":{},"tail":"{}","lat":{:.7f},"lon":{:.7f},"alt":6000,"hdg":{},"on_ground":{}}})",
                     t, id, tail, lat, lon, hdg, onGround)
              << "\n";
    }
    TraceFigures check() {
        std::istringstream s(sent.str()), t(trace.str());
        const auto reports = readSentLog(s, settings);
        const auto tr = readSimTrace(t);
        EXPECT_EQ(tr.wallStart, kWall);
        return checkTrace(tr, reports, 30);
    }
};

// The point east of (47, lon) after `seconds` at 180 kt.
double east(double lon, double seconds) {
    double la = 47.0, lo = lon;
    traffic::movePoint(la, lo, traffic::kPi / 2, 180 * seconds / 3600.0);
    return lo;
}

TEST(TraceCheck, DistancesAtDueTimeStepsAndTies) {
    LiveRun run;
    // Reports every 5 s; the object flies 150 m north of them, on time, at 10 frames a second.
    double north = 47.0 + 150.0 / 1852.0 / 60.0;
    for (int i = 0; i < 6; ++i) run.send(kWall + 5 * i, flightReport(0x4B1801, 47.0, east(8.0, 5 * i), "SWR12"));
    for (int k = 0; k <= 600; ++k) run.pos(100, "SWR12", 30 + k * 0.1, north, east(8.0, k * 0.1));
    // A second aircraft whose object never appears.
    run.send(kWall + 2, flightReport(0x4B1802, 47.1, 8.1, "SWR13"));
    auto f = run.check();
    EXPECT_EQ(f.objectsCreated, 1u);
    EXPECT_EQ(f.objectsMatched, 1u);
    EXPECT_EQ(f.objectsMoved, 1u);
    EXPECT_EQ(f.airborneAircraft, 2u);
    EXPECT_EQ(f.airborneCreated, 1u);
    ASSERT_EQ(f.airborneNotCreated.size(), 1u);
    EXPECT_EQ(f.airborneNotCreated[0], 0x4B1802u);
    EXPECT_EQ(f.samples, 6u);
    EXPECT_EQ(f.notInSim, 1u);
    EXPECT_NEAR(f.median, 150, 2);
    EXPECT_NEAR(f.p95, 150, 2);
    EXPECT_EQ(f.teleports, 0u);
    EXPECT_NEAR(f.maxStep, 180 * 1852.0 / 3600.0 * 0.1, 0.5);
    EXPECT_LT(f.maxHeadingRate, 0.01);
}

TEST(TraceCheck, AnObjectFlyingTheReportsLateShowsItsLag) {
    // The reports' own path, flown 60 ms behind them (0.6 frames at 10 a second).
    LiveRun run;
    for (int i = 0; i < 8; ++i) run.send(kWall + 5 * i, flightReport(0x4B1801, 47.0, east(8.0, 5 * i), "SWR12"));
    for (int k = 0; k <= 400; ++k) run.pos(100, "SWR12", 30 + k * 0.1, 47.0, east(8.0, k * 0.1 - 0.06));
    auto f = run.check();
    const double late = 180 * 1852.0 / 3600.0 * 0.06;  // 5.6 m
    EXPECT_NEAR(f.median, late, 0.3);
    EXPECT_NEAR(f.lag, 0.06, kLagStepSeconds / 2);
    EXPECT_LT(f.lagMedian, 0.3);
    EXPECT_LT(f.lagP95, 0.3);

    // On time: no lag is made up.
    LiveRun onTime;
    for (int i = 0; i < 8; ++i) onTime.send(kWall + 5 * i, flightReport(0x4B1801, 47.0, east(8.0, 5 * i), "SWR12"));
    for (int k = 0; k <= 400; ++k) onTime.pos(100, "SWR12", 30 + k * 0.1, 47.0, east(8.0, k * 0.1));
    f = onTime.check();
    EXPECT_EQ(f.lag, 0);
    EXPECT_EQ(f.lagMedian, f.median);
}

TEST(TraceCheck, AJumpAndATurnAreSeen) {
    LiveRun run;
    for (int i = 0; i < 3; ++i) run.send(kWall + 5 * i, flightReport(0x4B1801, 47.0, east(8.0, 5 * i), "SWR12"));
    double lon = 8.0;
    for (int k = 0; k <= 100; ++k) {
        if (k == 50) lon += 0.02;  // some 1.5 km in one frame
        // 90 degrees of turn over the last second
        const double hdg = k < 90 ? 90 : 90 + (k - 90) * 9.0;
        run.pos(100, "SWR12", 30 + k * 0.1, 47.0, lon, hdg);
        lon = east(lon, 0.1);
    }
    auto f = run.check();
    EXPECT_EQ(f.teleports, 1u);
    EXPECT_GT(f.maxStep, 1400);
    EXPECT_GT(f.maxStepSpeed, 10000);
    EXPECT_NEAR(f.maxHeadingRate, 90, 10);
    // The report due after the jump is measured against where the object went.
    EXPECT_GT(f.max, 1400);
}

TEST(TraceCheck, SharedTailsStayUntiedAndLateReportsUnmeasured) {
    LiveRun run;
    // Two aircraft under one call sign: the object cannot be told apart.
    run.send(kWall, flightReport(0x4B1801, 47.0, 8.0, "TWIN1"));
    run.send(kWall, flightReport(0x4B1802, 47.05, 8.0, "TWIN1"));
    // Due 30 s after the trace's last position: never measured, never counted missing.
    run.send(kWall + 20, flightReport(0x4B1803, 47.0, 8.2, "LATE1"));
    for (int k = 0; k <= 200; ++k) run.pos(100, "TWIN1", 20 + k * 0.1, 47.0, east(8.0, k * 0.1));
    run.trace << R"({"t":45.0,"removed":100})" << "\n";
    auto f = run.check();
    EXPECT_EQ(f.objectsCreated, 1u);
    EXPECT_EQ(f.objectsRemoved, 1u);
    EXPECT_EQ(f.objectsMatched, 0u);
    EXPECT_EQ(f.samples, 0u);
    EXPECT_EQ(f.notInSim, 2u);
    EXPECT_EQ(f.airborneCreated, 0u);
}

TEST(TraceCheck, ObjectsNeverTakenOverOrNeverPlacedAreNamed) {
    LiveRun run;
    auto created = [&](std::uint32_t id, double t) {
        run.trace << fmt::format(R"({{"t":{},"op":"AICreateNonATCAircraft","object":{},"tail":"T{}","title":"x"}})", t,
                                 id, id)
                  << "\n";
        run.pos(id, fmt::format("T{}", id), t, 47.0, 8.0);
    };
    created(3, 1.0);  // taken over by a release, then placed
    run.trace << R"({"t":1.5,"op":"AIReleaseControl","object":3})" << "\n";
    run.pos(3, "T3", 4.0, 47.0, 8.01);
    created(4, 2.0);  // frozen instead, then placed
    run.trace << R"({"t":2.5,"op":"TransmitClientEvent","object":4,"event":"FREEZE_ALTITUDE_SET","data":1})" << "\n";
    run.pos(4, "T4", 4.0, 47.0, 8.02);
    created(5, 3.0);  // never taken over: its positions were refused
    run.trace << R"({"t":6.0,"op":"SetDataOnSimObject","object":5,"refused":"never released"})" << "\n";
    created(6, 4.0);  // taken over, never placed
    run.trace << R"({"t":4.5,"op":"AIReleaseControl","object":6})" << "\n";
    created(7, 5.0);  // gone again after three seconds: too short to judge
    run.trace << R"({"t":8.0,"removed":7})" << "\n";
    created(8, 30.0);  // created near the end of the run
    created(9, 1.0);   // a parked aircraft of the airport: no reported aircraft, never moved
    run.trace << R"({"t":1.5,"op":"TransmitClientEvent","object":9,"event":"FREEZE_ALTITUDE_SET","data":1})" << "\n";
    run.pos(3, "T3", 35.0, 47.0, 8.03);
    // A parked aircraft named like reported T10, standing until T10's own
    // object is placed: not T10's object. Parked T11's namesake is placed
    // only after it was gone, so it is no excuse.
    auto parkedThenNamesake = [&](std::uint32_t parked, std::uint32_t live, double parkedGone) {
        const std::string tail = fmt::format("T{}", parked);
        created(parked, 1.0);
        run.trace << fmt::format(R"({{"t":1.5,"op":"AIReleaseControl","object":{}}})", parked) << "\n";
        run.trace << fmt::format(R"({{"t":{},"removed":{}}})", parkedGone, parked) << "\n";
        run.trace << fmt::format(R"({{"t":20.0,"op":"AICreateNonATCAircraft","object":{},"tail":"{}","title":"x"}})",
                                 live, tail)
                  << "\n";
        run.trace << fmt::format(R"({{"t":20.5,"op":"AIReleaseControl","object":{}}})", live) << "\n";
        for (double t : {20.0, 20.5, 35.0}) run.pos(live, tail, t, 47.1, 8.1 + t / 1000);
    };
    parkedThenNamesake(10, 12, 21.0);
    parkedThenNamesake(11, 13, 15.0);
    for (std::uint32_t id : {3u, 4u, 5u, 6u, 7u, 8u, 10u, 11u})
        run.send(0.5, flightReport(0x400000 + id, 47.0, 8.0, fmt::format("T{}", id)));
    auto f = run.check();
    EXPECT_EQ(f.objectsCreated, 11u);
    EXPECT_EQ(f.objectsLivedLong, 9u);
    EXPECT_EQ(f.neverTied, (std::vector<std::uint32_t>{5}));
    EXPECT_EQ(f.neverPlaced, (std::vector<std::uint32_t>{5, 6, 11}));
    EXPECT_EQ(f.objectsMatched, 9u);  // all but the parked namesake and the unreported parked aircraft
    const std::string text = formatTraceFigures(f);
    EXPECT_NE(text.find("objects left alone     1 never taken over, 3 never placed (of 9 that lived 10 s or more)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("object 5 was never released or frozen"), std::string::npos);
}

TEST(TraceCheck, ALandingIsFollowedFromTouchdownOffTheRunwayToAStop) {
    LiveRun run;
    run.settings.parkAirport = input::ParkAirportRef{47.0, 8.05, 0};  // ground reports are kept near it
    double lat = 47.0, lon = 8.0, t = 30;
    auto step = [&](double kt, double hdg, bool onGround) {
        traffic::movePoint(lat, lon, hdg * traffic::kDeg, kt * 0.1 / 3600.0);
        t += 0.1;
        run.pos(100, "ARR1", t, lat, lon, hdg, onGround);
    };
    for (int k = 0; k < 100; ++k) step(140, 90, false);  // final
    for (int k = 0; k < 300; ++k) step(130 - k * 0.37, 90, true);  // roll-out to about 20 kt
    for (int k = 0; k < 100; ++k) step(15, 90 + k * 0.9, true);  // turning off, 9 degrees a second
    for (int k = 0; k < 100; ++k) step(0, 180, true);  // standing
    // A ground report due where the object stands at the end.
    rtfeed::Report r = flightReport(0x4B1801, lat, lon, "ARR1");
    r.onGround = true;
    r.altitude = 0;
    r.groundSpeed = 0;
    run.send(kWall + t - 30 - 5, r);
    const auto f = run.check();
    EXPECT_EQ(f.touchdowns, 1u);
    EXPECT_EQ(f.rolledOut, 1u);
    EXPECT_EQ(f.runwayExits, 1u);
    EXPECT_EQ(f.landedEnded, 1u);
    EXPECT_EQ(f.groundSamples, 1u);
    EXPECT_LT(f.groundMedian, 1.0);
    EXPECT_NEAR(f.groundMaxHeadingRate, 9, 0.5);
    EXPECT_NE(formatTraceFigures(f).find("1 touchdowns, 1 rolled out, 1 left the runway"), std::string::npos);
}

}  // namespace
}  // namespace vntx::fidelity

namespace vntx::fidelity {
namespace {

TEST(TraceMap, StandsOfTheParkFileAndParkedAircraftThatNeverMovedAreDrawn) {
    const auto stands = readStandMarks(
        "<?xml version=\"1.0\"?>\n<meta/>\n<parameters/>\n<parkpositions>\n"
        "  <parkpos id=\"E42\" latitude=\"47.0005\" longitude=\"8.0005\" heading=\"6.3\" radius=\"21.7\"/>\n"
        "  <parkpos id=\"ZERO\" latitude=\"0\" longitude=\"0\" radius=\"20\"/>\n"
        "  <parkpos id=\"FAR\" latitude=\"48\" longitude=\"9\" radius=\"20\"/>\n</parkpositions>\n");
    ASSERT_EQ(stands.size(), 2u);  // the one at 0,0 is no stand
    EXPECT_EQ(stands[0].id, "E42");
    EXPECT_DOUBLE_EQ(stands[0].radiusM, 21.7);
    SimTrace trace;
    trace.objects[3].points = {{1.0, 47.0, 8.0, 0, 0}, {2.0, 47.001, 8.001, 0, 0}};
    trace.objects[3].placed = 1;
    trace.objects[4].points = {{1.0, 47.0005, 8.0005, 0, 0}};  // created on its stand, never moved
    trace.objects[4].tail = "SWR39";
    const std::string svg = traceSvg(trace, {}, stands);
    EXPECT_NE(svg.find("<title>E42</title>"), std::string::npos);
    EXPECT_EQ(svg.find("<title>FAR</title>"), std::string::npos);  // outside the traffic's area
    EXPECT_NE(svg.find("fill=\"#ff7f0e\"><title>SWR39</title>"), std::string::npos);
    EXPECT_NE(svg.find("<polyline"), std::string::npos);
}

// Framed on an airport, the map spends its width on the stands and the ground
// paths; an approach from far out is cut at the frame's edge, not drawn over
// the margins, and a report outside the frame does not widen it.
TEST(TraceMap, AFrameShowsTheAirportAndCutsWhatLiesOutside) {
    EXPECT_FALSE(parseMapFrame("22.3,113.9,22.3,114.0"));  // no area
    EXPECT_FALSE(parseMapFrame("22.3,113.9,22.32"));
    EXPECT_FALSE(parseMapFrame("22.3,113.9,22.32,113.95,7"));
    const auto frame = parseMapFrame("22.32,113.95,22.30,113.90");  // corners in either order
    ASSERT_TRUE(frame);
    EXPECT_DOUBLE_EQ(frame->minLat, 22.30);
    EXPECT_DOUBLE_EQ(frame->maxLon, 113.95);

    const std::vector<StandMark> stands{{22.31, 113.92, 40, "N12"}};
    SimTrace trace;
    // From 20 nm out over the sea onto the runway.
    trace.objects[3].points = {{1.0, 22.0, 113.6, 3000, 0}, {2.0, 22.31, 113.91, 0, 0}, {3.0, 22.311, 113.921, 0, 0}};
    trace.objects[3].points[1].onGround = trace.objects[3].points[2].onGround = true;
    const std::string whole = traceSvg(trace, {}, stands);
    const std::string framed = traceSvg(trace, {}, stands, frame);
    EXPECT_EQ(whole.find("clip-path"), std::string::npos);
    EXPECT_NE(framed.find("<g clip-path=\"url(#frame)\">"), std::string::npos);
    EXPECT_NE(framed.find("</g>\n</svg>"), std::string::npos);
    // The stand's circle: a pixel across the whole approach, several within the frame.
    auto radius = [](const std::string& svg) {
        std::smatch m;
        if (!std::regex_search(svg, m, std::regex(R"re( r="([0-9.]+)"[^>]*><title>N12</title>)re"))) return -1.0;
        return std::stod(m[1]);
    };
    EXPECT_LT(radius(whole), 2.0);
    EXPECT_GT(radius(framed), 5.0);
}

TEST(TraceMap, TheParkFilesAirportKeepsTheGroundReportsAroundIt) {
    const std::string park =
        "<?xml version=\"1.0\"?>\n<parameters><parameter name=\"altitude\" value=\"1416\"/></parameters>\n"
        "<parkpositions><parkpos id=\"A\" latitude=\"47.0\" longitude=\"8.0\" radius=\"20\"/>"
        "<parkpos id=\"B\" latitude=\"47.002\" longitude=\"8.004\" radius=\"20\"/></parkpositions>\n";
    const auto airport = parkAirportOf(park);
    ASSERT_TRUE(airport);
    EXPECT_NEAR(airport->latitude, 47.001, 1e-9);
    EXPECT_NEAR(airport->longitude, 8.002, 1e-9);
    EXPECT_EQ(airport->elevationFt, 1416);
    EXPECT_FALSE(parkAirportOf("<parkpositions/>"));

    // A taxiing report at the airport: dropped without the park airport, kept with it.
    rtfeed::Report r = flightReport(0x4B1801, 47.001, 8.002, "SWR12");
    r.altitude = 1416;
    r.groundSpeed = 15;
    r.onGround = true;
    std::ostringstream line;
    line << fmt::format("{:.3f}\t", kWall) << rtfeed::trafficDatagram(r, kWall) << "\n";
    input::DecoderSettings ds;
    ds.userLatitude = 47.0;
    ds.userLongitude = 8.0;
    std::istringstream without(line.str()), with(line.str());
    EXPECT_TRUE(readSentLog(without, ds).empty());
    ds.parkAirport = airport;
    EXPECT_EQ(readSentLog(with, ds).size(), 1u);
}

}  // namespace
}  // namespace vntx::fidelity
