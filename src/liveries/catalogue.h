// The livery catalogue: the installed liveries organised for the choice of a
// livery per aircraft. Built once per program run from LiveriesScanned.xml,
// read-only afterwards; built and read on the cycle thread only.
#pragma once

#include <array>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "liveries/livery.h"
#include "refdata/dbase.h"
#include "refdata/regcodes.h"

namespace vntx {

template <typename V>
using TextMap = std::unordered_map<std::string, V, StringHash, std::equal_to<>>;
using TitleList = std::vector<std::string_view>;

// Where the scan writes and the catalogue reads ("output" unless changed).
const std::filesystem::path& liveryOutputFolder();
void setLiveryOutputFolder(std::filesystem::path folder);
std::filesystem::path liveriesScannedFile();

// Writes LiveriesScanned.xml (nothing when the list is empty).
bool writeLiveriesScanned(const std::vector<Livery>& liveries, const std::filesystem::path& path);
// Reads LiveriesScanned.xml sorted in catalogue order; throws UserErrorException.
std::vector<Livery> loadLiveriesScanned(const std::filesystem::path& path);

class LiveryCatalogue {
public:
    // The indexes, class summaries and switch-offs from a list of liveries,
    // then the registration index (in-line codes, offline files; reports go
    // under outputFolder). The list must be in catalogue order.
    void build(const std::vector<Livery>& liveries, const Database& db, const std::filesystem::path& outputFolder,
               bool withOfflineRegcodes = true);
    void clear();
    bool built() const { return built_; }
    std::size_t liveryCount() const { return titles_.size(); }

    // The catalogue's own copy of a title.
    const std::string* findTitle(std::string_view title) const {
        auto it = titleIndex_.find(title);
        return it == titleIndex_.end() ? nullptr : it->second;
    }
    // Titles of (cargo, airline, model); nullptr when none.
    const TitleList* liveries(bool cargo, std::string_view airline, std::string_view model) const {
        const auto& byAirline = liveryIndex_[cargo ? 1 : 0];
        auto a = byAirline.find(airline);
        if (a == byAirline.end()) return nullptr;
        auto m = a->second.find(model);
        return m == a->second.end() ? nullptr : &m->second;
    }
    // Titles of all airlines for (cargo, model).
    const TitleList* modelLiveries(bool cargo, std::string_view model) const {
        const auto& byModel = modelIndex_[cargo ? 1 : 0];
        auto m = byModel.find(model);
        return m == byModel.end() ? nullptr : &m->second;
    }
    bool airlineHasModel(std::string_view airline, std::string_view model) const;
    // The other members of the model's similar group that have liveries.
    const std::vector<std::string>* similarModels(std::string_view model) const {
        auto it = similarByModel_.find(model);
        return it == similarByModel_.end() ? nullptr : &it->second;
    }
    // The similar models the airline has liveries for, when it has none of the model.
    const std::vector<std::string>* airlineSimilarModels(std::string_view airline, std::string_view model) const {
        auto a = airlineSimilar_.find(airline);
        if (a == airlineSimilar_.end()) return nullptr;
        auto m = a->second.find(model);
        return m == a->second.end() ? nullptr : &m->second;
    }
    // Light, Buzjets and Rotorcraft: the models of the class with a livery.
    const std::vector<std::string>& classModels(AircraftCategory category) const {
        return classModels_[static_cast<int>(category)];
    }
    const RegcodeIndex& regcodes() const { return regcodes_; }
    std::size_t airlineCount() const { return airlineIndex_.size(); }
    std::size_t similarDefinitionCount() const { return similarByModel_.size(); }

private:
    void buildSimilarLists(const Database& db);
    void classSummary(const Database& db);
    void genericSummary();

    bool built_ = false;
    std::deque<std::string> titles_;  // every title; the indexes point here
    std::unordered_map<std::string_view, const std::string*> titleIndex_;
    TextMap<TextMap<std::vector<std::pair<std::string_view, bool>>>> airlineIndex_;
    std::array<TextMap<TextMap<TitleList>>, 2> liveryIndex_;
    std::array<TextMap<TitleList>, 2> modelIndex_;
    std::array<std::vector<std::string>, kAircraftCategoryCount> classModels_;
    TextMap<std::vector<std::string>> similarByModel_;
    TextMap<TextMap<std::vector<std::string>>> airlineSimilar_;
    RegcodeIndex regcodes_;
};

// The program's catalogue.
LiveryCatalogue& catalogue();

// The builder as the cycle calls it: loads LiveriesScanned.xml and builds the
// catalogue once per program run.
void processLiveries();

// "  A, B, C" lines of twenty models each.
std::vector<std::string> modelLines(const std::vector<std::string>& models);

}  // namespace vntx
