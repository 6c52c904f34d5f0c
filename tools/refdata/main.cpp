// refdata: builds the reference data files of the "input" folder from the open
// datasets in data/: dbase.xml, airports.xml and AIG-regcodes.xml, enciphered
// into dbase.enc, airports.enc and AIG-regcodes.enc with the program's key.
//
//   refdata --data <data folder> --out <folder> [--xml] [--server <folder>]
//           [--data-version X.Y.Z] [--check-elevations <csv>] [--check-airlines <dat>]
//           [--counts <json>]
//
// --xml also keeps the plain files; --server writes a download-server tree
// (downloads/versions.json, downloads/<major>/*.enc and the stock park files
// downloads/P3D/archive/stock/<ICAO>.xml).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "core/files.h"
#include "csv.h"
#include "refdata/crypt.h"
#include "refdata/dbase.h"
#include "stock_parking.h"

namespace fs = std::filesystem;
using namespace refdata;

namespace {

struct Options {
    fs::path data = "data";
    fs::path out = "input";
    fs::path server;
    bool keepXml = false;
    std::string dataVersion = "1.0.0";
    fs::path checkElevations;
    fs::path checkAirlines;
    fs::path counts;
};

bool parseDouble(const std::string& text, double& v) {
    std::string t;
    for (char c : text)
        if (c != ',' && c != ' ') t += c;
    if (t.empty()) return false;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    return r.ec == std::errc() && r.ptr == t.data() + t.size();
}

bool isUpperCode(const std::string& s, std::size_t minLen, std::size_t maxLen) {
    if (s.size() < minLen || s.size() > maxLen) return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

std::string join(const std::vector<std::string>& v, std::size_t from, std::size_t to) {
    std::string s;
    for (std::size_t i = from; i < to; ++i) {
        if (i > from) s += ',';
        s += v[i];
    }
    return s;
}

// One section of comma lists, at most 100 codes per element.
void listSection(pugi::xml_node root, const char* section, const char* element, const char* attr,
                 const std::vector<std::string>& codes) {
    pugi::xml_node s = root.append_child(section);
    for (std::size_t i = 0; i < codes.size(); i += 100)
        s.append_child(element).append_attribute(attr) = join(codes, i, std::min(codes.size(), i + 100)).c_str();
}

template <typename Set>
std::vector<std::string> sorted(const Set& s) {
    std::vector<std::string> v(s.begin(), s.end());
    std::sort(v.begin(), v.end());
    return v;
}

std::string toText(pugi::xml_document& doc) {
    pugi::xml_node decl = doc.prepend_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    std::ostringstream s;
    doc.save(s, "  ", pugi::format_default, pugi::encoding_utf8);
    return s.str();
}

// ---------------------------------------------------------------- models

struct TypeInfo {
    std::string names;  // every "manufacturer model" of the type
    std::set<char> species, engineTypes;
    int engines = 0;
    int wake = 0;  // 0 none/L, 1 L/M, 2 M, 3 H, 4 J
};

int wakeRank(const std::string& w) {
    if (w == "J") return 4;
    if (w == "H") return 3;
    if (w == "M") return 2;
    if (w == "L/M") return 1;
    return 0;
}

enum Cls { Light, Buzjets, Large, Heavy, HighPerf, Rotorcraft };
const char* kClassSections[] = {"", "buzjet", "large", "heavy", "high_performance", "rotorcraft"};
const char* kClassElements[] = {"", "bzj", "lar", "hvy", "hpf", "rot"};
const char* kClassNames[] = {"light", "buzjets", "large", "heavy", "highperf", "rotorcraft"};

struct Models {
    std::map<std::string, TypeInfo> types;
    std::map<std::string, int> cls;
    std::map<std::string, std::string> wingspans;  // metres as text
    std::set<std::string> cargo;
    std::vector<std::vector<std::string>> similar;
    std::vector<std::pair<std::string, std::string>> fixes;
    bool valid(const std::string& t) const { return types.count(t) != 0; }
};

int classify(const std::string& code, const TypeInfo& t, const std::set<std::string>& highPerf,
             const std::vector<std::string>& bizWords) {
    if (t.species.count('H') || t.species.count('T')) return Rotorcraft;
    if (t.wake >= 3) return Heavy;
    if (highPerf.count(code)) return HighPerf;
    const bool jet = t.engineTypes.count('J') != 0;
    if (jet)
        for (const auto& w : bizWords)
            if (t.names.find(w) != std::string::npos) return Buzjets;
    if (t.wake == 2 && (jet || t.engineTypes.count('T')) && t.engines >= 2) return Large;
    return Light;
}

Models buildModels(const fs::path& dir, const CsvTable& fleet) {
    Models m;
    const CsvTable vrs = readCsv(dir / "vrs_standing_data_model_types.csv");
    const int cI = vrs.column("ICAO"), cMan = vrs.column("Manufacturer"), cMod = vrs.column("Model"),
              cEng = vrs.column("Engines"), cET = vrs.column("EngineTypeCode"), cSp = vrs.column("SpeciesCode"),
              cW = vrs.column("WakeTurbulenceCode");
    for (const auto& r : vrs.rows) {
        if (r.size() <= static_cast<std::size_t>(cW)) continue;
        const std::string& code = r[cI];
        if (code.empty() || code[0] == '-' || !isUpperCode(code, 2, 4)) continue;
        TypeInfo& t = m.types[code];
        t.names += r[cMan] + " " + r[cMod] + " | ";
        if (!r[cSp].empty()) t.species.insert(r[cSp][0]);
        if (!r[cET].empty()) t.engineTypes.insert(r[cET][0]);
        int e = 0;
        std::from_chars(r[cEng].data(), r[cEng].data() + r[cEng].size(), e);
        t.engines = std::max(t.engines, e);
        t.wake = std::max(t.wake, wakeRank(r[cW]));
    }

    const auto hpWords = readWords(dir / "high_performance.txt");
    const std::set<std::string> highPerf(hpWords.begin(), hpWords.end());
    const auto bizWords = readLines(dir / "business_jet_words.txt");
    for (const auto& [code, t] : m.types) m.cls[code] = classify(code, t, highPerf, bizWords);
    const CsvTable over = readCsv(dir / "class_overrides.csv");
    for (const auto& r : over.rows) {
        if (r.size() < 2 || r[0].empty() || r[0][0] == '#' || !m.valid(r[0])) continue;
        for (int c = 0; c < 6; ++c)
            if (r[1] == kClassNames[c]) m.cls[r[0]] = c;
    }

    // Wingspans from the FAA table: with winglets when given, else without; feet to metres.
    const CsvTable faa = readCsv(dir / "faa_aircraft_characteristics.csv");
    const int fI = faa.column("ICAO_Code"), fWith = faa.column("Wingspan_ft_with_winglets_sharklets"),
              fWithout = faa.column("Wingspan_ft_without_winglets_sharklets");
    for (const auto& r : faa.rows) {
        if (r.size() <= static_cast<std::size_t>(std::max(fWith, fWithout))) continue;
        const std::string code = r[fI];
        if (!m.valid(code) || m.wingspans.count(code)) continue;
        double ft = 0;
        if (!parseDouble(r[fWith], ft) && !parseDouble(r[fWithout], ft)) continue;
        if (ft <= 0) continue;
        m.wingspans[code] = fmt::format("{:.2f}", ft * 0.3048);
    }

    // Cargo types: the listed ones, and the types of which most fleet entries fly cargo.
    for (const auto& c : readWords(dir / "cargo_types.txt"))
        if (m.valid(c)) m.cargo.insert(c);
    std::map<std::string, std::pair<int, int>> cargoShare;  // type -> (cargo, all)
    const int tT = fleet.column("icao_type"), tF = fleet.column("flight_type");
    for (const auto& r : fleet.rows) {
        if (r.size() <= static_cast<std::size_t>(tF) || r[tT].empty()) continue;
        auto& s = cargoShare[r[tT]];
        s.second++;
        if (r[tF] == "cargo") s.first++;
    }
    for (const auto& [type, s] : cargoShare)
        if (m.valid(type) && s.second >= 3 && 2 * s.first > s.second) m.cargo.insert(type);

    for (const auto& line : readLines(dir / "similar_groups.txt")) {
        std::vector<std::string> g;
        std::stringstream ss(line);
        for (std::string t; std::getline(ss, t, ',');)
            if (m.valid(t)) g.push_back(t);
        if (g.size() >= 2) m.similar.push_back(g);
    }

    // Fixes: the listed ones, then the IATA type codes of the fleet file that map to one designator.
    std::set<std::string> seen;
    const CsvTable fx = readCsv(dir / "model_fixes.csv");
    for (const auto& r : fx.rows)
        if (r.size() >= 2 && !r[0].empty() && r[0][0] != '#' && m.valid(r[1]) && !m.valid(r[0]) &&
            seen.insert(r[0]).second)
            m.fixes.emplace_back(r[0], r[1]);
    std::map<std::string, std::set<std::string>> iata;
    const int tA = fleet.column("fg_actype");
    for (const auto& r : fleet.rows)
        if (r.size() > static_cast<std::size_t>(tA) && !r[tA].empty() && !r[tT].empty()) iata[r[tA]].insert(r[tT]);
    for (const auto& [wrong, targets] : iata)
        if (targets.size() == 1 && wrong != *targets.begin() && !m.valid(wrong) && m.valid(*targets.begin()) &&
            seen.insert(wrong).second)
            m.fixes.emplace_back(wrong, *targets.begin());
    return m;
}

// ---------------------------------------------------------------- airlines, registrations

struct Airlines {
    std::set<std::string> codes;
    std::map<std::string, std::string> names;
    std::set<std::string> cargo;
};

Airlines buildAirlines(const fs::path& dir, const CsvTable& fleet) {
    Airlines a;
    const CsvTable vrs = readCsv(dir / "vrs_standing_data_airlines.csv");
    const int cI = vrs.column("ICAO"), cN = vrs.column("Name");
    for (const auto& r : vrs.rows)
        if (r.size() > static_cast<std::size_t>(cI) && r[cI].size() == 3 && isUpperCode(r[cI], 3, 3) &&
            a.codes.insert(r[cI]).second)
            a.names[r[cI]] = r[cN];
    // ZZZ is the airline of generic liveries (atc_parking_codes=ZZZ): the
    // scan keeps only airlines of this table, and matching looks up ZZZ for
    // any operator without a livery of its own.
    a.codes.insert("ZZZ");
    a.names["ZZZ"] = "Generic livery";
    for (const auto& c : readWords(dir / "cargo_operators.txt"))
        if (a.codes.count(c)) a.cargo.insert(c);
    // Fleet operators whose aircraft all fly cargo.
    std::map<std::string, std::pair<int, int>> share;
    const int fA = fleet.column("airline_icao"), fF = fleet.column("flight_type");
    for (const auto& r : fleet.rows) {
        if (r.size() <= static_cast<std::size_t>(fF)) continue;
        auto& s = share[r[fA]];
        s.second++;
        if (r[fF] == "cargo") s.first++;
    }
    for (const auto& [airline, s] : share)
        if (a.codes.count(airline) && s.first == s.second && s.second > 0) a.cargo.insert(airline);
    return a;
}

struct Registration {
    std::string reg, airline, type, opr;
    bool cargo = false;
};

std::vector<Registration> buildRegistrations(const fs::path& dir, const CsvTable& fleet, const Airlines& air) {
    std::vector<Registration> out;
    std::set<std::string> seen;
    const CsvTable vrs = readCsv(dir / "vrs_standing_data_aircraft.csv");
    const int cR = vrs.column("Registration"), cT = vrs.column("ModelICAO"), cO = vrs.column("Operator"),
              cA = vrs.column("AirlineCode");
    for (const auto& r : vrs.rows) {
        if (r.size() <= static_cast<std::size_t>(std::max({cR, cT, cO, cA})) || r[cR].empty()) continue;
        if (!seen.insert(r[cR]).second) continue;
        out.push_back({r[cR], r[cA], r[cT], r[cO], air.cargo.count(r[cA]) != 0});
    }
    const int fR = fleet.column("registration"), fA = fleet.column("airline_icao"), fT = fleet.column("icao_type"),
              fF = fleet.column("flight_type");
    for (const auto& r : fleet.rows) {
        if (r.size() <= static_cast<std::size_t>(fF) || r[fR].empty() || !seen.insert(r[fR]).second) continue;
        const bool code = air.codes.count(r[fA]) != 0;
        const auto name = air.names.find(r[fA]);
        out.push_back({r[fR], code ? r[fA] : "", r[fT], name != air.names.end() ? name->second : r[fA],
                       r[fF] == "cargo" || air.cargo.count(r[fA]) != 0});
    }
    return out;
}

// ---------------------------------------------------------------- documents

std::string dbaseXml(const fs::path& data, std::map<std::string, std::size_t>& counts) {
    const CsvTable fleet = readCsv(data / "registrations" / "fg_ai_fleet.csv");
    const Models m = buildModels(data / "aircraft_types", fleet);
    const Airlines a = buildAirlines(data / "airlines", fleet);
    const auto regs = buildRegistrations(data / "registrations", fleet, a);

    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("dbase_xml");
    // The sections are top-level elements: the document is written as a
    // fragment of siblings below.
    std::vector<std::string> models;
    for (const auto& [code, t] : m.types) models.push_back(code);
    listSection(root, "aircrafts", "aircraft", "types", models);
    counts["models"] = models.size();
    for (int c = Buzjets; c <= Rotorcraft; ++c) {
        std::vector<std::string> v;
        for (const auto& [code, k] : m.cls)
            if (k == c) v.push_back(code);
        listSection(root, kClassSections[c], kClassElements[c], "types", v);
        counts[std::string("class ") + kClassNames[c]] = v.size();
    }
    counts["class light"] = std::count_if(m.cls.begin(), m.cls.end(), [](auto& p) { return p.second == Light; });
    listSection(root, "cargo_types", "cargo_type", "types", sorted(m.cargo));
    counts["cargo types"] = m.cargo.size();
    pugi::xml_node sim = root.append_child("similar_types");
    for (const auto& g : m.similar) sim.append_child("similar").append_attribute("types") = join(g, 0, g.size()).c_str();
    counts["similar groups"] = m.similar.size();
    listSection(root, "ICAO_airlines", "ICAO", "codes", sorted(a.codes));
    counts["airlines"] = a.codes.size();
    listSection(root, "cargo_operators", "ICAO", "codes", sorted(a.cargo));
    counts["cargo operators"] = a.cargo.size();

    const auto pubs = readLines(data / "scenery" / "publishers.txt");
    pugi::xml_node p = root.append_child("publishers");
    for (const auto& line : pubs) p.append_child("pub").append_attribute("names") = line.c_str();
    counts["publishers"] = pubs.size();

    pugi::xml_node w = root.append_child("wingspans");
    for (const auto& [code, metres] : m.wingspans) {
        pugi::xml_node e = w.append_child("wingspan");
        e.append_attribute("type") = code.c_str();
        e.append_attribute("meters") = metres.c_str();
    }
    counts["wingspans"] = m.wingspans.size();
    pugi::xml_node f = root.append_child("fixes");
    for (const auto& [wro, cor] : m.fixes) {
        pugi::xml_node e = f.append_child("fx");
        e.append_attribute("wro") = wro.c_str();
        e.append_attribute("cor") = cor.c_str();
    }
    counts["model fixes"] = m.fixes.size();

    const auto simaddons = readWords(data / "scenery" / "simaddons.txt");
    listSection(root, "simaddonsP3D", "simaddonP3D", "arpts", simaddons);
    counts["add-on airports"] = simaddons.size();
    pugi::xml_node tp = root.append_child("thirdpartiesP3D");
    std::size_t tpn = 0;
    for (const auto& line : readLines(data / "scenery" / "thirdparties.txt")) {
        const auto semi = line.find(';');
        if (semi == std::string::npos) continue;
        pugi::xml_node e = tp.append_child("thirdpartieP3D");
        e.append_attribute("pub") = line.substr(0, semi).c_str();
        e.append_attribute("arpts") = line.substr(semi + 1).c_str();
        ++tpn;
    }
    counts["publisher sceneries"] = tpn;

    pugi::xml_node db = root.append_child("dbase");
    for (const auto& r : regs) {
        pugi::xml_node e = db.append_child("db");
        e.append_attribute("reg") = r.reg.c_str();
        if (!r.airline.empty()) e.append_attribute("airl") = r.airline.c_str();
        if (!r.type.empty()) e.append_attribute("type") = r.type.c_str();
        if (!r.opr.empty()) e.append_attribute("opr") = r.opr.c_str();
        if (r.cargo) e.append_attribute("cargo") = "true";
    }
    counts["dbase records"] = regs.size();

    // Write the sections as top-level elements after the declaration.
    std::ostringstream s;
    s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    for (pugi::xml_node section : root.children()) section.print(s, "  ", pugi::format_default, pugi::encoding_utf8);
    return s.str();
}

struct AirportRow {
    std::string code, iata, lat, lon;
    double altFt = 0;
};

std::string airportsXml(const fs::path& data, std::map<std::string, std::size_t>& counts,
                        const fs::path& checkElevations) {
    const CsvTable t = readCsv(data / "airports" / "vrs_standing_data_airports.csv");
    const int cI = t.column("ICAO"), cA = t.column("IATA"), cLat = t.column("Latitude"), cLon = t.column("Longitude"),
              cAlt = t.column("AltitudeFeet");
    const auto stockList = readWords(data / "airports" / "stock_airports.txt");
    const std::set<std::string> stock(stockList.begin(), stockList.end());
    std::vector<AirportRow> rows;
    std::set<std::string> seen;
    for (const auto& r : t.rows) {
        if (r.size() <= static_cast<std::size_t>(cAlt)) continue;
        double lat, lon, alt;
        if (r[cI].empty() || r[cA].empty() || !parseDouble(r[cLat], lat) || !parseDouble(r[cLon], lon) ||
            !parseDouble(r[cAlt], alt) || std::abs(lat) > 90 || std::abs(lon) > 180)
            continue;
        if (!seen.insert(r[cI]).second) continue;
        rows.push_back({r[cI], r[cA], r[cLat], r[cLon], alt});
    }
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("airports");
    std::size_t stands = 0;
    for (const auto& a : rows) {
        pugi::xml_node e = root.append_child("airport");
        e.append_attribute("code") = a.code.c_str();
        e.append_attribute("iata") = a.iata.c_str();
        e.append_attribute("lat") = a.lat.c_str();
        e.append_attribute("lon") = a.lon.c_str();
        e.append_attribute("alt") = fmt::format("{:g}", a.altFt).c_str();
        const bool s = stock.count(a.code) != 0;
        e.append_attribute("stands") = s ? 1 : 0;
        stands += s;
    }
    for (const auto& code : stock)
        if (!seen.count(code)) std::cerr << "refdata: stock airport " << code << " is not in the catalogue\n";
    counts["airports"] = rows.size();
    counts["airports with stock park file"] = stands;

    if (!checkElevations.empty()) {
        const CsvTable e = readCsv(checkElevations);
        const int eI = e.column("icao"), eE = e.column("elevation_ft");
        std::unordered_map<std::string, double> ref;
        for (const auto& r : e.rows) {
            double v;
            if (r.size() > static_cast<std::size_t>(eE) && parseDouble(r[eE], v)) ref[r[eI]] = v;
        }
        std::vector<double> diffs;
        for (const auto& a : rows)
            if (auto it = ref.find(a.code); it != ref.end()) diffs.push_back(std::abs(it->second - a.altFt));
        std::sort(diffs.begin(), diffs.end());
        if (!diffs.empty()) {
            const auto over = [&](double x) { return std::count_if(diffs.begin(), diffs.end(), [x](double d) { return d > x; }); };
            fmt::print("elevation check: {} airports compared, median |diff| {} ft, p90 {} ft, >50 ft: {}, >500 ft: {}\n",
                       diffs.size(), diffs[diffs.size() / 2], diffs[diffs.size() * 9 / 10], over(50), over(500));
        }
    }
    return toText(doc);
}

std::string regcodesXml(const fs::path& data, std::map<std::string, std::size_t>& counts) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("AIG-regcodes");
    std::size_t n = 0;
    for (const auto& line : readLines(data / "regcodes" / "AIG-regcodes.txt")) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        for (std::string x; std::getline(ss, x, ';');) f.push_back(x);
        if (f.empty() || f.size() > 3) continue;
        pugi::xml_node e = root.append_child("livery");
        e.append_attribute("title") = f[0].c_str();
        e.append_attribute("reg") = f.size() > 1 ? f[1].c_str() : "";
        if (f.size() == 3 && f[2] == "#") e.append_attribute("special") = "true";
        ++n;
    }
    counts["AIG liveries"] = n;
    return toText(doc);
}

void checkAirlines(const fs::path& dat, const fs::path& data) {
    // OpenFlights airlines.dat: id,name,alias,IATA,ICAO,callsign,country,active
    const CsvTable of = readCsv(dat, false);
    const CsvTable vrs = readCsv(data / "airlines" / "vrs_standing_data_airlines.csv");
    std::set<std::string> ours;
    const int cI = vrs.column("ICAO");
    for (const auto& r : vrs.rows)
        if (r.size() > static_cast<std::size_t>(cI)) ours.insert(r[cI]);
    std::size_t active = 0, found = 0;
    for (const auto& r : of.rows) {
        if (r.size() < 8 || r[7] != "Y" || r[4].size() != 3 || !isUpperCode(r[4], 3, 3)) continue;
        ++active;
        found += ours.count(r[4]);
    }
    fmt::print("airline check: {} active OpenFlights ICAO codes, {} of them in the catalogue\n", active, found);
}

void write(const std::string& name, const std::string& xml, const Options& o) {
    const std::string stem = name.substr(0, name.rfind('.'));
    vntx::streamEncrypt(xml, o.out / (stem + ".enc"));
    if (o.keepXml && !vntx::writeFileAtomically(o.out / name, xml)) throw std::runtime_error("cannot write " + name);
    fmt::print("{:<18} {:>9} bytes plain, {:>9} bytes enciphered\n", stem + ".enc", xml.size(),
               fs::file_size(o.out / (stem + ".enc")));
}

nlohmann::json version(const std::string& text) {
    int a = 0, b = 0, c = 0;
    if (std::sscanf(text.c_str(), "%d.%d.%d", &a, &b, &c) != 3) throw std::runtime_error("bad version " + text);
    return {{"major", a}, {"minor", b}, {"patch", c}};
}

void writeServerTree(const Options& o) {
    const fs::path downloads = o.server / "downloads";
    const std::string major = std::to_string(VNTX_VERSION_MAJOR);
    fs::create_directories(downloads / major);
    for (const char* f : {"dbase.enc", "airports.enc", "AIG-regcodes.enc"}) {
        // Removed first: mingw's libstdc++ refuses overwrite_existing on Windows.
        fs::remove(downloads / major / f);
        fs::copy_file(o.out / f, downloads / major / f);
    }
    nlohmann::json v = {{"p3d", version(VNTX_VERSION_TEXT)},  {"airports", version(o.dataVersion)},
                        {"aig", version(o.dataVersion)},      {"liveries", version(o.dataVersion)},
                        {"addons", version(o.dataVersion)},   {"dbase", version(o.dataVersion)}};
    if (!vntx::writeFileAtomically(downloads / "versions.json", v.dump(2) + "\n"))
        throw std::runtime_error("cannot write versions.json");
    fmt::print("server tree written to {}\n", o.server.string());
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error("missing value after " + a);
            return argv[++i];
        };
        try {
            if (a == "--data") o.data = next();
            else if (a == "--out") o.out = next();
            else if (a == "--server") o.server = next();
            else if (a == "--xml") o.keepXml = true;
            else if (a == "--data-version") o.dataVersion = next();
            else if (a == "--check-elevations") o.checkElevations = next();
            else if (a == "--check-airlines") o.checkAirlines = next();
            else if (a == "--counts") o.counts = next();
            else {
                std::cerr << "usage: refdata --data <folder> --out <folder> [--xml] [--server <folder>]\n"
                             "               [--data-version X.Y.Z] [--check-elevations <csv>] [--check-airlines <dat>]\n"
                             "               [--counts <json>]\n";
                return 2;
            }
        } catch (const std::exception& e) {
            std::cerr << "refdata: " << e.what() << "\n";
            return 2;
        }
    }
    try {
        fs::create_directories(o.out);
        std::map<std::string, std::size_t> counts;
        write("dbase.xml", dbaseXml(o.data, counts), o);
        write("airports.xml", airportsXml(o.data, counts, o.checkElevations), o);
        write("AIG-regcodes.xml", regcodesXml(o.data, counts), o);
        if (!o.server.empty()) {
            writeServerTree(o);
            // The park files name registrations the way the program's database knows them.
            vntx::setInputFolder(o.out);
            if (!vntx::gf_readDbase()) throw std::runtime_error("the database just written does not load");
            writeStockParkFiles(o.data, o.server, counts);
        }
        for (const auto& [table, n] : counts) fmt::print("{:<30} {:>7}\n", table, n);
        if (!o.counts.empty() && !vntx::writeFileAtomically(o.counts, nlohmann::json(counts).dump(2) + "\n"))
            throw std::runtime_error("cannot write " + o.counts.string());
        if (!o.checkAirlines.empty()) checkAirlines(o.checkAirlines, o.data);
    } catch (const std::exception& e) {
        std::cerr << "refdata: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
