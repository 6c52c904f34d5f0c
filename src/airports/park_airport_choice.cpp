#include "airports/park_airport_choice.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>

#include <fmt/format.h>

#include "airports/catalogue.h"
#include "core/files.h"
#include "core/log.h"
#include "core/status.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> out;
    std::string piece;
    std::istringstream in(line);
    while (std::getline(in, piece, ',')) out.push_back(trim(piece));
    if (!line.empty() && line.back() == ',') out.emplace_back();
    return out;
}

bool listed(const std::vector<ParkAirportEntry>& list, std::string_view code) {
    return std::any_of(list.begin(), list.end(), [&](const ParkAirportEntry& e) { return e.code == code; });
}

ParkAirportEntry entryOf(const AirportEntry& a, std::string stand) {
    ParkAirportEntry e;
    e.code = a.code;
    e.stand = std::move(stand);
    e.lat = a.lat;
    e.lon = a.lon;
    return e;
}

std::string lineOf(const ParkAirportEntry& e) { return e.stand.empty() ? e.code : e.code + "," + e.stand; }

}  // namespace

std::vector<ParkAirportEntry> lf_readMyParkAirports(const fs::path& file, const fs::path& thirdpartyFolder) {
    std::vector<ParkAirportEntry> list;
    const std::string name = file.filename().string();
    std::error_code ec;
    if (!fs::exists(file, ec)) {
        logf("{} not found", file.string());
    } else {
        std::ifstream in(file);
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            line = trim(line);
            if (line.empty()) continue;
            const auto fields = splitFields(line);
            if (fields.size() >= 3) {
                logErrorf("{}:{} wrong syntax, skipped", name, number);
                continue;
            }
            const std::string code = toUpper(fields[0]);
            if (listed(list, code)) {
                logf("{}:{} double, skipped", name, number);
                continue;
            }
            const AirportEntry* a = findAirport(code);
            if (!a) {
                showStatus(fmt::format("airport {} is unknown", code), true);
                continue;
            }
            list.push_back(entryOf(*a, fields.size() == 2 ? fields[1] : std::string()));
        }
    }
    int added = 0;
    if (fs::is_directory(thirdpartyFolder, ec)) {
        std::vector<std::string> stems;
        for (const auto& f : fs::directory_iterator(thirdpartyFolder, ec))
            if (f.is_regular_file()) stems.push_back(toUpper(f.path().stem().string()));
        std::sort(stems.begin(), stems.end());
        stems.erase(std::unique(stems.begin(), stems.end()), stems.end());
        for (const auto& stem : stems) {
            const AirportEntry* a = findAirport(stem);
            if (!a || listed(list, stem)) continue;
            list.push_back(entryOf(*a, {}));
            ++added;
        }
    }
    logf("{} park airport{} added from my_thirdparty folder(-s)", added, added == 1 ? "" : "s");
    logf("{} park airport{} read from '{}'", list.size(), list.size() == 1 ? "" : "s", file.string());
    if (list.size() > 3000)
        showStatus(fmt::format("Warning: There are a lot of airports ({}), that will cost VNTX much cpu time and may "
                               "cause stutters",
                               list.size()),
                   true);
    return list;
}

void rememberUserStand(std::vector<ParkAirportEntry>& list, const fs::path& file, const std::string& code,
                       const std::string& stand) {
    const std::string name = file.filename().string();
    auto it = std::find_if(list.begin(), list.end(), [&](const ParkAirportEntry& e) { return e.code == code; });
    std::error_code ec;
    const bool existed = fs::exists(file, ec);
    std::vector<std::string> lines;
    if (existed) {
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    if (it == list.end()) {
        const AirportEntry* a = findAirport(code);
        if (!a) return;
        list.insert(list.begin(), entryOf(*a, stand));
        lines.push_back(lineOf(list.front()));
        if (existed)
            logf("{}:{} new entry", name, lines.size());
        else
            logf("{} created with {}", name, lineOf(list.front()));
    } else {
        if (it->stand == stand) return;
        it->stand = stand;
        bool replaced = false;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const auto fields = splitFields(trim(lines[i]));
            if (!fields.empty() && toUpper(fields[0]) == code && fields.size() < 3) {
                lines[i] = lineOf(*it);
                logf("{}:{} updated stand", name, i + 1);
                replaced = true;
                break;
            }
        }
        if (!replaced) return;  // an airport of the third-party folder: nothing to rewrite
    }
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    fs::create_directories(file.parent_path(), ec);
    writeFileAtomically(file, text);
}

void refreshDistances(std::vector<ParkAirportEntry>& list, double lat, double lon, bool all) {
    if (list.empty()) return;
    if (!all) {
        list.front().distance = distanceNm(lat, lon, list.front().lat, list.front().lon);
        return;
    }
    for (auto& e : list) e.distance = distanceNm(lat, lon, e.lat, e.lon);
    std::stable_sort(list.begin(), list.end(),
                     [](const ParkAirportEntry& a, const ParkAirportEntry& b) { return a.distance < b.distance; });
}

bool inSight(double distance, double altitude, int range, int height) {
    return distance <= range && altitude <= height;
}

SightChange checkSight(double d, double altitude, int range, int height, const ParkAirportEntry* nearest,
                       std::string_view parkCode) {
    if (!inSight(d, altitude, range, height)) return SightChange::OutOfSight;
    if (!nearest || nearest->code == parkCode || !inSight(nearest->distance, altitude, range, height) ||
        nearest->distance >= d)
        return SightChange::Keep;
    return SightChange::NearerInSight;
}

}  // namespace vntx
