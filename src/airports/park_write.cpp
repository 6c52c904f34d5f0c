// Writing park files in their three modes, saving learned files, and the
// quality factors.
#include <algorithm>
#include <cmath>
#include <set>
#include <system_error>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "airports/park_file.h"
#include "airports/park_settings.h"
#include "core/log.h"
#include "core/parameters.h"
#include "refdata/dbase.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

constexpr double kRadToDeg = 57.29577951308232;
constexpr double kNmToMetres = 1852.0;

const char* text(bool b) { return b ? "true" : "false"; }

std::string hoursText(const HalfHourSet& hours) {
    std::string s;
    for (std::size_t i = 0; i < hours.size(); ++i) {
        if (!hours.test(i)) continue;
        if (!s.empty()) s += ',';
        s += std::to_string(i);
    }
    return s;
}

void writeFullStand(pugi::xml_node n, const ParkPosition& p) {
    n.append_attribute("latitude") = fmt::format("{:.6f}", p.lat).c_str();
    n.append_attribute("longitude") = fmt::format("{:.6f}", p.lon).c_str();
    n.append_attribute("heading") = fmt::format("{:.1f}", p.heading * kRadToDeg).c_str();
    n.append_attribute("radius") = fmt::format("{:.1f}", p.radius * kNmToMetres).c_str();
    if (p.heli)
        n.append_attribute("heli") = "true";
    else
        n.append_attribute("cargo") = text(p.cargo);
    n.append_attribute("ramp") = text(p.ramp);
    if (p.manual) n.append_attribute("manual") = "true";
}

void writeChanges(pugi::xml_node n, const ParkPosition& p) {
    if (p.radius_change) {
        n.append_attribute("radius_change") = "true";
        n.append_attribute("radius") = fmt::format("{:.1f}", p.radius * kNmToMetres).c_str();
    }
    if (p.cargo_change) {
        n.append_attribute("cargo_change") = "true";
        n.append_attribute("cargo") = text(p.cargo);
    }
}

void writeOccurrence(pugi::xml_node n, const StandOccupancy& o) {
    pugi::xml_node opt = n.append_child("opt");
    opt.append_attribute("reg") = o.reg.c_str();
    if (!registrationRecord(o.reg)) {
        opt.append_attribute("airl") = o.airline.c_str();
        opt.append_attribute("type") = o.type.c_str();
    }
    if (!o.real) opt.append_attribute("soft") = "true";
    opt.append_attribute("day") = o.day;
    opt.append_attribute("hh") = hoursText(o.hours).c_str();
    if (!o.callsign.empty()) {
        const std::string cs = o.callsign_extra.empty() ? o.callsign : o.callsign + ":" + o.callsign_extra;
        opt.append_attribute("cs") = cs.c_str();
    }
}

double standWeight(const ParkPosition& p) {
    if (p.radius <= 7.0) return 0.3;
    if (p.radius <= 10.0) return 1.5;
    return 1.0;
}

double kindScore(const ParkPosition& p, bool real) {
    unsigned n = 0;
    std::size_t bits = 0;
    std::set<std::uint32_t> days;
    for (const StandOccupancy& o : p.occupancies) {
        if (o.number == 0 || o.real != real) continue;
        ++n;
        if (o.day >= 1 && o.day <= 7) days.insert(o.day);
        bits += o.hours.count();
    }
    if (n == 0) return 0.0;
    return std::min(20.0 * n, 4000.0) + 10000.0 + 100.0 * static_cast<double>(days.size()) +
           2.0 * static_cast<double>(std::min<std::size_t>(bits, 600));
}

}  // namespace

std::pair<std::int32_t, std::int32_t> computeQualityFactors(const std::vector<ParkPosition>& positions) {
    const bool any = std::any_of(positions.begin(), positions.end(),
                                 [](const ParkPosition& p) { return !p.occupancies.empty(); });
    if (!any) return {-1, -1};
    double weights = 0.0, real = 0.0, soft = 0.0;
    for (const ParkPosition& p : positions) {
        const double w = standWeight(p);
        weights += w;
        real += w * kindScore(p, true);
        soft += w * kindScore(p, false);
    }
    auto qf = [&](double total) {
        return static_cast<std::int32_t>(std::clamp<long>(std::lround(total / weights * 0.00625), 0, 100));
    };
    return {qf(real), qf(soft)};
}

void buildParkFile(const ParkAirport& airport, ParkFileMode mode, pugi::xml_document& doc) {
    doc.reset();
    writeMetaBlock(doc);
    const bool learned = mode == ParkFileMode::Learned;
    const bool handmade = learned && airport.handmade;
    pugi::xml_node parameters = doc.append_child("parameters");
    addParkFileParameter(parameters, "airport_name", airport.airport_name);
    addParkFileParameter(parameters, "publisher", airport.publisher);
    if (handmade) addParkFileParameter(parameters, "handmade", "true");
    if (handmade || !learned) addParkFileParameter(parameters, "altitude", std::to_string(airport.altitude));
    if (!learned) addParkFileParameter(parameters, "num_parkpos", std::to_string(airport.positions.size()));
    if (handmade || mode == ParkFileMode::Archive) {
        addParkFileParameter(parameters, "Qf_real", std::to_string(airport.Qf_real));
        addParkFileParameter(parameters, "Qf_soft", std::to_string(airport.Qf_soft));
    }
    if (airport.publisher.empty()) addParkFileParameter(parameters, "BGLpath", airport.BGLpath);
    if (learned) writeParkSettings(parameters);

    pugi::xml_node stands = doc.append_child("parkpositions");
    for (const ParkPosition& p : airport.positions) {
        pugi::xml_node n = stands.append_child("parkpos");
        n.append_attribute("id") = p.id.c_str();
        if (!learned || p.manual || airport.handmade)
            writeFullStand(n, p);
        else
            writeChanges(n, p);
        if (mode == ParkFileMode::Generated) continue;
        for (const StandOccupancy& o : p.occupancies)
            if (o.number != 0) writeOccurrence(n, o);
    }
}

bool writeParkFile(const ParkAirport& airport, ParkFileMode mode, const fs::path& path) {
    try {
        pugi::xml_document doc;
        buildParkFile(airport, mode, doc);
        return saveXmlDocument(doc, path);
    } catch (const std::exception& e) {
        logf("{}: {}", "writeParkFile", e.what());
        return false;
    }
}

bool saveLearnedFile(ParkAirport& airport) {
    if (airport.code.empty()) return false;  // no park airport loaded
    ParkAirport learned = airport;
    if (!learned.handmade) {
        for (ParkPosition& p : learned.positions)
            std::erase_if(p.occupancies, [](const StandOccupancy& o) { return o.source == 1; });
        std::erase_if(learned.positions, [](const ParkPosition& p) {
            return p.occupancies.empty() && !p.manual && !p.radius_change && !p.cargo_change;
        });
    } else {
        std::tie(learned.Qf_real, learned.Qf_soft) = computeQualityFactors(learned.positions);
    }
    const fs::path path = learnedFilePath(airport.code, airport.publisher);
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    const bool ok = writeParkFile(learned, ParkFileMode::Learned, path);
    if (ok)
        logf("{}{} '{}' saved with {} update{}", airport.code, airport.handmade ? " handmade" : "", path.string(),
             airport.updates, airport.updates == 1 ? "" : "s");
    else
        logf("{} saving '{}' did not succeed", airport.code, path.string());
    airport.updates = 0;
    return ok;
}

bool saveLearnedFile() { return saveLearnedFile(currentParkAirport()); }

}  // namespace vntx
