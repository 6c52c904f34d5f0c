#include "refdata/dbase.h"

#include <atomic>
#include <stdexcept>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/errors.h"
#include "core/files.h"
#include "core/log.h"
#include "platform/platform.h"
#include "refdata/crypt.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

constexpr double kMetresPerNm = 1852.0;

// Splits at commas. Empty pieces are dropped unless keepEmpty.
std::vector<std::string> splitList(std::string_view text, bool keepEmpty = false) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string_view piece =
            text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (keepEmpty || !piece.empty()) out.emplace_back(piece);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return out;
}

// Every child `element` of `section`: the pieces of its attribute `attr` go
// into the set; a set still empty afterwards is an error the user must fix.
void readList(const pugi::xml_document& doc, const char* section, const char* element, const char* attr,
              StringSet& set) {
    for (pugi::xml_node child : doc.child(section).children(element))
        for (auto& piece : splitList(child.attribute(attr).as_string())) set.insert(std::move(piece));
    if (set.empty())
        throw UserErrorException(
            99, fmt::format("In XML file section [{}], element [{}], attribute [{}] is empty.", section, element, attr));
}

bool contains(const StringSet& set, std::string_view key) { return set.find(key) != set.end(); }

}  // namespace

const char* categoryName(AircraftCategory category) {
    switch (category) {
        case AircraftCategory::Light: return "Light";
        case AircraftCategory::Buzjets: return "Buzjets";
        case AircraftCategory::Large: return "Large";
        case AircraftCategory::Heavy: return "Heavy";
        case AircraftCategory::HighPerf: return "HighPerf";
        case AircraftCategory::Rotorcraft: return "Rotorcraft";
    }
    return "?";
}

void Database::clear() { *this = Database{}; }

void Database::load(const pugi::xml_document& doc) {
    clear();
    readList(doc, "aircrafts", "aircraft", "types", models_);
    readList(doc, "high_performance", "hpf", "types", highPerf_);
    readList(doc, "heavy", "hvy", "types", heavy_);
    readList(doc, "large", "lar", "types", large_);
    readList(doc, "buzjet", "bzj", "types", buzjet_);
    readList(doc, "rotorcraft", "rot", "types", rotorcraft_);
    readList(doc, "cargo_types", "cargo_type", "types", cargoTypes_);

    similarGroups_.reserve(64);
    for (pugi::xml_node n : doc.child("similar_types").children("similar"))
        similarGroups_.push_back(splitList(n.attribute("types").as_string()));

    readList(doc, "ICAO_airlines", "ICAO", "codes", airlines_);
    readList(doc, "cargo_operators", "ICAO", "codes", cargoOperators_);

    publishers_.reserve(640);
    for (pugi::xml_node n : doc.child("publishers").children("pub"))
        publishers_.push_back(splitList(n.attribute("names").as_string(), true));
    logf("{} publishers read", publishers_.size());

    bool anySpan = false;
    for (pugi::xml_node n : doc.child("wingspans").children("wingspan")) {
        const std::string type = n.attribute("type").as_string();
        if (type.empty() || !isValidModel(type)) {
            logf("wingspan model {} is not valid, skipped", type);
            continue;
        }
        const double half = n.attribute("meters").as_double() * 0.5 / kMetresPerNm;
        halfWingspans_.try_emplace(type, half);
        if (half > largestHalfWingspan_) largestHalfWingspan_ = half;
        anySpan = true;
    }
    if (anySpan) {
        double sums[kAircraftCategoryCount] = {};
        int counts[kAircraftCategoryCount] = {};
        for (const auto& [model, half] : halfWingspans_) {
            const int c = static_cast<int>(category(model));
            sums[c] += half;
            ++counts[c];
        }
        // A class without any span keeps 0: its models then fall back to no size at all.
        for (int c = 0; c < kAircraftCategoryCount; ++c) classAverages_[c] = counts[c] ? sums[c] / counts[c] : 0.0;
    }

    for (pugi::xml_node n : doc.child("fixes").children("fx")) {
        const std::string wro = n.attribute("wro").as_string();
        const std::string cor = n.attribute("cor").as_string();
        if (cor.empty() || !isValidModel(cor)) {
            logf("wrong fix {} -> {}, the latter is not valid", wro, cor);
            continue;
        }
        if (!fixes_.try_emplace(wro, cor).second) logf("wrong part of fix: '{}', already exists, skipped", wro);
    }

    readList(doc, "simaddonsP3D", "simaddonP3D", "arpts", addonAirports_);
    publisherSceneries_.reserve(200);
    for (pugi::xml_node n : doc.child("thirdpartiesP3D").children("thirdpartieP3D"))
        publisherSceneries_.push_back({n.attribute("pub").as_string(), splitList(n.attribute("arpts").as_string())});

    registrations_.clear();
    for (pugi::xml_node n : doc.child("dbase").children("db")) {
        std::string reg = n.attribute("reg").as_string();
        RegistrationRecord rec{n.attribute("airl").as_string(), n.attribute("type").as_string(),
                               n.attribute("opr").as_string(), n.attribute("cargo").as_bool(false)};
        if (!registrations_.try_emplace(reg, std::move(rec)).second) logf("regcode {} already exists", reg);
    }
}

AircraftCategory Database::category(std::string_view model) const {
    if (contains(large_, model)) return AircraftCategory::Large;
    if (contains(heavy_, model)) return AircraftCategory::Heavy;
    if (contains(buzjet_, model)) return AircraftCategory::Buzjets;
    if (contains(rotorcraft_, model)) return AircraftCategory::Rotorcraft;
    if (contains(highPerf_, model)) return AircraftCategory::HighPerf;
    return AircraftCategory::Light;
}

std::size_t Database::classSize(AircraftCategory category) const {
    switch (category) {
        case AircraftCategory::Buzjets: return buzjet_.size();
        case AircraftCategory::Large: return large_.size();
        case AircraftCategory::Heavy: return heavy_.size();
        case AircraftCategory::HighPerf: return highPerf_.size();
        case AircraftCategory::Rotorcraft: return rotorcraft_.size();
        case AircraftCategory::Light: break;
    }
    std::size_t n = 0;
    for (const auto& m : models_)
        if (this->category(m) == AircraftCategory::Light) ++n;
    return n;
}

bool Database::isValidModel(std::string_view model) const { return !model.empty() && contains(models_, model); }

double Database::halfWingspan(std::string_view model) const {
    const auto it = halfWingspans_.find(model);
    if (it != halfWingspans_.end()) return it->second;
    return classAverages_[static_cast<int>(category(model))];
}

double Database::classAverageHalfWingspan(AircraftCategory category) const {
    return classAverages_[static_cast<int>(category)];
}

bool Database::hasWingspan(std::string_view model) const { return halfWingspans_.find(model) != halfWingspans_.end(); }

bool Database::isValidAirline(std::string_view airline) const {
    return !airline.empty() && contains(airlines_, airline);
}

bool Database::isCargoType(std::string_view model) const { return contains(cargoTypes_, model); }

bool Database::isCargoOperator(std::string_view airline) const { return contains(cargoOperators_, airline); }

std::optional<std::string> Database::modelFix(std::string_view wrongModel) const {
    const auto it = fixes_.find(wrongModel);
    if (it == fixes_.end()) return std::nullopt;
    return it->second;
}

std::string Database::publisherOfPath(std::string_view path, std::vector<std::string>* scanMessages) const {
    const std::string lowerPath = toLower(path);
    if (lowerPath.find("orbx") != std::string::npos) {
        if (scanMessages) scanMessages->push_back(fmt::format("from filename => publisher {}", "simaddon"));
        return "simaddon";
    }
    for (const auto& names : publishers_)
        for (const auto& name : names)
            if (lowerPath.find(toLower(name)) != std::string::npos) return names.front();
    return {};
}

const RegistrationRecord* Database::registration(std::string_view reg) const {
    const auto it = registrations_.find(reg);
    return it == registrations_.end() ? nullptr : &it->second;
}

Database& database() {
    static Database db;
    return db;
}

bool gf_readDbase() {
    const fs::path folder = inputFolder();
    const fs::path enc = folder / "dbase.enc";
    const fs::path xml = folder / "dbase.xml";
    const std::string encText = platform::pathToUtf8(enc);
    std::error_code ec;
    if (!fs::exists(enc, ec)) throw std::runtime_error(fmt::format("{} not available", encText));
    if (!gf_streamDecrypt(enc, xml)) throw std::runtime_error(fmt::format("{} stream decrypt failed", encText));

    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_file(xml.c_str());
    // The plain twin never stays on disk, whatever the outcome of the read.
    removeFileQuietly(xml);
    if (!parsed) {
        logf("'{}' not read because of {}", platform::pathToUtf8(xml), parsed.description());
        return false;
    }
    Database fresh;
    fresh.load(doc);
    database() = std::move(fresh);
    logf("{} dbase records read", database().registrationCount());
    flushLog();
    return true;
}

bool readDataFiles() {
    static std::atomic<bool> done{false};
    if (done.load()) return true;
    const bool ok = gf_readDbase();
    if (ok) done.store(true);
    return ok;
}

}  // namespace vntx
