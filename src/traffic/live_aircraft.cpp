#include "traffic/live_aircraft.h"

#include <algorithm>
#include <iterator>

#include <fmt/format.h>

namespace vntx::traffic {

const char* stateName(AcState s) {
    switch (s) {
        case AcState::buffer: return "buffer";
        case AcState::adding2sim: return "adding2sim";
        case AcState::active: return "active";
        case AcState::liveryrespawn: return "liveryrespawn";
        case AcState::removingfromsim: return "removingfromsim";
    }
    return "?";
}

const char* flightStateName(FlightState s) {
    switch (s) {
        case FlightState::pushing_back: return "pushing_back";
        case FlightState::pushed_back: return "pushed_back";
        case FlightState::taxi: return "taxi";
        case FlightState::take_off: return "take_off";
        case FlightState::flying: return "flying";
        case FlightState::parking: return "parking";
        case FlightState::parked: return "parked";
        case FlightState::birth: return "birth";
    }
    return "?";
}

const CategoryLimits& categoryLimits(Category c) {
    static const CategoryLimits table[6] = {
        {40 * kDeg, 0.035 * kDeg, 0.01 * kDeg, 90},     // Light
        {35 * kDeg, 0.0275 * kDeg, 0.0085 * kDeg, 110}, // Buzjets
        {30 * kDeg, 0.02 * kDeg, 0.0075 * kDeg, 140},   // Large
        {20 * kDeg, 0.015 * kDeg, 0.005 * kDeg, 150},   // Heavy
        {90 * kDeg, 0.1 * kDeg, 0.03 * kDeg, 220},      // HighPerf
        {75 * kDeg, 0.06 * kDeg, 0.03 * kDeg, 0},       // Rotorcraft
    };
    const int i = static_cast<int>(c);
    return table[(i >= 0 && i < 6) ? i : 2];
}

MotionConstants motionConstants(Category c, std::mt19937& rng) {
    static const MotionConstants table[6] = {
        {250, 250, 100, 200, -9 * kDeg, -15 * kDeg, 0.15 * kDeg, 0.5, 5.0},
        {300, 300, 200, 250, -8 * kDeg, -18 * kDeg, 0.1 * kDeg, 0.75, 4.5},
        {400, 350, 200, 300, -6 * kDeg, -16.5 * kDeg, 0.07 * kDeg, 0.6, 4.0},
        {450, 450, 250, 400, -5 * kDeg, -12.5 * kDeg, 0.05 * kDeg, 0.5, 3.0},
        {150, 150, 100, 200, -6 * kDeg, -20 * kDeg, 0.1 * kDeg, 1.0, 4.5},
        {100, 100, 100, 100, -20 * kDeg, -30 * kDeg, 0.2 * kDeg, 0.75, 5.0},
    };
    const int i = static_cast<int>(c);
    MotionConstants m = table[(i >= 0 && i < 6) ? i : 2];
    std::bernoulli_distribution coin(0.5);
    m.rotationPitch *= coin(rng) ? 1.025 : 0.975;
    m.climbPitch *= coin(rng) ? 1.05 : 0.95;
    return m;
}

double targetPitch(double verticalRate) {
    double v = verticalRate;
    if (v > 2400) v = 2400;
    if (v < 0) v = std::max(v, -3000.0) / 2;
    return -(3 * kDeg + v / 600 * 2.2 * kDeg);
}

bool reverseThrustFor(Category c, std::string_view aircraftType) {
    // The BAe 146 and Avro RJ brake with their tail air brake instead;
    // the Tornado and Concorde are fast jets that do reverse.
    static constexpr std::string_view kWithoutReversers[] = {"B461", "B462", "B463", "RJ70", "RJ85", "RJ1H"};
    static constexpr std::string_view kFastWithReversers[] = {"TOR", "CONC"};
    auto listed = [&](const auto& list) {
        return std::find(std::begin(list), std::end(list), aircraftType) != std::end(list);
    };
    switch (c) {
        case Category::Buzjets:
        case Category::Large:
        case Category::Heavy: return !listed(kWithoutReversers);
        case Category::HighPerf: return listed(kFastWithReversers);
        case Category::Light:
        case Category::Rotorcraft: return false;
    }
    return false;
}

std::mt19937& trafficRandom() {
    thread_local std::mt19937 engine{std::random_device{}()};
    return engine;
}

void seedTrafficRandom(std::uint32_t seed) { trafficRandom().seed(seed); }

std::string LiveAircraft::name() const {
    if (!callsign.empty()) return callsign;
    if (!registration.empty()) return registration;
    return fmt::format("{:06X}", hexid);
}

}  // namespace vntx::traffic
