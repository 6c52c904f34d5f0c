#include "core/parameters.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <cstdlib>
#include <system_error>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/files.h"
#include "core/log.h"
#include "core/status.h"
#include "core/version.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace vntx {

Parameters::Parameters() {
    bools = {&RANDOM,
             &SCAN_LIVERIES, &LIG_PRIORITIZE, &ALWAYS_ON_TOP, &SCAN_AIRPORTS, &LEARN_SOFT, &AFG_AUTOMATIC,
             &NAV_LIGHTS_WHILE_PARKED, &LIGHT_AIRCRAFT, &HELICOPTERS, &HIGH_PERF_AIRCRAFT, &AEROWINX,
             &GUID_CHANGES, &AUTO_RANGE, &AIRBORNE_ONLY, &COLLISION_USER_AIR, &COLLISION_USER_GND,
             &COLLISION_LIVE_PARKED_GND, &STRAIGHT_PBS_ONLY, &INITIAL_LOAD_ONLY, &PARK_SOFT, &WEEK};
    ints = {&MAX_FIT, &HOLDING_THRESHOLD_METERS, &MAX_HOLDING_MINUTES, &CUSTOM_PARKING_PERCENTAGE, &P3D_VERSION,
            &LAST_EPOCH_TIME, &MAIN_WINDOW_X, &MAIN_WINDOW_Y,
            &MATCHING_DEPTH, &RANGE, &AR_ABOVE_HEIGHT, &MAX_PARK_SEL, &MAX_LIVE_SEL, &AIRP_RANGE, &AIRP_HEIGHT,
            &parking_percentage};
    texts = {&PORT_NUMBER, &SIM_INSTALL_PATH};
    for (auto& t : lfolder) texts.push_back(&t);
    for (auto& t : afolder) texts.push_back(&t);
    for (auto* t : {&PROGRAM_VERSION, &DBASE_VERSION, &AIG_VERSION, &AIRPORTS_VERSION, &LIV_SCAN_VERSION,
                    &ADDONS_SCAN_VERSION, &ALL_INSTALL_PATH, &BLOCK_CALLSIGN, &DESTINATION})
        texts.push_back(t);
}

Parameters& params() {
    static Parameters instance;
    return instance;
}

fs::path programDataFolder() { return platform::knownFolder(platform::KnownFolder::RoamingAppData) / kProgramName; }

void Parameters::setFile(const fs::path& path) {
    std::lock_guard lock(fileMutex_);
    file_ = path;
}

fs::path Parameters::file() const {
    std::lock_guard lock(fileMutex_);
    return file_.empty() ? programDataFolder() / "parameters.xml" : file_;
}

void Parameters::resetToDefaults() {
    for (auto* b : bools) b->set(b->def);
    for (auto* i : ints) i->set(i->def);
    for (auto* t : texts) t->set(t->def);
    MAX_FIT_FL.set(MAX_FIT_FL.def);
    recomputeRange();
}

void Parameters::recomputeRange() { rangeMeters = RANGE.get() * 1852.0; }

namespace {

std::string query(const char* key) { return fmt::format("/parameters/parameter[@name='{}']", key); }

pugi::xml_node findParameter(pugi::xml_document& doc, const char* key) {
    try {
        return doc.select_node(query(key).c_str()).node();
    } catch (const pugi::xpath_exception&) {
        return {};
    }
}

pugi::xml_node appendParameter(pugi::xml_node root, const char* key, const std::string& value) {
    auto node = root.append_child("parameter");
    if (!node) return node;
    if (!node.append_attribute("name").set_value(key) || !node.append_attribute("value").set_value(value.c_str()))
        return {};
    return node;
}

long long parseDecimal(const char* text) {
    // The XML library's integer rule: leading blanks, optional sign, digits; garbage reads as 0.
    return std::strtoll(text, nullptr, 10);
}

const char* banner = "--------------------------------------------------";

}  // namespace

bool Parameters::readParameters() {
    std::lock_guard lock(fileMutex_);
    const fs::path path = file_.empty() ? programDataFolder() / "parameters.xml" : file_;
    logf("{} parameters {}", banner, banner);
    pugi::xml_document doc;
    auto loaded = doc.load_file(path.c_str());
    if (!loaded) {
        logf("{} not found, default values taken:", path.string());
        // A damaged file leaves what was parsed before the damage in doc:
        // the defaults are written alone, not after it as a second root.
        doc.reset();
        auto root = doc.append_child("parameters");
        auto add = [&](const char* key, const std::string& value) {
            if (!appendParameter(root, key, value))
                logf("{}Adding Init XML parameter '{}' with value '{}' failed!", "===> ", key, value);
        };
        for (auto* b : bools) {
            b->set(b->def);
            add(b->key, b->def ? "true" : "false");
        }
        for (auto* i : ints) {
            i->set(i->def);
            add(i->key, std::to_string(i->def));
        }
        for (auto* t : texts) {
            t->set(t->def);
            add(t->key, t->def);
        }
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        saveXmlDocument(doc, path);
        if (auto* fe = frontEnd()) fe->refreshControls();
        return true;
    }
    logf("from '{}'", path.string());
    auto root = doc.child("parameters");
    if (!root) root = doc.append_child("parameters");
    for (auto* b : bools) {
        auto node = findParameter(doc, b->key);
        if (node) {
            b->set(node.attribute("value").as_bool(false));
        } else {
            b->set(b->def);
            appendParameter(root, b->key, b->def ? "true" : "false");
        }
        logf("{}={}", b->key, b->get());
    }
    for (auto* i : ints) {
        auto node = findParameter(doc, i->key);
        if (node) {
            auto attr = node.attribute("value");
            i->set(attr ? parseDecimal(attr.value()) : 0);
        } else {
            i->set(i->def);
            appendParameter(root, i->key, std::to_string(i->def));
        }
        logf("{}={}", i->key, i->get());
    }
    for (auto* t : texts) {
        auto node = findParameter(doc, t->key);
        std::string_view key = t->key;
        bool folderKey = key.starts_with("lfolder") || key.starts_with("afolder");
        // An empty folder entry is removed; a later entry of the same key is
        // then the one the file holds, so it is the one read now too (else
        // the next start would read another folder than this one).
        while (folderKey && node && !*node.attribute("value").value()) {
            if (!node.parent().remove_child(node)) break;
            logf("Parameter '{}' removed", t->key);
            node = findParameter(doc, t->key);
        }
        if (node) {
            t->set(node.attribute("value").value());
        } else if (folderKey) {
            t->set("");
            continue;
        } else {
            t->set(t->def);
            appendParameter(root, t->key, t->def);
        }
        logf("{}={}", t->key, t->get());
    }
    saveXmlDocument(doc, path);
    logf("{}{}", banner, banner);
    if (auto* fe = frontEnd()) fe->refreshControls();
    return false;
}

void Parameters::writeValue(const char* key, const std::string& value) {
    std::lock_guard lock(fileMutex_);
    const fs::path path = file_.empty() ? programDataFolder() / "parameters.xml" : file_;
    pugi::xml_document doc;
    if (doc.load_file(path.c_str())) {
        auto root = doc.child("parameters");
        if (!root) root = doc.append_child("parameters");
        auto node = findParameter(doc, key);
        if (node) {
            if (auto attr = node.attribute("value")) attr.set_value(value.c_str());
        } else {
            appendParameter(root, key, value);
        }
    } else {
        doc.reset();
        appendParameter(doc.append_child("parameters"), key, value);
    }
    logf("{}={}", key, value);
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    saveXmlDocument(doc, path);
}

void Parameters::writeParameter(const BoolParam& p) { writeValue(p.key, p.get() ? "true" : "false"); }
void Parameters::writeParameter(const IntParam& p) { writeValue(p.key, std::to_string(p.get())); }
void Parameters::writeParameter(const TextParam& p) { writeValue(p.key, p.get()); }

void Parameters::removeParameter(const char* key) {
    std::lock_guard lock(fileMutex_);
    const fs::path path = file_.empty() ? programDataFolder() / "parameters.xml" : file_;
    pugi::xml_document doc;
    if (!doc.load_file(path.c_str())) return;
    bool removed = false;
    while (auto node = findParameter(doc, key)) {
        node.parent().remove_child(node);
        removed = true;
    }
    if (removed) {
        saveXmlDocument(doc, path);
        logf("Parameter '{}' removed", key);
    }
}

// ------------------------------------------------------------------ upgrade

namespace {

int convertMaxCount(long long v) {
    if (v < 0 || v > 299) return 500;
    if (v == 0) return 0;
    if (v <= 17) return 10;
    if (v <= 37) return 25;
    if (v <= 62) return 50;
    if (v <= 87) return 75;
    return 100;
}

int convertAirportRange(long long v) {
    if (v < 8) return 5;
    if (v <= 12) return 10;
    if (v <= 17) return 15;
    if (v <= 22) return 20;
    if (v <= 26) return 25;
    return 30;
}

}  // namespace

void Parameters::upgrade() {
    const std::string running = programVersion();
    if (PROGRAM_VERSION.empty()) {
        PROGRAM_VERSION.set(running);
        writeParameter(PROGRAM_VERSION);
    }
    const std::string storedText = PROGRAM_VERSION.get();
    const VersionNumber stored = parseVersion(storedText);
    const VersionNumber current = kRunningVersion;
    if (stored != current) {
        PROGRAM_VERSION.set(running);
        writeParameter(PROGRAM_VERSION);
    }
    if (!(stored < current)) return;

    logf("This is a version update from {} -> {}", storedText, running);
    for (const char* key : {"CALLSIGN_OBJECTIDS", "PARK_FAKE", "SUPPRESS_STUB", "LOG", "PROGRAM_INSTALL_PATH"})
        removeParameter(key);
    if (fs::exists("TO_BE_LEARNED_OFFLINE")) fs::remove_all("TO_BE_LEARNED_OFFLINE");
    if (fs::exists("versions.json")) fs::remove("versions.json");
    for (const auto& e : fs::directory_iterator(fs::current_path())) {
        if (e.is_regular_file() && e.path().extension() == ".xml") fs::remove(e.path());
    }

    if (!(stored < VersionNumber{11, 0, 2})) return;

    // Old keys: read from the file, converted, written under the new key, removed.
    auto readOld = [&](const char* key) -> std::optional<long long> {
        std::lock_guard lock(fileMutex_);
        pugi::xml_document doc;
        const fs::path path = file_.empty() ? programDataFolder() / "parameters.xml" : file_;
        if (!doc.load_file(path.c_str())) return std::nullopt;
        auto node = findParameter(doc, key);
        if (!node) return std::nullopt;
        return parseDecimal(node.attribute("value").value());
    };
    auto convert = [&](const char* oldKey, IntParam& target, long long oldMin, long long oldMax, auto rule) {
        auto old = readOld(oldKey);
        if (!old) return;
        long long v = std::clamp(*old, oldMin, oldMax);
        target.set(rule(v));
        writeParameter(target);
        removeParameter(oldKey);
    };
    constexpr long long kAny = 1LL << 40;
    convert("CUSTOM_MAX_PARK", MAX_PARK_SEL, -kAny, kAny, convertMaxCount);
    convert("MAX_LIVE", MAX_LIVE_SEL, -kAny, kAny, convertMaxCount);
    convert("LATERAL_RANGE", RANGE, 2, 100, [](long long v) { return nearestRangeChoice(static_cast<int>(v)); });
    convert("AIRPORT_RANGE", AIRP_RANGE, 8, 30, convertAirportRange);
    convert("AUTO_RANGE_ABOVE_HEIGHT", AR_ABOVE_HEIGHT, -kAny, 49000,
            [](long long v) { return nearestHeightChoice(static_cast<int>(v)); });
    convert("AIRPORT_HEIGHT", AIRP_HEIGHT, 2000, kAny,
            [](long long v) { return nearestHeightChoice(static_cast<int>(std::min<long long>(v, 1 << 30))); });
}

void Parameters::readAllParameters() {
    bool created = readParameters();
    if (created) {
        SCAN_LIVERIES.set(true);
        SCAN_AIRPORTS.set(true);
        writeParameter(SCAN_LIVERIES);
        writeParameter(SCAN_AIRPORTS);
        if (auto* fe = frontEnd()) fe->refreshControls();
    } else {
        upgrade();
    }
    MAX_FIT.set(MAX_FIT.get());
    MAX_FIT_FL.set(halfHoursToHours(MAX_FIT.get()));
    recomputeRange();
}

// ------------------------------------------------------------------ tables

int nearestRangeChoice(int x) {
    if (x < 3) return 2;
    if (x <= 6) return x;
    if (x <= 8) return 8;
    if (x <= 10) return 10;
    if (x <= 12) return 12;
    if (x <= 14) return 14;
    if (x <= 16) return 16;
    if (x <= 18) return 18;
    if (x <= 22) return 20;
    if (x <= 27) return 25;
    if (x <= 32) return 30;
    if (x <= 37) return 35;
    if (x <= 44) return 40;
    if (x <= 56) return 50;
    if (x <= 72) return 65;
    if (x <= 89) return 80;
    return 100;
}

int nearestHeightChoice(int feet) {
    if (feet < 3000) return 2000;
    if (feet < 5000) return 4000;
    if (feet < 7000) return 6000;
    if (feet < 9000) return 8000;
    if (feet < 11000) return 10000;
    if (feet < 13000) return 12000;
    if (feet < 15000) return 14000;
    if (feet < 17000) return 16000;
    if (feet < 27000) return 18000;
    if (feet < 47000) return 36000;
    return 48000;
}

float halfHoursToHours(int h) {
    if (h <= 0) return 0.5f;
    if (h <= 9) return 0.5f + 0.5f * static_cast<float>(h);
    if (h <= 11) return 6;
    if (h <= 13) return 7;
    if (h <= 15) return 8;
    if (h <= 17) return 9;
    if (h <= 19) return 10;
    if (h <= 21) return 11;
    if (h <= 25) return 12;
    if (h <= 31) return 15;
    if (h <= 37) return 18;
    if (h <= 43) return 21;
    return 24;
}

// ------------------------------------------------------------------ meta block

bool writeMetaBlock(pugi::xml_node parent) {
    auto meta = parent.append_child("meta");
    if (!meta) return false;
    std::string dt = utcDateTime(nowEpochSeconds());  // "Sun Dec 06 09:10:11 2026"
    std::string date = fmt::format("{}, {}", dt.substr(4, 6), dt.substr(20));
    const std::pair<const char*, std::string> entries[] = {
        {"author", kProgramName},
        {"version", programVersion()},
        {"date", date},
        {"copyright", "Copyright (c) the Ventrix_P3D developers. All rights reserved."},
        {"P3D", "v5/v6"},
    };
    for (const auto& [name, value] : entries) {
        auto info = meta.append_child("info");
        if (!info || !info.append_attribute("name").set_value(name) ||
            !info.append_attribute("value").set_value(value.c_str()))
            return false;
    }
    return true;
}

std::string readMetaValue(const pugi::xml_document& doc, const std::string& name) {
    try {
        auto node = doc.select_node(fmt::format("/meta/info[@name='{}']", name).c_str()).node();
        return node.attribute("value").value();
    } catch (const pugi::xpath_exception&) {
        return {};
    }
}

}  // namespace vntx
