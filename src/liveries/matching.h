// Livery matching: the installed livery that looks most like a real
// aircraft, by a ladder of steps from its own registration down to any
// livery of its size class. Runs on the cycle thread.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "refdata/dbase.h"

namespace vntx {

class LiveryCatalogue;

// The aircraft to be matched and the result.
struct LiveryRequest {
    std::string_view airline;       // operator ICAO code, "PVT" private, may be empty
    std::string_view model;
    std::string_view registration;  // may be empty
    AircraftCategory category = AircraftCategory::Light;
    bool cargo = false;
    std::string_view logName;       // how the log lines name the aircraft
    bool trial = false;             // a trial (live only): neither counted nor logged
    // Output (the static variant accepts a title filled in advance).
    std::string title;
    bool fsltl = false;
    int step = -1;                  // the step that matched, -1 for none
};

inline constexpr int kMatchingSteps = 7;

class LiveryMatcher {
public:
    LiveryMatcher(const LiveryCatalogue& catalogue, const Database& db) : catalogue_(catalogue), db_(db) {}

    // MATCHING_DEPTH and RANDOM; the program's matcher reads them from the settings.
    void setDepth(int depth) { depth_ = depth; }
    void setRandom(bool random) { random_ = random; }
    void useSettings(bool fromSettings) { fromSettings_ = fromSettings; }

    // Fills title and FSLTL flag, or leaves the title empty; counts the step.
    bool matchLive(LiveryRequest& aircraft);
    // The same ladder for a static parked aircraft; logs instead of counting.
    bool matchStatic(LiveryRequest& aircraft, bool scheduleCargo, std::string_view callsign);

    // Titles the simulator refused to create: never chosen again.
    void addRefusedTitle(std::string_view title);
    bool isRefused(std::string_view title) const { return refused_.count(std::string(title)) != 0; }
    const std::vector<std::string>& refusedTitles() const { return refusedOrder_; }

    const std::array<std::uint64_t, kMatchingSteps>& counters() const { return counters_; }
    void resetCounters() { counters_.fill(0); }
    // Summary lines for the log (empty when nothing matched yet).
    std::vector<std::string> summaryLines() const;

private:
    bool run(LiveryRequest& aircraft, bool live, std::string_view callsign);
    std::string_view pick(const std::vector<std::string_view>& list) const;
    const std::vector<std::string_view>* lookup(bool cargo, std::string_view airline, std::string_view model) const;
    bool accept(LiveryRequest& aircraft, std::string_view title, int step, bool live);
    std::size_t randomIndex(std::size_t n) const;

    const LiveryCatalogue& catalogue_;
    const Database& db_;
    int depth_ = 4;
    bool random_ = true;
    bool fromSettings_ = false;
    std::array<std::uint64_t, kMatchingSteps> counters_{};
    std::unordered_set<std::string> refused_;
    std::vector<std::string> refusedOrder_;
};

// Seeds this thread's matching random engine (tests).
void seedMatchingRandom(std::uint64_t seed);

// The program's matcher on catalogue() and database(), following the settings.
LiveryMatcher& liveryMatcher();
bool matchLiveLivery(LiveryRequest& aircraft);
bool matchStaticLivery(LiveryRequest& aircraft, bool scheduleCargo, std::string_view callsign);
void addRefusedTitle(std::string_view title);

// The aircraft for which no livery was found: "{:3} {:4} {}" (airline,
// model, registration). Filled by the traffic code.
std::set<std::string>& noLiverySet();
std::string noLiveryKey(std::string_view airline, std::string_view model, std::string_view registration);

// The log writers the cycle calls.
void writeMatchingSummary();
void writeNoMatchReport();

}  // namespace vntx
