// A small RFC 4180 reader: quoted fields, doubled quotes, CRLF, a leading BOM.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace refdata {

struct CsvTable {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    int column(const std::string& name) const {
        for (std::size_t i = 0; i < header.size(); ++i)
            if (header[i] == name) return static_cast<int>(i);
        throw std::runtime_error("missing column " + name);
    }
};

inline std::string readWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path.string());
    std::ostringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    return text;
}

inline CsvTable readCsv(const std::filesystem::path& path, bool hasHeader = true) {
    const std::string text = readWhole(path);
    CsvTable t;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, any = false;
    auto endRow = [&] {
        row.push_back(std::move(field));
        field.clear();
        if (hasHeader && t.header.empty()) t.header = std::move(row);
        else if (!(row.size() == 1 && row[0].empty())) t.rows.push_back(std::move(row));
        row.clear();
        any = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') { field += '"'; ++i; }
                else quoted = false;
            } else field += c;
            continue;
        }
        any = true;
        if (c == '"') quoted = true;
        else if (c == ',') { row.push_back(std::move(field)); field.clear(); }
        else if (c == '\n') endRow();
        else if (c != '\r') field += c;
    }
    if (any || !field.empty() || !row.empty()) endRow();
    return t;
}

// Whitespace separated words of a list file; '#' starts a comment line.
inline std::vector<std::string> readWords(const std::filesystem::path& path) {
    std::istringstream in(readWhole(path));
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ls(line);
        for (std::string w; ls >> w;) out.push_back(w);
    }
    return out;
}

// Non-empty, non-comment lines (trailing CR removed).
inline std::vector<std::string> readLines(const std::filesystem::path& path) {
    std::istringstream in(readWhole(path));
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        out.push_back(line);
    }
    return out;
}

}  // namespace refdata
