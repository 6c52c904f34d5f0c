// Where park files are: the lookup, redirects, the kept archive copies and
// their download, learned file paths, and the window's counts.
#include <cctype>
#include <fstream>
#include <system_error>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "airports/catalogue.h"
#include "airports/park_file.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/status.h"
#include "platform/platform.h"
#include "update/downloader.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

constexpr double kNoStandNm = 100.0;

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::string replaceAll(std::string_view s, std::string_view what, std::string_view with) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (s.substr(i, what.size()) == what) {
            out += with;
            i += what.size();
        } else {
            out += s[i++];
        }
    }
    return out;
}

// A server location must stay below the archive: relative, plain segments.
bool safeServerLocation(std::string_view location) {
    if (location.empty() || location.front() == '/' || location.find('\\') != std::string_view::npos ||
        location.find(':') != std::string_view::npos)
        return false;
    std::size_t start = 0;
    while (start <= location.size()) {
        std::size_t slash = location.find('/', start);
        std::string_view seg = location.substr(start, slash == std::string_view::npos ? std::string_view::npos
                                                                                      : slash - start);
        if (seg.empty() || seg == "." || seg == ".." || seg == "%2e%2e" || seg == "%2E%2E") return false;
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return true;
}

int countFilesBelow(const fs::path& folder, bool xmlOnly) {
    std::error_code ec;
    int n = 0;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fec;
        if (!it->is_regular_file(fec)) continue;
        if (!xmlOnly || iequals(it->path().extension().string(), ".xml")) ++n;
    }
    return n;
}

}  // namespace

ParkAirport& currentParkAirport() {
    static ParkAirport airport;
    return airport;
}

bool isLocalLocation(std::string_view location) { return startsWith(location, "airports"); }

std::optional<std::string> readRedirect(const fs::path& txt) {
    std::ifstream in(txt, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    const std::size_t xml = line.find(".xml");
    if (xml == std::string::npos) return std::nullopt;
    return line.substr(0, xml + 4);
}

std::string findParkFileLocation(std::string_view code) {
    const std::string file(code);
    for (const char* folder : {kThirdpartyFolder, kOrbxFolder}) {
        const fs::path txt = fs::path(folder) / (file + ".txt");
        if (fs::exists(txt))
            if (auto redirect = readRedirect(txt)) return *redirect;
        const fs::path xml = fs::path(folder) / (file + ".xml");
        if (fs::exists(xml)) return xml.generic_string();
    }
    if (const AirportEntry* a = findAirport(code); a && a->stands >= 1) return "archive/stock/" + file + ".xml";
    return {};
}

fs::path archiveCachePath(std::string_view location) {
    std::string rest(location);
    if (startsWith(rest, "archive/stock/"))
        rest.erase(0, 14);
    else if (startsWith(rest, "archive/"))
        rest.erase(0, 8);
    return platform::pathFromUtf8(std::string(kStockFolder) + "/" + replaceAll(rest, "%20", " "));
}

fs::path parkFileOnDisk(std::string_view location, std::string& error) {
    error.clear();
    if (isLocalLocation(location)) return platform::pathFromUtf8(std::string(location));
    if (!safeServerLocation(location)) {
        error = fmt::format("invalid park file location: '{}'", location);
        logf("{}", error);
        return {};
    }
    const fs::path kept = archiveCachePath(location);
    if (fs::exists(kept)) return kept;
    std::error_code ec;
    fs::create_directories(kept.parent_path(), ec);
    const std::string url = parkFileUrl(location);
    if (!download(url, kept, true)) {
        fs::remove(kept, ec);
        error = fmt::format("failed to download: '{}'", url);
        logf("{}", error);
        return {};
    }
    return kept;
}

// The publisher comes from the park file: a separator, a drive colon or a
// name of dots only would lead the learned file out of its folder.
static std::string publisherFolder(std::string_view publisher) {
    std::string out(publisher);
    for (char& c : out)
        if (c == '/' || c == '\\' || c == ':') c = '_';
    if (!out.empty() && out.find_first_not_of('.') == std::string::npos) out.assign(out.size(), '_');
    return out;
}

// Paths are put together as text with "/", which both systems take, so that
// log lines read the same everywhere.
fs::path learnedFilePath(std::string_view code, std::string_view publisher) {
    std::string folder = publisher == "stock" || publisher == "simaddon" ? std::string(publisher)
                                                                          : "thirdparty/" + publisherFolder(publisher);
    if (folder.back() == '/') folder.pop_back();
    return platform::pathFromUtf8(fmt::format("{}/{}/{}.xml", kLearnedFolder, folder, code));
}

double nearestStandDistance(std::string_view code, double lat, double lon, std::string& standId) {
    const std::string location = findParkFileLocation(code);
    if (location.empty()) return kNoStandNm;
    std::string error;
    const fs::path file = parkFileOnDisk(location, error);
    if (file.empty()) return kNoStandNm;
    pugi::xml_document doc;
    if (!doc.load_file(file.c_str())) return kNoStandNm;
    double best = kNoStandNm;
    for (pugi::xml_node p : doc.child("parkpositions").children("parkpos")) {
        const double d = distanceNm(lat, lon, p.attribute("latitude").as_double(), p.attribute("longitude").as_double());
        if (d < best) {
            best = d;
            standId = p.attribute("id").as_string();
        }
    }
    return best;
}

void countParkFiles() {
    indicators().learnedCount = countFilesBelow(kLearnedFolder, true);
    indicators().thirdpCount = countFilesBelow(kThirdpartyFolder, false);
}

void installParkFileHooks() {
    auto& h = hooks();
    h.countParkFiles = countParkFiles;
    h.checkStockAirports = [] {
        if (fs::is_directory(kStockFolder)) return;
        logf("Stock airports path does not exist: {}", kStockFolder);
        std::error_code ec;
        fs::create_directories(kStockFolder, ec);
    };
    setClosestStandReader([](const AirportEntry& a, double lat, double lon, std::string& id) {
        return nearestStandDistance(a.code, lat, lon, id);
    });
}

}  // namespace vntx
