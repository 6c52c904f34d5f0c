#include "dense.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <random>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>

namespace rtfeed {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMetresPerDegree = 6371000.0 * kPi / 180.0;
constexpr double kMetresPerNm = 1852.0;

double wrap360(double a) {
    a = std::fmod(a, 360.0);
    return a < 0 ? a + 360.0 : a;
}

// East and north metres of a point from an origin (flat earth: good to a few
// hundred metres over the radii used here).
std::pair<double, double> offsetMetres(double lat, double lon, double lat0, double lon0) {
    double dLon = lon - lon0;
    if (dLon > 180) dLon -= 360;
    if (dLon < -180) dLon += 360;
    return {dLon * std::cos(lat0 * kPi / 180.0) * kMetresPerDegree, (lat - lat0) * kMetresPerDegree};
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// The airline of an airline call sign (three letters and a digit), else empty.
std::string airlineOf(const std::string& callsign) {
    if (callsign.size() < 4) return {};
    for (int i = 0; i < 3; ++i)
        if (!std::isalpha(static_cast<unsigned char>(callsign[i]))) return {};
    return std::isdigit(static_cast<unsigned char>(callsign[3])) ? callsign.substr(0, 3) : std::string();
}

}  // namespace

std::pair<double, double> recordingCentre(const std::vector<Report>& reports) {
    // The airport the recording was made around: where its aircraft stand and
    // taxi, else where they fly low, else the middle of everything.
    for (const double below : {0.0, 3000.0, 1e9}) {
        std::vector<double> lats, lons;
        for (const auto& r : reports)
            if (below == 0 ? r.onGround : r.altitude < below) {
                lats.push_back(r.lat);
                lons.push_back(r.lon);
            }
        if (lats.size() >= 20 || (below > 1e8 && !lats.empty()))
            return {median(std::move(lats)), median(std::move(lons))};
    }
    return {0, 0};
}

std::vector<Track> splitTracks(const std::vector<Report>& reports, double originLat, double originLon,
                               const TrackLimits& limits) {
    std::unordered_map<std::uint32_t, std::vector<const Report*>> byHex;
    for (const auto& r : reports) byHex[r.hex].push_back(&r);
    std::vector<std::uint32_t> order;
    for (const auto& [hex, _] : byHex) order.push_back(hex);
    std::sort(order.begin(), order.end());  // the output does not depend on the hash map's order
    std::vector<Track> out;
    const double radius = limits.radiusNm * kMetresPerNm;
    for (auto hex : order) {
        auto& list = byHex[hex];
        std::stable_sort(list.begin(), list.end(), [](const Report* a, const Report* b) { return a->time < b->time; });
        Track current;
        current.originLat = originLat;
        current.originLon = originLon;
        auto finish = [&] {
            if (current.reports.size() >= limits.minReports && current.duration() >= limits.minSeconds &&
                !current.reports.front().type.empty() && !current.reports.front().registration.empty())
                out.push_back(current);
            current.reports.clear();
        };
        for (const Report* r : list) {
            const auto [e, n] = offsetMetres(r->lat, r->lon, originLat, originLon);
            if (std::hypot(e, n) > radius) {
                finish();
                continue;
            }
            if (!current.reports.empty() &&
                (r->time - current.reports.back().time > limits.maxGapSeconds ||
                 r->type != current.reports.front().type))
                finish();
            if (!current.reports.empty() && r->time == current.reports.back().time) continue;  // a repeated report
            current.reports.push_back(*r);
        }
        finish();
    }
    return out;
}

Report moveReport(const Report& r, double fromLat, double fromLon, double toLat, double toLon, double degrees) {
    const auto [e, n] = offsetMetres(r.lat, r.lon, fromLat, fromLon);
    const double a = degrees * kPi / 180.0;
    const double e2 = e * std::cos(a) + n * std::sin(a);
    const double n2 = n * std::cos(a) - e * std::sin(a);
    Report out = r;
    out.lat = toLat + n2 / kMetresPerDegree;
    out.lon = toLon + e2 / (kMetresPerDegree * std::cos(toLat * kPi / 180.0));
    if (out.lon > 180) out.lon -= 360;
    if (out.lon < -180) out.lon += 360;
    out.track = wrap360(r.track + degrees);
    if (r.heading) out.heading = wrap360(*r.heading + degrees);
    return out;
}

std::vector<Report> denseScenario(const std::vector<Track>& tracks, const DenseOptions& o) {
    if (tracks.empty()) throw std::invalid_argument("no recorded flight to fly");
    std::mt19937_64 rng(o.seed);
    std::uniform_int_distribution<std::size_t> pickTrack(0, tracks.size() - 1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<std::uint32_t> pickHex(0x100000, 0xEFFFFF);
    std::unordered_set<std::uint32_t> hexes;
    std::unordered_map<std::string, int> numbers;  // the next flight number per call sign prefix
    const double end = o.startTime + o.seconds;
    std::vector<Report> out;
    for (int slot = 0; slot < o.aircraft; ++slot) {
        // The slot's first flight is already under way when the scenario starts.
        const Track* t = &tracks[pickTrack(rng)];
        double at = o.startTime - unit(rng) * t->duration();
        while (at < end) {
            std::uint32_t hex;
            do hex = pickHex(rng);
            while (!hexes.insert(hex).second);
            const std::string airline = airlineOf(t->reports.front().callsign);
            const std::string prefix = airline.empty() ? std::string("N") : airline;
            const std::string callsign = fmt::format("{}{}", prefix, ++numbers[prefix] + (airline.empty() ? 100 : 0));
            const double turn = unit(rng) * 360.0;
            for (const auto& r : t->reports) {
                const double time = at + (r.time - t->start());
                if (time < o.startTime) continue;
                if (time >= end) break;
                Report m = moveReport(r, t->originLat, t->originLon, o.centreLat, o.centreLon, turn);
                m.time = time;
                m.hex = hex;
                m.callsign = callsign;
                out.push_back(std::move(m));
            }
            at += t->duration() + 1.0 + unit(rng) * o.maxPauseSeconds;
            t = &tracks[pickTrack(rng)];
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const Report& a, const Report& b) {
        return a.time < b.time || (a.time == b.time && a.hex < b.hex);
    });
    return out;
}

}  // namespace rtfeed
