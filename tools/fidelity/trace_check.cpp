#include "trace_check.h"

#include "svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include <fmt/format.h>
#include <pugixml.hpp>
#include <nlohmann/json.hpp>

#include "traffic/traffic_manager.h"

namespace vntx::fidelity {

namespace {

double percentileOf(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const double rank = std::ceil(p * static_cast<double>(v.size()));
    const std::size_t i = rank < 1 ? 0 : std::min(v.size() - 1, static_cast<std::size_t>(rank) - 1);
    return v[i];
}

double metres(double lat1, double lon1, double lat2, double lon2) {
    return traffic::distanceNm(lat1, lon1, lat2, lon2) * 1852.0;
}

double headingDiffDeg(double a, double b) {
    double d = std::fmod(a - b, 360.0);
    if (d > 180) d -= 360;
    if (d < -180) d += 360;
    return std::fabs(d);
}

std::string stripGhost(std::string s) {
    if (!s.empty() && s.back() == '_') s.pop_back();
    return s;
}

// Where the object was at time t: between the two traced positions around
// it (none when the object was not there, or the trace has a gap there).
bool positionAt(const TraceObject& o, double t, double& lat, double& lon) {
    const auto& p = o.points;
    if (p.empty() || t < p.front().t - 0.05 || t > p.back().t + 0.05) return false;
    auto it = std::lower_bound(p.begin(), p.end(), t, [](const TracePoint& a, double v) { return a.t < v; });
    if (it == p.end()) it = p.end() - 1;
    if (it == p.begin() || it->t <= t) {
        if (std::fabs(it->t - t) > 0.5) return false;
        lat = it->lat;
        lon = it->lon;
        return true;
    }
    const TracePoint& b = *it;
    const TracePoint& a = *(it - 1);
    if (b.t - a.t > 1.5) return false;
    const double f = (t - a.t) / (b.t - a.t);
    lat = a.lat + (b.lat - a.lat) * f;
    lon = a.lon + (b.lon - a.lon) * f;
    return true;
}

// The landings of one object: each touchdown, and whether it rolled out,
// turned off the runway and ended removed or standing still.
void landings(const TraceObject& o, TraceFigures& f) {
    const auto& p = o.points;
    for (std::size_t i = 1; i < p.size(); ++i) {
        if (!(p[i].onGround && !p[i - 1].onGround)) continue;
        ++f.touchdowns;
        const double touchdownHeading = p[i].heading;
        bool slow = false, off = false;
        for (std::size_t k = i + 1, m = i; k < p.size() && p[k].onGround; ++k) {
            while (m < k && p[k].t - p[m].t > 1.0) ++m;
            const double dt = p[k].t - p[m].t;
            if (dt >= 0.5 && metres(p[m].lat, p[m].lon, p[k].lat, p[k].lon) / dt * 3600 / 1852 < 30) slow = true;
            if (headingDiffDeg(p[k].heading, touchdownHeading) >= 15) off = true;
        }
        f.rolledOut += slow;
        f.runwayExits += off;
        bool still = false;
        if (!o.removed && p.size() >= 2 && p.back().onGround) {
            std::size_t k = p.size() - 1;
            while (k > 0 && p.back().t - p[k - 1].t <= 10) --k;
            still = p.back().t - p[k].t >= 5 && metres(p[k].lat, p[k].lon, p.back().lat, p.back().lon) < 2;
        }
        f.landedEnded += o.removed || still;
    }
}

}  // namespace

std::vector<SentReport> readSentLog(std::istream& in, const input::DecoderSettings& settings) {
    std::vector<SentReport> out;
    input::TrafficDecoder decoder;
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        SentReport r;
        try {
            r.sentAt = std::stod(line.substr(0, tab));
        } catch (const std::exception&) {
            continue;
        }
        if (decoder.decode(std::string_view(line).substr(tab + 1), settings, r.record) != input::DecodeOutcome::Accepted)
            continue;
        out.push_back(std::move(r));
    }
    return out;
}

SimTrace readSimTrace(std::istream& in) {
    SimTrace trace;
    std::string line;
    auto known = [&](const nlohmann::json& j, const char* key) -> TraceObject* {
        if (!j.contains(key) || !j[key].is_number_unsigned()) return nullptr;
        auto it = trace.objects.find(j[key].get<std::uint32_t>());
        return it == trace.objects.end() ? nullptr : &it->second;
    };
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object()) continue;
        const double t = j.value("t", 0.0);
        trace.end = std::max(trace.end, t);
        const std::string op = j.value("op", "");
        if (j.value("event", "") == "start") {
            trace.wallStart = j.value("wall", 0.0);
        } else if (j.contains("pos")) {
            const auto id = j["pos"].get<std::uint32_t>();
            if (id <= 1) continue;  // the user aircraft
            auto& o = trace.objects[id];
            o.objectId = id;
            if (o.tail.empty()) o.tail = j.value("tail", "");
            // The first position is where the object was created.
            if (!o.points.empty()) ++o.placed;
            o.points.push_back({t, j.value("lat", 0.0), j.value("lon", 0.0), j.value("alt", 0.0), j.value("hdg", 0.0),
                                j.value("on_ground", false)});
        } else if (j.contains("removed")) {
            if (TraceObject* o = known(j, "removed")) {
                o->removed = true;
                o->removedAt = t;
            }
        } else if (op == "AICreateNonATCAircraft" && j.contains("object")) {
            const auto id = j["object"].get<std::uint32_t>();
            auto& o = trace.objects[id];
            o.objectId = id;
            o.tail = j.value("tail", "");
            o.title = j.value("title", "");
            o.createdAt = t;
        } else if (op == "AIReleaseControl" && !j.contains("exception")) {
            if (TraceObject* o = known(j, "object")) o->tied = true;
        } else if (op == "TransmitClientEvent" && j.value("event", "").rfind("FREEZE_", 0) == 0 && j.value("data", 0) != 0) {
            if (TraceObject* o = known(j, "object")) o->tied = true;
        }
    }
    for (auto& [id, o] : trace.objects)
        std::stable_sort(o.points.begin(), o.points.end(), [](const TracePoint& a, const TracePoint& b) { return a.t < b.t; });
    return trace;
}

TraceFigures checkTrace(const SimTrace& trace, const std::vector<SentReport>& reports, double delaySeconds,
                        double lastDue) {
    TraceFigures f;
    // Which aircraft each tail names: its call sign, else its registration;
    // a tail shared by several aircraft stays unmatched.
    std::unordered_map<std::string, std::set<std::uint32_t>> byCallsign, byRegistration;
    std::unordered_map<std::uint32_t, double> topSpeed;
    std::set<std::uint32_t> airborne;
    for (const auto& r : reports) {
        const auto& rec = r.record;
        if (!rec.callsign.empty()) byCallsign[rec.callsign].insert(rec.hexid);
        if (!rec.registration.empty()) byRegistration[rec.registration].insert(rec.hexid);
        topSpeed[rec.hexid] = std::max(topSpeed[rec.hexid], rec.groundSpeed);
        if (rec.airborne) airborne.insert(rec.hexid);
    }
    std::unordered_map<std::uint32_t, std::vector<const TraceObject*>> objectsOf;
    std::vector<double> groundRates;
    double traceEnd = 0;
    std::unordered_map<std::string, std::vector<const TraceObject*>> byTail;
    for (const auto& [id, o] : trace.objects) byTail[stripGhost(o.tail)].push_back(&o);
    // A parked aircraft of the airport may bear the call sign of an aircraft
    // the feed reports; the program removes it once it places that aircraft's
    // own object. Never moved, and a namesake placed while it stood, it is
    // that parked aircraft, not the reported one.
    auto parkedNamesake = [&](const TraceObject& o, const std::string& tail, double born, double gone) {
        if (o.placed != 0) return false;
        for (const TraceObject* other : byTail[tail])
            if (other != &o && other->placed != 0)
                for (std::size_t i = 1; i < other->points.size(); ++i)
                    if (other->points[i].t >= born && other->points[i].t <= gone) return true;
        return false;
    };
    for (const auto& [id, o] : trace.objects) {
        ++f.objectsCreated;
        if (o.removed) ++f.objectsRemoved;
        const double born = o.createdAt >= 0 ? o.createdAt : (o.points.empty() ? trace.end : o.points.front().t);
        const double gone = o.removedAt >= 0 ? o.removedAt : trace.end;
        const std::string tail = stripGhost(o.tail);
        const std::set<std::uint32_t>* owners = nullptr;
        if (auto it = byCallsign.find(tail); it != byCallsign.end()) owners = &it->second;
        else if (auto it2 = byRegistration.find(tail); it2 != byRegistration.end()) owners = &it2->second;
        if (owners && parkedNamesake(o, tail, born, gone)) owners = nullptr;
        if (gone - born >= kTakeOverSeconds) {
            ++f.objectsLivedLong;
            if (!o.tied) f.neverTied.push_back(id);
            // A parked (static) aircraft names no reported aircraft and stays where it was created.
            if (o.placed == 0 && owners) f.neverPlaced.push_back(id);
        }
        if (!o.points.empty()) traceEnd = std::max(traceEnd, o.points.back().t);
        std::uint32_t hexid = 0;
        if (owners && owners->size() == 1) {
            hexid = *owners->begin();
            objectsOf[hexid].push_back(&o);
            ++f.objectsMatched;
        }
        // motion of the object
        const double speed = std::max(hexid ? topSpeed[hexid] : 600.0, 30.0) * 1852.0 / 3600.0;  // m/s
        double travelled = 0;
        for (std::size_t i = 1; i < o.points.size(); ++i) {
            const auto& a = o.points[i - 1];
            const auto& b = o.points[i];
            const double step = metres(a.lat, a.lon, b.lat, b.lon);
            travelled += step;
            const double dt = std::max(b.t - a.t, 0.05);
            if (step > f.maxStep) {
                f.maxStep = step;
                f.maxStepSpeed = step / dt * 3600.0 / 1852.0;
                f.maxStepObject = id;
                f.maxStepAt = b.t;
            }
            // The times are the simulator's receipt of each position, which
            // on a busy machine lags the sender's by a few frames now and
            // then; a jump is a step no such lag explains.
            if (step > 2.0 * speed * std::max(dt, kReceiptJitterSeconds) + 2.0) ++f.teleports;
        }
        if (travelled > 100) ++f.objectsMoved;
        for (std::size_t i = 0, j = 0; i < o.points.size(); ++i) {
            while (j < o.points.size() && o.points[j].t < o.points[i].t + 1.0) ++j;
            if (j >= o.points.size()) break;
            const double dt = o.points[j].t - o.points[i].t;
            if (dt > 2.0) continue;
            const double rate = headingDiffDeg(o.points[j].heading, o.points[i].heading) / dt;
            f.maxHeadingRate = std::max(f.maxHeadingRate, rate);
            if (o.points[i].onGround && o.points[j].onGround) groundRates.push_back(rate);
        }
        landings(o, f);
    }
    f.airborneAircraft = airborne.size();
    for (auto h : airborne) {
        if (objectsOf.count(h))
            ++f.airborneCreated;
        else
            f.airborneNotCreated.push_back(h);
    }
    std::vector<double> distances, groundDistances;
    struct Measured {
        const TraceObject* object;
        double t, lat, lon;
    };
    std::vector<Measured> airborneMeasured;
    for (const auto& r : reports) {
        const bool ground = !r.record.airborne;
        const double due = r.sentAt + delaySeconds;
        if (lastDue > 0 && due > lastDue) continue;
        const double t = due - trace.wallStart;
        if (t > traceEnd - 1.0) continue;  // the run ended before it was due
        bool found = false;
        if (auto it = objectsOf.find(r.record.hexid); it != objectsOf.end()) {
            for (const TraceObject* o : it->second) {
                double lat, lon;
                if (positionAt(*o, t, lat, lon)) {
                    (ground ? groundDistances : distances)
                        .push_back(metres(lat, lon, r.record.latitude, r.record.longitude));
                    if (!ground) airborneMeasured.push_back({o, t, r.record.latitude, r.record.longitude});
                    found = true;
                    break;
                }
            }
        }
        if (!found) ++(ground ? f.groundNotInSim : f.notInSim);
    }
    f.groundSamples = groundDistances.size();
    f.groundMedian = percentileOf(groundDistances, 0.5);
    f.groundP95 = percentileOf(groundDistances, 0.95);
    f.groundMax = groundDistances.empty() ? 0 : *std::max_element(groundDistances.begin(), groundDistances.end());
    f.groundP99HeadingRate = percentileOf(groundRates, 0.99);
    f.groundMaxHeadingRate = groundRates.empty() ? 0 : *std::max_element(groundRates.begin(), groundRates.end());
    f.samples = distances.size();
    f.median = percentileOf(distances, 0.5);
    f.p95 = percentileOf(distances, 0.95);
    f.max = distances.empty() ? 0 : *std::max_element(distances.begin(), distances.end());
    f.lagMedian = f.median;
    f.lagP95 = f.p95;
    const int steps = static_cast<int>(std::lround(kMaxLagSeconds / kLagStepSeconds));
    for (int k = 1; k <= steps && !airborneMeasured.empty(); ++k) {
        const double lag = k * kLagStepSeconds;
        std::vector<double> late;
        for (const auto& m : airborneMeasured) {
            double lat, lon;
            if (positionAt(*m.object, m.t + lag, lat, lon)) late.push_back(metres(lat, lon, m.lat, m.lon));
        }
        // Only a lag at which (nearly) every report is still measured counts.
        if (late.size() * 10 < airborneMeasured.size() * 9) break;
        const double median = percentileOf(late, 0.5);
        if (median < f.lagMedian) {
            f.lag = lag;
            f.lagMedian = median;
            f.lagP95 = percentileOf(late, 0.95);
        }
    }
    return f;
}

std::string formatTraceFigures(const TraceFigures& f) {
    std::string out;
    out += fmt::format("AI objects             {} created, {} removed, {} moved, {} tied to a reported aircraft\n",
                       f.objectsCreated, f.objectsRemoved, f.objectsMoved, f.objectsMatched);
    out += fmt::format("objects left alone     {} never taken over, {} never placed (of {} that lived {:.0f} s or more)\n",
                       f.neverTied.size(), f.neverPlaced.size(), f.objectsLivedLong, kTakeOverSeconds);
    for (auto id : f.neverTied) out += fmt::format("  object {} was never released or frozen\n", id);
    for (auto id : f.neverPlaced) out += fmt::format("  object {} was never placed\n", id);
    out += fmt::format("airborne aircraft      {} reported, {} flown by an object\n", f.airborneAircraft,
                       f.airborneCreated);
    out += fmt::format("distance at due time   median {:.1f} m, 95th percentile {:.1f} m, max {:.1f} m "
                       "({} reports measured, {} due while their aircraft had no object)\n",
                       f.median, f.p95, f.max, f.samples, f.notInSim);
    out += fmt::format("best fit behind due    {:.0f} ms late: median {:.1f} m, 95th percentile {:.1f} m\n",
                       f.lag * 1000, f.lagMedian, f.lagP95);
    out += fmt::format("largest position step  {:.2f} m ({:.0f} kt for its time, object {} at {:.1f} s), teleports {}\n",
                       f.maxStep, f.maxStepSpeed, f.maxStepObject, f.maxStepAt, f.teleports);
    out += fmt::format("largest heading change {:.2f} deg/s\n", f.maxHeadingRate);
    out += fmt::format("ground distance at due median {:.1f} m, 95th percentile {:.1f} m, max {:.1f} m ({} reports, {} "
                       "while their aircraft had no object)\n",
                       f.groundMedian, f.groundP95, f.groundMax, f.groundSamples, f.groundNotInSim);
    out += fmt::format("ground heading change  99th percentile {:.1f} deg/s, max {:.1f} deg/s\n", f.groundP99HeadingRate,
                       f.groundMaxHeadingRate);
    out += fmt::format("landings               {} touchdowns, {} rolled out, {} left the runway, {} ended removed or "
                       "standing\n",
                       f.touchdowns, f.rolledOut, f.runwayExits, f.landedEnded);
    return out;
}

std::vector<StandMark> readStandMarks(const std::string& text) {
    std::vector<StandMark> out;
    pugi::xml_document doc;
    if (!doc.load_string(text.c_str())) return out;
    for (auto p : doc.child("parkpositions").children("parkpos")) {
        StandMark m;
        m.lat = p.attribute("latitude").as_double();
        m.lon = p.attribute("longitude").as_double();
        m.radiusM = p.attribute("radius").as_double();
        m.id = p.attribute("id").as_string();
        if (m.lat != 0 || m.lon != 0) out.push_back(std::move(m));
    }
    return out;
}

std::optional<input::ParkAirportRef> parkAirportOf(const std::string& text) {
    const auto stands = readStandMarks(text);
    if (stands.empty()) return std::nullopt;
    input::ParkAirportRef a;
    for (const auto& m : stands) {
        a.latitude += m.lat / stands.size();
        a.longitude += m.lon / stands.size();
    }
    pugi::xml_document doc;
    doc.load_string(text.c_str());
    for (auto p : doc.child("parameters").children("parameter"))
        if (std::string(p.attribute("name").as_string()) == "altitude") a.elevationFt = p.attribute("value").as_double();
    return a;
}

std::optional<MapFrame> parseMapFrame(const std::string& text) {
    double la1, lo1, la2, lo2;
    char tail;
    if (std::sscanf(text.c_str(), "%lf,%lf,%lf,%lf%c", &la1, &lo1, &la2, &lo2, &tail) != 4) return std::nullopt;
    MapFrame f{std::min(la1, la2), std::min(lo1, lo2), std::max(la1, la2), std::max(lo1, lo2)};
    if (!(f.maxLat > f.minLat && f.maxLon > f.minLon)) return std::nullopt;  // NaN too
    return f;
}

std::string traceSvg(const SimTrace& trace, const std::vector<SentReport>& reports, const std::vector<StandMark>& stands,
                     const std::optional<MapFrame>& frame) {
    double minLat = 90, maxLat = -90, minLon = 180, maxLon = -180;
    auto grow = [&](double la, double lo) {
        minLat = std::min(minLat, la);
        maxLat = std::max(maxLat, la);
        minLon = std::min(minLon, lo);
        maxLon = std::max(maxLon, lo);
    };
    if (frame) {
        grow(frame->minLat, frame->minLon);
        grow(frame->maxLat, frame->maxLon);
    } else {
        for (const auto& r : reports) grow(r.record.latitude, r.record.longitude);
        for (const auto& [id, o] : trace.objects)
            for (const auto& p : o.points) grow(p.lat, p.lon);
    }
    if (minLat > maxLat) return {};
    // The stands only where the traffic is: a far corner of the airport does not shrink the map.
    std::vector<const StandMark*> shown;
    const double la0 = minLat, la1 = maxLat, lo0 = minLon, lo1 = maxLon;
    for (const auto& m : stands)
        if (m.lat >= la0 && m.lat <= la1 && m.lon >= lo0 && m.lon <= lo1) shown.push_back(&m);
    const double w = 1000, h = 1000;
    const double cosLat = std::cos((minLat + maxLat) / 2 * traffic::kDeg);
    const double spanX = std::max(1e-6, (maxLon - minLon) * cosLat), spanY = std::max(1e-6, maxLat - minLat);
    const double scale = std::min(w / spanX, h / spanY) * 0.95;
    auto X = [&](double lon) { return 25 + (lon - minLon) * cosLat * scale; };
    auto Y = [&](double lat) { return 35 + (maxLat - lat) * scale; };
    std::string svg = svgOpen(w + 50, h + 60,
                              "Reported positions (red: airborne, grey: ground) and paths flown by the AI objects in "
                              "the simulator (blue, green on the ground), stands (circles), parked aircraft that never "
                              "moved (orange squares)");
    const double metre = scale / 1852.0 / 60.0;
    if (frame) {
        // Paths that leave the frame are cut at its edge, not drawn over the margins.
        svg += fmt::format("<clipPath id=\"frame\"><rect x=\"{:.1f}\" y=\"{:.1f}\" width=\"{:.1f}\" height=\"{:.1f}\"/>"
                           "</clipPath>\n<g clip-path=\"url(#frame)\">\n",
                           X(minLon), Y(maxLat), X(maxLon) - X(minLon), Y(minLat) - Y(maxLat));
    }
    for (const auto* m : shown)
        svg += fmt::format("<circle cx=\"{:.1f}\" cy=\"{:.1f}\" r=\"{:.1f}\" fill=\"none\" stroke=\"#bbb\" "
                           "stroke-width=\"0.8\"><title>{}</title></circle>\n",
                           X(m->lon), Y(m->lat), std::max(1.0, m->radiusM * metre), m->id);
    for (const auto& [id, o] : trace.objects) {
        if (o.points.empty() || o.placed != 0) continue;
        const auto& p = o.points.front();
        svg += fmt::format("<rect x=\"{:.1f}\" y=\"{:.1f}\" width=\"5\" height=\"5\" fill=\"#ff7f0e\"><title>{}</title></rect>\n",
                           X(p.lon) - 2.5, Y(p.lat) - 2.5, o.tail);
    }
    // Paths on the ground in green, one line per stretch.
    for (const auto& [id, o] : trace.objects) {
        if (o.points.size() < 2) continue;
        bool open = false, ground = false;
        double lastT = -10;
        for (std::size_t i = 0; i < o.points.size(); ++i) {
            const auto& p = o.points[i];
            if (open && p.onGround != ground) {
                svg += fmt::format("{:.1f},{:.1f}\"/>\n", X(p.lon), Y(p.lat));
                open = false;
            }
            if (!open) {
                ground = p.onGround;
                svg += fmt::format("<polyline fill=\"none\" stroke=\"{}\" stroke-width=\"1.2\" points=\"",
                                   ground ? "#2ca02c" : "#1f5fbf");
                open = true;
                lastT = -10;
            }
            if (p.t - lastT < 0.5 && i + 1 < o.points.size()) continue;  // two points a second are plenty
            lastT = p.t;
            svg += fmt::format("{:.1f},{:.1f} ", X(p.lon), Y(p.lat));
        }
        if (open) svg += "\"/>\n";
    }
    for (const auto& r : reports)
        svg += fmt::format("<circle cx=\"{:.1f}\" cy=\"{:.1f}\" r=\"1.6\" fill=\"{}\"/>\n", X(r.record.longitude),
                           Y(r.record.latitude), r.record.airborne ? "#d62728" : "#999");
    if (frame) svg += "</g>\n";
    svg += "</svg>\n";
    return svg;
}

}  // namespace vntx::fidelity
