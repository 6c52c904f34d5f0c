// The settings store: named, typed settings kept in parameters.xml in the
// program's data folder, written back one at a time as soon as they change.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace pugi {
class xml_node;
class xml_document;
}

namespace vntx {

struct BoolParam {
    BoolParam(const char* key, bool def, int controlId = 0, int row = 0)
        : key(key), def(def), controlId(controlId), row(row), value_(def) {}
    const char* key;
    bool def;
    int controlId;
    int row;
    bool get() const { return value_.load(std::memory_order_relaxed); }
    void set(bool v) { value_.store(v, std::memory_order_relaxed); }
    operator bool() const { return get(); }

private:
    std::atomic<bool> value_;
};

struct IntParam {
    // A range setting.
    IntParam(const char* key, int def, int min, int max, int controlId = 0, int row = 0)
        : key(key), def(def), min(min), max(max), controlId(controlId), row(row), value_(def) {}
    // A list setting: minimum and maximum are the first and last choice.
    IntParam(const char* key, int def, std::vector<int> choices, int controlId, int row)
        : key(key), def(def), min(choices.front()), max(choices.back()), controlId(controlId), row(row),
          choices(std::move(choices)), value_(def) {}
    const char* key;
    int def;
    int min;
    int max;
    int controlId;
    int row;
    std::vector<int> choices;  // empty for a plain range
    int clamp(long long v) const { return static_cast<int>(v > max ? max : (v < min ? min : v)); }
    int get() const { return value_.load(std::memory_order_relaxed); }
    // Stores the value limited to the range.
    void set(long long v) { value_.store(clamp(v), std::memory_order_relaxed); }
    operator int() const { return get(); }

private:
    std::atomic<int> value_;
};

struct TextParam {
    TextParam(const char* key, std::string def = {}, int controlId = 0, int row = 0)
        : key(key), def(std::move(def)), controlId(controlId), row(row), value_(this->def) {}
    const char* key;
    std::string def;
    int controlId;
    int row;
    std::string get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void set(std::string v) {
        std::lock_guard lock(mutex_);
        value_ = std::move(v);
    }
    bool empty() const { return get().empty(); }

private:
    mutable std::mutex mutex_;
    std::string value_;
};

// MAX_FIT_FL: hours chosen from a list, derived from MAX_FIT, not stored itself.
struct HourParam {
    const char* key = "MAX_FIT_FL";
    float def = 24.0f;
    int controlId = 32854;
    int row = 371;
    std::vector<float> choices{0.5f, 1, 1.5f, 2, 2.5f, 3, 3.5f, 4, 4.5f, 5, 6, 7, 8, 9, 10, 12, 15, 18, 21, 24};
    float get() const { return value_.load(std::memory_order_relaxed); }
    void set(float v) { value_.store(v, std::memory_order_relaxed); }

private:
    std::atomic<float> value_{24.0f};
};

class Parameters {
public:
    Parameters();
    Parameters(const Parameters&) = delete;
    Parameters& operator=(const Parameters&) = delete;

    // Booleans without control.
    BoolParam RANDOM{"RANDOM", true};
    // Booleans with control.
    BoolParam SCAN_LIVERIES{"SCAN_LIVERIES", true, 32798, 147};
    BoolParam LIG_PRIORITIZE{"LIG_PRIORITIZE", true, 32800, 147};
    BoolParam ALWAYS_ON_TOP{"ALWAYS_ON_TOP", false, 32771, 147};
    BoolParam SCAN_AIRPORTS{"SCAN_AIRPORTS", true, 32802, 175};
    BoolParam LEARN_SOFT{"LEARN_SOFT", true, 32776, 175};
    BoolParam AFG_AUTOMATIC{"AFG_AUTOMATIC", true, 32803, 175};
    BoolParam NAV_LIGHTS_WHILE_PARKED{"NAV_LIGHTS_WHILE_PARKED", true, 32777, 175};
    BoolParam LIGHT_AIRCRAFT{"LIGHT_AIRCRAFT", true, 32809, 203};
    BoolParam HELICOPTERS{"HELICOPTERS", true, 32810, 203};
    BoolParam HIGH_PERF_AIRCRAFT{"HIGH_PERF_AIRCRAFT", true, 32811, 203};
    BoolParam AEROWINX{"AEROWINX", false, 32774, 203};
    BoolParam GUID_CHANGES{"GUID_CHANGES", true, 32773, 203};
    BoolParam AUTO_RANGE{"AUTO_RANGE", true, 32819, 231};
    BoolParam AIRBORNE_ONLY{"AIRBORNE_ONLY", false, 32821, 231};
    BoolParam COLLISION_USER_AIR{"COLLISION_USER_AIR", true, 32833, 287};
    BoolParam COLLISION_USER_GND{"COLLISION_USER_GND", true, 32834, 287};
    BoolParam COLLISION_LIVE_PARKED_GND{"COLLISION_LIVE_PARKED_GND", false, 32835, 287};
    BoolParam STRAIGHT_PBS_ONLY{"STRAIGHT_PBS_ONLY", false, 32855, 315};
    BoolParam INITIAL_LOAD_ONLY{"INITIAL_LOAD_ONLY", false, 32851, 371};
    BoolParam PARK_SOFT{"PARK_SOFT", false, 32852, 371};
    BoolParam WEEK{"WEEK", false, 32853, 371};

    // Integers without control.
    IntParam MAX_FIT{"MAX_FIT", 47, 0, 47};
    IntParam HOLDING_THRESHOLD_METERS{"HOLDING_THRESHOLD_METERS", 250, 10, 4000};
    IntParam MAX_HOLDING_MINUTES{"MAX_HOLDING_MINUTES", 20, 1, 60};
    IntParam CUSTOM_PARKING_PERCENTAGE{"CUSTOM_PARKING_PERCENTAGE", -1, -1, 100};
    IntParam P3D_VERSION{"P3D_VERSION", 5, 5, 6};
    IntParam LAST_EPOCH_TIME{"LAST_EPOCH_TIME:", 0, 0, 2147483647};
    IntParam MAIN_WINDOW_X{"MAIN_WINDOW_X", 400, -30000, 30000};
    IntParam MAIN_WINDOW_Y{"MAIN_WINDOW_Y", 20, -30000, 30000};

    // Integers with a list.
    IntParam MATCHING_DEPTH{"MATCHING_DEPTH", 4, {1, 2, 3, 4}, 32808, 203};
    IntParam RANGE{"RANGE", 40, {2, 3, 4, 5, 6, 8, 10, 12, 14, 16, 18, 20, 25, 30, 35, 40, 50, 65, 80, 100}, 32818, 231};
    IntParam AR_ABOVE_HEIGHT{"AR_ABOVE_HEIGHT", 48000,
                             {18000, 21000, 24000, 27000, 30000, 33000, 36000, 39000, 42000, 45000, 48000}, 32820,
                             231};
    IntParam MAX_PARK_SEL{"MAX_PARK_SEL", 500, {0, 10, 25, 50, 75, 100, 500}, 32848, 315};
    IntParam MAX_LIVE_SEL{"MAX_LIVE_SEL", 500, {0, 10, 25, 50, 75, 100, 500}, 32849, 315};
    IntParam AIRP_RANGE{"AIRP_RANGE", 20, {5, 10, 15, 20, 25, 30}, 32840, 343};
    IntParam AIRP_HEIGHT{"AIRP_HEIGHT", 18000,
                         {2000, 4000, 6000, 8000, 10000, 12000, 14000, 16000, 18000, 36000, 48000}, 32841, 343};
    IntParam parking_percentage{"parking_percentage", 30,
                                {0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95, 100},
                                32850, 371};

    HourParam MAX_FIT_FL;

    // Texts without an edit box.
    TextParam PORT_NUMBER{"PORT_NUMBER", "10747"};
    TextParam SIM_INSTALL_PATH{"SIM_INSTALL_PATH"};
    TextParam lfolder[10]{{"lfolder0"}, {"lfolder1"}, {"lfolder2"}, {"lfolder3"}, {"lfolder4"},
                          {"lfolder5"}, {"lfolder6"}, {"lfolder7"}, {"lfolder8"}, {"lfolder9"}};
    TextParam afolder[10]{{"afolder0"}, {"afolder1"}, {"afolder2"}, {"afolder3"}, {"afolder4"},
                          {"afolder5"}, {"afolder6"}, {"afolder7"}, {"afolder8"}, {"afolder9"}};
    TextParam PROGRAM_VERSION{"PROGRAM_VERSION"};
    TextParam DBASE_VERSION{"DBASE_VERSION"};
    TextParam AIG_VERSION{"AIG_VERSION"};
    TextParam AIRPORTS_VERSION{"AIRPORTS_VERSION"};
    TextParam LIV_SCAN_VERSION{"LIV_SCAN_VERSION"};
    TextParam ADDONS_SCAN_VERSION{"ADDONS_SCAN_VERSION"};
    // Texts with an edit box (last).
    TextParam ALL_INSTALL_PATH{"ALL_INSTALL_PATH", "", 32788, 119};
    TextParam BLOCK_CALLSIGN{"BLOCK_CALLSIGN", "", 32828, 259};
    TextParam DESTINATION{"DESTINATION", "", 32839, 343};

    // The groups in reading order.
    std::vector<BoolParam*> bools;   // without control, then with control
    std::vector<IntParam*> ints;     // without control, then with control
    std::vector<TextParam*> texts;   // without edit box, then with edit box

    // Derived range in metres (RANGE times 1852).
    std::atomic<double> rangeMeters{40 * 1852.0};

    // Where parameters.xml lives (default: RoamingAppData/Ventrix_P3D/parameters.xml).
    void setFile(const std::filesystem::path& path);
    std::filesystem::path file() const;

    // Reads every setting; true when the file did not exist and was created.
    bool readParameters();
    // The cycle's preparation step: read, force both scans on a new file or
    // upgrade, derive MAX_FIT_FL and the range.
    void readAllParameters();
    void upgrade();

    void writeParameter(const BoolParam& p);
    void writeParameter(const IntParam& p);
    void writeParameter(const TextParam& p);
    void removeParameter(const char* key);

    void recomputeRange();
    // Every setting back to its default (tests).
    void resetToDefaults();

private:
    void writeValue(const char* key, const std::string& value);
    mutable std::mutex fileMutex_;  // serialises every load-change-save of the file
    std::filesystem::path file_;
};

Parameters& params();

// Conversion tables.
int nearestRangeChoice(int nauticalMiles);
int nearestHeightChoice(int feet);
float halfHoursToHours(int halfHours);

// The meta block of the XML files the program writes for the user.
bool writeMetaBlock(pugi::xml_node parent);
std::string readMetaValue(const pugi::xml_document& doc, const std::string& name);

// The program's data folder: RoamingAppData joined with "Ventrix_P3D".
std::filesystem::path programDataFolder();

}  // namespace vntx
