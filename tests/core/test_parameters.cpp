#include <gtest/gtest.h>

#include <thread>

#include <pugixml.hpp>

#include "core/files.h"
#include "core/log.h"
#include "core/parameters.h"
#include "support/temp_dir.h"

using namespace vntx;
using vntx::test::readFile;
using vntx::test::TempDir;
using vntx::test::writeFile;

namespace {

class ParametersTest : public ::testing::Test {
protected:
    void SetUp() override {
        params().resetToDefaults();
        params().setFile(dir.path() / "appdata" / "parameters.xml");
        openLog(dir / "Log.txt");
    }
    void TearDown() override {
        closeLog();
        params().setFile({});
        params().resetToDefaults();
    }
    std::string log() {
        flushLog();
        return readFile(dir / "Log.txt");
    }
    // The stored value of a key, or "<missing>".
    std::string stored(const std::string& key) {
        pugi::xml_document doc;
        if (!doc.load_file(params().file().c_str())) return "<no file>";
        auto n = doc.select_node(("/parameters/parameter[@name='" + key + "']").c_str()).node();
        return n ? n.attribute("value").value() : "<missing>";
    }
    void writeXml(const std::string& body) {
        std::filesystem::create_directories(params().file().parent_path());
        writeFile(params().file(), "<?xml version=\"1.0\"?>\n<parameters>\n" + body + "</parameters>\n");
    }
    static std::string entry(const std::string& key, const std::string& value) {
        return "<parameter name=\"" + key + "\" value=\"" + value + "\"/>\n";
    }
    TempDir dir;
};

TEST_F(ParametersTest, NewFileHoldsEveryKeyAtItsDefaultAndBothScansOn) {
    auto& p = params();
    p.SCAN_LIVERIES.set(false);
    p.readAllParameters();
    EXPECT_NE(log().find(p.file().string() + " not found, default values taken:"), std::string::npos);
    for (auto* b : p.bools) EXPECT_EQ(stored(b->key), b->def ? "true" : "false") << b->key;
    for (auto* i : p.ints) EXPECT_EQ(stored(i->key), std::to_string(i->def)) << i->key;
    for (auto* t : p.texts) EXPECT_EQ(stored(t->key), t->def) << t->key;
    EXPECT_EQ(stored("LAST_EPOCH_TIME:"), "0");
    EXPECT_EQ(stored("PORT_NUMBER"), "10747");
    EXPECT_EQ(stored("MAX_FIT_FL"), "<missing>");  // derived, not stored
    EXPECT_TRUE(p.SCAN_LIVERIES && p.SCAN_AIRPORTS);
    EXPECT_FLOAT_EQ(p.MAX_FIT_FL.get(), 24.0f);
}

TEST_F(ParametersTest, ReadLimitsValuesAndRecreatesMissingElements) {
    auto& p = params();
    writeXml(entry("PROGRAM_VERSION", "11.9.2") + entry("MAX_FIT", "48") + entry("RANGE", "7") +
             entry("MAX_LIVE_SEL", "9999") + entry("AEROWINX", "yes") + "<parameter name=\"WEEK\"/>\n" +
             "<parameter name=\"MAIN_WINDOW_X\"/>\n" + entry("lfolder3", "") + entry("lfolder4", "D:\\liv"));
    p.readAllParameters();
    EXPECT_EQ(p.MAX_FIT.get(), 47);
    EXPECT_FLOAT_EQ(p.MAX_FIT_FL.get(), 24.0f);
    EXPECT_EQ(p.RANGE.get(), 7);  // within 2..100 though not a choice
    EXPECT_DOUBLE_EQ(p.rangeMeters.load(), 7 * 1852.0);
    EXPECT_EQ(p.MAX_LIVE_SEL.get(), 500);
    EXPECT_TRUE(p.AEROWINX);
    EXPECT_FALSE(p.WEEK);                 // no value attribute reads as false
    EXPECT_EQ(p.MAIN_WINDOW_X.get(), 0);  // ... and as 0
    EXPECT_EQ(stored("lfolder3"), "<missing>");
    EXPECT_NE(log().find("Parameter 'lfolder3' removed"), std::string::npos);
    EXPECT_EQ(p.lfolder[4].get(), "D:\\liv");
    EXPECT_EQ(stored("COLLISION_USER_AIR"), "true");  // re-created with its default
    EXPECT_EQ(stored("PORT_NUMBER"), "10747");
    EXPECT_EQ(log().find(" not found, default values taken:"), std::string::npos);
}

// A handmade file may name a folder key twice. The empty entry is removed
// from the file, so the entry after it is the one read now and at every later
// start (it was read only from the second start on).
TEST_F(ParametersTest, AnEmptyFolderEntryGivesWayToTheNextEntryOfItsKeyAtOnce) {
    auto& p = params();
    writeXml(entry("PROGRAM_VERSION", "11.9.2") + "<parameter name=\"lfolder0\" valu=\"x\"/>\n" +
             entry("afolder1", "") + entry("lfolder0", "D:\\AI\\liv") + entry("afolder1", "") +
             entry("afolder1", "E:\\Scenery"));
    p.readAllParameters();
    EXPECT_EQ(p.lfolder[0].get(), "D:\\AI\\liv");
    EXPECT_EQ(p.afolder[1].get(), "E:\\Scenery");
    EXPECT_EQ(stored("lfolder0"), "D:\\AI\\liv");
    EXPECT_EQ(stored("afolder1"), "E:\\Scenery");
    p.resetToDefaults();
    p.readAllParameters();
    EXPECT_EQ(p.lfolder[0].get(), "D:\\AI\\liv");
    EXPECT_EQ(p.afolder[1].get(), "E:\\Scenery");
}

TEST_F(ParametersTest, UpgradeFrom10_5_0ConvertsOldKeys) {
    auto& p = params();
    writeXml(entry("PROGRAM_VERSION", "10.5.0") + entry("CUSTOM_MAX_PARK", "40") + entry("MAX_LIVE", "300") +
             entry("LATERAL_RANGE", "60") + entry("AIRPORT_RANGE", "13") + entry("AUTO_RANGE_ABOVE_HEIGHT", "49000") +
             entry("AIRPORT_HEIGHT", "1000") + entry("LOG", "true") + entry("PARK_FAKE", "1"));
    writeFile(dir / "stale.xml", "x");
    writeFile(dir / "keep.XML", "x");
    std::filesystem::create_directories(dir / "TO_BE_LEARNED_OFFLINE" / "x");
    p.readAllParameters();
    EXPECT_EQ(p.MAX_PARK_SEL.get(), 50);
    EXPECT_EQ(stored("MAX_PARK_SEL"), "50");
    EXPECT_EQ(stored("CUSTOM_MAX_PARK"), "<missing>");
    EXPECT_EQ(stored("MAX_LIVE_SEL"), "500");  // above 299
    EXPECT_EQ(stored("RANGE"), "65");
    EXPECT_EQ(stored("AIRP_RANGE"), "15");
    EXPECT_EQ(stored("AR_ABOVE_HEIGHT"), "48000");
    EXPECT_EQ(stored("AIRP_HEIGHT"), "2000");
    EXPECT_EQ(stored("LOG"), "<missing>");
    EXPECT_EQ(stored("PARK_FAKE"), "<missing>");
    EXPECT_EQ(stored("PROGRAM_VERSION"), "11.9.2");
    EXPECT_FALSE(std::filesystem::exists(dir / "stale.xml"));
    EXPECT_TRUE(std::filesystem::exists(dir / "keep.XML"));  // extension compared with case
    EXPECT_FALSE(std::filesystem::exists(dir / "TO_BE_LEARNED_OFFLINE"));
    EXPECT_NE(log().find("This is a version update from 10.5.0 -> 11.9.2"), std::string::npos);
}

TEST_F(ParametersTest, FromVersion11_0_2NoConversionRuns) {
    auto& p = params();
    writeXml(entry("PROGRAM_VERSION", "11.0.2") + entry("CUSTOM_MAX_PARK", "40"));
    p.readAllParameters();
    EXPECT_EQ(stored("CUSTOM_MAX_PARK"), "40");
    EXPECT_EQ(p.MAX_PARK_SEL.get(), 500);
    EXPECT_EQ(stored("PROGRAM_VERSION"), "11.9.2");
}

TEST_F(ParametersTest, BadVersionTextIsAnError) {
    for (const char* bad : {"11.9", "11..9.2", "x.9.2", "11.9.2.1", "11-9-2a"}) {
        writeXml(entry("PROGRAM_VERSION", bad));
        try {
            params().readAllParameters();
            ADD_FAILURE() << bad;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "parse error in version string");
        }
    }
    writeXml(entry("PROGRAM_VERSION", "11-9-2"));  // any single separator
    EXPECT_NO_THROW(params().readAllParameters());
}

TEST_F(ParametersTest, ConcurrentWritesLoseNothing) {
    auto& p = params();
    p.readAllParameters();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < 20; ++k) {
                TextParam& folder = p.afolder[t];
                folder.set("folder-" + std::to_string(t) + "-" + std::to_string(k));
                p.writeParameter(folder);
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(stored("afolder" + std::to_string(t)), "folder-" + std::to_string(t) + "-19");
    EXPECT_EQ(stored("RANDOM"), "true");  // untouched keys survive
}

TEST_F(ParametersTest, WriteIntoAFileThatDoesNotLoadStartsANewDocument) {
    std::filesystem::create_directories(params().file().parent_path());
    writeFile(params().file(), "<parameters><broken");
    params().BLOCK_CALLSIGN.set("DLH4AB");
    params().writeParameter(params().BLOCK_CALLSIGN);
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "DLH4AB");
}

TEST_F(ParametersTest, ADamagedFileIsReplacedByTheDefaultsAloneAndReadsTheSameNextTime) {
    // Damaged after two entries: what was parsed before the damage must not
    // stay in the file beside the defaults (a second root the next start
    // would read first).
    auto& p = params();
    std::filesystem::create_directories(p.file().parent_path());
    writeFile(p.file(), "<?xml version=\"1.0\"?>\n<parameters>\n" + entry("SCAN_LIVERIES", "false") +
                            entry("MAIN_WINDOW_X", "-120") + "<parameter name=\"RANGE\" value=\"7\"");
    EXPECT_TRUE(p.readParameters());
    EXPECT_TRUE(p.SCAN_LIVERIES);
    EXPECT_EQ(p.MAIN_WINDOW_X.get(), 400);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(p.file().c_str()));
    EXPECT_EQ(std::distance(doc.children().begin(), doc.children().end()), 1);
    p.resetToDefaults();
    p.SCAN_LIVERIES.set(false);
    EXPECT_FALSE(p.readParameters());
    EXPECT_TRUE(p.SCAN_LIVERIES);
    EXPECT_EQ(p.MAIN_WINDOW_X.get(), 400);
}

TEST(ConversionTables, Boundaries) {
    EXPECT_EQ(nearestRangeChoice(2), 2);
    EXPECT_EQ(nearestRangeChoice(5), 5);
    EXPECT_EQ(nearestRangeChoice(7), 8);
    EXPECT_EQ(nearestRangeChoice(22), 20);
    EXPECT_EQ(nearestRangeChoice(23), 25);
    EXPECT_EQ(nearestRangeChoice(44), 40);
    EXPECT_EQ(nearestRangeChoice(89), 80);
    EXPECT_EQ(nearestRangeChoice(90), 100);
    EXPECT_EQ(nearestHeightChoice(2999), 2000);
    EXPECT_EQ(nearestHeightChoice(26999), 18000);
    EXPECT_EQ(nearestHeightChoice(27000), 36000);
    EXPECT_EQ(nearestHeightChoice(47000), 48000);
    EXPECT_FLOAT_EQ(halfHoursToHours(0), 0.5f);
    EXPECT_FLOAT_EQ(halfHoursToHours(9), 5.0f);
    EXPECT_FLOAT_EQ(halfHoursToHours(21), 11.0f);
    EXPECT_FLOAT_EQ(halfHoursToHours(25), 12.0f);
    EXPECT_FLOAT_EQ(halfHoursToHours(47), 24.0f);
}

TEST(MetaBlock, WritesFiveEntriesInOrderAndReadsThemBack) {
    pugi::xml_document doc;
    ASSERT_TRUE(writeMetaBlock(doc));
    std::vector<std::string> names;
    for (auto info : doc.child("meta").children("info")) names.push_back(info.attribute("name").value());
    EXPECT_EQ(names, (std::vector<std::string>{"author", "version", "date", "copyright", "P3D"}));
    EXPECT_EQ(readMetaValue(doc, "version"), "11.9.2");
    EXPECT_EQ(readMetaValue(doc, "P3D"), "v5/v6");
    std::string date = readMetaValue(doc, "date");  // "Dec 06, 2026"
    ASSERT_EQ(date.size(), 12u) << date;
    EXPECT_EQ(date.substr(6, 2), ", ");
}

}  // namespace
