#include "liveries/scan_file.h"

#include <cstring>
#include <regex>

#include <fmt/format.h>

#include "core/files.h"
#include "core/log.h"
#include "liveries/cfg_text.h"
#include "platform/folder.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace vntx {

#ifdef _WIN32
std::string listingName(std::string_view name) { return toLower(name); }  // the file system ignores case there
#else
std::string listingName(std::string_view name) { return std::string(name); }
#endif

std::string ivaoModelFromPath(const fs::path& file) {
    static const std::regex pattern(R"(.+[\\/]IVAO_MTL[\\/]IVAO_(\w+)[\\/]aircraft\.cfg$)",
                                    std::regex::ECMAScript | std::regex::icase);
    std::smatch m;
    const std::string text = platform::pathToUtf8(file);
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

// The file's text as UTF-8, read once and converted by its character set.
// False when it cannot be read or its UTF-16 is broken (which the status
// line shows).
bool readLiveryText(const fs::path& file, const platform::Folder* folder, std::string& text) {
    const bool read =
        folder ? folder->readFile(platform::pathToUtf8(file.filename()), text) : platform::readWholeFile(file, text);
    if (!read) return false;
    return decodeText(detectCharsetOf(text), file, text);
}

// A line that holds "[fltsim." or "[FLTSIM." somewhere.
bool mentionsFltsim(std::string_view line) {
    if (std::memchr(line.data(), '[', line.size()) == nullptr) return false;
    return line.find("[fltsim.") != std::string_view::npos || line.find("[FLTSIM.") != std::string_view::npos;
}

struct Header {
    std::size_t line;
    bool livery;  // a [fltsim.N] header: starts a section
};

// The file model: the atc_model value as it stands when the database knows
// it, else its fix; empty (and reported) when neither.
std::string fileModel(ScanState& state, const std::string& rawModel, const std::string& fileName) {
    if (state.db->isValidModel(rawModel)) return rawModel;
    if (auto fix = state.db->modelFix(rawModel)) {
        state.modelFixes.add(fmt::format("Model fix: {} found in {} changed into {}", rawModel, fileName, *fix));
        return *fix;
    }
    state.invalidModels.add(fmt::format("{:16} in {}", rawModel, fileName));
    return {};
}

}  // namespace

std::vector<Livery> lf_searchLiveriesinFile(ScanState& state, const fs::path& file, std::uint32_t folderIndex,
                                            const FolderListing* listing, const platform::Folder* folder) {
    std::vector<Livery> result;
    const std::string fileName = platform::pathToUtf8(file);
    try {
        const bool ivao = fileName.find("ivao_x-csl") != std::string::npos ||
                          fileName.find("IVAO_MTL") != std::string::npos;
        std::string text;
        if (!readLiveryText(file, folder, text)) {
            if (ivao) logf("No character set found for {}", fileName);
            return result;
        }
        std::vector<std::string_view> lines;
        splitLines(text, lines);

        // One pass: the headers of every kind with the numbers of the
        // livery headers, and the first atc_model value.
        std::vector<Header> headers;
        std::string rawModel;
        bool anyLivery = false;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string_view line = lines[i];
            if (isCommentLine(line)) continue;
            if (auto digits = matchHeaderLine(line)) {
                if (digits->size() > 19) {
                    logf("fltsim num {} incorrect", line);
                    return result;
                }
                if (std::stoull(std::string(*digits)) > 10000) {
                    state.invalidCfgFiles.add(fileName + " contains a [fltsim.x] section with a number < 0 or > " +
                                              "10000");
                    return result;
                }
                headers.push_back({i, true});
                anyLivery = true;
            } else if (mentionsFltsim(line)) {
                headers.push_back({i, true});  // number 10000: passes the check
                anyLivery = true;
            } else if (isSectionHeaderLine(line)) {
                headers.push_back({i, false});
            } else if (!ivao && rawModel.empty()) {
                if (auto v = keyValue(line, "atc_model")) rawModel = std::string(*v);
            }
        }
        if (!anyLivery) state.filesWithoutSections.add(fileName);

        if (ivao) {
            rawModel = ivaoModelFromPath(file);
            if (rawModel.empty()) {
                state.invalidCfgFiles.add(fileName + " is not in an IVAO_MTL\\IVAO_<model> folder");
                return result;
            }
        } else if (rawModel.empty()) {
            state.invalidCfgFiles.add("Line atc_model= is missing in [General] section of " + fileName);
            return result;
        }
        const std::string model = fileModel(state, rawModel, fileName);
        if (model.empty()) return result;

        // Each section runs from its [fltsim.N] header to the next header of
        // any kind: what follows the last livery ([General],
        // [CameraDefinition.N] with their own title keys) is not part of it.
        std::vector<std::string_view> section;
        for (std::size_t h = 0; h < headers.size(); ++h) {
            if (!headers[h].livery) continue;
            const std::size_t from = headers[h].line;
            const std::size_t to = h + 1 < headers.size() ? headers[h + 1].line : lines.size();
            section.assign(lines.begin() + static_cast<std::ptrdiff_t>(from),
                           lines.begin() + static_cast<std::ptrdiff_t>(to));
            if (auto livery = lf_procesFltSimSection(state, section, folderIndex, model, file, ivao, listing))
                result.push_back(std::move(*livery));
        }
    } catch (const std::exception& e) {
        logf("Exception in lf_searchLiveriesinFile {}: {}", fileName, e.what());
    }
    return result;
}

}  // namespace vntx
