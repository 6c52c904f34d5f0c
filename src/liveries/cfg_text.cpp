#include "liveries/cfg_text.h"

#include <cstring>

namespace vntx {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::size_t skipSpace(std::string_view s, std::size_t i) {
    while (i < s.size() && isCfgSpace(s[i])) ++i;
    return i;
}

// Whether s continues at i with the lower-case word, in any letter case.
bool startsWithNoCase(std::string_view s, std::size_t i, std::string_view word) {
    if (s.size() - i < word.size()) return false;
    for (std::size_t k = 0; k < word.size(); ++k)
        if (lower(s[i + k]) != word[k]) return false;
    return true;
}

}  // namespace

std::optional<std::string_view> matchKeyLine(std::string_view line, std::string_view key) {
    std::size_t i = skipSpace(line, 0);
    if (!startsWithNoCase(line, i, key)) return std::nullopt;
    i = skipSpace(line, i + key.size());
    if (i >= line.size() || line[i] != '=') return std::nullopt;
    i = skipSpace(line, i + 1);
    std::size_t e = line.size();
    while (e > i && isCfgSpace(line[e - 1])) --e;
    if (e == i) return std::nullopt;
    std::string_view value = line.substr(i, e - i);
    // "." does not match a line terminator.
    if (value.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
    return value;
}

std::optional<std::string_view> keyValue(std::string_view line, std::string_view key) {
    auto value = matchKeyLine(line, key);
    if (!value) return value;
    if (const std::size_t comment = value->find("//"); comment != std::string_view::npos) {
        value = value->substr(0, comment);
        while (!value->empty() && isCfgSpace(value->back())) value->remove_suffix(1);
        if (value->empty()) return std::nullopt;
    }
    return value;
}

std::optional<std::string_view> matchHeaderLine(std::string_view line) {
    static constexpr std::string_view kOpen = "[fltsim.";
    std::size_t i = skipSpace(line, 0);
    if (!startsWithNoCase(line, i, kOpen)) return std::nullopt;
    i += kOpen.size();
    std::size_t d = i;
    while (d < line.size() && line[d] >= '0' && line[d] <= '9') ++d;
    if (d == i || d >= line.size() || line[d] != ']') return std::nullopt;
    if (skipSpace(line, d + 1) != line.size()) return std::nullopt;
    return line.substr(i, d - i);
}

bool isCommentLine(std::string_view line) {
    const std::size_t i = skipSpace(line, 0);
    return line.substr(i, 2) == "//";
}

bool isSectionHeaderLine(std::string_view line) {
    const std::size_t i = skipSpace(line, 0);
    return i < line.size() && line[i] == '[' && line.find(']', i + 1) != std::string_view::npos;
}

void splitLines(std::string_view text, std::vector<std::string_view>& lines) {
    lines.clear();
    std::size_t start = 0;
    while (true) {
        const void* found = start < text.size() ? std::memchr(text.data() + start, '\n', text.size() - start) : nullptr;
        const std::size_t nl = found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
                                     : std::string_view::npos;
        std::string_view line = text.substr(start, nl == std::string_view::npos ? nl : nl - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
}

}  // namespace vntx
