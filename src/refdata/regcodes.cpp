#include "refdata/regcodes.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/files.h"
#include "core/log.h"
#include "refdata/crypt.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

std::vector<std::string> splitAt(std::string_view text, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t pos = text.find(sep, start);
        parts.emplace_back(text.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start));
        if (pos == std::string_view::npos) break;
        start = pos + 1;
    }
    return parts;
}

const char* plural(std::size_t n) { return n == 1 ? "" : "s"; }
const char* liveryWord(std::size_t n) { return n == 1 ? "livery" : "liveries"; }

bool isTxtFile(const fs::directory_entry& e) {
    std::error_code ec;
    return e.is_regular_file(ec) && iequals(e.path().extension().string(), ".txt");
}

bool writeLines(const fs::path& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) {
        text += l;
        text += '\n';
    }
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (!writeFileAtomically(path, text)) {
        logf("Error writing file {}: {}", path.string(), "cannot write");
        return false;
    }
    return true;
}

}  // namespace

RegcodeReadResult readAigRegcodes(const fs::path& xmlPath) {
    RegcodeReadResult result;
    pugi::xml_document doc;
    if (!doc.load_file(xmlPath.c_str())) {
        logf("Failed to load {}", xmlPath.string());
        result.ok = false;
        return result;
    }
    std::string previous;
    bool first = true;
    for (pugi::xml_node n : doc.child("AIG-regcodes").children("livery")) {
        std::string title = n.attribute("title").as_string();
        if (!first && title == previous) {
            logf("SAME AS PREVIOUS title '{}'", title);
            result.ok = false;
            continue;
        }
        first = false;
        previous = title;
        RegcodeEntry entry;
        entry.title = std::move(title);
        std::string regs = n.attribute("reg").as_string();
        if (!regs.empty())
            for (auto& r : splitAt(regs, ','))
                if (!r.empty()) entry.registrations.push_back(std::move(r));
        entry.special = n.attribute("special").as_bool(false);
        result.entries.push_back(std::move(entry));
    }
    logf("{} {} read from AIG-regcodes", result.entries.size(), liveryWord(result.entries.size()));
    return result;
}

RegcodeReadResult readUserRegcodes(const fs::path& folder) {
    RegcodeReadResult result;
    try {
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(folder))
            if (isTxtFile(e)) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            const std::string name = file.string();
            logf("Processing regcodes file '{}'", name);
            std::ifstream in(file, std::ios::binary);
            std::string line;
            std::size_t count = 0;
            while (std::getline(in, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (trim(line).empty()) continue;
                auto fields = splitAt(line, ';');
                if (fields.size() > 3) {
                    logf("{}: wrong format '{}'", name, line);
                    result.ok = false;
                    continue;
                }
                RegcodeEntry entry;
                entry.title = trim(fields[0]);
                if (fields.size() == 1) {
                    result.entries.push_back(std::move(entry));
                    ++count;
                    continue;
                }
                for (auto& r : splitAt(fields[1], ',')) {
                    std::string reg = trim(r);
                    if (reg.size() < 3 || reg.size() > 12) {
                        logf("wrong regcode length '{}' in {}", reg, name);
                        result.ok = false;
                        continue;
                    }
                    entry.registrations.push_back(std::move(reg));
                }
                if (entry.registrations.empty()) {
                    logf("{} ; regs empty?", entry.title);
                    continue;
                }
                entry.special = fields.size() == 3 && fields[2] == "#";
                result.entries.push_back(std::move(entry));
                ++count;
            }
            logf("{} {}", count, liveryWord(count));
        }
    } catch (const std::exception& e) {
        logf("Error reading regcode files in {}, what: {}", folder.string(), e.what());
        result.ok = false;
    }
    return result;
}

fs::path aigRegcodesEncFile() { return inputFolder() / "AIG-regcodes.enc"; }
fs::path myRegcodesFolder() { return inputFolder() / "my_regcodes"; }

bool folderHasEntries(const fs::path& folder) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return false;
    return fs::directory_iterator(folder, ec) != fs::directory_iterator();
}

namespace {

// Deciphers the AIG file next to itself; returns the plain path or empty.
fs::path decipherAig() {
    const fs::path enc = aigRegcodesEncFile();
    std::error_code ec;
    if (!fs::exists(enc, ec)) return {};
    fs::path xml = enc;
    xml.replace_extension(".xml");
    if (!gf_streamDecrypt(enc, xml)) return {};
    return xml;
}

}  // namespace

TitleSet loadDontUseTitles() {
    TitleSet titles;
    if (fs::path xml = decipherAig(); !xml.empty()) {
        auto aig = readAigRegcodes(xml);
        std::size_t n = 0;
        for (const auto& e : aig.entries)
            if (e.registrations.empty() && titles.insert(e.title).second) ++n;
        logf("{} don't use title{} read", n, plural(n));
        removeFileQuietly(xml);
    }
    const fs::path folder = myRegcodesFolder();
    if (folderHasEntries(folder)) {
        auto user = readUserRegcodes(folder);
        std::size_t n = 0;
        for (const auto& e : user.entries)
            if (e.registrations.empty() && titles.insert(e.title).second) ++n;
        logf("{} don't use title{} read from files in {}", n, plural(n), folder.string());
    }
    return titles;
}

void RegcodeIndex::clear() {
    index_.clear();
    specialTitles_.clear();
    singleRegistrations_.clear();
    reportLines_.clear();
}

void RegcodeIndex::addInline(const std::vector<std::pair<std::string, std::string>>& regTitles,
                             const TitleLookup& lookup, const fs::path& outputFolder) {
    std::vector<std::string> clashes;
    for (std::size_t i = 0; i < regTitles.size(); ++i) {
        const auto& [reg, title] = regTitles[i];
        const std::string* stored = lookup(title);
        if (!stored) {
            clashes.push_back(fmt::format("==> [{}] {} '{}' not available, system error, should not happen?", i,
                                          reg, title));
            continue;
        }
        auto [it, inserted] = index_.try_emplace(reg, std::string_view(*stored));
        if (!inserted && it->second != *stored)
            clashes.push_back(fmt::format("{} '{}' => already in use by '{}'", reg, *stored, it->second));
    }
    if (!clashes.empty()) {
        const fs::path path = outputFolder / "errors" / "InlineRegcodes.txt";
        writeLines(path, clashes);
        logf("{} in-line regcode clashes, see '{}'", clashes.size(), path.string());
    }
}

RegcodeMergeCounts RegcodeIndex::merge(const std::vector<RegcodeEntry>& entries, const TitleLookup& lookup) {
    RegcodeMergeCounts counts;
    for (const auto& entry : entries) {
        const std::string* stored = lookup(entry.title);
        if (!stored) continue;
        const std::string_view title(*stored);
        for (const auto& reg : entry.registrations) {
            auto it = index_.find(std::string_view(reg));
            if (it == index_.end()) {
                index_.emplace(reg, title);
                ++counts.added;
            } else if (it->second != title) {
                reportLines_.push_back(
                    fmt::format("   regcode {} for '{}', instead of the same for '{}'", reg, title, it->second));
                it->second = title;
                ++counts.replaced;
            }
        }
        if (entry.special) {
            if (entry.registrations.size() == 1) singleRegistrations_.insert(entry.registrations.front());
            if (specialTitles_.insert(title).second) ++counts.special;
        }
    }
    std::string line = fmt::format("{} new regcode{} added", counts.added, plural(counts.added));
    if (counts.replaced) line += fmt::format(", {} regcode{} replaced", counts.replaced, plural(counts.replaced));
    if (counts.special)
        line += fmt::format(", {} regcode{} defined as special", counts.special, plural(counts.special));
    logLine(line);
    return counts;
}

void RegcodeIndex::processOffline(const TitleLookup& lookup, const fs::path& outputFolder) {
    reportLines_.clear();
    if (fs::path xml = decipherAig(); !xml.empty()) {
        logf("Processing file {}", aigRegcodesEncFile().string());
        auto aig = readAigRegcodes(xml);
        merge(aig.entries, lookup);
        removeFileQuietly(xml);
        if (!aig.ok)
            reportLines_.push_back(fmt::format(
                "There were errors processing the AIG-regcode file '{}', see Log.txt", aigRegcodesEncFile().string()));
    }
    const fs::path folder = myRegcodesFolder();
    if (folderHasEntries(folder)) {
        logf("Processing files in {}", folder.string());
        auto user = readUserRegcodes(folder);
        merge(user.entries, lookup);
        if (!user.ok)
            reportLines_.push_back(fmt::format(
                "There were errors processing the regcode files in folder '{}', see Log.txt", folder.string()));
    }
    const fs::path path = outputFolder / "info" / "OfflineRegcodes.txt";
    std::error_code ec;
    fs::remove(path, ec);
    if (writeLines(path, reportLines_))
        logf("Offline regcode files processed, results can be found in '{}'", path.string());
    if (!specialTitles_.empty()) logf("{} special liveries", specialTitles_.size());
    if (!singleRegistrations_.empty()) logf("{} unique liveries", singleRegistrations_.size());
}

}  // namespace vntx
