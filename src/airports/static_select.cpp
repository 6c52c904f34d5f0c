#include "airports/static_select.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "airports/catalogue.h"
#include "core/log.h"

namespace vntx {

ScheduleTime scheduleTimeOf(std::uint64_t scheduleSlot) {
    ScheduleTime t;
    t.day = static_cast<std::uint32_t>(scheduleSlot & 0xffffffffu);
    t.slot = static_cast<std::uint32_t>(scheduleSlot >> 32);
    if (t.day < 1 || t.day > 7) t.day = 1;
    if (t.slot > 47) t.slot = 47;
    return t;
}

ScheduleTime stepBack(ScheduleTime t, int steps) {
    int slot = static_cast<int>(t.slot) - steps;
    int day = static_cast<int>(t.day);
    while (slot < 0) {
        slot += 48;
        day = day == 1 ? 7 : day - 1;
    }
    return {static_cast<std::uint32_t>(day), static_cast<std::uint32_t>(slot)};
}

double fitStepHours(int step) {
    if (step < 0) return 0.0;
    if (step <= 9) return 0.5 * (step + 1);
    if (step <= 21) return 6.0 + (step - 10) / 2;
    if (step <= 25) return 12.0;
    if (step <= 31) return 15.0;
    if (step <= 37) return 18.0;
    if (step <= 43) return 21.0;
    return 24.0;
}

const char* dayName(std::uint32_t day) {
    static const char* kNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    return day >= 1 && day <= 7 ? kNames[day - 1] : "?";
}

int wantedStaticCount(int maxParkSel, int percentage, std::size_t stands) {
    if (maxParkSel <= 0 || stands == 0) return 0;
    const int n = static_cast<int>(stands);
    int wanted = 1;
    if (n > 1 && (n > 3 || percentage >= 50)) wanted = static_cast<int>(std::lround(percentage * n / 100.0));
    return std::min(maxParkSel, wanted);
}

std::string lf_detcs(const StaticCandidate& c) {
    const std::string& chosen = c.stays ? c.callsign : c.callsign_extra;
    if (!chosen.empty()) return chosen;
    const std::string& other = c.stays ? c.callsign_extra : c.callsign;
    if (other.empty()) logErrorf("{} callsign is empty..", "lf_detcs");
    return other;
}

void clearStandMarks(ParkAirport& airport) {
    for (auto& p : airport.positions) p.marks = 0;
}

namespace {

ParkPosition* standAt(ParkAirport& airport, std::uint32_t index) {
    if (index == 0 || index > airport.positions.size()) return nullptr;
    return &airport.positions[index - 1];
}

// Whether a neighbour stand's live aircraft leaves no room for this type here.
bool liveWingsInTheWay(const ParkPosition& stand, const SelectionContext& ctx, std::string_view type) {
    if (ctx.liveOnStands.empty() || stand.neighbours.empty()) return false;
    const double span = ctx.halfWingspan ? ctx.halfWingspan(type) : 0.0;
    for (const auto& use : ctx.liveOnStands) {
        if (std::find(stand.neighbours.begin(), stand.neighbours.end(), use.stand) == stand.neighbours.end()) continue;
        if (use.halfSpan + span > distanceNm(use.lat, use.lon, stand.lat, stand.lon)) return true;
    }
    return false;
}

// The following half hour is covered too: the same occurrence's next slot, or
// after the last slot of the day, a matching occurrence of the next day at slot 0.
bool staysNextSlot(const ParkPosition& stand, const StandOccupancy& o, ScheduleTime target) {
    if (o.callsign_extra.empty()) return true;
    if (target.slot < 47) return o.hours.test(target.slot + 1);
    const std::uint32_t nextDay = o.day >= 7 ? 1 : o.day + 1;
    for (const auto& other : stand.occupancies)
        if (other.number != 0 && other.day == nextDay && other.airline == o.airline && other.type == o.type &&
            other.hours.test(0))
            return true;
    return false;
}

}  // namespace

void takeStand(ParkAirport& airport, std::uint32_t index) {
    ParkPosition* stand = standAt(airport, index);
    if (!stand) return;
    stand->marks |= kStandTaken;
    for (auto n : stand->neighbours)
        if (ParkPosition* nb = standAt(airport, n)) nb->marks |= kStandBlocked;
}

std::size_t lf_searchStands(ParkAirport& airport, const SelectionContext& ctx, ScheduleTime now, bool real, bool today,
                            int step, std::vector<StaticCandidate>& candidates) {
    const ScheduleTime target = stepBack(now, step);
    std::vector<std::size_t> found;
    found.reserve(16);
    std::size_t added = 0;
    for (auto& stand : airport.positions) {
        if (stand.marks & (kStandTaken | kStandReserved | kStandBlocked)) continue;
        if (stand.heli && !ctx.rules.helicopters) continue;
        found.clear();
        for (std::size_t i = 0; i < stand.occupancies.size(); ++i) {
            const auto& o = stand.occupancies[i];
            if (o.number == 0 || o.real != real) continue;
            if (today && o.day != target.day) continue;
            if (!o.hours.test(target.slot)) continue;
            if (liveWingsInTheWay(stand, ctx, o.type)) continue;
            found.push_back(i);
        }
        if (found.empty()) continue;
        if (found.size() >= 2 && ctx.rules.random && ctx.rng) std::shuffle(found.begin(), found.end(), *ctx.rng);
        StandOccupancy& o = stand.occupancies[found.front()];
        const bool held = !o.reg.empty() && std::any_of(candidates.begin(), candidates.end(),
                                                        [&](const StaticCandidate& c) { return c.reg == o.reg; });
        const auto flying = [&](const std::string& s) { return !s.empty() && ctx.inSimulator && ctx.inSimulator(s); };
        if (held || flying(o.reg) || flying(o.callsign) || flying(o.callsign_extra)) {
            o.number = 0;  // not offered again, not written back
            continue;
        }
        StaticCandidate c;
        c.stand = stand.index;
        c.fit = step;
        c.airline = o.airline;
        c.type = o.type;
        c.callsign = o.callsign;
        c.callsign_extra = o.callsign_extra;
        c.reg = o.reg;
        c.stays = staysNextSlot(stand, o, target);
        candidates.push_back(std::move(c));
        takeStand(airport, stand.index);
        ++added;
    }
    return added;
}

namespace {

struct Pass {
    bool real;
    bool today;
    const char* kind;
};

}  // namespace

SelectionOutcome runSelectionPasses(ParkAirport& airport, const SelectionContext& ctx, ScheduleTime now, int wanted,
                                    int parked, std::vector<StaticCandidate>& candidates) {
    SelectionOutcome out;
    const std::size_t start = candidates.size();
    const auto taken = [&] { return static_cast<int>(candidates.size() - start) + parked; };
    const Pass passes[] = {{true, true, "real"},
                           {true, false, "week/real"},
                           {false, true, "soft"},
                           {false, false, "week/soft"}};
    for (const auto& pass : passes) {
        if (taken() >= wanted) break;
        if (!pass.today && !ctx.rules.week) continue;
        if (!pass.real && !ctx.rules.parkSoft) continue;
        const std::size_t before = candidates.size();
        int step = 0;
        for (; step <= ctx.rules.maxFit; ++step) {
            lf_searchStands(airport, ctx, now, pass.real, pass.today, step, candidates);
            if (taken() >= wanted) break;
        }
        step = std::min(step, ctx.rules.maxFit);
        // A step may add more than were missing: the last ones found go.
        while (taken() > wanted && candidates.size() > before) candidates.pop_back();
        const std::size_t n = candidates.size() - before;
        if (n == 0) continue;
        out.softUsed = out.softUsed || !pass.real;
        out.weekUsed = out.weekUsed || !pass.today;
        logf("{} {} position{} found, Max fit={:.1F} hours{}{}", n, pass.kind, n == 1 ? "" : "s",
             ctx.rules.maxFitHours, fmt::format(", day {}", now.day),
             fmt::format(", hh:{} or {:.1F} hrs, fit: {:.1F} hour", now.slot, fitStepHours(static_cast<int>(now.slot)),
                         fitStepHours(step)));
    }
    std::stable_sort(candidates.begin() + static_cast<std::ptrdiff_t>(start), candidates.end(),
                     [](const StaticCandidate& a, const StaticCandidate& b) { return a.fit < b.fit; });
    const int room = std::max(0, wanted - parked);
    if (static_cast<int>(candidates.size() - start) > room) candidates.resize(start + static_cast<std::size_t>(room));
    out.added = candidates.size() - start;
    if (out.added > 0) {
        double sum = 0;
        for (std::size_t i = start; i < candidates.size(); ++i) sum += fitStepHours(candidates[i].fit);
        out.averageFitHours = sum / static_cast<double>(out.added);
    }
    return out;
}

}  // namespace vntx
