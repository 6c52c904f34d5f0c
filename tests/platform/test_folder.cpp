#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>

#include "platform/folder.h"

namespace fs = std::filesystem;
using vntx::platform::Folder;
using vntx::platform::FolderEntry;

namespace {

struct Tmp {
    Tmp() {
        std::random_device rd;
        path = fs::temp_directory_path() / ("vntx_folder_" + std::to_string(rd()) + std::to_string(rd()));
        fs::create_directories(path);
    }
    ~Tmp() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

void write(const fs::path& p, const std::string& data) { std::ofstream(p, std::ios::binary) << data; }

std::map<std::string, FolderEntry> listing(Folder& folder) {
    std::vector<FolderEntry> entries;
    std::error_code ec;
    EXPECT_TRUE(folder.list(entries, ec)) << ec.message();
    std::map<std::string, FolderEntry> byName;
    for (auto& e : entries) EXPECT_TRUE(byName.emplace(e.name, e).second) << "twice: " << e.name;
    return byName;
}

// More entries than one system call returns, names that are not ASCII, and
// the same folder listed twice.
TEST(Folder, ListsEveryEntryOnceWithItsKind) {
    Tmp tmp;
    for (int i = 0; i < 800; ++i) write(tmp.path / ("file_with_a_rather_long_name_" + std::to_string(i) + ".cfg"), "x");
    fs::create_directories(tmp.path / "texture.Ala 14_14-70");
    fs::create_directories(tmp.path / fs::path(u8"model.\u00e9t\u00e9"));
    Folder folder;
    std::error_code ec;
    ASSERT_TRUE(folder.open(tmp.path, ec)) << ec.message();
    for (int round = 0; round < 2; ++round) {
        auto byName = listing(folder);
        EXPECT_EQ(byName.size(), 802u);
        EXPECT_EQ(byName.count("."), 0u);
        EXPECT_EQ(byName.count(".."), 0u);
        EXPECT_TRUE(byName["texture.Ala 14_14-70"].directory);
        EXPECT_TRUE(byName["model.\xC3\xA9t\xC3\xA9"].directory);
        EXPECT_TRUE(byName["file_with_a_rather_long_name_799.cfg"].regularFile);
        EXPECT_FALSE(byName["file_with_a_rather_long_name_0.cfg"].directory);
    }
    Folder child;
    ASSERT_TRUE(child.openChild(folder, "texture.Ala 14_14-70", ec));
    EXPECT_TRUE(listing(child).empty());
    write(tmp.path / "texture.Ala 14_14-70" / "texture.cfg", "[fltsim]");
    std::string text;
    ASSERT_TRUE(child.readFile("texture.cfg", text));
    EXPECT_EQ(text, "[fltsim]");
    EXPECT_FALSE(child.readFile("missing.cfg", text));
    EXPECT_FALSE(child.openChild(folder, "missing", ec));
    EXPECT_TRUE(ec);
}

#ifndef _WIN32
// As the scan's walk did with the standard library: links are followed.
TEST(Folder, FollowsLinksAndTellsBrokenOnes) {
    Tmp tmp;
    fs::create_directories(tmp.path / "real");
    write(tmp.path / "real" / "aircraft.cfg", "x");
    fs::create_directory_symlink(tmp.path / "real", tmp.path / "linked");
    fs::create_symlink(tmp.path / "real" / "aircraft.cfg", tmp.path / "file_link");
    fs::create_symlink(tmp.path / "gone", tmp.path / "broken");
    Folder folder;
    std::error_code ec;
    ASSERT_TRUE(folder.open(tmp.path, ec));
    auto byName = listing(folder);
    EXPECT_TRUE(byName["linked"].directory);
    EXPECT_TRUE(byName["file_link"].regularFile);
    EXPECT_FALSE(byName["broken"].directory);
    EXPECT_FALSE(byName["broken"].regularFile);
}
#endif

TEST(ReadWholeFile, ReadsFilesLargerThanOneReadAndFailsOnMissingOnes) {
    Tmp tmp;
    std::string big(200000, '\0');
    std::mt19937 rng(1);
    for (auto& c : big) c = static_cast<char>(rng());
    write(tmp.path / "big.bin", big);
    write(tmp.path / "empty.cfg", "");
    std::string out = "previous";
    ASSERT_TRUE(vntx::platform::readWholeFile(tmp.path / "big.bin", out));
    EXPECT_EQ(out, big);
    ASSERT_TRUE(vntx::platform::readWholeFile(tmp.path / "empty.cfg", out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(vntx::platform::readWholeFile(tmp.path / "missing.cfg", out));
    EXPECT_FALSE(vntx::platform::readWholeFile(tmp.path, out));  // a folder is no file
}

}  // namespace
