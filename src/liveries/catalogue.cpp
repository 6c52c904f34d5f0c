#include "liveries/catalogue.h"

#include <algorithm>
#include <set>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/errors.h"
#include "core/files.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/status.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

fs::path& outputFolderRef() {
    static fs::path folder = "output";
    return folder;
}

const char* plural(std::size_t n) { return n == 1 ? "" : "s"; }

}  // namespace

const fs::path& liveryOutputFolder() { return outputFolderRef(); }
void setLiveryOutputFolder(fs::path folder) { outputFolderRef() = std::move(folder); }
fs::path liveriesScannedFile() { return liveryOutputFolder() / "LiveriesScanned.xml"; }

bool writeLiveriesScanned(const std::vector<Livery>& liveries, const fs::path& path) {
    if (liveries.empty()) return false;
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("liveries");
    for (const Livery& l : liveries) {
        pugi::xml_node n = root.append_child("liv");
        n.append_attribute("airl") = l.airline.c_str();
        n.append_attribute("type") = l.model.c_str();
        if (l.cargo) n.append_attribute("cargo") = true;
        n.append_attribute("title") = l.title.c_str();
        if (!l.registration.empty()) n.append_attribute("atcid") = l.registration.c_str();
    }
    std::error_code ec;
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    if (!saveXmlDocument(doc, path)) {
        logf("Error writing file {}: {}", path.string(), "save failed");
        return false;
    }
    logf("{} liveries in {}", liveries.size(), path.string());
    return true;
}

std::vector<Livery> loadLiveriesScanned(const fs::path& path) {
    std::vector<Livery> result;
    pugi::xml_document doc;
    if (!doc.load_file(path.c_str())) throw UserErrorException(99, fmt::format("File {} not found", path.string()));
    pugi::xml_node root = doc.child("liveries");
    if (!root)
        throw UserErrorException(99, fmt::format("{} does not contain a <liveries> section", path.string()));
    auto required = [](pugi::xml_node n, const char* name) {
        const char* value = n.attribute(name).as_string();
        if (*value == '\0')
            throw UserErrorException(99, fmt::format("Missing required attribute '{}' in <{}>", name, n.name()));
        return std::string(value);
    };
    for (pugi::xml_node n : root.children("liv")) {
        Livery l;
        l.airline = required(n, "airl");
        l.model = required(n, "type");
        l.title = required(n, "title");
        l.registration = n.attribute("atcid").as_string();
        l.cargo = n.attribute("cargo").as_bool(false);
        result.push_back(std::move(l));
    }
    if (result.empty()) throw UserErrorException(99, path.string() + " does not contain liveries");
    std::sort(result.begin(), result.end(), catalogueLess);
    logf("{} liveries read from {}", result.size(), path.string());
    return result;
}

std::vector<std::string> modelLines(const std::vector<std::string>& models) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < models.size(); i += 20) {
        std::string line = "  ";
        for (std::size_t j = i; j < std::min(models.size(), i + 20); ++j) {
            if (j > i) line += ", ";
            line += models[j];
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

void LiveryCatalogue::clear() {
    built_ = false;
    titleIndex_.clear();
    airlineIndex_.clear();
    for (auto& m : liveryIndex_) m.clear();
    for (auto& m : modelIndex_) m.clear();
    for (auto& c : classModels_) c.clear();
    similarByModel_.clear();
    airlineSimilar_.clear();
    regcodes_.clear();
    titles_.clear();
}

bool LiveryCatalogue::airlineHasModel(std::string_view airline, std::string_view model) const {
    auto a = airlineIndex_.find(airline);
    return a != airlineIndex_.end() && a->second.find(model) != a->second.end();
}

void LiveryCatalogue::build(const std::vector<Livery>& liveries, const Database& db, const fs::path& outputFolder,
                            bool withOfflineRegcodes) {
    clear();
    // Airline index, then the livery index split by the cargo flag.
    for (const Livery& l : liveries) {
        if (titleIndex_.count(l.title)) continue;  // titles are unique; keep the first
        const std::string& title = titles_.emplace_back(l.title);
        titleIndex_.emplace(std::string_view(title), &title);
        airlineIndex_[l.airline][l.model].emplace_back(title, l.cargo);
        modelIndex_[l.cargo ? 1 : 0][l.model].push_back(title);
    }
    for (const auto& [airline, models] : airlineIndex_)
        for (const auto& [model, list] : models)
            for (const auto& [title, cargo] : list) liveryIndex_[cargo ? 1 : 0][airline][model].push_back(title);

    // Registration index: in-line codes in catalogue order, then the files.
    std::vector<std::pair<std::string, std::string>> regTitles;
    for (const Livery& l : liveries)
        if (!l.registration.empty()) regTitles.emplace_back(l.registration, l.title);
    TitleLookup lookup = [this](std::string_view t) { return findTitle(t); };
    regcodes_.addInline(regTitles, lookup, outputFolder);
    if (withOfflineRegcodes) regcodes_.processOffline(lookup, outputFolder);
    logf("{} registration codes", regcodes_.size());

    logf("{} airlines, {} pax aircraft models and {} cargo aircraft models", airlineIndex_.size(),
         modelIndex_[0].size(), modelIndex_[1].size());
    buildSimilarLists(db);
    classSummary(db);
    genericSummary();
    built_ = true;
}

void LiveryCatalogue::buildSimilarLists(const Database& db) {
    auto hasLivery = [this](std::string_view m) { return modelIndex_[0].count(m) || modelIndex_[1].count(m); };
    std::set<std::string, std::less<>> decided;
    for (const auto& group : db.similarGroups()) {
        for (const auto& model : group) {
            if (!decided.insert(model).second) continue;  // the first group that names a model decides
            std::vector<std::string> others;
            for (const auto& other : group)
                if (other != model && hasLivery(other) &&
                    std::find(others.begin(), others.end(), other) == others.end())
                    others.push_back(other);
            if (!others.empty()) similarByModel_.emplace(model, std::move(others));
        }
    }
    logf("{} similar model definitions", similarByModel_.size());
    for (const auto& [airline, models] : airlineIndex_) {
        for (const auto& [model, similar] : similarByModel_) {
            if (models.count(model)) continue;
            std::vector<std::string> own;
            for (const auto& s : similar)
                if (models.count(s)) own.push_back(s);
            if (!own.empty()) airlineSimilar_[airline].emplace(model, std::move(own));
        }
    }
}

void LiveryCatalogue::classSummary(const Database& db) {
    std::array<std::size_t, kAircraftCategoryCount> pax{}, cargo{};
    std::array<std::set<std::string>, kAircraftCategoryCount> models;
    for (int c = 0; c < 2; ++c)
        for (const auto& [model, titles] : modelIndex_[c]) {
            const int cls = static_cast<int>(db.category(model));
            (c ? cargo : pax)[cls] += titles.size();
            models[cls].insert(model);
        }
    Parameters& p = params();
    for (int cls = 0; cls < kAircraftCategoryCount; ++cls) {
        const auto category = static_cast<AircraftCategory>(cls);
        const char* name = categoryName(category);
        if (models[cls].empty()) {
            logf("Category {}: No livery found", name);
            auto switchOff = [](BoolParam& param, const char* text) {
                if (!param.get()) return;
                param.set(false);
                logf(fmt::runtime(text), param.key);
            };
            if (category == AircraftCategory::Light)
                switchOff(p.LIGHT_AIRCRAFT, "{} temporarily switched off because you do not have light aircraft installed");
            else if (category == AircraftCategory::HighPerf)
                switchOff(p.HIGH_PERF_AIRCRAFT,
                          "{} temporarily switched off because you do not have High Perf aircraft installed");
            else if (category == AircraftCategory::Rotorcraft)
                switchOff(p.HELICOPTERS, "{} temporarily switched off because you do not have Helicopters installed");
            continue;
        }
        std::string cargoPart;
        if (cargo[cls]) cargoPart = fmt::format(" and {} cargo liverie{}", cargo[cls], plural(cargo[cls]));
        logf("Category {}: {} pax liverie{}{}", name, pax[cls], plural(pax[cls]), cargoPart);
        std::vector<std::string> list(models[cls].begin(), models[cls].end());
        for (const auto& line : modelLines(list)) logLine(line);
        if (category == AircraftCategory::Light || category == AircraftCategory::Buzjets ||
            category == AircraftCategory::Rotorcraft)
            classModels_[cls] = std::move(list);
    }
}

void LiveryCatalogue::genericSummary() {
    auto it = airlineIndex_.find(std::string_view("ZZZ"));
    if (it == airlineIndex_.end() || it->second.empty()) {
        logLine("No generic liveries");
        return;
    }
    std::vector<std::string> models;
    for (const auto& [model, list] : it->second) models.push_back(model);
    std::sort(models.begin(), models.end());
    logf("{} model{} have a generic livery", models.size(), plural(models.size()));
    for (const auto& line : modelLines(models)) logLine(line);
}

LiveryCatalogue& catalogue() {
    static LiveryCatalogue instance;
    return instance;
}

void processLiveries() {
    LiveryCatalogue& cat = catalogue();
    if (cat.built()) {
        logLine("Processing scanned liveries skipped; already done in previous start-up");
        return;
    }
    std::vector<Livery> list = loadLiveriesScanned(liveriesScannedFile());
    indicators().liveryCount = static_cast<int>(list.size());
    requestRepaint();
    cat.build(list, database(), liveryOutputFolder());
    requestRepaint();
}

}  // namespace vntx
