// What the file tasks of one livery scan share: the database, the don't-use
// and known titles, and the report lists.
#pragma once

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "refdata/dbase.h"
#include "refdata/regcodes.h"

namespace vntx {

// A report list shared by the file tasks.
class ReportList {
public:
    void add(std::string line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex_);
        return std::move(lines_);
    }
    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return lines_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Held by shared pointer: a task that outlives its scan (a timed-out wait)
// keeps it alive.
struct ScanState {
    const Database* db = nullptr;
    TitleSet dontUseTitles;

    std::mutex titlesMutex;
    TitleSet knownTitles;

    ReportList filesWithoutSections;
    ReportList invalidAirlines;
    ReportList invalidModels;
    ReportList modelFixes;
    ReportList invalidCfgFiles;
    ReportList incompleteSections;

    bool insertTitle(const std::string& title) {
        std::lock_guard lock(titlesMutex);
        return knownTitles.insert(title).second;
    }
    bool hasTitle(const std::string& title) {
        std::lock_guard lock(titlesMutex);
        return knownTitles.count(title) != 0;
    }
};

// The names in one folder, as the folder walk saw them: the section checks
// look the model, texture and .air names up here instead of asking the file
// system again. Lower case where the file system ignores case.
class FolderListing {
public:
    void add(std::string name, bool directory) { (directory ? folders_ : files_).push_back(std::move(name)); }
    // After the last add.
    void seal() {
        std::sort(folders_.begin(), folders_.end());
        std::sort(files_.begin(), files_.end());
    }
    bool has(std::string_view name, bool directory) const {
        const auto& names = directory ? folders_ : files_;
        return std::binary_search(names.begin(), names.end(), name, std::less<>());
    }

private:
    std::vector<std::string> folders_, files_;
};

}  // namespace vntx
