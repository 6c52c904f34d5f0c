#include "world.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include <pugixml.hpp>

#include "core/files.h"

namespace vntx::simhost {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;

std::vector<double> numbers(const std::string& text, char sep) {
    std::vector<double> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, sep)) {
        item = trim(item);
        if (item.empty()) continue;
        std::size_t used = 0;
        out.push_back(std::stod(item, &used));
        if (used != item.size()) throw std::invalid_argument(item);
    }
    return out;
}

// Moves a position `nm` nautical miles along a true course (flat earth, fine
// for the short steps of one frame).
void moveAlong(double& lat, double& lon, double courseDeg, double nm) {
    lat += nm * std::cos(courseDeg * kDegToRad) / 60.0;
    double c = std::cos(lat * kDegToRad);
    if (std::fabs(c) > 1e-9) lon += nm * std::sin(courseDeg * kDegToRad) / (60.0 * c);
}

double bearingDeg(double lat1, double lon1, double lat2, double lon2) {
    double p1 = lat1 * kDegToRad, p2 = lat2 * kDegToRad, dl = (lon2 - lon1) * kDegToRad;
    double y = std::sin(dl) * std::cos(p2);
    double x = std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl);
    double b = std::atan2(y, x) / kDegToRad;
    return b < 0 ? b + 360 : b;
}

}  // namespace

double distanceMetres(double lat1, double lon1, double lat2, double lon2) {
    double p1 = lat1 * kDegToRad, p2 = lat2 * kDegToRad;
    double dp = p2 - p1, dl = (lon2 - lon1) * kDegToRad;
    double a = std::sin(dp / 2) * std::sin(dp / 2) + std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
    return 2 * 6371008.8 * std::asin(std::min(1.0, std::sqrt(a)));
}

std::optional<UserScript> UserScript::parse(const std::string& text, std::string& error) {
    UserScript s;
    auto colon = text.find(':');
    std::string kind = colon == std::string::npos ? text : text.substr(0, colon);
    std::string rest = colon == std::string::npos ? "" : text.substr(colon + 1);
    try {
        if (kind == "parked" || kind == "taxi") {
            auto v = numbers(rest, ',');
            if (v.size() < 2 || (kind == "taxi" && v.size() != 4) || v.size() > 4) throw std::invalid_argument(rest);
            s.kind_ = kind == "parked" ? Kind::Parked : Kind::Taxi;
            s.points_.push_back({0, v[0], v[1], 0, v.size() > 2 ? v[2] : 0, true});
            s.headingDeg_ = v.size() > 2 ? v[2] : 0;
            s.speedKts_ = kind == "taxi" ? v[3] : 0;
        } else if (kind == "final") {
            auto v = numbers(rest, ',');
            if (v.size() != 5 || v[3] <= 0 || v[4] <= 0) throw std::invalid_argument(rest);
            s.kind_ = Kind::Final;
            s.points_.push_back({0, v[0], v[1], 0, v[2], false});
            s.headingDeg_ = v[2];
            s.speedKts_ = v[3];
            s.altitudeFt_ = v[4];
        } else if (kind == "route") {
            auto colon2 = rest.find(':');
            if (colon2 == std::string::npos) throw std::invalid_argument(rest);
            auto head = numbers(rest.substr(0, colon2), ',');
            if (head.size() != 2 || head[0] <= 0) throw std::invalid_argument(rest);
            s.kind_ = Kind::Route;
            s.speedKts_ = head[0];
            s.altitudeFt_ = head[1];
            std::stringstream ss(rest.substr(colon2 + 1));
            std::string wp;
            while (std::getline(ss, wp, ';')) {
                auto v = numbers(wp, ',');
                if (v.size() != 2) throw std::invalid_argument(wp);
                s.points_.push_back({0, v[0], v[1], head[1], 0, false});
            }
            if (s.points_.size() < 2) throw std::invalid_argument("a route needs two waypoints");
        } else if (kind == "track") {
            std::ifstream in(rest);
            if (!in) throw std::invalid_argument("cannot read " + rest);
            s.kind_ = Kind::Track;
            std::string line;
            while (std::getline(in, line)) {
                line = trim(line);
                if (line.empty() || line[0] == '#' || std::isalpha(static_cast<unsigned char>(line[0]))) continue;
                auto v = numbers(line, ',');
                if (v.size() < 5) throw std::invalid_argument(line);
                s.points_.push_back({v[0], v[1], v[2], v[3], v[4], v.size() > 5 && v[5] != 0});
            }
            if (s.points_.empty()) throw std::invalid_argument("empty track " + rest);
            std::stable_sort(s.points_.begin(), s.points_.end(),
                             [](const Point& a, const Point& b) { return a.t < b.t; });
        } else {
            throw std::invalid_argument("unknown kind '" + kind + "'");
        }
    } catch (const std::exception& e) {
        error = "bad user aircraft script: " + std::string(e.what());
        return std::nullopt;
    }
    return s;
}

void UserScript::place(double t, SimObject& u, double groundFt) const {
    const Point& p0 = points_.front();
    switch (kind_) {
    case Kind::Parked:
        u.lat = p0.lat;
        u.lon = p0.lon;
        u.heading = headingDeg_ * kDegToRad;
        u.groundSpeed = 0;
        u.onGround = true;
        break;
    case Kind::Taxi:
        u.lat = p0.lat;
        u.lon = p0.lon;
        moveAlong(u.lat, u.lon, headingDeg_, speedKts_ * t / 3600.0);
        u.heading = headingDeg_ * kDegToRad;
        u.groundSpeed = speedKts_;
        u.onGround = true;
        break;
    case Kind::Route: {
        double left = speedKts_ * t / 3600.0;
        std::size_t i = 0;
        double lat = p0.lat, lon = p0.lon, course = 0;
        for (; i + 1 < points_.size(); ++i) {
            const auto& a = points_[i];
            const auto& b = points_[i + 1];
            double legNm = distanceMetres(a.lat, a.lon, b.lat, b.lon) / 1852.0;
            course = bearingDeg(a.lat, a.lon, b.lat, b.lon);
            if (left <= legNm) {
                lat = a.lat;
                lon = a.lon;
                moveAlong(lat, lon, course, left);
                break;
            }
            left -= legNm;
            lat = b.lat;
            lon = b.lon;
        }
        u.lat = lat;
        u.lon = lon;
        u.heading = course * kDegToRad;
        u.alt = altitudeFt_;
        u.groundSpeed = i + 1 < points_.size() ? speedKts_ : 0;
        u.airspeed = u.groundSpeed;
        u.onGround = false;
        return;
    }
    case Kind::Final: {
        // Distance to the touchdown point (nm; negative past it).
        const double glide = std::tan(3.0 * kDegToRad);
        const double startNm = altitudeFt_ / glide / 6076.11549;
        const double airborneSeconds = startNm / speedKts_ * 3600.0;
        u.heading = headingDeg_ * kDegToRad;
        u.lat = p0.lat;
        u.lon = p0.lon;
        if (t < airborneSeconds) {
            const double toGo = startNm - speedKts_ * t / 3600.0;
            moveAlong(u.lat, u.lon, headingDeg_ + 180.0, toGo);
            u.alt = groundFt + toGo * 6076.11549 * glide;
            u.groundSpeed = speedKts_;
            u.airspeed = speedKts_;
            u.onGround = false;
            return;
        }
        // Braking at 2.5 kt a second down to 20 kt, then on at 20 kt.
        const double s = t - airborneSeconds;
        const double brake = std::max(0.0, (speedKts_ - 20.0) / 2.5);
        const double rolled = s <= brake ? (speedKts_ * s - 1.25 * s * s) / 3600.0
                                         : (speedKts_ * brake - 1.25 * brake * brake + 20.0 * (s - brake)) / 3600.0;
        moveAlong(u.lat, u.lon, headingDeg_, rolled);
        u.groundSpeed = s <= brake ? speedKts_ - 2.5 * s : 20.0;
        u.airspeed = u.groundSpeed;
        u.onGround = true;
        break;
    }
    case Kind::Track: {
        auto it = std::upper_bound(points_.begin(), points_.end(), t, [](double v, const Point& p) { return v < p.t; });
        const Point& a = it == points_.begin() ? *it : *(it - 1);
        const Point& b = it == points_.end() ? points_.back() : *it;
        double f = b.t > a.t ? std::clamp((t - a.t) / (b.t - a.t), 0.0, 1.0) : 0.0;
        u.lat = a.lat + (b.lat - a.lat) * f;
        u.lon = a.lon + (b.lon - a.lon) * f;
        u.alt = a.alt + (b.alt - a.alt) * f;
        double dh = std::remainder(b.heading - a.heading, 360.0);
        u.heading = std::fmod(a.heading + dh * f + 360.0, 360.0) * kDegToRad;
        u.onGround = f < 0.5 ? a.onGround : b.onGround;
        double dt = b.t - a.t;
        u.groundSpeed = dt > 0 && it != points_.begin() && it != points_.end()
                            ? distanceMetres(a.lat, a.lon, b.lat, b.lon) / 1852.0 / dt * 3600.0
                            : 0;
        if (u.onGround) u.alt = groundFt;
        return;
    }
    }
    u.alt = groundFt;
}

World::World() {
    SimObject u;
    u.id = kUserId;
    u.title = "Stand-in User Aircraft";
    u.atcId = "N12345";
    u.atcModel = "B738";
    u.onGround = true;
    objects_[kUserId] = u;
}

bool World::knowsTitle(const std::string& title) const { return titles_.all.count(toLower(title)) > 0; }

bool World::helicopterTitle(const std::string& title) const {
    return titles_.helicopters.count(toLower(title)) > 0;
}

void World::settle(SimObject& o) const {
    o.onGround = o.alt - groundElevation(o.lat, o.lon) <= o.staticCgToGround + 0.5;
}

double World::groundElevation(double lat, double lon) const {
    for (const auto& g : ground_) {
        if (lat >= std::min(g.lat1, g.lat2) && lat <= std::max(g.lat1, g.lat2) && lon >= std::min(g.lon1, g.lon2) &&
            lon <= std::max(g.lon1, g.lon2))
            return g.elevationFt;
    }
    return 0;
}

void World::advance(double seconds) {
    if (!script_) return;
    auto& u = user();
    script_->place(seconds, u, groundElevation(u.lat, u.lon));
    if (u.onGround) u.alt = groundElevation(u.lat, u.lon);
}

SimObject* World::find(std::uint32_t id) {
    auto it = objects_.find(id);
    return it == objects_.end() ? nullptr : &it->second;
}

SimObject& World::create() {
    SimObject o;
    o.id = nextId_++;
    return objects_[o.id] = o;
}

Titles readTitles(const std::filesystem::path& source) {
    Titles titles;
    auto readFile = [&](const std::filesystem::path& file, bool cfg) {
        std::ifstream in(file, std::ios::binary);
        std::string line, section;
        std::vector<std::string> found;
        bool helicopter = false;
        while (std::getline(in, line)) {
            std::string t = trim(line);
            if (t.empty()) continue;
            if (!cfg) {
                if (t[0] == '#') continue;
                std::string kind;
                if (auto tab = t.find('\t'); tab != std::string::npos) {
                    kind = toLower(trim(t.substr(tab + 1)));
                    t = trim(t.substr(0, tab));
                }
                titles.all.insert(toLower(t));
                if (kind == "helicopter") titles.helicopters.insert(toLower(t));
                continue;
            }
            if (t[0] == '[') {
                section = toLower(t);
                continue;
            }
            auto eq = t.find('=');
            if (eq == std::string::npos) continue;
            const std::string key = trim(t.substr(0, eq));
            std::string value = trim(t.substr(eq + 1));
            if (auto c = value.find(';'); c != std::string::npos) value = trim(value.substr(0, c));
            if (section == "[general]" && iequals(key, "category")) helicopter = iequals(value, "helicopter");
            if (iequals(key, "title") && !value.empty()) found.push_back(toLower(value));
        }
        for (auto& title : found) {
            if (helicopter) titles.helicopters.insert(title);
            titles.all.insert(std::move(title));
        }
    };
    std::error_code ec;
    if (std::filesystem::is_directory(source, ec)) {
        for (auto it = std::filesystem::recursive_directory_iterator(source, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            auto name = toLower(it->path().filename().string());
            if (name == "aircraft.cfg" || name == "sim.cfg") readFile(it->path(), true);
        }
    } else {
        readFile(source, false);
    }
    return titles;
}

std::string flightPlanProblem(const std::string& text) {
    pugi::xml_document doc;
    if (const auto parsed = doc.load_string(text.c_str()); !parsed)
        return std::string("not XML: ") + parsed.description();
    const pugi::xml_node root = doc.document_element();
    if (std::string_view(root.name()) != "SimBase.Document") return "no SimBase.Document";
    const pugi::xml_node plan = root.child("FlightPlan.FlightPlan");
    if (!plan) return "no FlightPlan.FlightPlan";
    const std::string type = trim(plan.child_value("FPType"));
    if (type != "IFR" && type != "VFR") return "FPType '" + type + "' is neither IFR nor VFR";
    for (const char* end : {"DepartureID", "DestinationID"}) {
        const std::string ident = trim(plan.child_value(end));
        const bool valid = ident.size() >= 3 && ident.size() <= 5 &&
                           std::all_of(ident.begin(), ident.end(), [](unsigned char c) { return std::isalnum(c); });
        if (!valid) return std::string(end) + " '" + ident + "' is not an airport ident";
    }
    return {};
}

}  // namespace vntx::simhost
