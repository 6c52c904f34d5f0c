#include "liveries/scan.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <iterator>
#include <future>
#include <map>
#include <regex>
#include <thread>
#include <tuple>
#include <unordered_map>

#include <fmt/format.h>

#include "core/errors.h"
#include "core/files.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/status.h"
#include "liveries/catalogue.h"
#include "liveries/matching.h"

namespace fs = std::filesystem;

namespace vntx {

namespace {

// \s of the patterns: space, tab, line feed, vertical tab, form feed, carriage return.
bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::size_t skipSpace(std::string_view s, std::size_t i) {
    while (i < s.size() && isSpace(s[i])) ++i;
    return i;
}

bool isComment(std::string_view line) {
    std::size_t i = skipSpace(line, 0);
    return line.substr(i, 2) == "//";
}

std::string trimTitle(std::string_view s) {
    std::size_t b = 0, e = s.size();
    auto strip = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (b < e && strip(s[b])) ++b;
    while (e > b && strip(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

const char* plural(std::size_t n) { return n == 1 ? "" : "s"; }

}  // namespace

std::optional<std::string_view> matchKeyLine(std::string_view line, std::string_view key) {
    std::size_t i = skipSpace(line, 0);
    if (line.size() - i < key.size()) return std::nullopt;
    for (std::size_t k = 0; k < key.size(); ++k)
        if (lower(line[i + k]) != key[k]) return std::nullopt;
    i = skipSpace(line, i + key.size());
    if (i >= line.size() || line[i] != '=') return std::nullopt;
    i = skipSpace(line, i + 1);
    std::size_t e = line.size();
    while (e > i && isSpace(line[e - 1])) --e;
    if (e == i) return std::nullopt;
    std::string_view value = line.substr(i, e - i);
    // "." does not match a line terminator.
    if (value.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
    return value;
}

std::optional<std::string_view> matchHeaderLine(std::string_view line) {
    static constexpr std::string_view kOpen = "[fltsim.";
    std::size_t i = skipSpace(line, 0);
    if (line.size() - i < kOpen.size()) return std::nullopt;
    for (std::size_t k = 0; k < kOpen.size(); ++k)
        if (lower(line[i + k]) != kOpen[k]) return std::nullopt;
    i += kOpen.size();
    std::size_t d = i;
    while (d < line.size() && line[d] >= '0' && line[d] <= '9') ++d;
    if (d == i || d >= line.size() || line[d] != ']') return std::nullopt;
    if (skipSpace(line, d + 1) != line.size()) return std::nullopt;
    return line.substr(i, d - i);
}

std::string ivaoModelFromPath(const fs::path& file) {
    static const std::regex pattern(R"(.+[\\/]IVAO_MTL[\\/]IVAO_(\w+)[\\/]aircraft\.cfg$)",
                                    std::regex::ECMAScript | std::regex::icase);
    std::smatch m;
    const std::string text = file.string();
    if (!std::regex_match(text, m, pattern)) return {};
    std::string raw = m[1].str();
    auto cut = [&raw](std::size_t n) { raw.resize(raw.size() > n ? raw.size() - n : 0); };
    if (raw == "B744F" || raw == "T154M") cut(1);
    else if (raw == "T154B2") cut(2);
    else if (raw == "GLID_SH") cut(3);
    else if (raw == "GLID_A13" || raw == "GLID_A25" || raw == "GLID_KA6" || raw == "GLID_KA8" || raw == "GLID_L13")
        cut(4);
    else if (!raw.empty() && raw.back() == 'w') cut(1);
    return raw;
}

namespace {

// The registrations of the database that a private livery's title names:
// the leftmost, longest of at most five characters.
std::string registrationInTitle(const Database& db, std::string_view title) {
    for (std::size_t pos = 0; pos < title.size(); ++pos)
        for (std::size_t len = std::min<std::size_t>(5, title.size() - pos); len >= 1; --len)
            if (db.registration(title.substr(pos, len))) return std::string(title.substr(pos, len));
    return {};
}

#ifdef _WIN32
std::string folderName(std::string_view name) { return toLower(name); }  // the file system ignores case there
#else
std::string folderName(std::string_view name) { return std::string(name); }
#endif

// Whether a folder's entries exist: from the walk's listing for plain names,
// else from the file system, remembered for the sections of one file.
class PathCache {
public:
    PathCache(const fs::path& folder, const FolderListing* listing) : folder_(folder), listing_(listing) {}
    bool isDirectory(const std::string& name) { return check(name, true); }
    bool isFile(const std::string& name) { return check(name, false); }

private:
    bool check(const std::string& name, bool dir) {
        if (listing_ && name.find_first_of("/\\") == std::string::npos && name != "." && name != "..") {
            const TitleSet& set = dir ? listing_->folders : listing_->files;
            return set.find(folderName(name)) != set.end();
        }
        auto key = std::make_pair(name, dir);
        auto it = cache_.find(key);
        if (it != cache_.end()) return it->second;
        std::error_code ec;
        const fs::path p = folder_ / name;
        bool ok = dir ? fs::is_directory(p, ec) : fs::is_regular_file(p, ec);
        cache_.emplace(std::move(key), ok);
        return ok;
    }
    fs::path folder_;
    const FolderListing* listing_;
    std::map<std::pair<std::string, bool>, bool> cache_;
};

thread_local PathCache* tlPathCache = nullptr;

// Reads a livery file once and converts it to UTF-8 by its byte-order mark
// or, without one, by the zero bytes of UTF-16 text (ANSI and UTF-8 stay as
// they are). False when the file cannot be read or its UTF-16 is broken.
bool readLiveryFile(const fs::path& file, std::string& text) {
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return false;
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const std::size_t n = text.size();
    if (n >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        text.erase(0, 3);
        return true;
    }
    if (n < 2) return true;
    bool wide = false, bigEndian = false;
    if (byte(0) == 0xFF && byte(1) == 0xFE) wide = true;
    else if (byte(0) == 0xFE && byte(1) == 0xFF) wide = bigEndian = true;
    else if (byte(1) == 0x00 && (n < 4 || byte(3) == 0x00)) wide = true;
    else if (byte(0) == 0x00 && (n < 4 || byte(2) == 0x00)) wide = bigEndian = true;
    if (!wide) return true;
    try {
        text = utf16ToUtf8(text, bigEndian);
        return true;
    } catch (const std::exception& e) {
        logf("UTF16 read failed for '{}': {}", file.string(), e.what());
        return false;
    }
}

}  // namespace

std::optional<Livery> lf_procesFltSimSection(ScanState& state, const std::vector<std::string_view>& lines,
                                             std::uint32_t folderIndex, const std::string& fileModel,
                                             const fs::path& file, bool ivao) {
    const std::string fileName = file.string();
    try {
        const Database& db = *state.db;
        std::size_t end = lines.size();
        while (end > 1 && (trim(lines[end - 1]).empty() || lines[end - 1].substr(0, 2) == "//")) --end;
        const std::string header = lines.empty() ? std::string() : trim(lines[0]);

        std::optional<std::string_view> title, codes, types, atcId, model, texture, sim;
        int titleCount = 0, codesCount = 0, typesCount = 0, idCount = 0;
        auto take = [](std::optional<std::string_view>& slot, std::string_view v, int* count) {
            if (count) ++*count;
            if (!slot) slot = v;
        };
        for (std::size_t i = 1; i < end; ++i) {
            std::string_view line = lines[i];
            if (isComment(line)) continue;
            std::size_t first = skipSpace(line, 0);
            if (first >= line.size()) continue;
            switch (lower(line[first])) {
            case 't':
                if (auto v = matchKeyLine(line, "title")) take(title, *v, &titleCount);
                else if (auto v2 = matchKeyLine(line, "texture")) take(texture, *v2, nullptr);
                break;
            case 's':
                if (auto v = matchKeyLine(line, "sim")) take(sim, *v, nullptr);
                break;
            case 'm':
                if (auto v = matchKeyLine(line, "model")) take(model, *v, nullptr);
                break;
            case 'a':
                if (auto v = matchKeyLine(line, "atc_id")) take(atcId, *v, &idCount);
                else if (auto v2 = matchKeyLine(line, "atc_parking_codes")) take(codes, *v2, &codesCount);
                else if (auto v3 = matchKeyLine(line, "atc_parking_types")) take(types, *v3, &typesCount);
                break;
            default:
                break;
            }
        }
        bool duplicate = false;
        if (titleCount > 1) {
            state.incompleteSections.add(fmt::format("{} {} has more than one title key", fileName, header));
            duplicate = true;
        }
        if (codesCount > 1) {
            state.incompleteSections.add(fmt::format("{} {} has more than one atc_parking_codes key", fileName, header));
            duplicate = true;
        }
        if (typesCount > 1) {
            state.incompleteSections.add(fmt::format("{} {} has more than one atc_parking_types key", fileName, header));
            duplicate = true;
        }
        if (idCount > 1) {
            state.incompleteSections.add(fmt::format("{}, {}, has more than one atc_id key", fileName, header));
            duplicate = true;
        }
        if (duplicate) return std::nullopt;

        Livery livery;
        livery.model = fileModel;
        livery.folderIndex = folderIndex;
        if (title) {
            livery.title = trimTitle(*title);
            if (livery.title != *title) {
                logf("There are spaces around title: \"{}\"", *title);
                logf("removed spaces around: \"{}\" -> \"{}\"", *title, livery.title);
            }
        }

        // Registration.
        bool idInvalid = false;
        if (atcId) {
            std::string_view value = *atcId;
            if (auto semi = value.find(';'); semi != std::string_view::npos) value = value.substr(0, semi);
            while (!value.empty() && isSpace(value.back())) value.remove_suffix(1);
            std::vector<std::string_view> parts;
            std::size_t start = 0;
            while (true) {
                std::size_t comma = value.find(',', start);
                parts.push_back(value.substr(start, comma == std::string_view::npos ? comma : comma - start));
                if (comma == std::string_view::npos) break;
                start = comma + 1;
            }
            bool valid = std::all_of(parts.begin(), parts.end(), [](std::string_view p) {
                return !p.empty() && p != " " && p.size() <= 12 && p.find('*') == std::string_view::npos;
            });
            if (!valid) {
                state.incompleteSections.add(fmt::format("invalid atc_id={} in: {}", *atcId, fileName));
                idInvalid = true;
            } else if (parts.size() == 1) {
                livery.registration = std::string(parts.front());
            }
        }
        (void)idInvalid;

        // Airline.
        if (ivao) {
            std::string code;
            if (livery.title.size() >= 3 &&
                std::all_of(livery.title.begin(), livery.title.begin() + 3,
                            [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }))
                code = livery.title.substr(0, 3);
            if (!code.empty() && code != "ZZZ" && db.isValidAirline(code)) {
                livery.airline = code;
            } else if (const RegistrationRecord* rec =
                           livery.registration.empty() ? nullptr : db.registration(livery.registration);
                       rec && !rec->airline.empty()) {
                livery.airline = rec->airline;
            } else {
                state.incompleteSections.add(fileName + " misses airlinecode in title: " + livery.title +
                                             (livery.registration.empty() ? ", and no regcode"
                                                                          : ", and regcode unknown "));
                return std::nullopt;
            }
        } else if (codes) {
            std::string_view code = *codes;
            if (auto comma = code.find(','); comma != std::string_view::npos) code = code.substr(0, comma);
            code = std::string_view(code.data(), code.size());
            while (!code.empty() && isSpace(code.back())) code.remove_suffix(1);
            while (!code.empty() && isSpace(code.front())) code.remove_prefix(1);
            if (code.size() == 4 && (code[3] == 'X' || code[3] == 'C')) code = code.substr(0, 3);
            if (code == "RFO") return std::nullopt;
            if (db.isValidAirline(code)) livery.airline = std::string(code);
            else if (!code.empty())
                state.invalidAirlines.add(fmt::format("{:12} in {}", code, fileName));
        }
        if (!ivao && livery.airline.empty())
            state.incompleteSections.add(
                fmt::format("{} {} icao_airline is missing, or it has invalid info ", fileName, header));

        // The files the section needs.
        if (!ivao) {
            PathCache localCache(file.parent_path(), nullptr);
            PathCache& cache = tlPathCache ? *tlPathCache : localCache;
            const fs::path folder = file.parent_path();
            auto named = [](std::string_view base, std::optional<std::string_view> v) {
                std::string name(base);
                if (v && !v->empty()) {
                    name += '.';
                    name += *v;
                }
                return name;
            };
            fs::path missing;
            if (std::string m = named("model", model); !cache.isDirectory(m)) missing = folder / m;
            else if (std::string t = named("texture", texture); !cache.isDirectory(t)) missing = folder / t;
            else if (std::string a = std::string(sim.value_or("")) + ".air"; !cache.isFile(a)) missing = folder / a;
            if (!missing.empty()) {
                state.incompleteSections.add(fmt::format("{} {} model, texture or sim file, or related path does not exist: {}",
                                                         fileName, header, missing.string()));
                return std::nullopt;
            }
        }
        if (!livery.title.empty() && state.dontUseTitles.count(livery.title)) return std::nullopt;

        if (livery.airline == "ZZZ") livery.registration.clear();
        if (livery.airline.empty()) {
            const bool heavy = db.category(fileModel) == AircraftCategory::Heavy;
            const RegistrationRecord* rec =
                livery.registration.empty() ? nullptr : db.registration(livery.registration);
            if (livery.registration.empty()) {
                if (heavy) {
                    state.incompleteSections.add(
                        fmt::format("'{}' '{}' has no airline and no regcode info", fileName, livery.title));
                    return std::nullopt;
                }
                livery.airline = "PVT";
                livery.registration = registrationInTitle(db, livery.title);
            } else if (rec && !rec->airline.empty()) {
                livery.airline = rec->airline;
            } else {
                if (heavy) {
                    state.incompleteSections.add(
                        fmt::format("'{}' '{}' has no airline and regcode not in dbase", fileName, livery.title));
                    return std::nullopt;
                }
                livery.airline = "PVT";
            }
        }
        livery.cargo = !ivao && types && types->find("CARGO") != std::string_view::npos;

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

std::vector<Livery> lf_searchLiveriesinFile(ScanState& state, const fs::path& file, std::uint32_t folderIndex,
                                            const FolderListing* listing) {
    std::vector<Livery> result;
    const std::string fileName = file.string();
    try {
        const std::string& native = fileName;
        const bool ivao = native.find("ivao_x-csl") != std::string::npos ||
                          native.find("IVAO_MTL") != std::string::npos;
        std::string text;
        if (!readLiveryFile(file, text)) {
            if (ivao) logf("No character set found for {}", fileName);
            return result;
        }

        std::vector<std::string_view> lines;
        {
            std::string_view all(text);
            std::size_t start = 0;
            while (start <= all.size()) {
                std::size_t nl = all.find('\n', start);
                std::string_view line = all.substr(start, nl == std::string_view::npos ? nl : nl - start);
                if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
                lines.push_back(line);
                if (nl == std::string_view::npos) break;
                start = nl + 1;
            }
        }

        // Section numbers.
        std::vector<std::size_t> headers;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            std::string_view line = lines[i];
            if (isComment(line)) continue;
            unsigned long long number = 0;
            if (auto digits = matchHeaderLine(line)) {
                if (digits->size() > 19) {
                    logf("fltsim num {} incorrect", line);
                    return result;
                }
                number = std::stoull(std::string(*digits));
            } else if (line.find("[fltsim.") != std::string_view::npos ||
                       line.find("[FLTSIM.") != std::string_view::npos) {
                number = 10000;
            } else {
                continue;
            }
            if (number > 10000) {
                state.invalidCfgFiles.add(fileName + " contains a [fltsim.x] section with a number < 0 or > " +
                                          "10000");
                return result;
            }
            headers.push_back(i);
        }
        if (headers.empty()) state.filesWithoutSections.add(fileName);

        // The file's model.
        std::string rawModel;
        if (ivao) {
            rawModel = ivaoModelFromPath(file);
            if (rawModel.empty()) {
                state.invalidCfgFiles.add(fileName + " is not in an IVAO_MTL\\IVAO_<model> folder");
                return result;
            }
        } else {
            for (std::string_view line : lines)
                if (auto v = matchKeyLine(line, "atc_model")) {
                    rawModel = std::string(*v);
                    break;
                }
            if (rawModel.empty()) {
                state.invalidCfgFiles.add("Line atc_model= is missing in [General] section of " + fileName);
                return result;
            }
        }
        std::string model;
        if (state.db->isValidModel(rawModel)) {
            model = rawModel;
        } else if (auto fix = state.db->modelFix(rawModel)) {
            model = *fix;
            state.modelFixes.add(fmt::format("Model fix: {} found in {} changed into {}", rawModel, fileName, model));
        } else {
            state.invalidModels.add(fmt::format("{:16} in {}", rawModel, fileName));
            return result;
        }

        PathCache cache(file.parent_path(), listing);
        tlPathCache = &cache;
        struct Reset {
            ~Reset() { tlPathCache = nullptr; }
        } reset;
        std::vector<std::string_view> section;
        for (std::size_t h = 0; h < headers.size(); ++h) {
            const std::size_t from = headers[h];
            const std::size_t to = h + 1 < headers.size() ? headers[h + 1] : lines.size();
            section.assign(lines.begin() + static_cast<std::ptrdiff_t>(from),
                           lines.begin() + static_cast<std::ptrdiff_t>(to));
            if (auto livery = lf_procesFltSimSection(state, section, folderIndex, model, file, ivao))
                result.push_back(std::move(*livery));
        }
    } catch (const std::exception& e) {
        logf("Exception in lf_searchLiveriesinFile {}: {}", fileName, e.what());
    }
    return result;
}

// ---------------------------------------------------------------- scan runner

namespace {

// The file tasks of one scan. Workers are detached and hold the pool (and
// through it the scan state) by shared pointer, so a task that is still
// running when the scanner gives up on it writes into live memory.
struct TaskPool : std::enable_shared_from_this<TaskPool> {
    struct Task {
        fs::path file;
        std::uint32_t folderIndex;
        std::shared_ptr<const FolderListing> listing;
        std::promise<std::vector<Livery>> promise;
    };

    explicit TaskPool(std::shared_ptr<ScanState> s) : state(std::move(s)) {}

    void start(unsigned workers) {
        for (unsigned i = 0; i < workers; ++i) {
            std::thread([self = shared_from_this()] { self->work(); }).detach();
        }
    }

    std::future<std::vector<Livery>> submit(fs::path file, std::uint32_t folderIndex,
                                            std::shared_ptr<const FolderListing> listing) {
        Task task{std::move(file), folderIndex, std::move(listing), {}};
        auto future = task.promise.get_future();
        {
            std::lock_guard lock(mutex);
            queue.push_back(std::move(task));
        }
        wake.notify_one();
        return future;
    }

    // No more tasks; queued ones that have not started are dropped.
    void close(bool dropQueued) {
        {
            std::lock_guard lock(mutex);
            closed = true;
            if (dropQueued) queue.clear();
        }
        wake.notify_all();
    }

    void work() {
        while (true) {
            Task task;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return closed || !queue.empty(); });
                if (queue.empty()) return;
                task = std::move(queue.front());
                queue.pop_front();
            }
            running.fetch_add(1);
            try {
                task.promise.set_value(lf_searchLiveriesinFile(*state, task.file, task.folderIndex, task.listing.get()));
            } catch (...) {
                try {
                    task.promise.set_exception(std::current_exception());
                } catch (...) {
                }
            }
            running.fetch_sub(1);
            done.fetch_add(1);
        }
    }

    std::shared_ptr<ScanState> state;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Task> queue;
    bool closed = false;
    std::atomic<int> running{0};
    std::atomic<std::size_t> done{0};
};

bool isLiveryFile(const fs::path& p) {
    if (!iequals(p.extension().string(), ".cfg")) return false;
    const std::string stem = p.stem().string();
    return iequals(stem, "aircraft") || iequals(stem, "sim");
}

bool skipDirectory(const fs::path& p) {
    const std::string utf8 = p.string();
    return utf8.find("airport") != std::string::npos || utf8.size() >= 250;
}

class Collector {
public:
    Collector(std::shared_ptr<TaskPool> pool, std::vector<Livery>& out, std::size_t window,
              std::chrono::milliseconds timeout)
        : pool_(std::move(pool)), out_(out), window_(window), timeout_(timeout) {}

    void add(const fs::path& file, std::uint32_t folderIndex, std::shared_ptr<const FolderListing> listing) {
        pending_.push_back(pool_->submit(file, folderIndex, std::move(listing)));
        ++found_;
        while (pending_.size() > window_) collectOldest();
        if (found_ % 250 == 0) progress();
    }
    void finish() {
        while (!pending_.empty()) collectOldest();
        progress();
    }
    std::size_t files() const { return found_; }

private:
    void collectOldest() {
        auto& future = pending_.front();
        if (future.wait_for(timeout_) != std::future_status::ready)
            throw std::runtime_error(fmt::format(
                "Future wait timed out after {} seconds",
                std::chrono::duration_cast<std::chrono::duration<double>>(timeout_).count()));
        auto liveries = future.get();
        pending_.pop_front();
        for (auto& l : liveries) out_.push_back(std::move(l));
    }
    void progress() {
        showStatus(fmt::format("Scanning liveries: {} files done / {} found", pool_->done.load(), found_), false);
    }

    std::shared_ptr<TaskPool> pool_;
    std::vector<Livery>& out_;
    std::size_t window_;
    std::chrono::milliseconds timeout_;
    std::deque<std::future<std::vector<Livery>>> pending_;
    std::size_t found_ = 0;
};

// One folder: list its entries once (the file tasks check their model,
// texture and .air names against the list), start its livery files, then
// descend into its sub-folders.
void walkFolder(const fs::path& dir, std::uint32_t index, Collector& collector) {
    if (skipDirectory(dir)) return;
    auto listing = std::make_shared<FolderListing>();
    std::vector<fs::path> subfolders, liveryFiles;
    std::error_code ec;
    for (fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        std::error_code e2;
        const std::string name = folderName(entry.path().filename().string());
        if (entry.is_directory(e2)) {
            listing->folders.insert(name);
            subfolders.push_back(entry.path());
            continue;
        }
        if (entry.is_regular_file(e2)) listing->files.insert(name);
        if (isLiveryFile(entry.path())) liveryFiles.push_back(entry.path());
    }
    if (ec) logf("{} exception {}", "walkFolder", ec.message());
    for (const auto& file : liveryFiles) collector.add(file, index, listing);
    for (const auto& sub : subfolders) walkFolder(sub, index, collector);
}

void correctFromDatabase(std::vector<Livery>& liveries, const Database& db, std::vector<std::string>& lines) {
    for (Livery& l : liveries) {
        if (l.registration.empty()) continue;
        const RegistrationRecord* rec = db.registration(l.registration);
        if (!rec) continue;
        if (rec->cargo != l.cargo) {
            lines.push_back(fmt::format("{:80} {} cargo {} => {}", l.title, l.registration, l.cargo, rec->cargo));
            l.cargo = rec->cargo;
        }
        if (!rec->airline.empty() && rec->airline != l.airline) {
            lines.push_back(fmt::format("{:80} {} airl {} => {}", l.title, l.registration, l.airline, rec->airline));
            l.airline = rec->airline;
        }
        if (!rec->model.empty() && rec->model != l.model) {
            lines.push_back(fmt::format("{:80} {} model {} => {}", l.title, l.registration, l.model, rec->model));
            l.model = rec->model;
        }
    }
}

bool writeReport(const fs::path& path, std::vector<std::string> lines, bool unique) {
    std::sort(lines.begin(), lines.end());
    if (unique) lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
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

const char* const kReportFiles[][2] = {
    {"errors", "InvalidAirlineCodes.txt"},   {"errors", "InvalidAircraftCodes.txt"},
    {"errors", "Fixes.txt"},                 {"errors", "InvalidAircraftCfgFiles.txt"},
    {"errors", "IncompleFltsimSections.txt"}, {"info", "AircraftCfgWithNoFltsimSection.txt"},
    {"info", "AirlineModelConversions.txt"},
};

}  // namespace

void prioritizeLiveries(std::vector<Livery>& liveries) {
    std::unordered_map<std::string, std::uint32_t> best;
    for (const Livery& l : liveries) {
        auto key = l.airline + '\n' + l.model;
        auto [it, inserted] = best.try_emplace(std::move(key), l.folderIndex);
        if (!inserted) it->second = std::min(it->second, l.folderIndex);
    }
    std::erase_if(liveries, [&](const Livery& l) { return l.folderIndex > best[l.airline + '\n' + l.model]; });
}

void sortAndDeduplicate(std::vector<Livery>& liveries) {
    std::sort(liveries.begin(), liveries.end(), [](const Livery& a, const Livery& b) {
        return std::tie(a.airline, a.model, a.title, a.registration, a.cargo) <
               std::tie(b.airline, b.model, b.title, b.registration, b.cargo);
    });
    liveries.erase(std::unique(liveries.begin(), liveries.end()), liveries.end());
}

ScanResult runLiveryScan(const std::vector<ScanFolder>& folders, const Database& db, TitleSet dontUseTitles,
                         const ScanOptions& options) {
    ScanResult result;
    const fs::path errors = options.outputFolder / "errors";
    const fs::path info = options.outputFolder / "info";
    std::error_code ec;
    for (const auto& r : kReportFiles) fs::remove(options.outputFolder / r[0] / r[1], ec);
    fs::remove(options.outputFolder / "LiveriesScanned.xml", ec);

    auto state = std::make_shared<ScanState>();
    state->db = &db;
    state->dontUseTitles = std::move(dontUseTitles);

    unsigned workers = options.workers ? options.workers : std::max(1u, std::thread::hardware_concurrency());
    auto pool = std::make_shared<TaskPool>(state);
    pool->start(workers);
    struct Closer {
        std::shared_ptr<TaskPool> pool;
        ~Closer() { pool->close(true); }
    } closer{pool};

    std::vector<Livery> liveries;
    Collector collector(pool, liveries, 4 * static_cast<std::size_t>(workers), options.futureTimeout);
    for (const ScanFolder& folder : folders) {
        const std::size_t before = liveries.size();
        if (!fs::exists(folder.path, ec)) {
            logLine(folder.path.string() + " does not exist, skipped!");
            continue;
        }
        if (!fs::is_directory(folder.path, ec)) {
            logLine(folder.path.string() + " is not a folder name, skipped!");
            continue;
        }
        walkFolder(folder.path, folder.index, collector);
        collector.finish();
        const std::size_t added = liveries.size() - before;
        if (added == 0) logf("No liveries {}", folder.path.string());
        else logf("{} liverie{} {}", added, added == 1 ? "" : "s", fmt::format("found in {}", folder.path.string()));
    }
    result.files = collector.files();
    result.found = liveries.size();
    if (liveries.empty()) {
        clearStatus();
        return result;
    }
    if (folders.size() > 1) logf("{} in total", liveries.size());

    std::vector<std::string> conversions;
    correctFromDatabase(liveries, db, conversions);
    if (options.prioritize) prioritizeLiveries(liveries);
    sortAndDeduplicate(liveries);
    writeLiveriesScanned(liveries, options.outputFolder / "LiveriesScanned.xml");
    result.liveries = liveries.size();
    liveries.clear();

    // Reports.
    struct Report {
        std::vector<std::string> lines;
        fs::path path;
    };
    Report invalidAirlines{state->invalidAirlines.take(), errors / "InvalidAirlineCodes.txt"};
    Report invalidModels{state->invalidModels.take(), errors / "InvalidAircraftCodes.txt"};
    Report fixes{state->modelFixes.take(), errors / "Fixes.txt"};
    Report invalidFiles{state->invalidCfgFiles.take(), errors / "InvalidAircraftCfgFiles.txt"};
    Report incomplete{state->incompleteSections.take(), errors / "IncompleFltsimSections.txt"};
    Report noSections{state->filesWithoutSections.take(), info / "AircraftCfgWithNoFltsimSection.txt"};
    Report corrections{std::move(conversions), info / "AirlineModelConversions.txt"};
    std::sort(incomplete.lines.begin(), incomplete.lines.end());
    incomplete.lines.erase(std::unique(incomplete.lines.begin(), incomplete.lines.end()), incomplete.lines.end());
    for (Report* r : {&invalidAirlines, &invalidModels, &fixes, &invalidFiles, &incomplete, &noSections, &corrections})
        if (!r->lines.empty()) writeReport(r->path, r->lines, r == &incomplete);

    const bool anyError = !invalidAirlines.lines.empty() || !invalidModels.lines.empty() || !fixes.lines.empty() ||
                          !invalidFiles.lines.empty() || !incomplete.lines.empty();
    if (!anyError) {
        logLine("\nNo errors");
    } else {
        logLine("\nErrors:");
        auto n = [](const Report& r) { return r.lines.size(); };
        if (n(invalidAirlines))
            logf("{} invalid airline code{}, see {}", n(invalidAirlines), plural(n(invalidAirlines)),
                 invalidAirlines.path.string());
        if (n(invalidModels))
            logf("{} invalid model code{}, see {}", n(invalidModels), plural(n(invalidModels)),
                 invalidModels.path.string());
        if (n(fixes)) logf("{} code fixes, see {}", n(fixes), fixes.path.string());
        if (n(invalidFiles)) logf("{} invalid aircraft.cfg files, see {}", n(invalidFiles), invalidFiles.path.string());
        if (n(incomplete))
            logf("{} incomplete [fltsim.x] sections, see {}", n(incomplete), incomplete.path.string());
    }
    if (!noSections.lines.empty() || !corrections.lines.empty()) {
        logLine("\nInformation:");
        if (!noSections.lines.empty())
            logf("{} empty aircraft.cfg files, see {}", noSections.lines.size(), noSections.path.string());
        if (!corrections.lines.empty())
            logf("{} liveries updated with real live data from dbase, see {}", corrections.lines.size(),
                 corrections.path.string());
    }
    requestRepaint();
    return result;
}

std::vector<ScanFolder> liveryFolders() {
    std::vector<ScanFolder> folders;
    Parameters& p = params();
    for (std::uint32_t i = 0; i < 10; ++i) {
        const std::string value = p.lfolder[i].get();
        if (value.empty()) continue;
        std::error_code ec;
        if (!fs::exists(fs::path(value), ec)) {
            logf("{}: '{}' does not exist", p.lfolder[i].key, value);
            throw UserErrorException(
                99, fmt::format("the path pointed to by parameter '{}' does not exist, see Log.txt!", p.lfolder[i].key));
        }
        folders.push_back({i, fs::path(value)});
    }
    return folders;
}

void scanLiveries() {
    Parameters& p = params();
    const std::string text = fmt::format("Scanning {} for liveries ...", p.LIG_PRIORITIZE.get() ? "prioritized " : "");
    showStatus(text, true);
    logLine("\n++++++++++++++++++++++++ liveries scan manual starts ++++++++++++++++++++++++++++++++");
    std::vector<ScanFolder> folders = liveryFolders();
    if (folders.empty())
        throw UserErrorException(
            99, fmt::format("Exit {} first!   Then set one or more lfolder parameters to your liveries, see Manual 5.3",
                            "Ventrix_P3D"));
    ScanOptions options;
    options.prioritize = p.LIG_PRIORITIZE.get();
    options.outputFolder = liveryOutputFolder();
    ScanResult result = runLiveryScan(folders, database(), loadDontUseTitles(), options);
    if (result.liveries == 0) throw UserErrorException(99, "no liveries found");
    p.SCAN_LIVERIES.set(false);
    p.writeParameter(p.SCAN_LIVERIES);
    if (WindowFrontEnd* fe = frontEnd()) fe->refreshControls();
    requestRepaint();
    logLine("\n++++++++++++++++++++++++ liveries scan ends ++++++++++++++++++++++++++++++++\n");
    flushLog();
}

void installLiveryHooks() {
    CycleHooks& h = hooks();
    h.scanLiveries = scanLiveries;
    h.processLiveries = processLiveries;
    h.noMatchReport = writeNoMatchReport;
    h.matchingSummary = writeMatchingSummary;
}

}  // namespace vntx
