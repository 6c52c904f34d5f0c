#include "scan/addon_parkfiles.h"

#include <algorithm>
#include <map>
#include <system_error>
#include <tuple>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "airports/park_file.h"
#include "core/files.h"
#include "platform/platform.h"
#include "refdata/dbase.h"

namespace fs = std::filesystem;

namespace vntx::scan {

namespace {

constexpr double kMetresToNm = 0.0005399568034557236;
constexpr const char* kSimaddon = "simaddon";

std::string marked(const std::string& text) { return "===> " + text; }

std::string blanksEncoded(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == ' ')
            out += "%20";
        else
            out += c;
    }
    return out;
}

ParkAirport parkAirportOf(const BglAirport& a, const std::string& publisher, const std::string& bglPath) {
    ParkAirport park;
    park.code = a.ident;
    park.airport_name = a.name;
    park.publisher = publisher;
    park.altitude = a.altitudeFt;
    park.BGLpath = bglPath;
    park.positions.reserve(a.stands.size());
    for (const BglStand& s : a.stands) {
        ParkPosition p;
        p.id = s.id;
        p.lat = s.lat;
        p.lon = s.lon;
        p.heading = s.heading;
        p.radius = s.radiusM * kMetresToNm;
        p.cargo = s.cargo;
        p.ramp = s.ramp;
        p.heli = s.heli;
        park.positions.push_back(std::move(p));
    }
    return park;
}

// The stands of the maker's park file, read from the kept copy or downloaded.
std::optional<std::size_t> archivedStands(const std::string& location, std::string& error) {
    const fs::path file = parkFileOnDisk(location, error);
    if (file.empty()) return std::nullopt;
    const std::optional<std::size_t> stands = countParkFileStands(file);
    if (!stands) error = fmt::format("{} could not be read", platform::pathToUtf8(file));
    return stands;
}

class AirportPlacer {
public:
    AirportPlacer(const Database& db, Placement& out) : db_(db), out_(out) {}

    void place(DecodedFile& file, const BglAirport& a) {
        std::vector<std::string>& lines = file.decisions;
        const std::string& code = a.ident;
        const std::string publisher = db_.publisherOfPath(file.path, &lines);
        const bool simaddon = publisher == kSimaddon;
        const fs::path folder = simaddon ? kOrbxFolder : kThirdpartyFolder;

        std::optional<std::string> location = archivedLocation(db_, publisher, code);
        if (!location) {
            lines.push_back(simaddon ? fmt::format("{} does not exist as simaddon", code)
                                     : fmt::format("thirdparty {} {} does not exist", publisher, code));
        } else if (!writeRedirect(folder / (code + ".txt"), *location)) {
            lines.push_back(marked(fmt::format("Writing the redirect of {} did not succeed", code)));
            location.reset();
        } else {
            lines.push_back(simaddon ? fmt::format("{} airport {} linked to {}", publisher, code, *location)
                                     : fmt::format("thirdparty airport {} linked to {}", code, *location));
            ++out_.linked;
        }

        bool generate = !location;
        if (location && !simaddon) {
            std::string error;
            const std::optional<std::size_t> archived = archivedStands(*location, error);
            if (!archived) {
                lines.push_back(marked(fmt::format("stands of {} not counted: {}", *location, error)));
            } else if (a.stands.size() > *archived) {
                lines.push_back(marked(fmt::format("{} has {} parkpos while archived one has {}", code,
                                                   a.stands.size(), *archived)));
                generate = true;
            }
        }
        if (!generate) return;
        if (a.stands.empty()) {
            lines.push_back(fmt::format("{} has no parkpos, no park file generated", code));
            return;
        }
        const fs::path target = folder / (code + ".xml");
        if (const auto kept = ownParkFile(target)) {
            lines.push_back(marked(fmt::format("{} is your own park file, not replaced", *kept)));
            return;
        }
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (!writeParkFile(parkAirportOf(a, publisher, file.path), ParkFileMode::Generated, target)) {
            lines.push_back(marked(fmt::format("Generating {} did not succeed", code)));
            return;
        }
        const std::size_t n = a.stands.size();
        const std::string helipads =
            a.helipads == 0 ? std::string()
                            : fmt::format(", of which {} helipad{}", a.helipads, a.helipads == 1 ? "" : "s");
        lines.push_back(fmt::format("Generated {}: {} position{}{}", code, n, n == 1 ? "" : "s", helipads));
        ++out_.generated;
        if (!location) out_.unrecognised.push_back({code, target});
    }

private:
    static bool writeRedirect(const fs::path& txt, const std::string& location) {
        std::error_code ec;
        fs::create_directories(txt.parent_path(), ec);
        return writeFileAtomically(txt, location + "\n");
    }

    // The path of a park file at target that no scan wrote, if there is one.
    static std::optional<std::string> ownParkFile(const fs::path& target) {
        std::error_code ec;
        if (!fs::exists(target, ec) || isGeneratedParkFile(target)) return std::nullopt;
        return target.generic_string();
    }

    const Database& db_;
    Placement& out_;
};

}  // namespace

std::optional<std::string> archivedLocation(const Database& db, const std::string& publisher, const std::string& code) {
    if (publisher == kSimaddon) {
        if (db.addonAirports().count(code) == 0) return std::nullopt;
        return fmt::format("archive/simaddon/{}.xml", code);
    }
    for (const PublisherScenery& p : db.publisherSceneries()) {
        if (p.publisher != publisher) continue;
        if (std::find(p.airports.begin(), p.airports.end(), code) != p.airports.end())
            return fmt::format("archive/thirdparty/{}/{}.xml", blanksEncoded(publisher), code);
    }
    return std::nullopt;
}

bool isGeneratedParkFile(const fs::path& file) {
    pugi::xml_document doc;
    if (!doc.load_file(file.c_str())) return false;
    bool count = false, quality = false;
    for (pugi::xml_node p : doc.child("parameters").children("parameter")) {
        const std::string_view name = p.attribute("name").as_string();
        count = count || name == "num_parkpos";
        quality = quality || name == "Qf_real" || name == "Qf_soft";
    }
    return count && !quality;
}

Placement placeAirports(std::vector<DecodedFile>& files, const Database& db) {
    struct Candidate {
        std::size_t file;
        std::size_t airport;
    };
    std::map<std::string, std::vector<Candidate>> byCode;
    for (std::size_t f = 0; f < files.size(); ++f)
        for (std::size_t a = 0; a < files[f].airports.size(); ++a)
            byCode[files[f].airports[a].ident].push_back({f, a});

    auto stands = [&](const Candidate& c) { return files[c.file].airports[c.airport].stands.size(); };
    // More stands first; of equal counts the smaller path, then the earlier record.
    auto better = [&](const Candidate& x, const Candidate& y) {
        if (stands(x) != stands(y)) return stands(x) > stands(y);
        if (files[x.file].path != files[y.file].path) return files[x.file].path < files[y.file].path;
        return std::tie(x.file, x.airport) < std::tie(y.file, y.airport);
    };

    Placement out;
    out.airports = byCode.size();
    AirportPlacer placer(db, out);
    for (auto& [code, candidates] : byCode) {
        const Candidate best = *std::min_element(candidates.begin(), candidates.end(), better);
        for (const Candidate& c : candidates) {
            if (c.file == best.file && c.airport == best.airport) continue;
            files[c.file].decisions.push_back(fmt::format("{} of {} with {} parkpos skipped, {} has {}", code,
                                                          files[c.file].path, stands(c), files[best.file].path,
                                                          stands(best)));
        }
        placer.place(files[best.file], files[best.file].airports[best.airport]);
    }
    return out;
}

}  // namespace vntx::scan
