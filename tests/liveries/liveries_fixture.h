// A temporary working folder with its own Log.txt and input folder, a small
// database and helpers to lay out livery folders.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "core/log.h"
#include "refdata/crypt.h"
#include "refdata/dbase.h"
#include "liveries/small_dbase.h"

namespace vntx::test {

inline std::string readText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> readLines(const std::filesystem::path& p) {
    std::vector<std::string> lines;
    std::ifstream in(p);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

inline void writeText(const std::filesystem::path& p, const std::string& text) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

inline void loadDatabase(Database& db, const std::string& xml) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(xml.c_str()));
    db.load(doc);
}

class TempFolder {
public:
    TempFolder() {
        std::random_device rd;
        // Memory-backed when the machine has it: livery trees are many small files.
        std::error_code ec;
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                           : std::filesystem::temp_directory_path();
        dir_ = base / ("vntx_liv_" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(dir_ / "input");
        previousInput_ = inputFolder();
        setInputFolder(dir_ / "input");
        openLog(dir_ / "Log.txt");
    }
    ~TempFolder() {
        closeLog();
        setInputFolder(previousInput_);
        std::error_code ec;
#ifdef _WIN32
        flattenDeepFolders();
#endif
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path output() const { return dir_ / "output"; }
    std::string log() const {
        flushLog();
        return readText(dir_ / "Log.txt");
    }

private:
#ifdef _WIN32
    // Generated trees go deeper than Windows removes folders: such folders
    // are moved up first, one level at a time.
    void flattenDeepFolders() {
        std::vector<std::filesystem::path> todo{dir_};
        int moved = 0;
        while (!todo.empty()) {
            const std::filesystem::path folder = todo.back();
            todo.pop_back();
            std::error_code ec;
            std::vector<std::filesystem::path> subfolders;
            for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
                if (it->is_directory(ec)) subfolders.push_back(it->path());
            for (auto& sub : subfolders) {
                if (sub.native().size() > 180) {
                    const std::filesystem::path up = dir_ / ("up" + std::to_string(moved++));
                    std::filesystem::rename(sub, up, ec);
                    if (!ec) sub = up;
                }
                todo.push_back(sub);
            }
        }
    }
#endif

    std::filesystem::path dir_;
    std::filesystem::path previousInput_;
};

// One [fltsim.N] section's keys.
struct CfgSection {
    CfgSection(std::string header, std::string title, std::string codes = "", std::string atcId = "",
               std::string types = "GATE", std::string texture = "T", std::string extra = "")
        : header(std::move(header)), title(std::move(title)), codes(std::move(codes)), atcId(std::move(atcId)),
          types(std::move(types)), texture(std::move(texture)), extra(std::move(extra)) {}
    std::string header;
    std::string title;
    std::string codes;  // atc_parking_codes, omitted when empty
    std::string atcId;  // omitted when empty
    std::string types;
    std::string texture;
    std::string extra;  // more lines
};

// Writes folder/aircraft.cfg with the model, texture and .air files the sections need.
inline std::filesystem::path writeAircraft(const std::filesystem::path& folder, const std::string& atcModel,
                                           const std::vector<CfgSection>& sections, bool makeFiles = true) {
    std::string text = "[General]\n";
    if (!atcModel.empty()) text += "atc_model=" + atcModel + "\n";
    for (const auto& s : sections) {
        text += s.header + "\n";
        if (!s.title.empty()) text += "title=" + s.title + "\n";
        text += "sim=S\nmodel=\ntexture=" + s.texture + "\n";
        if (!s.atcId.empty()) text += "atc_id=" + s.atcId + "\n";
        text += "atc_parking_types=" + s.types + "\n";
        if (!s.codes.empty()) text += "atc_parking_codes=" + s.codes + "\n";
        text += s.extra;
        text += "\n";
        if (makeFiles) std::filesystem::create_directories(folder / ("texture." + s.texture));
    }
    if (makeFiles) {
        std::filesystem::create_directories(folder / "model");
        writeText(folder / "S.air", "air");
    }
    writeText(folder / "aircraft.cfg", text);
    return folder / "aircraft.cfg";
}

}  // namespace vntx::test
