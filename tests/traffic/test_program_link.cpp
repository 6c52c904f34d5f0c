// The traffic tick on the program's simulator link: notices in the tick's
// layout and every event the tick sends known to the link.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/cycle.h"
#include "core/hooks.h"
#include "core/parameters.h"
#include "core/state.h"
#include "harness.h"
#include "liveries/catalogue.h"
#include "liveries/liveries_fixture.h"
#include "liveries/matching.h"
#include "liveries/scan.h"
#include "simlink/ids.h"
#include "traffic/program_link.h"
#include "traffic/traffic.h"

namespace vntx {
namespace {

TEST(ProgramLink, NoticesAreTranslatedToTheTickLayout) {
    using K = simlink::NoticeKind;
    // The link puts the on-ground flag in the integer and the ground altitude first.
    auto g = translateNotice({77, 1, 0, K::GroundReport, 123.5, 40.0});
    EXPECT_EQ(g.kind, traffic::ObjectNotice::GroundReport);
    EXPECT_EQ(g.objectId, 77u);
    EXPECT_EQ(g.value1, 1.0);
    EXPECT_EQ(g.value2, 123.5);
    auto air = translateNotice({77, 0, 0, K::GroundReport, 88.0, 2500.0});
    EXPECT_EQ(air.value1, 0.0);
    EXPECT_EQ(air.value2, 88.0);

    auto c = translateNotice({12, 0xABC123, 0, K::CreatedLive, 3400.0, 0});
    EXPECT_EQ(c.kind, traffic::ObjectNotice::CreatedLive);
    EXPECT_EQ(c.hexid, 0xABC123u);
    EXPECT_EQ(c.objectId, 12u);
    EXPECT_EQ(c.value1, 3400.0);

    auto r = translateNotice({0, 0xABC123, 0, K::CreationRefused, 0, 0});
    EXPECT_EQ(r.kind, traffic::ObjectNotice::Refused);
    EXPECT_EQ(r.hexid, 0xABC123u);

    auto s = translateNotice({12, 0, 0, K::StaticCg, 9.5, 0.01});
    EXPECT_EQ(s.kind, traffic::ObjectNotice::StaticCg);
    EXPECT_EQ(s.value1, 9.5);
    EXPECT_EQ(s.value2, 0.01);

    EXPECT_EQ(translateNotice({12, 5, 0, K::CreatedStatic, 0, 0}).hexid, 5u);
    EXPECT_EQ(translateNotice({12, 0, 0, K::Removed, 0, 0}).kind, traffic::ObjectNotice::Removed);
    EXPECT_LT(translateNotice({12, 0, 0, static_cast<K>(5), 0, 0}).kind, 0);
}

TEST(ProgramLink, EveryEventTheTickSendsHasAClientEvent) {
    EXPECT_EQ(trafficEventId("THROTTLE_SET"), simlink::EVT_THROTTLE_SET);
    EXPECT_EQ(trafficEventId("FLAPS_SET"), simlink::EVT_FLAPS_SET);
    EXPECT_EQ(trafficEventId("GEAR_SET"), simlink::EVT_GEAR_SET);
    EXPECT_EQ(trafficEventId("SPOILERS_SET"), simlink::EVT_SPOILERS_SET);
    EXPECT_EQ(trafficEventId("ENGINE_AUTO_START"), simlink::EVT_ENGINE_AUTO_START);
    EXPECT_EQ(trafficEventId("ENGINE_AUTO_SHUTDOWN"), simlink::EVT_ENGINE_AUTO_SHUTDOWN);
    EXPECT_EQ(trafficEventId("THROTTLE"), 0u);
    EXPECT_EQ(trafficEventId(""), 0u);

    // Whatever a replay makes the tick send goes by a name the link knows.
    traffic::test::Harness h;
    h.user = traffic::UserPosition{47.0, 8.0};
    for (int i = 0; i < 12; ++i)
        h.arriveAt(i * 1000, traffic::test::report(0xA1B2C3, 1000.0 + 10 * i,
                                                    47.0, traffic::test::eastOf(47.0, 8.0, 200, 10.0 * i),
                                                    5000 - 400.0 * i, 200));
    h.run(20000);
    ASSERT_GE(h.sim.events.size(), 3u);
    for (const auto& e : h.sim.events) {
        if (e.name == "CABIN_LIGHTS_SET") continue;  // sent through the lights block
        EXPECT_NE(trafficEventId(e.name), 0u) << e.name;
    }
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The program's livery services over the real matcher and catalogue, and
// the closing of a cycle with the program's traffic and livery hooks.
TEST(ProgramLink, TrialsAreNotCountedAndClosingWritesEachReportOnce) {
    test::TempFolder tmp;
    params().setFile(tmp.dir() / "parameters.xml");
    params().readAllParameters();
    params().RANDOM.set(false);
    resetStopState();
    test::loadDatabase(database(), test::smallDbase());
    std::vector<Livery> list{{"KLM", "B738", "KLM 738 A", "", 0, false}, {"DLH", "A320", "DLH 320", "", 0, false}};
    std::sort(list.begin(), list.end(), catalogueLess);
    catalogue().build(list, database(), tmp.output());
    const auto services = programTrafficServices();

    traffic::LiveAircraft klm;
    klm.operatorCode = "KLM";
    klm.aircraftType = "B738";
    klm.registration = "PH-BXA";
    klm.callsign = "KLM12";
    const auto before = liveryMatcher().counters();
    EXPECT_EQ(services.probeLivery(klm), "KLM 738 A");
    EXPECT_EQ(liveryMatcher().counters(), before);
    ASSERT_TRUE(services.matchLivery(klm));
    EXPECT_EQ(klm.liveryTitle, "KLM 738 A");
    EXPECT_EQ(liveryMatcher().counters()[2], before[2] + 1);
    EXPECT_EQ(occurrences(tmp.log(), "KLM12 =2= KLM 738 A"), 1u);  // the trial is not logged

    // A failed match alone does not fill the no-livery set; the traffic
    // code adds the aircraft when the rules say so.
    traffic::LiveAircraft none = klm;
    none.operatorCode = "BAW";
    none.aircraftType = "B744";
    none.registration = "G-CIVA";
    EXPECT_FALSE(services.matchLivery(none));
    EXPECT_FALSE(services.noLiveryContains(none));
    services.noLiveryAdd(none);
    EXPECT_TRUE(services.noLiveryContains(none));

    // Closing: the traffic totals, the matching summary and the "No match
    // found for:" report each once.
    installLiveryHooks();
    installProgramTraffic();
    trafficManager().handleIncoming(traffic::test::report(0x4840D6, 1000, 52.3, 4.7, 3000, 200, 90, "KLM12"));
    requestStop(ExitReason::UserClosedSim, 0);
    lf_closingDown();
    const std::string log = tmp.log();
    EXPECT_EQ(occurrences(log, "Live traffic summary: 1 aircraft seen"), 1u);
    EXPECT_EQ(occurrences(log, "live traffic livery matching summary"), 1u);
    EXPECT_EQ(occurrences(log, "Matches at step:"), 1u);
    EXPECT_EQ(occurrences(log, "No match found for:"), 1u);
    EXPECT_EQ(occurrences(log, "BAW B744 G-CIVA"), 1u);

    hooks() = CycleHooks{};
    resetTrafficState();
    catalogue().clear();
    resetStopState();
    params().setFile({});
}

}  // namespace
}  // namespace vntx
