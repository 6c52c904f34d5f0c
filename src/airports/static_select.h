// The choice of static (parked) aircraft for the park airport's stands: how
// many, and which recorded occurrence goes on which stand for the current
// weekday and half hour, tolerating older slots step by step.
//
// Pure functions of the stand table, the rules and what is already in the
// simulator; the only state they change is the stands' marks and the
// occurrence numbers they withdraw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "airports/park_file.h"

namespace vntx {

// A moment of the weekly schedule: weekday 1 (Monday) .. 7, half hour 0..47.
struct ScheduleTime {
    std::uint32_t day = 1;
    std::uint32_t slot = 0;
    // Weekday x 48 + slot: later moments of the week count higher.
    std::uint32_t weekIndex() const { return day * 48 + slot; }
};
// The scheduleSlot word of the cycle (weekday low, half hour high).
ScheduleTime scheduleTimeOf(std::uint64_t scheduleSlot);
// The moment `steps` half hours earlier, across midnight and Monday.
ScheduleTime stepBack(ScheduleTime t, int steps);
// The hours a fit step (or slot) stands for: 0 -> 0.5 ... 9 -> 5.0, then coarser.
double fitStepHours(int step);
const char* dayName(std::uint32_t day);  // "Mon" .. "Sun", "?" otherwise

// How many stands to fill: p % of n (at least one on small airports), at most maxParkSel.
int wantedStaticCount(int maxParkSel, int percentage, std::size_t stands);

// The order for one static aircraft.
struct StaticCandidate {
    std::uint32_t stand = 0;  // the stand's index (1-based)
    std::int32_t fit = 0;     // the fit step it was found at
    std::string airline, type, callsign, callsign_extra, reg;
    bool stays = true;        // it also stands there in the following half hour
};
// The callsign a static aircraft shows: callsign while it stays, else the
// departure callsign; the other one when the chosen one is empty.
std::string lf_detcs(const StaticCandidate& candidate);

struct SelectionRules {
    int maxFit = 47;          // largest fit step searched
    double maxFitHours = 24;  // the same limit as MAX_FIT_FL shows it
    bool week = false;        // other weekdays too
    bool parkSoft = false;    // soft occurrences too
    bool random = true;       // random order among a stand's candidates
    bool helicopters = true;  // helicopter stands may be filled
};

// A live aircraft assigned to a stand: its wings keep static aircraft off the
// neighbouring stands they would touch.
struct LiveStandUse {
    std::uint32_t stand = 0;  // index
    double lat = 0, lon = 0;
    double halfSpan = 0;      // nm
};

struct SelectionContext {
    SelectionRules rules;
    // True when an aircraft with this registration or callsign is in the
    // simulator already (live or parked).
    std::function<bool(std::string_view)> inSimulator;
    std::function<double(std::string_view type)> halfWingspan;  // nm
    std::vector<LiveStandUse> liveOnStands;
    std::mt19937* rng = nullptr;
};

// Marks a stand taken and its neighbours blocked.
void takeStand(ParkAirport& airport, std::uint32_t index);
void clearStandMarks(ParkAirport& airport);

// One search at one fit step: at most one new candidate per free stand,
// appended to candidates. Returns the number added.
std::size_t lf_searchStands(ParkAirport& airport, const SelectionContext& ctx, ScheduleTime now, bool real, bool today,
                            int step, std::vector<StaticCandidate>& candidates);

// What a selection did, for the log and the window.
struct SelectionOutcome {
    std::size_t added = 0;
    bool softUsed = false;
    bool weekUsed = false;
    double averageFitHours = 0;
};

// The passes (real today, real any day, soft today, soft any day, as the
// rules allow), each while fewer than wanted stands are taken; `parked`
// stands are taken already (an adjustment adds only the difference). The
// candidates are then sorted by fit and cut to wanted - parked.
SelectionOutcome runSelectionPasses(ParkAirport& airport, const SelectionContext& ctx, ScheduleTime now, int wanted,
                                    int parked, std::vector<StaticCandidate>& candidates);

}  // namespace vntx
