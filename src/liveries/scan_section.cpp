// The checks of one [fltsim.N] section: keys, title, airline, registration,
// the files the section needs, and the rules for sections without airline.
#include <algorithm>
#include <cctype>

#include <fmt/format.h>

#include "core/files.h"
#include "core/log.h"
#include "liveries/cfg_text.h"
#include "liveries/scan_file.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

std::string trimTitle(std::string_view s) {
    std::size_t b = 0, e = s.size();
    auto strip = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (b < e && strip(s[b])) ++b;
    while (e > b && strip(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isCfgSpace(s.back())) s.remove_suffix(1);
    while (!s.empty() && isCfgSpace(s.front())) s.remove_prefix(1);
    return s;
}

// The registrations of the database that a private livery's title names:
// the leftmost, longest of at most five characters.
std::string registrationInTitle(const Database& db, std::string_view title) {
    for (std::size_t pos = 0; pos < title.size(); ++pos)
        for (std::size_t len = std::min<std::size_t>(5, title.size() - pos); len >= 1; --len)
            if (db.registration(title.substr(pos, len))) return std::string(title.substr(pos, len));
    return {};
}

// The keys a section is read for, each with the first value and its count.
struct SectionKeys {
    std::optional<std::string_view> title, codes, types, atcId, model, texture, sim;
    int titles = 0, codeKeys = 0, typeKeys = 0, ids = 0;

    void read(const std::vector<std::string_view>& lines, std::size_t end) {
        auto take = [](std::optional<std::string_view>& slot, std::string_view v, int* count) {
            if (count) ++*count;
            if (!slot) slot = v;
        };
        for (std::size_t i = 1; i < end; ++i) {
            const std::string_view line = lines[i];
            std::size_t first = 0;
            while (first < line.size() && isCfgSpace(line[first])) ++first;
            if (first >= line.size()) continue;
            switch (line[first] | 0x20) {
            case 't':
                if (auto v = keyValue(line, "title")) take(title, *v, &titles);
                else if (auto v2 = keyValue(line, "texture")) take(texture, *v2, nullptr);
                break;
            case 's':
                if (auto v = keyValue(line, "sim")) take(sim, *v, nullptr);
                break;
            case 'm':
                if (auto v = keyValue(line, "model")) take(model, *v, nullptr);
                break;
            case 'a':
                if (auto v = keyValue(line, "atc_id")) take(atcId, *v, &ids);
                else if (auto v2 = keyValue(line, "atc_parking_codes")) take(codes, *v2, &codeKeys);
                else if (auto v3 = keyValue(line, "atc_parking_types")) take(types, *v3, &typeKeys);
                break;
            default:
                break;
            }
        }
    }

    // The lines of keys given twice; true when there were any.
    bool reportDuplicates(ScanState& state, const std::string& fileName, const std::string& header) const {
        bool duplicate = false;
        auto report = [&](bool twice, std::string line) {
            if (!twice) return;
            state.incompleteSections.add(std::move(line));
            duplicate = true;
        };
        report(titles > 1, fmt::format("{} {} has more than one title key", fileName, header));
        report(codeKeys > 1, fmt::format("{} {} has more than one atc_parking_codes key", fileName, header));
        report(typeKeys > 1, fmt::format("{} {} has more than one atc_parking_types key", fileName, header));
        report(ids > 1, fmt::format("{}, {}, has more than one atc_id key", fileName, header));
        return duplicate;
    }
};

// atc_id: the registration when the value names exactly one valid one.
std::string registrationOf(ScanState& state, std::string_view atcId, const std::string& fileName) {
    std::string_view value = atcId;
    if (auto semi = value.find(';'); semi != std::string_view::npos) value = value.substr(0, semi);
    while (!value.empty() && isCfgSpace(value.back())) value.remove_suffix(1);
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t comma = value.find(',', start);
        parts.push_back(value.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    const bool valid = std::all_of(parts.begin(), parts.end(), [](std::string_view p) {
        return !p.empty() && p != " " && p.size() <= 12 && p.find('*') == std::string_view::npos;
    });
    if (!valid) {
        state.incompleteSections.add(fmt::format("invalid atc_id={} in: {}", atcId, fileName));
        return {};
    }
    return parts.size() == 1 ? std::string(parts.front()) : std::string();
}

// The IVAO airline: the title's first three word characters when they are
// an airline other than ZZZ, else the registration's airline. False (and
// reported) when neither.
bool ivaoAirline(ScanState& state, Livery& livery, const std::string& fileName) {
    const Database& db = *state.db;
    std::string code;
    if (livery.title.size() >= 3 &&
        std::all_of(livery.title.begin(), livery.title.begin() + 3,
                    [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }))
        code = livery.title.substr(0, 3);
    if (!code.empty() && code != "ZZZ" && db.isValidAirline(code)) {
        livery.airline = code;
        return true;
    }
    const RegistrationRecord* rec = livery.registration.empty() ? nullptr : db.registration(livery.registration);
    if (rec && !rec->airline.empty()) {
        livery.airline = rec->airline;
        return true;
    }
    state.incompleteSections.add(fileName + " misses airlinecode in title: " + livery.title +
                                 (livery.registration.empty() ? ", and no regcode" : ", and regcode unknown "));
    return false;
}

// The first code of atc_parking_codes; false when the section is to be
// skipped without a word (RFO).
bool parkingCodeAirline(ScanState& state, Livery& livery, std::string_view codes, const std::string& fileName) {
    std::string_view code = codes;
    if (auto comma = code.find(','); comma != std::string_view::npos) code = code.substr(0, comma);
    code = trimBlanks(code);
    if (code.size() == 4 && (code[3] == 'X' || code[3] == 'C')) code = code.substr(0, 3);
    if (code == "RFO") return false;
    if (state.db->isValidAirline(code)) livery.airline = std::string(code);
    else if (!code.empty()) state.invalidAirlines.add(fmt::format("{:12} in {}", code, fileName));
    return true;
}

// The model and texture folders and the .air file of the section: the
// first that is missing, or an empty path.
fs::path missingFile(const fs::path& file, const SectionKeys& keys, const FolderListing* listing) {
    const fs::path folder = file.parent_path();
    auto exists = [&](const std::string& name, bool directory) {
        if (listing && name.find_first_of("/\\") == std::string::npos && name != "." && name != "..") {
            return listing->has(listingName(name), directory);
        }
        std::error_code ec;
        return directory ? fs::is_directory(folder / name, ec) : fs::is_regular_file(folder / name, ec);
    };
    auto named = [](std::string_view base, std::optional<std::string_view> v) {
        std::string name(base);
        if (v && !v->empty()) {
            name += '.';
            name += *v;
        }
        return name;
    };
    if (std::string m = named("model", keys.model); !exists(m, true)) return folder / m;
    if (std::string t = named("texture", keys.texture); !exists(t, true)) return folder / t;
    if (std::string a = std::string(keys.sim.value_or("")) + ".air"; !exists(a, false)) return folder / a;
    return {};
}

// Steps for a section without airline; false when it yields no livery.
bool airlineWithoutCode(ScanState& state, Livery& livery, const std::string& fileModel, const std::string& fileName) {
    const Database& db = *state.db;
    const bool heavy = db.category(fileModel) == AircraftCategory::Heavy;
    if (livery.registration.empty()) {
        if (heavy) {
            state.incompleteSections.add(
                fmt::format("'{}' '{}' has no airline and no regcode info", fileName, livery.title));
            return false;
        }
        livery.airline = "PVT";
        livery.registration = registrationInTitle(db, livery.title);
        return true;
    }
    const RegistrationRecord* rec = db.registration(livery.registration);
    if (rec && !rec->airline.empty()) {
        livery.airline = rec->airline;
        return true;
    }
    if (heavy) {
        state.incompleteSections.add(
            fmt::format("'{}' '{}' has no airline and regcode not in dbase", fileName, livery.title));
        return false;
    }
    livery.airline = "PVT";
    return true;
}

}  // namespace

std::optional<Livery> lf_procesFltSimSection(ScanState& state, const std::vector<std::string_view>& lines,
                                             std::uint32_t folderIndex, const std::string& fileModel,
                                             const fs::path& file, bool ivao, const FolderListing* listing) {
    const std::string fileName = platform::pathToUtf8(file);
    try {
        std::size_t end = lines.size();
        while (end > 1 && (trim(lines[end - 1]).empty() || lines[end - 1].substr(0, 2) == "//")) --end;
        const std::string header = lines.empty() ? std::string() : trim(lines[0]);

        SectionKeys keys;
        keys.read(lines, end);
        if (keys.reportDuplicates(state, fileName, header)) return std::nullopt;

        Livery livery;
        livery.model = fileModel;
        livery.folderIndex = folderIndex;
        if (keys.title) {
            livery.title = trimTitle(*keys.title);
            if (livery.title != *keys.title) {
                logf("There are spaces around title: \"{}\"", *keys.title);
                logf("removed spaces around: \"{}\" -> \"{}\"", *keys.title, livery.title);
            }
        }
        if (keys.atcId) livery.registration = registrationOf(state, *keys.atcId, fileName);

        if (ivao) {
            if (!ivaoAirline(state, livery, fileName)) return std::nullopt;
        } else {
            if (keys.codes && !parkingCodeAirline(state, livery, *keys.codes, fileName)) return std::nullopt;
            if (livery.airline.empty())
                state.incompleteSections.add(
                    fmt::format("{} {} icao_airline is missing, or it has invalid info ", fileName, header));
            const fs::path missing = missingFile(file, keys, listing);
            if (!missing.empty()) {
                state.incompleteSections.add(fmt::format(
                    "{} {} model, texture or sim file, or related path does not exist: {}", fileName, header,
                    missing.string()));
                return std::nullopt;
            }
        }
        if (!livery.title.empty() && state.dontUseTitles.count(livery.title)) return std::nullopt;

        if (livery.airline == "ZZZ") livery.registration.clear();
        if (livery.airline.empty() && !airlineWithoutCode(state, livery, fileModel, fileName)) return std::nullopt;
        livery.cargo = !ivao && keys.types && keys.types->find("CARGO") != std::string_view::npos;

        if (livery.title.empty()) {
            state.incompleteSections.add(fmt::format("{} {} misses title", fileName, header));
            return std::nullopt;
        }
        if (!state.insertTitle(livery.title)) {
            state.incompleteSections.add(fmt::format("{} {} title '{}' already exists", fileName, header, livery.title));
            return std::nullopt;
        }
        return livery;
    } catch (const std::exception& e) {
        logf("Exception in lf_procesFltSimSection: {}, file: {}", e.what(), fileName);
        return std::nullopt;
    }
}

}  // namespace vntx
