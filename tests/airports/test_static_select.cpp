// The choice of static aircraft: how many, on which stands, from which
// occurrences, at which fit step.
#include <gtest/gtest.h>

#include <set>

#include "airports/static_select.h"
#include "park_fixture.h"

using namespace vntx;

namespace {

constexpr double kM = 0.0005399568034557236;  // one metre in nm

// Stands in a row 60 m apart, radius 20 m (no neighbours).
ParkAirport row(int n, double spacingM = 60) {
    ParkAirport a;
    a.code = "LSZH";
    for (int i = 0; i < n; ++i) {
        ParkPosition p;
        p.id = "S" + std::to_string(i + 1);
        p.lat = 47.45;
        p.lon = 8.55 + i * spacingM * kM / 60.0 / std::cos(47.45 * 3.14159265358979 / 180);
        p.radius = 20 * kM;
        a.positions.push_back(p);
    }
    linkStands(a.positions);
    return a;
}

StandOccupancy opt(const std::string& reg, std::uint32_t day, std::initializer_list<int> slots, bool real = true,
                   const std::string& cs = "", const std::string& extra = "") {
    StandOccupancy o;
    o.reg = reg;
    o.airline = "SWR";
    o.type = "A320";
    o.callsign = cs.empty() ? "SWR" + reg : cs;
    o.callsign_extra = extra;
    o.day = day;
    for (int s : slots) o.hours.set(static_cast<std::size_t>(s));
    o.real = real;
    return o;
}

void add(ParkAirport& a, std::size_t stand, StandOccupancy o) {
    auto& occ = a.positions[stand].occupancies;
    o.number = static_cast<std::uint32_t>(occ.size() + 1);
    occ.push_back(std::move(o));
}

SelectionContext context(std::set<std::string> flying = {}) {
    SelectionContext ctx;
    ctx.rules.random = false;
    ctx.inSimulator = [flying](std::string_view s) { return flying.count(std::string(s)) != 0; };
    ctx.halfWingspan = [](std::string_view) { return 17.0 * kM; };
    return ctx;
}

}  // namespace

TEST(StaticCount, PercentageOfStandsWithTheSmallAirportRuleAndTheMaximum) {
    EXPECT_EQ(wantedStaticCount(500, 30, 2), 1);   // fewer than 4 stands, under 50 %: one
    EXPECT_EQ(wantedStaticCount(500, 50, 3), 2);   // round(1.5)
    EXPECT_EQ(wantedStaticCount(500, 30, 3), 1);
    EXPECT_EQ(wantedStaticCount(500, 30, 1), 1);
    EXPECT_EQ(wantedStaticCount(500, 30, 10), 3);
    EXPECT_EQ(wantedStaticCount(500, 0, 10), 0);
    EXPECT_EQ(wantedStaticCount(25, 100, 300), 25);  // MAX_PARK_SEL caps it
    EXPECT_EQ(wantedStaticCount(0, 100, 300), 0);    // off
    EXPECT_EQ(wantedStaticCount(500, 30, 0), 0);
}

TEST(ScheduleTime, StepsBackAcrossMidnightAndTheWeekAndTurnIntoHours) {
    auto t = stepBack({1, 0}, 1);
    EXPECT_EQ(t.day, 7u);
    EXPECT_EQ(t.slot, 47u);
    t = stepBack({3, 5}, 2);
    EXPECT_EQ(t.day, 3u);
    EXPECT_EQ(t.slot, 3u);
    t = stepBack({3, 0}, 97);  // two days and a half hour
    EXPECT_EQ(t.day, 7u);
    EXPECT_EQ(t.slot, 47u);
    EXPECT_GT((ScheduleTime{2, 0}).weekIndex(), (ScheduleTime{1, 47}).weekIndex());
    EXPECT_DOUBLE_EQ(fitStepHours(0), 0.5);
    EXPECT_DOUBLE_EQ(fitStepHours(9), 5.0);
    EXPECT_DOUBLE_EQ(fitStepHours(11), 6.0);
    EXPECT_DOUBLE_EQ(fitStepHours(21), 11.0);
    EXPECT_DOUBLE_EQ(fitStepHours(22), 12.0);
    EXPECT_DOUBLE_EQ(fitStepHours(47), 24.0);
    const auto s = scheduleTimeOf(7u | (static_cast<std::uint64_t>(31) << 32));
    EXPECT_EQ(s.day, 7u);
    EXPECT_EQ(s.slot, 31u);
}

TEST(StaticSearch, OneAircraftPerStandNeverOnOverlappingStandsNorTwiceTheSameRegistration) {
    auto a = row(4, 30);  // 30 m apart with 20 m radii: each overlaps its neighbours
    ASSERT_FALSE(a.positions[0].neighbours.empty());
    for (std::size_t i = 0; i < 4; ++i) add(a, i, opt("HB-J" + std::to_string(i), 2, {20}));
    add(a, 3, opt("HB-J0", 2, {20}));  // the same aircraft on another stand
    std::vector<StaticCandidate> c;
    lf_searchStands(a, context(), {2, 20}, true, true, 0, c);
    ASSERT_EQ(c.size(), 2u);  // S1 and S3: S2 and S4 are blocked by them
    EXPECT_EQ(c[0].stand, 1u);
    EXPECT_EQ(c[1].stand, 3u);
    std::set<std::string> regs;
    for (const auto& x : c) EXPECT_TRUE(regs.insert(x.reg).second);
}

TEST(StaticSearch, AnAircraftInTheSimulatorIsNeverParkedAndItsOccurrenceIsWithdrawn) {
    auto a = row(2);
    add(a, 0, opt("HB-JLA", 2, {20}, true, "SWR10"));
    add(a, 1, opt("HB-JLB", 2, {20}, true, "SWR11", "SWR12"));
    std::vector<StaticCandidate> c;
    lf_searchStands(a, context({"HB-JLA", "SWR12"}), {2, 20}, true, true, 0, c);
    EXPECT_TRUE(c.empty());
    EXPECT_EQ(a.positions[0].occupancies[0].number, 0u);  // not offered again, not written back
    EXPECT_EQ(a.positions[1].occupancies[0].number, 0u);
    lf_searchStands(a, context(), {2, 20}, true, true, 0, c);
    EXPECT_TRUE(c.empty());
}

TEST(StaticSearch, SlotDayKindHelicopterAndLiveWingsFilter) {
    auto a = row(5);
    add(a, 0, opt("A", 2, {21}));               // another slot
    add(a, 1, opt("B", 3, {20}));               // another day
    add(a, 2, opt("C", 2, {20}, false));        // soft
    add(a, 3, opt("D", 2, {20}));
    a.positions[3].heli = true;
    add(a, 4, opt("E", 2, {20}));
    auto ctx = context();
    ctx.rules.helicopters = false;
    std::vector<StaticCandidate> c;
    lf_searchStands(a, ctx, {2, 20}, true, true, 0, c);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].reg, "E");

    // A live aircraft on a neighbour stand whose wing reaches this one.
    auto b = row(2, 30);
    add(b, 1, opt("F", 2, {20}));
    auto wings = context();
    wings.liveOnStands.push_back({1, b.positions[0].lat, b.positions[0].lon, 18 * kM});
    c.clear();
    lf_searchStands(b, wings, {2, 20}, true, true, 0, c);
    EXPECT_TRUE(c.empty());  // 18 m + 17 m > 30 m
    wings.liveOnStands[0].halfSpan = 5 * kM;
    lf_searchStands(b, wings, {2, 20}, true, true, 0, c);
    EXPECT_EQ(c.size(), 1u);
}

TEST(StaticSearch, TheFirstStepBeforeMidnightOnMondayLooksAtSundayNight) {
    auto a = row(1);
    add(a, 0, opt("HB-X", 7, {47}));
    std::vector<StaticCandidate> c;
    lf_searchStands(a, context(), {1, 0}, true, true, 0, c);
    EXPECT_TRUE(c.empty());
    lf_searchStands(a, context(), {1, 0}, true, true, 1, c);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].fit, 1);
}

TEST(StaticSearch, TheShownCallsignFollowsWhetherTheAircraftStaysThere) {
    auto a = row(4);
    add(a, 0, opt("A", 2, {20}, true, "SWR1", "SWR2"));       // leaves after 20: the departure callsign
    add(a, 1, opt("B", 2, {20, 21}, true, "SWR3", "SWR4"));   // stays
    add(a, 2, opt("C", 2, {47}, true, "SWR5", "SWR6"));       // last slot, stays overnight
    add(a, 2, opt("C2", 3, {0}, true, "SWR7"));
    a.positions[2].occupancies[1].airline = "SWR";
    add(a, 3, opt("D", 2, {20}));
    a.positions[3].occupancies[0].callsign.clear();
    std::vector<StaticCandidate> c;
    lf_searchStands(a, context(), {2, 20}, true, true, 0, c);
    lf_searchStands(a, context(), {2, 47}, true, true, 0, c);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_FALSE(c[0].stays);
    EXPECT_EQ(lf_detcs(c[0]), "SWR2");
    EXPECT_TRUE(c[1].stays);
    EXPECT_EQ(lf_detcs(c[1]), "SWR3");
    EXPECT_EQ(c[2].reg, "D");
    EXPECT_EQ(lf_detcs(c[2]), "");  // both empty: none, and a marked line
    EXPECT_TRUE(c[3].stays);         // Tuesday slot 0 has the same airline and type
    EXPECT_EQ(lf_detcs(c[3]), "SWR5");
}

TEST(StaticSelection, PassesFillTheWantedCountWithTheBestFitsFirst) {
    auto a = row(6);
    add(a, 0, opt("A", 2, {10}));
    add(a, 1, opt("B", 2, {18}));
    add(a, 2, opt("C", 2, {19}));
    add(a, 3, opt("D", 4, {20}));          // another weekday
    add(a, 4, opt("E", 2, {20}, false));   // soft
    std::vector<StaticCandidate> c;
    auto out = runSelectionPasses(a, context(), {2, 20}, 2, 0, c);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].reg, "C");  // step 1
    EXPECT_EQ(c[1].reg, "B");  // step 2
    EXPECT_FALSE(out.softUsed || out.weekUsed);

    // Nothing left for today within the limit: other weekdays and soft ones, as allowed.
    a = row(6);
    add(a, 0, opt("A", 2, {10}));
    add(a, 3, opt("D", 4, {20}));
    add(a, 4, opt("E", 2, {20}, false));
    auto ctx = context();
    ctx.rules.maxFit = 5;
    c.clear();
    out = runSelectionPasses(a, ctx, {2, 20}, 3, 0, c);
    EXPECT_TRUE(c.empty());
    ctx.rules.week = true;
    ctx.rules.parkSoft = true;
    clearStandMarks(a);
    out = runSelectionPasses(a, ctx, {2, 20}, 3, 0, c);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_TRUE(out.weekUsed);
    EXPECT_TRUE(out.softUsed);
    // Stands already parked count: only the difference is added.
    c.clear();
    clearStandMarks(a);
    out = runSelectionPasses(a, ctx, {2, 20}, 3, 2, c);
    EXPECT_EQ(c.size(), 1u);
}
