// Unpacking installer archives, the entry names that stay inside the target
// folder, the versions.json members and the note for the new version.
#include <gtest/gtest.h>

#include <random>

#include "core/log.h"
#include "core/zip.h"
#include "support/temp_dir.h"
#include "update/program_update.h"
#include "update/version_check.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

std::string noise(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

class Unpack : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp / "target");
        openLog(tmp / "Log.txt");
    }
    void TearDown() override {
        if (HasFailure()) std::printf("Log.txt:\n%s\n", log().c_str());
        closeLog();
    }
    std::string log() {
        flushLog();
        return test::readFile(tmp / "Log.txt");
    }
    // Every file below the test folder except Log.txt and the archives.
    std::vector<std::string> files() {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(tmp.path()))
            if (e.is_regular_file() && e.path().filename() != "Log.txt" && e.path().extension() != ".zip")
                out.push_back(e.path().lexically_relative(tmp.path()).generic_string());
        std::sort(out.begin(), out.end());
        return out;
    }
    test::TempDir tmp;
};

TEST(ZipEntryNames, OnlyNamesThatStayInsideTheFolderAreSafe) {
    for (const char* bad : {"../evil.exe", "..", "a/../../evil.exe", "a/..", "a\\..\\..\\evil.exe", "..\\evil.exe",
                            "/etc/evil", "\\Windows\\evil.exe", "C:\\Windows\\evil.exe", "C:/evil.exe", "c:evil.exe",
                            ""})
        EXPECT_FALSE(zipEntryNameIsSafe(bad)) << bad;
    for (const char* good : {"setup_Ventrix_P3D_d_v11.10.0.exe", "docs/", "docs/read me.txt", "a/b/c.bin", "..a",
                             "a..", "a/..b/c", "...", "a/./b"})
        EXPECT_TRUE(zipEntryNameIsSafe(good)) << good;
}

TEST_F(Unpack, EntriesLargerThanOnePieceArriveWholeWithTheirFolders) {
    // Three pieces and a bit, one piece exactly, an empty file, a folder entry.
    const std::string big = noise(3 * kUnpackPieceBytes + 17, 1);
    const std::string exact = noise(kUnpackPieceBytes, 2);
    writeZip(tmp / "a.zip", {{"setup.exe", {}, big}, {"docs/", {}, ""}, {"docs/exact.bin", {}, exact},
                             {"docs/empty.txt", {}, ""}});
    ASSERT_TRUE(unpackArchive(tmp / "a.zip", tmp / "target"));
    EXPECT_TRUE(test::readFile(tmp / "target" / "setup.exe") == big);
    EXPECT_TRUE(test::readFile(tmp / "target" / "docs" / "exact.bin") == exact);
    EXPECT_TRUE(fs::exists(tmp / "target" / "docs" / "empty.txt"));
    EXPECT_EQ(files(), (std::vector<std::string>{"target/docs/empty.txt", "target/docs/exact.bin", "target/setup.exe"}));
    EXPECT_NE(log().find("setup.exe unzipped to " + (tmp / "target" / "setup.exe").string()), std::string::npos);

    // Unpacked again over the first: replaced, nothing left beside.
    const std::string other = noise(1000, 3);
    writeZip(tmp / "b.zip", {{"setup.exe", {}, other}});
    ASSERT_TRUE(unpackArchive(tmp / "b.zip", tmp / "target"));
    EXPECT_EQ(test::readFile(tmp / "target" / "setup.exe"), other);
    EXPECT_EQ(files().size(), 3u);
}

TEST_F(Unpack, AnEntryOutsideTheFolderRefusesTheWholeArchive) {
    // The good entry comes first: it must not be written either.
    for (const char* evil : {"../evil.exe", "sub/../../evil.exe", "/tmp/vntx-evil.exe"}) {
        writeZip(tmp / "evil.zip", {{"setup.exe", {}, "good"}, {evil, {}, "evil"}});
        EXPECT_FALSE(unpackArchive(tmp / "evil.zip", tmp / "target")) << evil;
        EXPECT_NE(log().find(fmt::format("Refused zip entry '{}'", evil)), std::string::npos) << evil;
    }
    EXPECT_TRUE(files().empty());
    EXPECT_FALSE(fs::exists("/tmp/vntx-evil.exe"));
}

TEST_F(Unpack, DamagedArchivesFailAndLeaveNothing) {
    // Not a zip at all.
    test::writeFile(tmp / "plain.zip", "this is not an archive");
    EXPECT_FALSE(unpackArchive(tmp / "plain.zip", tmp / "target"));
    EXPECT_NE(log().find("Could not open " + (tmp / "plain.zip").string()), std::string::npos);
    EXPECT_FALSE(unpackArchive(tmp / "missing.zip", tmp / "target"));

    // A good first entry, then one whose compressed bytes are damaged: the
    // checksum or the inflater fails, and the first entry goes again.
    const std::string second = std::string(200000, 'x') + noise(1000, 4);
    writeZip(tmp / "d.zip", {{"first.txt", {}, "first"}, {"second.bin", {}, second}});
    std::string bytes = test::readFile(tmp / "d.zip");
    const std::size_t at = bytes.find("second.bin");
    ASSERT_NE(at, std::string::npos);
    for (std::size_t i = at + 40; i < at + 200; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    test::writeFile(tmp / "d.zip", bytes);
    EXPECT_FALSE(unpackArchive(tmp / "d.zip", tmp / "target"));
    EXPECT_NE(log().find("Unzipping error code: "), std::string::npos);
    EXPECT_TRUE(files().empty());
}

TEST_F(Unpack, AFileThatCannotBeCreatedFailsTheStep) {
    fs::create_directories(tmp / "target" / "setup.exe" / "in the way");  // a folder where the file should go
    writeZip(tmp / "a.zip", {{"setup.exe", {}, "x"}});
    EXPECT_FALSE(unpackArchive(tmp / "a.zip", tmp / "target"));
    EXPECT_NE(log().find("Could not create output file " + (tmp / "target" / "setup.exe").string()),
              std::string::npos);
}

TEST(WebVersions, MembersMustBeThreeNonNegativeIntegers) {
    const auto w = parseWebVersions(R"({
        "p3d": {"major": 11, "minor": 10, "patch": 0},
        "aig": {"major": 1, "minor": 0},
        "dbase": {"major": "1", "minor": 0, "patch": 0},
        "airports": {"major": 1, "minor": -1, "patch": 0},
        "liveries": {"major": 1.5, "minor": 0, "patch": 0},
        "addons": [1, 0, 0],
        "extra": {"major": 2, "minor": 0, "patch": 7, "note": "ignored"}})");
    EXPECT_EQ(w.find("p3d"), (VersionNumber{11, 10, 0}));
    EXPECT_EQ(w.find("extra"), (VersionNumber{2, 0, 7}));
    for (const char* m : {"aig", "dbase", "airports", "liveries", "addons", "missing"}) EXPECT_FALSE(w.find(m)) << m;
    EXPECT_ANY_THROW(parseWebVersions("{\"p3d\": "));
    EXPECT_ANY_THROW(parseWebVersions("[1, 2, 3]"));
}

TEST(WebVersions, ComparedNumberByNumber) {
    EXPECT_TRUE(isNewer({11, 10, 0}, VersionNumber{11, 9, 2}));
    EXPECT_FALSE(isNewer({11, 9, 2}, VersionNumber{11, 9, 10}));
    EXPECT_FALSE(isNewer({11, 9, 2}, VersionNumber{11, 9, 2}));
    EXPECT_TRUE(isNewer({12, 0, 0}, VersionNumber{11, 99, 99}));
    EXPECT_FALSE(isNewer({11, 99, 99}, VersionNumber{12, 0, 0}));
    // A stored version that is empty or damaged never blocks an update.
    EXPECT_FALSE(storedVersion(""));
    EXPECT_FALSE(storedVersion("11.9"));
    EXPECT_FALSE(storedVersion("11.9.2.1"));
    EXPECT_FALSE(storedVersion("v11.9.2"));
    EXPECT_TRUE(isNewer({0, 0, 0}, storedVersion("")));
    EXPECT_EQ(storedVersion("11.10.0"), (VersionNumber{11, 10, 0}));
}

TEST(NewVersionNote, AdministratorOnlyUnderProgramFilesWhenTheFolderIsNotWritableAndNotElevated) {
    test::TempDir tmp(false);
    const fs::path pf = tmp / "Program Files";
    const fs::path pf86 = tmp / "Program Files (x86)";
    const fs::path writable = pf86 / "Ventrix_P3D";
    fs::create_directories(writable);
    // A folder the test file cannot be written in (running as root defeats
    // permissions, a missing folder does not).
    const fs::path locked = pf / "Ventrix_P3D";
    const std::vector<fs::path> both{pf, pf86};
    auto elevated = [] { return true; };
    auto plain = [] { return false; };

    EXPECT_TRUE(installNeedsAdministrator(locked, both, plain));
    EXPECT_TRUE(installNeedsAdministrator(locked, both, nullptr));  // elevation unknown: not elevated
    EXPECT_FALSE(installNeedsAdministrator(locked, both, elevated));
    EXPECT_FALSE(installNeedsAdministrator(writable, both, plain));
    EXPECT_FALSE(fs::exists(writable / ".write_test.tmp"));
    EXPECT_FALSE(installNeedsAdministrator(tmp / "Games" / "Ventrix_P3D", both, plain));
    // A folder whose name only begins like Program Files is not under it.
    EXPECT_FALSE(installNeedsAdministrator(tmp / "Program FilesX" / "Ventrix_P3D", {pf}, plain));
    EXPECT_FALSE(installNeedsAdministrator(locked, {}, plain));

    EXPECT_EQ(newVersionNote(true), "A new version is available. Run the installer as Administrator");
    EXPECT_EQ(newVersionNote(false),
              "A new version is available.\nThe installer can be executed normally (no Administrator rights required).");
}

TEST(NewVersionNote, FoldersAreComparedPartByPartWithoutCase) {
    EXPECT_TRUE(isInsideFolder("C:/Program Files/Ventrix_P3D", "C:/Program Files"));
    EXPECT_TRUE(isInsideFolder("c:/PROGRAM FILES/Ventrix_P3D/", "C:/Program Files/"));
    EXPECT_TRUE(isInsideFolder("/opt/x/../Ventrix_P3D", "/opt"));
    EXPECT_FALSE(isInsideFolder("/opt2/Ventrix_P3D", "/opt"));
    EXPECT_FALSE(isInsideFolder("/", "/opt"));
    EXPECT_FALSE(isInsideFolder("/opt/Ventrix_P3D", ""));
}

}  // namespace
