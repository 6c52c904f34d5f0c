// Registration codes: which installed livery belongs to which registrations.
//
// Three sources fill the registration index, later ones overriding earlier
// ones: the atc_id keys of the scanned liveries (in-line codes), the shipped
// AIG file (input/AIG-regcodes.enc) and the user's own text files in
// input/my_regcodes. The same files name liveries that must never be used
// (entries without registrations).
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "refdata/dbase.h"

namespace vntx {

// One livery of a registration-code source.
struct RegcodeEntry {
    std::string title;
    std::vector<std::string> registrations;
    bool special = false;
};

struct RegcodeReadResult {
    std::vector<RegcodeEntry> entries;
    bool ok = true;
};

using StringViewSet = std::unordered_set<std::string_view>;
using TitleSet = std::unordered_set<std::string, StringHash, std::equal_to<>>;

// The deciphered AIG file: root "AIG-regcodes", one "livery" per entry with
// "title", "reg" (comma-separated) and "special".
RegcodeReadResult readAigRegcodes(const std::filesystem::path& xmlPath);
// Every ".txt" file (any letter case) of the folder, in name order; each
// non-empty line is "title", "title;regs" or "title;regs;#".
RegcodeReadResult readUserRegcodes(const std::filesystem::path& folder);

// input/AIG-regcodes.enc, input/my_regcodes.
std::filesystem::path aigRegcodesEncFile();
std::filesystem::path myRegcodesFolder();
// True when the folder exists and holds at least one entry.
bool folderHasEntries(const std::filesystem::path& folder);

// The scan-time step: the titles of entries without registrations from the
// AIG file and the user files.
TitleSet loadDontUseTitles();

// Gives the catalogue's own copy of a title, or nullptr when not installed.
using TitleLookup = std::function<const std::string*(std::string_view title)>;

struct RegcodeMergeCounts {
    std::size_t added = 0;
    std::size_t replaced = 0;
    std::size_t special = 0;
};

// The registration index (registration -> title) with the special titles and
// the single-registration set. Titles point into the catalogue.
class RegcodeIndex {
public:
    void clear();

    // The in-line step: (registration, title) pairs of the scanned liveries in
    // catalogue order; the first title keeps a registration. Clashes go to
    // errors/InlineRegcodes.txt under outputFolder.
    void addInline(const std::vector<std::pair<std::string, std::string>>& regTitles, const TitleLookup& lookup,
                   const std::filesystem::path& outputFolder);
    // The offline step: AIG file, then the user files, then
    // info/OfflineRegcodes.txt under outputFolder.
    void processOffline(const TitleLookup& lookup, const std::filesystem::path& outputFolder);
    // Merges one source; later merges override earlier ones.
    RegcodeMergeCounts merge(const std::vector<RegcodeEntry>& entries, const TitleLookup& lookup);

    // nullptr when the registration has no livery.
    const std::string_view* titleFor(std::string_view registration) const {
        auto it = index_.find(registration);
        return it == index_.end() ? nullptr : &it->second;
    }
    bool isSpecialTitle(std::string_view title) const { return specialTitles_.count(title) != 0; }
    bool isSingleRegistration(std::string_view registration) const {
        return singleRegistrations_.find(registration) != singleRegistrations_.end();
    }
    std::size_t size() const { return index_.size(); }
    std::size_t specialCount() const { return specialTitles_.size(); }
    std::size_t singleCount() const { return singleRegistrations_.size(); }
    const std::vector<std::string>& reportLines() const { return reportLines_; }

private:
    std::unordered_map<std::string, std::string_view, StringHash, std::equal_to<>> index_;
    StringViewSet specialTitles_;
    TitleSet singleRegistrations_;
    std::vector<std::string> reportLines_;
};

}  // namespace vntx
