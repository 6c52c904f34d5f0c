#include "recording.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

#include <fmt/format.h>
#include <nlohmann/json.hpp>
#ifdef RTFEED_HAVE_ZLIB
#include <zlib.h>
#endif

namespace rtfeed {
namespace {

std::vector<std::string_view> splitCsv(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        auto comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            out.push_back(line.substr(start));
            return out;
        }
        out.push_back(line.substr(start, comma - start));
        start = comma + 1;
    }
}

std::string_view stripCr(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

double toDouble(std::string_view s, const char* what) {
    double v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size() || s.empty())
        throw std::runtime_error(fmt::format("bad {}: '{}'", what, s));
    return v;
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    return s.substr(i);
}

// Texts go into comma-separated datagrams and lines: keep them clean.
std::string cleanText(std::string s) {
    s = trimmed(std::move(s));
    for (char& c : s)
        if (c == ',' || c == '\r' || c == '\n') c = ' ';
    return s;
}

void sortByTime(std::vector<Report>& v) {
    std::stable_sort(v.begin(), v.end(), [](const Report& a, const Report& b) {
        return a.time < b.time || (a.time == b.time && a.hex < b.hex);
    });
}

// A member of an object, null when missing: a const object's operator[]
// must never be asked for a key it lacks (an assertion, or undefined
// behaviour without assertions).
const nlohmann::json& field(const nlohmann::json& j, const char* key) {
    static const nlohmann::json none;
    if (!j.is_object()) return none;
    const auto it = j.find(key);
    return it == j.end() ? none : *it;
}
double num(const nlohmann::json& j, double def) { return j.is_number() ? j.get<double>() : def; }
std::string str(const nlohmann::json& j) { return j.is_string() ? cleanText(j.get<std::string>()) : std::string(); }

}  // namespace

std::uint32_t parseHex(std::string_view text) {
    while (!text.empty() && text.front() == '~') text.remove_prefix(1);  // readsb: non-ICAO address
    std::uint32_t v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 16);
    if (ec != std::errc() || p != text.data() + text.size() || text.empty() || v > 0xFFFFFF)
        throw std::runtime_error(fmt::format("bad hex address '{}'", text));
    return v;
}

std::size_t RegistrationDb::load(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::string line;
    std::getline(in, line);
    const auto header = splitCsv(stripCr(line));
    // Column positions of address, registration and type.
    int a = -1, r = -1, t = -1;
    for (int i = 0; i < static_cast<int>(header.size()); ++i) {
        const auto h = header[i];
        if (h == "icao24" || h == "ICAO") a = i;
        if (h == "r" || h == "Registration") r = i;
        if (h == "t" || h == "ModelICAO") t = i;
    }
    if (a < 0 || r < 0 || t < 0) throw std::runtime_error("unknown registration file layout: " + path);
    std::size_t n = 0;
    while (std::getline(in, line)) {
        const auto f = splitCsv(stripCr(line));
        if (static_cast<int>(f.size()) <= std::max({a, r, t})) continue;
        try {
            const auto hex = parseHex(f[a]);
            if (map_.emplace(hex, AircraftInfo{cleanText(std::string(f[r])), cleanText(std::string(f[t]))}).second)
                ++n;
        } catch (const std::exception&) {
        }
    }
    return n;
}

const AircraftInfo* RegistrationDb::find(std::uint32_t hex) const {
    auto it = map_.find(hex);
    return it == map_.end() ? nullptr : &it->second;
}

void RegistrationDb::fill(Report& r) const {
    if (!r.registration.empty() && !r.type.empty()) return;
    if (const auto* info = find(r.hex)) {
        if (r.registration.empty()) r.registration = info->registration;
        if (r.type.empty()) r.type = info->type;
    }
}

std::string formatReport(const Report& r) {
    return fmt::format("{},{:06X},{:.6f},{:.6f},{},{},{},{},{},{},{},{},{},{},{},{},{},{}", r.time, r.hex, r.lat,
                       r.lon, r.altitude, r.verticalRate, r.track, r.groundSpeed, r.callsign, r.type, r.registration,
                       r.origin, r.destination, r.trueAirspeed, r.roll,
                       r.heading ? fmt::format("{}", *r.heading) : std::string(), r.category, r.onGround ? 1 : 0);
}

Report parseReport(std::string_view line) {
    const auto f = splitCsv(stripCr(line));
    if (f.size() != 18) throw std::runtime_error(fmt::format("expected 18 fields, found {}", f.size()));
    Report r;
    r.time = toDouble(f[0], "time");
    r.hex = parseHex(f[1]);
    r.lat = toDouble(f[2], "lat");
    r.lon = toDouble(f[3], "lon");
    r.altitude = toDouble(f[4], "alt");
    r.verticalRate = toDouble(f[5], "vs");
    r.track = toDouble(f[6], "track");
    r.groundSpeed = toDouble(f[7], "gs");
    r.callsign = f[8];
    r.type = f[9];
    r.registration = f[10];
    r.origin = f[11];
    r.destination = f[12];
    r.trueAirspeed = toDouble(f[13], "tas");
    r.roll = toDouble(f[14], "roll");
    if (!f[15].empty()) r.heading = toDouble(f[15], "heading");
    r.category = f[16];
    r.onGround = f[17] == "1";
    return r;
}

std::vector<Report> readRecording(std::istream& in) {
    std::vector<Report> out;
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        if (line.empty() || line[0] == '#') continue;
        try {
            out.push_back(parseReport(line));
        } catch (const std::exception& e) {
            throw std::runtime_error(fmt::format("line {}: {}", n, e.what()));
        }
    }
    sortByTime(out);
    return out;
}

std::vector<Report> readRecordingFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    return readRecording(in);
}

void writeRecording(std::ostream& out, const std::vector<Report>& reports, const std::string& header) {
    std::istringstream h(header);
    std::string line;
    while (std::getline(h, line)) out << "# " << line << '\n';
    out << "# time,hex,lat,lon,alt,vs,track,gs,callsign,type,registration,origin,destination,tas,roll,heading,"
           "category,ground\n";
    for (const auto& r : reports) out << formatReport(r) << '\n';
}

std::vector<Report> convertFr24Csv(std::istream& in) {
    std::vector<Report> out;
    std::string line;
    std::getline(in, line);
    const auto header = splitCsv(stripCr(line));
    auto col = [&](std::string_view name) {
        for (std::size_t i = 0; i < header.size(); ++i)
            if (header[i] == name) return static_cast<int>(i);
        throw std::runtime_error(fmt::format("column {} missing", name));
    };
    const int cTime = col("timestamp"), cLat = col("lat"), cLon = col("long"), cAlt = col("alt"),
              cTrack = col("hangle"), cGs = col("gspeed"), cHex = col("icao24"), cFrom = col("origin"),
              cTo = col("destination"), cCall = col("Airliner"), cVs = col("vertrate"), cType = col("Aircraft_model");
    while (std::getline(in, line)) {
        const auto f = splitCsv(stripCr(line));
        if (f.size() < header.size()) continue;
        try {
            Report r;
            r.time = toDouble(f[cTime], "timestamp");
            r.hex = parseHex(f[cHex]);
            r.lat = toDouble(f[cLat], "lat");
            r.lon = toDouble(f[cLon], "long");
            r.altitude = toDouble(f[cAlt], "alt");
            r.track = toDouble(f[cTrack], "hangle");
            r.groundSpeed = toDouble(f[cGs], "gspeed");
            r.verticalRate = f[cVs].empty() ? 0 : toDouble(f[cVs], "vertrate");
            r.callsign = cleanText(std::string(f[cCall]));
            r.type = cleanText(std::string(f[cType]));
            r.origin = cleanText(std::string(f[cFrom]));
            r.destination = cleanText(std::string(f[cTo]));
            r.onGround = r.altitude <= 0;
            out.push_back(std::move(r));
        } catch (const std::exception&) {
        }
    }
    sortByTime(out);
    return out;
}

std::vector<Report> convertOpenSkyJson(std::istream& in) {
    const auto doc = nlohmann::json::parse(in);
    std::vector<Report> out;
    for (const auto& p : doc) {
        if (!p.is_object() || !field(p, "latitude").is_number() || !field(p, "longitude").is_number()) continue;
        Report r;
        r.time = num(field(p, "timestamp"), 0) / 1000.0;
        r.hex = parseHex(str(field(p, "icao24")));
        r.lat = field(p, "latitude").get<double>();
        r.lon = field(p, "longitude").get<double>();
        r.onGround = p.value("onground", false);
        r.altitude = r.onGround ? 0 : num(field(p, "altitude"), 0);
        r.groundSpeed = num(field(p, "groundspeed"), 0);
        r.track = num(field(p, "track"), 0);
        r.verticalRate = num(field(p, "vertical_rate"), 0);
        r.callsign = str(field(p, "callsign"));
        out.push_back(std::move(r));
    }
    sortByTime(out);
    return out;
}

std::vector<Report> convertReadsbTrace(std::istream& in) {
    const auto doc = nlohmann::json::parse(in);
    const auto hex = parseHex(str(field(doc, "icao")));
    const double base = num(field(doc, "timestamp"), 0);
    const std::string reg = str(field(doc, "r")), type = str(field(doc, "t"));
    std::vector<Report> out;
    std::string callsign;
    std::string category;
    for (const auto& p : field(doc, "trace")) {
        if (!p.is_array() || p.size() < 6 || !p[1].is_number() || !p[2].is_number()) continue;
        const auto& detail = p.size() > 8 ? p[8] : nlohmann::json();
        if (detail.is_object()) {
            if (detail.contains("flight")) callsign = str(field(detail, "flight"));
            if (detail.contains("category")) category = str(field(detail, "category"));
        }
        Report r;
        r.time = base + num(p[0], 0);
        r.hex = hex;
        r.lat = p[1].get<double>();
        r.lon = p[2].get<double>();
        r.onGround = p[3].is_string() && p[3].get<std::string>() == "ground";
        r.altitude = r.onGround ? 0 : num(p[3], 0);
        r.groundSpeed = num(p[4], 0);
        r.track = num(p[5], 0);
        r.verticalRate = p.size() > 7 ? num(p[7], 0) : 0;
        if (p.size() > 13) r.roll = num(p[13], -1);
        if (r.roll == 0) r.roll = -1;
        if (detail.is_object()) {
            r.trueAirspeed = num(detail.value("tas", nlohmann::json()), -1);
            if (detail.contains("true_heading") && field(detail, "true_heading").is_number())
                r.heading = field(detail, "true_heading").get<double>();
        }
        r.callsign = callsign;
        r.registration = reg;
        r.type = type;
        r.category = category;
        out.push_back(std::move(r));
    }
    sortByTime(out);
    return out;
}

// One decoded Mode S message a line (icao24, df, bds and the decoded
// fields): the state of each aircraft is fused from its messages, and each
// position message gives a report with that state (surface positions, BDS
// 0,6, are on the ground).
void fuseModeS(const nlohmann::json& p, std::unordered_map<std::uint32_t, Report>& state, std::vector<Report>& out) {
    const auto hex = parseHex(str(field(p, "icao24")));
    Report& s = state[hex];
    const std::string bds = str(p.value("bds", nlohmann::json()));
    if (p.contains("callsign") && field(p, "callsign").is_string()) s.callsign = cleanText(field(p, "callsign").get<std::string>());
    if (p.contains("altitude") && field(p, "altitude").is_number()) s.altitude = field(p, "altitude").get<double>();
    if (p.contains("groundspeed") && field(p, "groundspeed").is_number()) s.groundSpeed = field(p, "groundspeed").get<double>();
    if (p.contains("track") && field(p, "track").is_number()) s.track = field(p, "track").get<double>();
    if (p.contains("vertical_rate") && field(p, "vertical_rate").is_number()) s.verticalRate = field(p, "vertical_rate").get<double>();
    if (!field(p, "latitude").is_number() || !field(p, "longitude").is_number()) return;
    Report r = s;
    r.hex = hex;
    r.time = num(field(p, "timestamp"), 0);
    r.lat = field(p, "latitude").get<double>();
    r.lon = field(p, "longitude").get<double>();
    r.onGround = bds == "06";
    if (r.onGround) {
        r.altitude = 0;
        r.verticalRate = 0;
    } else if (s.altitude <= 0) {
        return;  // airborne without a known altitude yet
    }
    out.push_back(std::move(r));
}

std::vector<Report> convertReadsbPoints(std::istream& in) {
    std::vector<Report> out;
    std::unordered_map<std::uint32_t, Report> modeS;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const auto p = nlohmann::json::parse(line, nullptr, false);
        if (p.is_object() && p.contains("icao24") && p.contains("df")) {
            fuseModeS(p, modeS, out);
            continue;
        }
        if (!p.is_object() || !field(p, "lat").is_number() || !field(p, "lon").is_number()) continue;
        try {
            Report r;
            r.time = num(field(p, "now"), 0);
            r.hex = parseHex(str(field(p, "hex")));
            r.lat = field(p, "lat").get<double>();
            r.lon = field(p, "lon").get<double>();
            r.onGround = field(p, "alt_baro").is_string();
            r.altitude = r.onGround ? 0 : num(field(p, "alt_baro"), 0);
            r.groundSpeed = num(p.value("gscp", nlohmann::json()), 0);
            r.track = num(p.value("track", nlohmann::json()), 0);
            r.verticalRate = num(p.value("baro_rate", nlohmann::json()), 0);
            r.callsign = str(p.value("flight", nlohmann::json()));
            r.category = str(p.value("category", nlohmann::json()));
            const auto& fd = field(p, "flightdict");
            if (fd.is_object()) {
                if (fd.contains("r")) r.registration = str(fd["r"]);
                if (fd.contains("t")) r.type = str(fd["t"]);
                r.trueAirspeed = num(fd.value("tas", nlohmann::json()), -1);
                if (fd.contains("true_heading") && fd["true_heading"].is_number())
                    r.heading = fd["true_heading"].get<double>();
            }
            out.push_back(std::move(r));
        } catch (const std::exception&) {
        }
    }
    sortByTime(out);
    return out;
}

Format guessFormat(const std::string& path) {
    auto ends = [&](std::string_view s) { return path.size() >= s.size() && path.compare(path.size() - s.size(), s.size(), s) == 0; };
    if (ends(".csv")) return Format::Fr24Csv;
    if (ends(".jsonl") || ends(".jsonl.gz")) return Format::ReadsbPoints;
    if (path.find("trace") != std::string::npos && ends(".json")) return Format::ReadsbTrace;
    if (ends(".json")) return Format::OpenSkyJson;
    return Format::Recording;
}

std::optional<Format> formatByName(std::string_view name) {
    if (name == "recording") return Format::Recording;
    if (name == "fr24") return Format::Fr24Csv;
    if (name == "opensky") return Format::OpenSkyJson;
    if (name == "readsb-trace") return Format::ReadsbTrace;
    if (name == "readsb-points") return Format::ReadsbPoints;
    return std::nullopt;
}

namespace {
std::string readGzip(const std::string& path) {
#ifndef RTFEED_HAVE_ZLIB
    throw std::runtime_error("built without zlib, cannot read " + path);
#else
    gzFile f = gzopen(path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot open " + path);
    std::string data;
    char buf[65536];
    int n;
    while ((n = gzread(f, buf, sizeof buf)) > 0) data.append(buf, static_cast<std::size_t>(n));
    const bool bad = n < 0;
    gzclose(f);
    if (bad) throw std::runtime_error("cannot decompress " + path);
    return data;
#endif
}
}  // namespace

std::vector<Report> loadAny(const std::string& path, Format format) {
    std::unique_ptr<std::istream> in;
    if (path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0)
        in = std::make_unique<std::istringstream>(readGzip(path));
    else
        in = std::make_unique<std::ifstream>(path);
    if (!*in) throw std::runtime_error("cannot open " + path);
    switch (format) {
    case Format::Recording: return readRecording(*in);
    case Format::Fr24Csv: return convertFr24Csv(*in);
    case Format::OpenSkyJson: return convertOpenSkyJson(*in);
    case Format::ReadsbTrace: return convertReadsbTrace(*in);
    case Format::ReadsbPoints: return convertReadsbPoints(*in);
    }
    return {};
}

namespace {
std::string orNull(const std::string& s) { return s.empty() ? "null" : s; }
}  // namespace

std::string trafficDatagram(const Report& r, double timestamp) {
    // Fields 0..32 of a RealTraffic traffic report; the ones the program does
    // not read carry plausible values.
    const double altGeom = r.onGround ? 0 : r.altitude + 150;
    const double ias = r.trueAirspeed > 0 ? std::max(0.0, r.trueAirspeed * (1 - r.altitude / 70000)) : -1;
    return fmt::format(
        "RTTFC,{},{:.6f},{:.6f},{:.0f},{:.0f},{},{:.1f},{:.1f},{},{},{},{},{},{:.2f},{},{},{},{:.0f},{:.0f},{},{},{},"
        "{},{},{},{:.0f},{},{},{},{},{},{}",
        r.hex, r.lat, r.lon, r.altitude, r.verticalRate, r.onGround ? 1 : 0, r.track, r.groundSpeed,
        orNull(r.callsign), orNull(r.type), orNull(r.registration), orNull(r.origin), orNull(r.destination),
        timestamp, "adsb", "null", "adsb_icao", altGeom, ias, r.trueAirspeed > 0 ? fmt::format("{:.0f}", r.trueAirspeed) : "-1",
        r.trueAirspeed > 0 ? fmt::format("{:.3f}", r.trueAirspeed / 661.5) : "-1", "0.00",
        r.roll == -1 ? std::string("-1") : fmt::format("{:.2f}", r.roll),
        r.heading ? fmt::format("{:.2f}", *r.heading) : std::string("-1"),
        r.heading ? fmt::format("{:.2f}", *r.heading) : std::string("-1"), r.verticalRate, "none",
        r.category.empty() ? std::string("null") : r.category, "1013.2", "-1", "-1", "null");
}

std::string weatherDatagram(int qnh, std::string_view station) {
    nlohmann::json j;
    j["ICAO"] = station;
    j["QNH"] = qnh;
    j["METAR"] = fmt::format("{} 000000Z 00000KT CAVOK 15/10 Q{:04}", station, qnh);
    return j.dump();
}

std::vector<Report> densify(const std::vector<Report>& reports, double step, double maxGap) {
    if (step <= 0) return reports;
    std::unordered_map<std::uint32_t, std::vector<const Report*>> byHex;
    for (const auto& r : reports) byHex[r.hex].push_back(&r);
    std::vector<Report> out;
    out.reserve(reports.size() * 4);
    auto angle = [](double from, double to) {  // signed difference, -180..180
        double d = std::fmod(to - from + 540.0, 360.0) - 180.0;
        return d;
    };
    for (auto& [hex, list] : byHex) {
        std::stable_sort(list.begin(), list.end(), [](const Report* a, const Report* b) { return a->time < b->time; });
        for (std::size_t i = 0; i < list.size(); ++i) {
            const Report& a = *list[i];
            out.push_back(a);
            if (i + 1 == list.size()) break;
            const Report& b = *list[i + 1];
            const double gap = b.time - a.time;
            if (gap <= step * 1.5 || gap > maxGap) continue;
            const int n = static_cast<int>(std::round(gap / step));
            for (int k = 1; k < n; ++k) {
                const double f = static_cast<double>(k) / n;
                Report r = a;
                r.time = a.time + gap * f;
                r.lat = a.lat + (b.lat - a.lat) * f;
                r.lon = a.lon + angle(a.lon, b.lon) * f;
                if (r.lon > 180) r.lon -= 360;
                if (r.lon < -180) r.lon += 360;
                r.altitude = a.altitude + (b.altitude - a.altitude) * f;
                r.groundSpeed = a.groundSpeed + (b.groundSpeed - a.groundSpeed) * f;
                r.track = std::fmod(a.track + angle(a.track, b.track) * f + 360.0, 360.0);
                r.verticalRate = (b.altitude - a.altitude) / gap * 60.0;
                r.onGround = a.onGround && b.onGround;
                r.heading.reset();
                r.roll = -1;
                r.trueAirspeed = -1;
                out.push_back(std::move(r));
            }
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const Report& a, const Report& b) { return a.time < b.time; });
    return out;
}

}  // namespace rtfeed
