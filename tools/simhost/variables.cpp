#include "variables.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "core/files.h"

namespace vntx::simhost {

using namespace vntx::simconnect;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadToDeg = 180.0 / kPi;

bool has(const std::string& units, const char* word) { return units.find(word) != std::string::npos; }

double angleOut(double radians, const std::string& u) { return has(u, "degree") ? radians * kRadToDeg : radians; }
double angleIn(double v, const std::string& u) { return has(u, "degree") ? v / kRadToDeg : v; }
double latLonOut(double deg, const std::string& u) { return has(u, "radian") ? deg / kRadToDeg : deg; }
double latLonIn(double v, const std::string& u) { return has(u, "radian") ? v * kRadToDeg : v; }
double feetOut(double ft, const std::string& u) { return has(u, "meter") ? ft * 0.3048 : ft; }
double feetIn(double v, const std::string& u) { return has(u, "meter") ? v / 0.3048 : v; }
double fpsOut(double fps, const std::string& u) {
    if (has(u, "minute")) return fps * 60;
    return has(u, "meter") ? fps * 0.3048 : fps;
}
double fpsIn(double v, const std::string& u) {
    if (has(u, "minute")) return v / 60;
    return has(u, "meter") ? v / 0.3048 : v;
}
double percentOut(double pct, const std::string& u) { return has(u, "over 100") ? pct / 100 : pct; }
double percentIn(double v, const std::string& u) { return has(u, "over 100") ? v * 100 : v; }

struct ZuluTime {
    double secondsOfDay;
    int dayOfYear;
    int year;
};

ZuluTime zuluNow() {
    using namespace std::chrono;
    auto now = system_clock::now();
    auto days = floor<std::chrono::days>(now);
    year_month_day ymd{days};
    auto jan1 = sys_days{ymd.year() / January / 1};
    return {duration<double>(now - days).count(), static_cast<int>((days - jan1).count()) + 1,
            static_cast<int>(ymd.year())};
}

}  // namespace

Datum parseDatumName(const std::string& name, const std::string& units, DWORD type) {
    Datum d;
    d.name = toUpper(trim(name));
    if (auto colon = d.name.rfind(':'); colon != std::string::npos) {
        try {
            d.index = std::stoi(d.name.substr(colon + 1));
        } catch (...) {
            d.index = -1;
        }
        d.name = trim(d.name.substr(0, colon));
    }
    d.units = toLower(trim(units));
    d.type = type;
    return d;
}

bool readVariable(const Datum& d, const SimObject& o, double ground, double& num, std::string& text, bool& isText) {
    isText = false;
    const std::string& n = d.name;
    const std::string& u = d.units;
    if (n == "PLANE LATITUDE") num = latLonOut(o.lat, u);
    else if (n == "PLANE LONGITUDE") num = latLonOut(o.lon, u);
    else if (n == "PLANE PITCH DEGREES") num = angleOut(o.pitch, u);
    else if (n == "PLANE BANK DEGREES") num = angleOut(o.bank, u);
    else if (n == "PLANE HEADING DEGREES TRUE") num = angleOut(o.heading, u);
    else if (n == "PLANE ALTITUDE") num = feetOut(o.alt, u);
    else if (n == "PLANE ALT ABOVE GROUND") num = feetOut(std::max(0.0, o.alt - ground), u);
    else if (n == "GROUND ALTITUDE") num = feetOut(ground, u);
    else if (n == "VERTICAL SPEED") num = fpsOut(o.verticalSpeed, u);
    else if (n == "AIRSPEED TRUE") num = o.airspeed;
    else if (n == "GROUND VELOCITY") num = o.groundSpeed;
    else if (n == "SIM ON GROUND") num = o.onGround ? 1 : 0;
    else if (n == "LIGHT STATES" || n == "LIGHT ON STATES") num = static_cast<double>(o.lights);
    else if (n == "STATIC CG TO GROUND") num = feetOut(o.staticCgToGround, u);
    else if (n == "STATIC PITCH") num = angleOut(o.staticPitch, u);
    else if (n == "SPOILERS HANDLE POSITION") num = percentOut(o.spoilers, u);
    else if (n == "GENERAL ENG THROTTLE LEVER POSITION") num = percentOut(d.index == 2 ? o.throttle2 : o.throttle1, u);
    else if (n == "ZULU TIME") num = zuluNow().secondsOfDay;
    else if (n == "ZULU DAY OF YEAR") num = zuluNow().dayOfYear;
    else if (n == "ZULU YEAR") num = zuluNow().year;
    else if (n == "TITLE") { text = o.title; isText = true; }
    else if (n == "ATC ID") { text = o.atcId; isText = true; }
    else if (n == "ATC MODEL") { text = o.atcModel; isText = true; }
    else return false;
    return true;
}

void writeVariable(const Datum& d, SimObject& o, double v) {
    const std::string& n = d.name;
    const std::string& u = d.units;
    if (n == "PLANE LATITUDE") o.lat = latLonIn(v, u);
    else if (n == "PLANE LONGITUDE") o.lon = latLonIn(v, u);
    else if (n == "PLANE PITCH DEGREES") o.pitch = angleIn(v, u);
    else if (n == "PLANE BANK DEGREES") o.bank = angleIn(v, u);
    else if (n == "PLANE HEADING DEGREES TRUE") o.heading = angleIn(v, u);
    else if (n == "PLANE ALTITUDE") o.alt = feetIn(v, u);
    else if (n == "VERTICAL SPEED") o.verticalSpeed = fpsIn(v, u);
    else if (n == "AIRSPEED TRUE") o.airspeed = v;
    else if (n == "SPOILERS HANDLE POSITION") o.spoilers = percentIn(v, u);
    else if (n == "GENERAL ENG THROTTLE LEVER POSITION") (d.index == 2 ? o.throttle2 : o.throttle1) = percentIn(v, u);
    else if (n == "LIGHT ON STATES" || n == "LIGHT STATES") o.lights = static_cast<std::int64_t>(v);
}

bool knownVariable(const Datum& d) {
    SimObject probe;
    double num;
    std::string text;
    bool isText;
    return readVariable(d, probe, 0, num, text, isText);
}

bool supportedType(DWORD t) {
    return t == SIMCONNECT_DATATYPE_INT32 || t == SIMCONNECT_DATATYPE_INT64 || t == SIMCONNECT_DATATYPE_FLOAT32 ||
           t == SIMCONNECT_DATATYPE_FLOAT64 || (t >= SIMCONNECT_DATATYPE_STRING8 && t <= SIMCONNECT_DATATYPE_STRINGV);
}

namespace {
void appendPod(wire::Bytes& out, const void* p, std::size_t n) {
    auto* b = static_cast<const std::uint8_t*>(p);
    out.insert(out.end(), b, b + n);
}
}  // namespace

void pack(const Definition& def, const SimObject& o, double ground, wire::Bytes& out) {
    for (const auto& d : def.datums) {
        double num = 0;
        std::string text;
        bool isText = false;
        readVariable(d, o, ground, num, text, isText);
        switch (d.type) {
        case SIMCONNECT_DATATYPE_INT32: {
            auto v = static_cast<std::int32_t>(std::llround(num));
            appendPod(out, &v, 4);
            break;
        }
        case SIMCONNECT_DATATYPE_INT64: {
            auto v = static_cast<std::int64_t>(std::llround(num));
            appendPod(out, &v, 8);
            break;
        }
        case SIMCONNECT_DATATYPE_FLOAT32: {
            auto v = static_cast<float>(num);
            appendPod(out, &v, 4);
            break;
        }
        case SIMCONNECT_DATATYPE_FLOAT64: appendPod(out, &num, 8); break;
        case SIMCONNECT_DATATYPE_STRINGV:
            if (!isText) text = std::to_string(num);
            out.insert(out.end(), text.begin(), text.end());
            out.push_back(0);
            break;
        default: {
            std::size_t width = wire::datumSize(d.type);
            if (!isText) text = std::to_string(num);
            std::size_t n = std::min(text.size(), width - 1);
            out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
            out.insert(out.end(), width - n, 0);
        }
        }
    }
}

void apply(const Definition& def, SimObject& o, wire::ByteView data, std::vector<double>* values) {
    wire::DatumReader r(data);
    for (const auto& d : def.datums) {
        double v = 0;
        switch (d.type) {
        case SIMCONNECT_DATATYPE_FLOAT64: r.float64(v); break;
        case SIMCONNECT_DATATYPE_FLOAT32: {
            float f = 0;
            r.float32(f);
            v = f;
            break;
        }
        case SIMCONNECT_DATATYPE_INT64: {
            std::int64_t i = 0;
            r.int64(i);
            v = static_cast<double>(i);
            break;
        }
        case SIMCONNECT_DATATYPE_INT32: {
            std::int32_t i = 0;
            r.int32(i);
            v = i;
            break;
        }
        default: {
            std::string s;
            r.fixedString(wire::datumSize(d.type), s);
            continue;
        }
        }
        writeVariable(d, o, v);
        if (values) values->push_back(v);
    }
}

bool knownSystemEvent(const std::string& lower) {
    static const char* names[] = {"sim", "frame", "objectadded", "objectremoved", "flightloaded", "positionchanged",
                                  "pause", "paused", "unpaused", "simstart", "simstop", "1sec", "4sec", "6hz",
                                  "aircraftloaded", "crashed", "crashreset", "flightsaved", "flightplanactivated",
                                  "flightplandeactivated", "sound", "view"};
    return std::find(std::begin(names), std::end(names), lower) != std::end(names);
}

bool knownClientEvent(const std::string& upper) {
    static const char* names[] = {"BEACON_LIGHTS_SET", "NAV_LIGHTS_SET", "TAXI_LIGHTS_SET", "STROBES_SET",
                                  "LANDING_LIGHTS_SET", "CABIN_LIGHTS_SET", "LOGO_LIGHTS_SET", "ALL_LIGHTS_TOGGLE",
                                  "FREEZE_LATITUDE_LONGITUDE_SET", "FREEZE_ALTITUDE_SET", "FREEZE_ATTITUDE_SET",
                                  "FLAPS_SET", "SPOILERS_SET", "GEAR_SET", "ENGINE_AUTO_START",
                                  "ENGINE_AUTO_SHUTDOWN", "THROTTLE_SET", "PARKING_BRAKES", "TOGGLE_JETWAY"};
    return std::find(std::begin(names), std::end(names), upper) != std::end(names);
}

bool setsPosition(const Definition& def) {
    for (const auto& d : def.datums)
        if (d.name == "PLANE LATITUDE" || d.name == "PLANE LONGITUDE" || d.name == "PLANE ALTITUDE" ||
            d.name == "PLANE PITCH DEGREES" || d.name == "PLANE BANK DEGREES" || d.name == "PLANE HEADING DEGREES TRUE")
            return true;
    return false;
}

}  // namespace vntx::simhost
