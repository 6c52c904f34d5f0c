#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "core/files.h"
#include "core/log.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

using namespace vntx;
using vntx::test::readFile;
using vntx::test::TempDir;
using vntx::test::writeFile;

namespace {
std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
}
}  // namespace

TEST(Charset, DetectsMarksAndUtf16WithoutMark) {
    TempDir dir;
    struct Case {
        std::string data;
        int expected;
    } cases[] = {
        {bytes({0x41, 0x00, 0x42, 0x00}), kUnicode},
        {bytes({0x00, 0x41, 0x00, 0x42}), kUnicodeBigEndian},
        {bytes({0xFF, 0xFE, 0x41, 0x00}), kUnicode},
        {bytes({0xFE, 0xFF, 0x00, 0x41}), kUnicodeBigEndian},
        {bytes({0xEF, 0xBB, 0xBF, 0x41}), kUtf8WithBom},
        {"", kUtf8WithoutBom},
        {"plain ascii [fltsim.0]\n", kUtf8WithoutBom},
        {"caf\xC3\xA9", kUtf8WithoutBom},
        {"caf\xE9 au lait", kAnsi},              // Latin-1 byte
        {"\xE0\x80\x80 overlong", kAnsi},        // E0 must be followed by A0 or more
        {"\xF4\x90\x80\x80 too high", kAnsi},    // F4 must be followed by 8F or less
    };
    for (const auto& c : cases) {
        writeFile(dir / "f.txt", c.data);
        EXPECT_EQ(detectCharset(dir / "f.txt"), c.expected) << charsetName(c.expected);
    }
    EXPECT_EQ(detectCharset(dir / "missing.txt"), kNoneFound);
}

TEST(Charset, SampleEndingInsideASequenceIsAnsi) {
    TempDir dir;
    std::string data(4095, 'a');
    data += "\xC3\xA9";  // the second byte falls outside the 4096-byte sample
    writeFile(dir / "f.txt", data);
    EXPECT_EQ(detectCharset(dir / "f.txt"), kAnsi);
    data = std::string(4094, 'a') + "\xC3\xA9";  // fits exactly
    writeFile(dir / "f.txt", data);
    EXPECT_EQ(detectCharset(dir / "f.txt"), kUtf8WithoutBom);
}

TEST(ReadTextFile, ConvertsUtf16BothOrdersAndStripsUtf8Mark) {
    TempDir dir;
    // "A€😀" little endian with mark, big endian without.
    writeFile(dir / "le.txt", bytes({0xFF, 0xFE, 0x41, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE}));
    writeFile(dir / "be.txt", bytes({0x00, 0x41, 0x00, 0x42, 0x20, 0xAC, 0xD8, 0x3D, 0xDE, 0x00}));
    writeFile(dir / "bom.txt", "\xEF\xBB\xBFtitle=x");
    std::string out;
    ASSERT_TRUE(readTextFile(detectCharset(dir / "le.txt"), dir / "le.txt", out));
    EXPECT_EQ(out, "A\xE2\x82\xAC\xF0\x9F\x98\x80");
    ASSERT_TRUE(readTextFile(detectCharset(dir / "be.txt"), dir / "be.txt", out));
    EXPECT_EQ(out, "AB\xE2\x82\xAC\xF0\x9F\x98\x80");
    ASSERT_TRUE(readTextFile(detectCharset(dir / "bom.txt"), dir / "bom.txt", out));
    EXPECT_EQ(out, "title=x");
}

TEST(ReadTextFile, BrokenUtf16FailsAndUnknownCharsetThrows) {
    TempDir dir;
    writeFile(dir / "bad.txt", bytes({0xFF, 0xFE, 0x3D, 0xD8, 0x41, 0x00}));  // high surrogate then 'A'
    std::string out;
    EXPECT_FALSE(readTextFile(kUnicode, dir / "bad.txt", out));
    try {
        readTextFile(kNoneFound, dir / "x.cfg", out);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "file " + (dir / "x.cfg").string() + " has unknown charset: none_found");
    }
}

TEST(Hours2Bitset, ValidPiecesSetBitsInvalidOnesAreLogged) {
    TempDir dir;
    openLog(dir / "Log.txt");
    auto set = gf_hours2bitset("0,47,48,-1,x");
    closeLog();
    EXPECT_EQ(set.count(), 2u);
    EXPECT_TRUE(set.test(0));
    EXPECT_TRUE(set.test(47));
    std::string log = readFile(dir / "Log.txt");
    EXPECT_NE(log.find("==> gf_hours2bitset invalid hour '48' in 0,47,48,-1,x\n"), std::string::npos);
    EXPECT_NE(log.find("==> gf_hours2bitset invalid hour '-1' in 0,47,48,-1,x\n"), std::string::npos);
    EXPECT_NE(log.find("==> gf_hours2bitset invalid hour 'x' in 0,47,48,-1,x\n"), std::string::npos);
    EXPECT_TRUE(gf_hours2bitset("").none());
    EXPECT_TRUE(gf_hours2bitset("99999999999").none());  // overflows 32 bits
    EXPECT_EQ(gf_hours2bitset("1,,2").count(), 2u);       // the empty piece is skipped
}

TEST(TimeTexts, UtcDateTimeFormat) {
    EXPECT_EQ(utcDateTime(0), "Thu Jan 01 00:00:00 1970");
    EXPECT_EQ(utcDateTime(1704067200), "Mon Jan 01 00:00:00 2024");
    EXPECT_EQ(utcDateTime(1697371199), "Sun Okt 15 11:59:59 2023");
    EXPECT_EQ(utcDateTime(951782400), "Tue Feb 29 00:00:00 2000");
    EXPECT_EQ(utcDateTime(-1), "Wed Dec 31 23:59:59 1969");
    EXPECT_EQ(utcDateTime(std::int64_t(1) << 50), "Invalid time");
    EXPECT_EQ(utcTimeOfDay().size(), 8u);
}

TEST(Generations, FourthStartKeepsThreePreviousLogs) {
    TempDir dir;
    auto log = dir / "Log.txt";
    for (int run = 1; run <= 4; ++run) {
        openLog(log);
        logLine("run " + std::to_string(run));
        closeLog();
    }
    EXPECT_NE(readFile(log).find("run 4"), std::string::npos);
    EXPECT_NE(readFile(dir / "Log0.txt").find("run 3"), std::string::npos);
    EXPECT_NE(readFile(dir / "Log00.txt").find("run 2"), std::string::npos);
    EXPECT_NE(readFile(dir / "Log000.txt").find("run 1"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "Log0000.txt"));
    // Header of the current log.
    std::string first = readFile(log).substr(0, readFile(log).find('\n'));
    EXPECT_NE(first.find(" (utc) Ventrix_P3D version 11.9.2 for Prepar3D v5/v6"), std::string::npos) << first;
}

// With no room for a generation (here a folder stands in its way) the last
// run's log is the only copy: the new run adds to it instead of wiping it.
TEST(Generations, ALogThatCouldNotBeKeptIsAddedTo) {
    TempDir dir;
    auto log = dir / "Log.txt";
    openLog(log);
    logLine("run 1");
    closeLog();
    std::filesystem::create_directory(dir / "Log0.txt");
    openLog(log);
    logLine("run 2");
    closeLog();
    const std::string text = readFile(log);
    EXPECT_NE(text.find("run 1"), std::string::npos);
    EXPECT_LT(text.find("run 1"), text.find("run 2"));
}

TEST(Generations, NameWithoutDotIsRefused) {
    TempDir dir;
    writeFile(dir / "README", "x");
    EXPECT_EQ(generationName(dir / "README"), std::filesystem::path());
    EXPECT_FALSE(gf_save1GenerationOf(dir / "README"));
    EXPECT_EQ(generationName("a.b/c"), std::filesystem::path());  // the dot is in a folder name
    EXPECT_EQ(generationName("x/parameters.xml"), std::filesystem::path("x/parameters0.xml"));
}

// parameters.xml lies below the user's own folder, whose name may hold any letters.
TEST(Generations, KeptBesideTheFileWhateverLettersItsFolderHas) {
    TempDir dir;
    auto folder = dir.path() / platform::pathFromUtf8("J\xC3\xBCrgen \xE5\xB1\xB1\xE7\x94\xB0") / "Ventrix_P3D";
    std::filesystem::create_directories(folder);
    writeFile(folder / "parameters.xml", "<broken");
    EXPECT_EQ(generationName(folder / "parameters.xml"), folder / "parameters0.xml");
    ASSERT_TRUE(gf_save1GenerationOf(folder / "parameters.xml"));
    EXPECT_EQ(readFile(folder / "parameters0.xml"), "<broken");
}

TEST(Folders, RemoveXmlFilesIgnoresCaseAndKeepsOthers) {
    TempDir dir;
    std::filesystem::create_directories(dir / "f");
    for (auto n : {"a.xml", "b.XML", "c.Xml", "d.txt", "e.xmlx"}) writeFile(dir / "f" / n, "x");
    gf_removeXMLFilesFromDirectory(dir / "f");
    EXPECT_EQ(countFilesInDirectory(dir / "f"), 2);
    gf_removeFilesFromDirectory(dir / "f");
    EXPECT_EQ(countFilesInDirectory(dir / "f"), 0);
    EXPECT_EQ(countFilesInDirectory(dir / "missing"), 0);
}

TEST(Folders, RemoveFilesTakesEmptySubfoldersButStopsAtAFullOne) {
    TempDir dir;
    openLog(dir / "Log.txt");
    auto f = dir / "f";
    std::filesystem::create_directories(f / "empty");
    std::filesystem::create_directories(f / "full" / "deeper");
    writeFile(f / "a.pln", "x");
    writeFile(f / "full" / "keep.txt", "kept");
    gf_removeFilesFromDirectory(f);
    // Nothing inside a sub-folder is touched: no recursion.
    EXPECT_EQ(readFile(f / "full" / "keep.txt"), "kept");
    EXPECT_TRUE(std::filesystem::is_directory(f / "full" / "deeper"));
    flushLog();
    EXPECT_NE(readFile(dir / "Log.txt").find("==> gf_removeFilesFromDirectory exception: "), std::string::npos);

    // Without the full one, files and empty sub-folders all go.
    std::filesystem::remove_all(f / "full");
    writeFile(f / "b.pln", "x");
    std::filesystem::create_directories(f / "empty2");
    gf_removeFilesFromDirectory(f);
    EXPECT_EQ(countFilesInDirectory(f), 0);
    closeLog();
}

TEST(SaveXml, AddsDeclarationAndReplacesFileWhole) {
    TempDir dir;
    pugi::xml_document doc;
    doc.append_child("root").append_child("child").append_attribute("a").set_value("1");
    ASSERT_TRUE(saveXmlDocument(doc, dir / "x.xml"));
    std::string text = readFile(dir / "x.xml");
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n  <child a=\"1\" />", 0), 0u) << text;
    // No temporary file is left behind.
    EXPECT_EQ(countFilesInDirectory(dir.path()), 1);
    EXPECT_FALSE(saveXmlDocument(doc, dir / "no-such-folder" / "x.xml"));
}

TEST(SaveXml, ReplacesAnExistingFile) {
    TempDir dir;
    ASSERT_TRUE(writeFileAtomically(dir / "f.txt", "first"));
    ASSERT_TRUE(writeFileAtomically(dir / "f.txt", "second"));
    EXPECT_EQ(readFile(dir / "f.txt"), "second");
    EXPECT_EQ(countFilesInDirectory(dir.path()), 1);
}

TEST(Texts, TrimAndSocketErrors) {
    EXPECT_EQ(trim(" \t\r\nab c\n "), "ab c");
    EXPECT_EQ(trim(" \t"), "");
    EXPECT_EQ(socketErrorText(10054), "10054 Connection reset by peer");
    EXPECT_EQ(socketErrorText(11004), "11004 No host data of that type was found");
    EXPECT_EQ(socketErrorText(42), "42 Unknown errror code");
}
