// The aircraft and airline database, read once at start-up from
// input/dbase.enc and read-only afterwards.
//
// Model codes are ICAO aircraft type designators; all comparisons of model
// codes, airline codes and registrations are exact and case-sensitive.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pugi {
class xml_document;
}

namespace vntx {

using AircraftModel = std::string;

// The size class of a model.
enum class AircraftCategory : int {
    Light = 0,
    Buzjets = 1,
    Large = 2,
    Heavy = 3,
    HighPerf = 4,
    Rotorcraft = 5,
};
inline constexpr int kAircraftCategoryCount = 6;

// "Light", "Buzjets", "Large", "Heavy", "HighPerf", "Rotorcraft".
const char* categoryName(AircraftCategory category);

// What the database knows about one registration.
struct RegistrationRecord {
    std::string airline;   // ICAO airline code, may be empty
    std::string model;     // model code, may be empty
    std::string opr;       // operator, may be empty
    bool cargo = false;
};

// The add-on airports of one scenery publisher.
struct PublisherScenery {
    std::string publisher;
    std::vector<std::string> airports;
};

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
using StringSet = std::set<std::string, std::less<>>;

class Database {
public:
    // Replaces everything with the content of a parsed dbase.xml. Throws
    // UserErrorException(99, "In XML file section [..] ...") for an empty
    // required list; logs the skipped entries.
    void load(const pugi::xml_document& doc);
    void clear();

    // By the class sets, in the order Large, Heavy, Buzjets, Rotorcraft,
    // HighPerf; Light when in none (whether a valid model or not).
    AircraftCategory category(std::string_view model) const;
    bool isValidModel(std::string_view model) const;
    // Nautical miles: the model's own half span, else the average of its class.
    double halfWingspan(std::string_view model) const;
    double largestHalfWingspan() const { return largestHalfWingspan_; }
    double classAverageHalfWingspan(AircraftCategory category) const;
    bool hasWingspan(std::string_view model) const;
    bool isValidAirline(std::string_view airline) const;
    bool isCargoType(std::string_view model) const;
    bool isCargoOperator(std::string_view airline) const;
    // The model code to use instead of a wrong one, if the database has one.
    std::optional<std::string> modelFix(std::string_view wrongModel) const;
    // The publisher of a scenery path: "simaddon" for ORBX paths (then the
    // line "from filename => publisher simaddon" is appended to scanMessages
    // when given), else the first publisher with a name the path contains
    // (any letter case), else empty.
    std::string publisherOfPath(std::string_view path, std::vector<std::string>* scanMessages = nullptr) const;
    const RegistrationRecord* registration(std::string_view reg) const;

    const StringSet& models() const { return models_; }
    const std::vector<std::vector<std::string>>& similarGroups() const { return similarGroups_; }
    // Each entry: the publisher's name followed by its aliases.
    const std::vector<std::vector<std::string>>& publishers() const { return publishers_; }
    const StringSet& addonAirports() const { return addonAirports_; }
    const std::vector<PublisherScenery>& publisherSceneries() const { return publisherSceneries_; }
    std::size_t registrationCount() const { return registrations_.size(); }
    std::size_t wingspanCount() const { return halfWingspans_.size(); }
    std::size_t fixCount() const { return fixes_.size(); }
    std::size_t airlineCount() const { return airlines_.size(); }
    std::size_t cargoTypeCount() const { return cargoTypes_.size(); }
    std::size_t cargoOperatorCount() const { return cargoOperators_.size(); }
    std::size_t classSize(AircraftCategory category) const;

private:
    StringSet models_, highPerf_, heavy_, large_, buzjet_, rotorcraft_, cargoTypes_;
    std::vector<std::vector<std::string>> similarGroups_;
    StringSet airlines_, cargoOperators_;
    std::vector<std::vector<std::string>> publishers_;
    std::map<std::string, double, std::less<>> halfWingspans_;
    double largestHalfWingspan_ = 0.0;
    double classAverages_[kAircraftCategoryCount] = {};
    std::unordered_map<std::string, std::string, StringHash, std::equal_to<>> fixes_;
    StringSet addonAirports_;
    std::vector<PublisherScenery> publisherSceneries_;
    std::unordered_map<std::string, RegistrationRecord, StringHash, std::equal_to<>> registrations_;
};

// The program's database.
Database& database();

// Loads the program's database from input/dbase.enc: deciphers it to
// dbase.xml, reads it and removes the plain file again. Throws
// "{} not available" / "{} stream decrypt failed" / the empty-section user
// error; returns false (after logging) when dbase.xml does not parse.
bool gf_readDbase();

// The preparation step: the database once per process. False or an
// exception fails the cycle.
bool readDataFiles();

// Shorthands on the program's database.
inline AircraftCategory aircraftCategory(std::string_view model) { return database().category(model); }
inline bool isValidModel(std::string_view model) { return database().isValidModel(model); }
inline double halfWingspan(std::string_view model) { return database().halfWingspan(model); }
inline double largestHalfWingspan() { return database().largestHalfWingspan(); }
inline bool isValidAirline(std::string_view airline) { return database().isValidAirline(airline); }
inline std::optional<std::string> modelFix(std::string_view model) { return database().modelFix(model); }
inline const RegistrationRecord* registrationRecord(std::string_view reg) { return database().registration(reg); }

}  // namespace vntx
