// What the window paints, and where.
#include <map>
#include <set>

#include "ui/commands.h"
#include "window_fixture.h"

using namespace vntx;
using namespace vntx::ui;
using vntx::test::WindowTest;

namespace {

std::map<std::string, PaintedText> painted() {
    std::map<std::string, PaintedText> out;
    for (auto& t : paintedTexts())
        if (!t.name.empty()) out[t.name] = t;
    return out;
}

class Painting : public WindowTest {};

TEST_F(Painting, RealTrafficIndicatorsOnlyWhileConnectedAndQnhOnlyWhileWeatherIsKnown) {
    auto p = painted();
    EXPECT_TRUE(p["rt"].highlight);
    EXPECT_EQ(p.count("weather"), 0u);
    EXPECT_EQ(p.count("qnh"), 0u);

    auto& ind = indicators();
    ind.realTraffic = true;
    ind.weatherLiveness = 3;
    ind.trafficLiveness = 1;
    setRealTrafficVersion("8.0.210");
    p = painted();
    EXPECT_FALSE(p["rt"].highlight);
    EXPECT_EQ(p["rt version"].text, "8.0.210");
    EXPECT_TRUE(p["weather"].highlight) << "not yet receiving";
    EXPECT_FALSE(p["traffic"].highlight);
    EXPECT_EQ(p.count("qnh"), 0u);

    ind.weatherLiveness = 2;
    ind.qnh = 998;
    p = painted();
    EXPECT_TRUE(p["weather"].highlight) << "silent";
    EXPECT_EQ(p["qnh"].text, "qnh:  998");
    ind.weatherLiveness = 1;
    EXPECT_FALSE(painted()["weather"].highlight);
}

TEST_F(Painting, CountsAreYellowDotsWhileCounting) {
    auto& ind = indicators();
    ind.liveryCount = -1;
    ind.learnedCount = 12;
    ind.thirdpCount = 0;
    auto p = painted();
    EXPECT_EQ(p["liveries"].text, "# liveries: ...");
    EXPECT_TRUE(p["liveries"].highlight);
    EXPECT_EQ(p["learned"].text, "# learned: 12");
    EXPECT_FALSE(p["learned"].highlight);
    EXPECT_EQ(p["thirdp"].text, "# thirdp: 0");
    ind.liveryCount = 5120;
    EXPECT_EQ(painted()["liveries"].text, "# liveries: 5120");
}

TEST_F(Painting, StaticFiguresAndTheNextUpdate) {
    auto& ind = indicators();
    EXPECT_EQ(painted()["max park"].text, "no max park live");
    ind.maxPark = 42;
    ind.maxParkPercent = 30;
    ind.staticCountdown = 7;
    setIndicatorText(IndicatorText::ReservedStand, "A12");
    auto p = painted();
    EXPECT_EQ(p["max park"].text, "max park:  42 (=30 %)");
    EXPECT_EQ(p["reserved stand"].text, "reserved stand: A12");
    EXPECT_EQ(p["next"].text, "(next in 7 min)");
    params().INITIAL_LOAD_ONLY.set(true);
    EXPECT_EQ(painted()["next"].text, "(no next ... )");
    params().INITIAL_LOAD_ONLY.set(false);
    cycleState().flushStaticRequested = true;
    EXPECT_EQ(painted()["next"].text, "(no next ... )");
    indicators().reset();
    EXPECT_EQ(indicatorText(IndicatorText::ReservedStand), "") << "a restart clears the figures";
}

TEST_F(Painting, UserAircraftAndSimulatorFromTheSources) {
    auto p = painted();
    EXPECT_EQ(p["simulator"].text, "no simulator connected");
    EXPECT_TRUE(p["simulator"].highlight);
    EXPECT_EQ(p["nearest"].text, "no RT airport near");
    WindowSources s;
    s.simulatorConnected = [] { return true; };
    s.simulatorText = [] { return std::string("Lockheed Martin Prepar3D v5 (5.4.9.28482)"); };
    s.userTitle = [] { return std::string("Boeing 737-800 Paint1"); };
    s.userModel = [] { return std::string("B738"); };
    s.userWingspanMeters = [] { return std::optional<double>(35.79); };
    s.nearestAirport = [] { return std::string("VHHH"); };
    setWindowSources(s);
    p = painted();
    EXPECT_FALSE(p["simulator"].highlight);
    EXPECT_EQ(p["title"].text, "Boeing 737-800 Paint1");
    EXPECT_EQ(p["model"].text, "B738, wing span 35.8 m");
    EXPECT_EQ(p["nearest"].text, "near: VHHH");
}

TEST_F(Painting, TheErrorLineReplacesTheStatusLine) {
    showStatus("Prepare for a restart ...", false);
    EXPECT_EQ(painted()["status"].text, "Prepare for a restart ...");
    showError("reading airports failed!");
    auto p = painted();
    EXPECT_EQ(p["status"].text, "");
    EXPECT_EQ(p["error"].text, "Error reading airports failed!");
    EXPECT_TRUE(p["error"].highlight);
    EXPECT_EQ(p["error"].y, kErrorLineY);
    showStatus("Be aware", true);
    EXPECT_EQ(painted()["status"].text, "");
    EXPECT_EQ(log().find("Be aware"), std::string::npos);
}

TEST_F(Painting, StatusTextsGoAfterTwentyFiveReports) {
    showStatus("New destination: VHHH", false);
    for (int i = 0; i < 24; ++i) advanceStatusAge();
    EXPECT_EQ(statusText(), "New destination: VHHH");
    advanceStatusAge();
    EXPECT_EQ(statusText(), "");
    // A newer text starts its own count.
    for (int i = 0; i < 20; ++i) advanceStatusAge();
    showStatus("second", false);
    for (int i = 0; i < 24; ++i) advanceStatusAge();
    EXPECT_EQ(statusText(), "second");
}

TEST(WindowPosition, FitsIntoTheWorkArea) {
    const Rect area{0, 0, 1280, 640};
    EXPECT_EQ(fitIntoWorkArea({400, 20, 880, 516}, area), (Rect{400, 20, 880, 516}));
    EXPECT_EQ(fitIntoWorkArea({5000, 3000, 880, 516}, area), (Rect{400, 124, 880, 516}));
    EXPECT_EQ(fitIntoWorkArea({-300, -40, 880, 516}, area), (Rect{0, 0, 880, 516}));
    // Smaller than the window: the caption stays reachable.
    EXPECT_EQ(fitIntoWorkArea({100, 100, 880, 516}, {0, 0, 800, 480}), (Rect{0, 0, 880, 516}));
    // A second monitor left of the first.
    EXPECT_EQ(fitIntoWorkArea({-1000, 900, 880, 516}, {-1920, 0, 1920, 1040}), (Rect{-1000, 524, 880, 516}));
}

TEST(Layout, ControlsAreUniqueAndFindableByName) {
    std::set<int> ids;
    for (const auto& c : controls()) {
        EXPECT_TRUE(ids.insert(c.id).second) << c.name;
        EXPECT_EQ(findControl(c.name), &c);
        EXPECT_EQ(findControl(c.id), &c);
    }
    EXPECT_EQ(findControl("flush STATIC")->id, kButtonFlushStatic);
    EXPECT_EQ(findControl("call sign list")->id, kCallsignList);
    EXPECT_EQ(findControl("AFG_AUTOMATIC"), nullptr);
}

}  // namespace
