#include "liveries/matching.h"

#include <algorithm>
#include <random>

#include <fmt/format.h>

#include "core/log.h"
#include "core/parameters.h"
#include "liveries/catalogue.h"

namespace vntx {

namespace {

std::mt19937_64& engine() {
    thread_local std::mt19937_64 e{std::random_device{}()};
    return e;
}

bool isSmallClass(AircraftCategory c) {
    return c == AircraftCategory::Light || c == AircraftCategory::Buzjets || c == AircraftCategory::Rotorcraft;
}

constexpr std::string_view kGeneric = "ZZZ";
constexpr std::string_view kPrivate = "PVT";

}  // namespace

void seedMatchingRandom(std::uint64_t seed) { engine().seed(seed); }

std::size_t LiveryMatcher::randomIndex(std::size_t n) const {
    if (!random_ || n < 2) return 0;
    return static_cast<std::size_t>(engine()() % n);
}

std::string_view LiveryMatcher::pick(const std::vector<std::string_view>& list) const {
    const auto& regcodes = catalogue_.regcodes();
    std::string_view chosen;
    for (int attempt = 0; attempt < 5; ++attempt) {
        chosen = list[randomIndex(list.size())];
        if (!regcodes.isSpecialTitle(chosen)) return chosen;
    }
    std::vector<std::string_view> ordinary;
    for (auto t : list)
        if (!regcodes.isSpecialTitle(t)) ordinary.push_back(t);
    if (!ordinary.empty()) return ordinary[randomIndex(ordinary.size())];
    return chosen;
}

const std::vector<std::string_view>* LiveryMatcher::lookup(bool cargo, std::string_view airline,
                                                           std::string_view model) const {
    const auto* list = catalogue_.liveries(cargo, airline, model);
    // A cargo aircraft may wear a passenger livery, never the other way round.
    if (!list && cargo) list = catalogue_.liveries(false, airline, model);
    return list && !list->empty() ? list : nullptr;
}

bool LiveryMatcher::accept(LiveryRequest& aircraft, std::string_view title, int step, bool live) {
    if (title.empty() || (!refused_.empty() && isRefused(title))) return false;
    if (live && !aircraft.trial) ++counters_[step];
    if (logIsOpen() && !aircraft.trial) logf("          {} ={}= {}", aircraft.logName, step, title);
    aircraft.title.assign(title);
    aircraft.fsltl = title.find("FSLTL_") != std::string_view::npos;
    aircraft.step = step;
    return true;
}

bool LiveryMatcher::run(LiveryRequest& a, bool live, std::string_view callsign) {
    if (fromSettings_) {
        depth_ = params().MATCHING_DEPTH.get();
        random_ = params().RANDOM.get();
    }
    const int depth = depth_;
    a.title.clear();
    a.fsltl = false;
    a.step = -1;
    auto fail = [&]() {
        if (!live && logIsOpen()) logf("{:8}: {} no livery match ...", callsign, a.logName);
        return false;
    };

    // 1. The livery made for this registration.
    if (!a.registration.empty()) {
        if (const std::string_view* title = catalogue_.regcodes().titleFor(a.registration)) {
            const int step = catalogue_.regcodes().isSingleRegistration(a.registration) ? 0 : 1;
            if (accept(a, *title, step, live)) return true;
        }
    }
    if (depth < 2) return fail();

    const bool isPrivate = a.airline == kPrivate;
    if (isPrivate)
        if (const auto* list = lookup(a.cargo, kGeneric, a.model); list && accept(a, pick(*list), 4, live))
            return true;

    std::string_view owner;
    if (!a.registration.empty())
        if (const RegistrationRecord* rec = db_.registration(a.registration); rec && !rec->opr.empty())
            owner = rec->airline;

    if (!a.airline.empty()) {
        if (const auto* list = lookup(a.cargo, a.airline, a.model); list && accept(a, pick(*list), 2, live))
            return true;
        if (!owner.empty())
            if (const auto* list = lookup(a.cargo, owner, a.model); list && accept(a, pick(*list), 2, live))
                return true;
    }
    if (depth < 3) return fail();

    auto similarOf = [&](std::string_view airline) {
        const auto* similar = catalogue_.airlineSimilarModels(airline, a.model);
        if (!similar) return false;
        std::vector<std::string_view> order(similar->begin(), similar->end());
        if (random_ && order.size() > 1) std::shuffle(order.begin(), order.end(), engine());
        for (std::string_view model : order) {
            if (db_.category(model) != a.category) continue;
            if (const auto* list = lookup(a.cargo, airline, model); list && accept(a, pick(*list), 3, live))
                return true;
        }
        return false;
    };
    if (!a.airline.empty()) {
        if (similarOf(a.airline)) return true;
        if (!owner.empty() && similarOf(owner)) return true;
    }

    if (depth == 4)
        if (const auto* list = lookup(a.cargo, kGeneric, a.model); list && accept(a, pick(*list), 4, live))
            return true;
    if (!isSmallClass(a.category)) return fail();
    if (!isPrivate)
        if (const auto* list = lookup(a.cargo, kGeneric, a.model); list && accept(a, pick(*list), 4, live))
            return true;
    if (const auto* list = catalogue_.modelLiveries(a.cargo, a.model);
        list && !list->empty() && accept(a, pick(*list), 5, live))
        return true;
    if (const auto* similar = catalogue_.similarModels(a.model)) {
        std::vector<std::string_view> order(similar->begin(), similar->end());
        if (random_ && order.size() > 1) std::shuffle(order.begin(), order.end(), engine());
        for (std::string_view model : order)
            if (const auto* list = catalogue_.modelLiveries(a.cargo, model);
                list && !list->empty() && accept(a, pick(*list), 6, live))
                return true;
    } else {
        const auto& models = catalogue_.classModels(a.category);
        if (!models.empty()) {
            const std::string& model = models[randomIndex(models.size())];
            if (const auto* list = catalogue_.modelLiveries(a.cargo, model);
                list && !list->empty() && accept(a, pick(*list), 6, live))
                return true;
        }
    }
    return fail();
}

bool LiveryMatcher::matchLive(LiveryRequest& aircraft) { return run(aircraft, true, {}); }

bool LiveryMatcher::matchStatic(LiveryRequest& aircraft, bool scheduleCargo, std::string_view callsign) {
    if (!aircraft.title.empty()) {
        if (logIsOpen()) logf("          {} =s= {}", aircraft.logName, aircraft.title);
        aircraft.fsltl = aircraft.title.find("FSLTL_") != std::string::npos;
        return true;
    }
    aircraft.cargo = scheduleCargo;
    return run(aircraft, false, callsign);
}

void LiveryMatcher::addRefusedTitle(std::string_view title) {
    if (refused_.emplace(title).second) refusedOrder_.emplace_back(title);
}

std::vector<std::string> LiveryMatcher::summaryLines() const {
    std::vector<std::string> lines;
    if (std::all_of(counters_.begin(), counters_.end(), [](auto c) { return c == 0; })) return lines;
    const std::string text = " live traffic livery matching summary ";
    const std::size_t left = (100 - text.size()) / 2;
    lines.push_back(std::string(left, '*') + text + std::string(100 - left - text.size(), '*'));
    lines.push_back("Matches at step: ");
    for (int s = 0; s < kMatchingSteps; ++s) lines.push_back(fmt::format("  {}: {}", s, counters_[s]));
    if (!refusedOrder_.empty()) {
        lines.push_back(fmt::format("\nCould not be created by {}:", "P3D"));
        for (const auto& t : refusedOrder_) lines.push_back(t);
    }
    lines.push_back(std::string(100, '*'));
    return lines;
}

LiveryMatcher& liveryMatcher() {
    static LiveryMatcher matcher = [] {
        LiveryMatcher m(catalogue(), database());
        m.useSettings(true);
        return m;
    }();
    return matcher;
}

bool matchLiveLivery(LiveryRequest& aircraft) { return liveryMatcher().matchLive(aircraft); }
bool matchStaticLivery(LiveryRequest& aircraft, bool scheduleCargo, std::string_view callsign) {
    return liveryMatcher().matchStatic(aircraft, scheduleCargo, callsign);
}
void addRefusedTitle(std::string_view title) { liveryMatcher().addRefusedTitle(title); }

std::set<std::string>& noLiverySet() {
    static std::set<std::string> set;
    return set;
}

std::string noLiveryKey(std::string_view airline, std::string_view model, std::string_view registration) {
    return fmt::format("{:3} {:4} {}", airline, model, registration);
}

void writeMatchingSummary() {
    for (const auto& line : liveryMatcher().summaryLines()) logLine(line);
}

void writeNoMatchReport() {
    const auto& set = noLiverySet();
    if (set.empty()) return;
    logLine("\nNo match found for:");
    for (const auto& key : set) logLine(key);
    logLine("");
}

}  // namespace vntx
