// The start-up version check against the local HTTPS download server
// (tests/support/download_server.py --run runs this program): the program,
// the three data files, the two scans, and the program update into
// new_version.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <random>

#include "core/log.h"
#include "core/parameters.h"
#include "core/state.h"
#include "core/status.h"
#include "core/zip.h"
#include "refdata/crypt.h"
#include "support/download_fixture.h"
#include "update/downloader.h"
#include "update/program_update.h"
#include "update/version_check.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

const char* const kDataFiles[] = {"airports.enc", "AIG-regcodes.enc", "dbase.enc"};
const std::string kRunning = formatVersion(kRunningVersion);  // 11.9.2
// The next program: its minor past 9 for the program of 11.9.2, so that only
// a comparison number by number finds it newer.
const std::string kNext = formatVersion({kVersionMajor, kVersionMinor + 1, 0});  // 11.10.0
const std::string kDataPath = fmt::format("/downloads/{}/", kVersionMajor);    // /downloads/11/

class VersionCheck : public test::DownloadServerTest {
protected:
    void SetUp() override {
        DownloadServerTest::SetUp();
        if (IsSkipped()) return;
        for (const char* d : {"program", "data", "input", "output"}) fs::create_directories(tmp / d);
        params().resetToDefaults();
        params().setFile(tmp / "data" / "parameters.xml");
        fs::remove_all(env.root / "downloads");
        fs::create_directories(env.root / "downloads" / std::to_string(kVersionMajor));
        for (const char* f : kDataFiles) {
            fs::copy_file(fs::path(VNTX_BUILD_INPUT) / f, tmp / "input" / f);
            fs::copy_file(fs::path(VNTX_BUILD_INPUT) / f, env.root / "downloads" / std::to_string(kVersionMajor) / f);
        }
        test::writeFile(tmp / "output" / "LiveriesScanned.xml", "<liveries/>");
        // What the user has: this program, data and scans of 1.0.0.
        for (TextParam* p : {&params().AIRPORTS_VERSION, &params().AIG_VERSION, &params().DBASE_VERSION,
                             &params().LIV_SCAN_VERSION, &params().ADDONS_SCAN_VERSION})
            p->set("1.0.0");
        params().SCAN_LIVERIES.set(false);
        params().SCAN_AIRPORTS.set(false);

        s.programFolder = tmp / "program";
        s.dataFolder = tmp / "data";
        s.inputFolder = tmp / "input";
        s.liveriesScanned = tmp / "output" / "LiveriesScanned.xml";
        s.isElevated = [] { return false; };
        s.openFolder = [this](const fs::path& folder) {
            opened.push_back(folder);
            return openSucceeds;
        };
        s.warningBox = [this](const std::string& text, const std::string& caption) {
            boxes.push_back(caption + ": " + text);
        };
    }
    void TearDown() override {
        DownloadServerTest::TearDown();
        params().setFile({});
        params().resetToDefaults();
        clearStatus();
    }
    // versions.json with the given members at these versions.
    void serveVersions(const std::map<std::string, std::string>& members) {
        std::string json = "{";
        for (const auto& [name, v] : members) {
            const VersionNumber n = parseVersion(v);
            json += fmt::format("{}\"{}\": {{\"major\": {}, \"minor\": {}, \"patch\": {}}}", json.size() > 1 ? ", " : "",
                                name, n.major, n.minor, n.patch);
        }
        test::writeFile(env.root / "downloads" / "versions.json", json + "}");
    }
    std::map<std::string, std::string> allAt(const std::string& data, const std::string& program = kRunning) {
        return {{"p3d", program}, {"airports", data}, {"aig", data}, {"liveries", data}, {"addons", data},
                {"dbase", data}};
    }
    // The value parameters.xml holds for key (empty when none).
    std::string stored(const char* key) {
        pugi::xml_document doc;
        doc.load_file((tmp / "data" / "parameters.xml").c_str());
        return doc.select_node(fmt::format("/parameters/parameter[@name='{}']", key).c_str())
            .node()
            .attribute("value")
            .value();
    }
    // A release of version v on the server: the installer in its archive, and the notes.
    std::string serveRelease(const std::string& v, std::vector<ZipWriteEntry> extra = {}) {
        const VersionNumber n = parseVersion(v);
        const std::string installer = randomBytes(kUnpackPieceBytes * 2 + 1234, 9);
        extra.insert(extra.begin(), ZipWriteEntry{installerName(n), {}, installer});
        fs::create_directories(env.root / "downloads" / "release");
        writeZip(env.root / "downloads" / "release" / installerArchiveName(n), extra);
        fs::create_directories(env.root / "downloads" / "docs");
        test::writeFile(env.root / "downloads" / "docs" / "ReleaseNotes.pdf", "%PDF-1.4 notes");
        return installer;
    }
    int dataRequests() { return requests("GET " + kDataPath); }

    UpdateSurroundings s;
    std::vector<fs::path> opened;
    std::vector<std::string> boxes;
    bool openSucceeds = true;
};

TEST_F(VersionCheck, EqualVersionsWithTheFilesPresentDownloadNothing) {
    serveVersions(allAt("1.0.0"));
    EXPECT_TRUE(checkVersions(s));
    EXPECT_TRUE(logged("Ventrix_P3D program version at web = " + kRunning));
    EXPECT_TRUE(logged("Ventrix_P3D version up-to-date"));
    for (const char* m : {"airports", "aig", "dbase"}) EXPECT_TRUE(logged(fmt::format("{} version up-to-date", m))) << m;
    EXPECT_EQ(dataRequests(), 0);
    EXPECT_EQ(requests("GET /downloads/versions.json 200"), 1);
    EXPECT_FALSE(fs::exists(tmp / "data" / "versions.json"));  // removed once read
    EXPECT_FALSE(params().SCAN_LIVERIES);
    EXPECT_FALSE(params().SCAN_AIRPORTS);
    EXPECT_FALSE(stopRequested());
    EXPECT_FALSE(fs::exists(tmp / "program" / kNewVersionFolder));
}

TEST_F(VersionCheck, AMissingFileIsDownloadedAgainAtTheSameVersion) {
    serveVersions(allAt("1.0.0"));
    fs::remove(tmp / "input" / "airports.enc");
    EXPECT_TRUE(checkVersions(s));
    EXPECT_EQ(requests("GET " + kDataPath + "airports.enc 200"), 1);
    EXPECT_EQ(dataRequests(), 1);
    EXPECT_TRUE(test::readFile(tmp / "input" / "airports.enc") ==
                test::readFile(fs::path(VNTX_BUILD_INPUT) / "airports.enc"));
    EXPECT_TRUE(logged("airports updated to 1.0.0"));
    EXPECT_EQ(stored("AIRPORTS_VERSION"), "1.0.0");
}

TEST_F(VersionCheck, VersionsAreComparedNumberByNumber) {
    // 11.10.0 on the web against 11.9.2 here: newer. 11.9.2 against 11.9.10: not.
    params().AIG_VERSION.set("11.9.2");
    params().DBASE_VERSION.set("11.9.10");
    params().AIRPORTS_VERSION.set("");  // never stored: anything on the web is newer
    serveVersions({{"p3d", kRunning}, {"aig", "11.10.0"}, {"dbase", "11.9.2"}, {"airports", "0.0.1"}});
    EXPECT_TRUE(checkVersions(s));
    EXPECT_EQ(requests("GET " + kDataPath + "AIG-regcodes.enc 200"), 1);
    EXPECT_EQ(requests("GET " + kDataPath + "airports.enc 200"), 1);
    EXPECT_EQ(requests(kDataPath + "dbase.enc"), 0);
    EXPECT_EQ(stored("AIG_VERSION"), "11.10.0");
    EXPECT_EQ(stored("AIRPORTS_VERSION"), "0.0.1");
    EXPECT_EQ(params().DBASE_VERSION.get(), "11.9.10");
    EXPECT_TRUE(logged("aig updated to 11.10.0"));
    EXPECT_TRUE(logged("dbase version up-to-date"));
}

TEST_F(VersionCheck, AMemberMissingFromTheListLeavesItsFileAndVersionAlone) {
    auto members = allAt("2.0.0");
    members.erase("aig");
    serveVersions(members);
    test::writeFile(tmp / "input" / "AIG-regcodes.enc", "mine");  // even a file that would not decipher
    EXPECT_TRUE(checkVersions(s));
    EXPECT_TRUE(logged("aig version not found"));
    EXPECT_EQ(test::readFile(tmp / "input" / "AIG-regcodes.enc"), "mine");
    EXPECT_EQ(params().AIG_VERSION.get(), "1.0.0");
    EXPECT_EQ(stored("AIG_VERSION"), "");
    EXPECT_EQ(requests("AIG-regcodes.enc"), 0);
    // The others were newer and came.
    EXPECT_TRUE(logged("airports updated to 2.0.0"));
    EXPECT_TRUE(logged("dbase updated to 2.0.0"));
}

TEST_F(VersionCheck, ADamagedDataFileOnTheServerKeepsTheOldFileAndVersion) {
    const fs::path served = env.root / "downloads" / std::to_string(kVersionMajor) / "dbase.enc";
    const std::string old = test::readFile(tmp / "input" / "dbase.enc");
    serveVersions(allAt("1.0.1"));
    struct Case {
        const char* what;
        std::string bytes;
    };
    // Not enciphered at all; enciphered with our key but not XML; XML without
    // the sections the database needs; enciphered with another key.
    streamEncrypt("not xml at all <", tmp / "a.enc");
    streamEncrypt("<?xml version=\"1.0\"?><dbase><db reg=\"X\"/></dbase>", tmp / "b.enc");
    DataKey other{};
    other[0] = 1;
    streamEncrypt(test::readFile(tmp / "b.enc"), tmp / "c.enc", other);
    const std::vector<Case> cases{{"noise", randomBytes(5000, 5)},
                                  {"plain text", test::readFile(tmp / "a.enc")},
                                  {"sections missing", test::readFile(tmp / "b.enc")},
                                  {"other key", test::readFile(tmp / "c.enc")}};
    for (const auto& c : cases) {
        test::writeFile(served, c.bytes);
        params().DBASE_VERSION.set("1.0.0");
        EXPECT_TRUE(checkVersions(s)) << c.what;
        EXPECT_TRUE(test::readFile(tmp / "input" / "dbase.enc") == old) << c.what;
        EXPECT_EQ(params().DBASE_VERSION.get(), "1.0.0") << c.what;
        EXPECT_EQ(stored("DBASE_VERSION"), "") << c.what;
        EXPECT_TRUE(logged("Downloaded 'dbase.enc' is not usable (")) << c.what;
        EXPECT_TRUE(logged("Downloading 'dbase.enc' failed !")) << c.what;
        EXPECT_FALSE(logged("dbase updated to")) << c.what;
    }
    EXPECT_EQ(requests("GET " + kDataPath + "dbase.enc 200"), 4);
    // No temporary and no plain twin left in the input folder; the good ones came.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(tmp / "input")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"AIG-regcodes.enc", "airports.enc", "dbase.enc"}));
    EXPECT_EQ(stored("AIRPORTS_VERSION"), "1.0.1");

    // The real file at a newer version is taken.
    fs::remove(served);  // mingw's libstdc++ refuses overwrite_existing on Windows
    fs::copy_file(fs::path(VNTX_BUILD_INPUT) / "dbase.enc", served);
    EXPECT_TRUE(checkVersions(s));
    EXPECT_EQ(stored("DBASE_VERSION"), "1.0.1");
}

TEST_F(VersionCheck, NewerScanVersionsSwitchTheirScansOn) {
    serveVersions(allAt("1.0.0"));
    serveVersions({{"p3d", kRunning}, {"liveries", "1.1.0"}, {"addons", "1.0.1"}});
    EXPECT_TRUE(checkVersions(s));
    EXPECT_TRUE(params().SCAN_LIVERIES);
    EXPECT_TRUE(params().SCAN_AIRPORTS);
    EXPECT_EQ(stored("SCAN_LIVERIES"), "true");
    EXPECT_EQ(stored("LIV_SCAN_VERSION"), "1.1.0");
    EXPECT_EQ(stored("ADDONS_SCAN_VERSION"), "1.0.1");
    EXPECT_TRUE(logged("liveries updated to 1.1.0"));
    EXPECT_TRUE(logged("addons updated to 1.0.1"));
}

TEST_F(VersionCheck, TheLiveryScanRunsAgainWhenItsFileIsGone) {
    serveVersions(allAt("1.0.0"));
    EXPECT_TRUE(checkVersions(s));
    EXPECT_FALSE(params().SCAN_LIVERIES);  // same version, file there
    fs::remove(tmp / "output" / "LiveriesScanned.xml");
    serveVersions(allAt("1.0.0"));
    EXPECT_TRUE(checkVersions(s));
    EXPECT_TRUE(params().SCAN_LIVERIES);
    EXPECT_FALSE(params().SCAN_AIRPORTS);  // the add-on scan has no file to miss
}

TEST_F(VersionCheck, NoListOrADamagedListChecksNothing) {
    EXPECT_TRUE(checkVersions(s));
    EXPECT_TRUE(logged("Downloading version info from my web site failed!"));
    test::writeFile(env.root / "downloads" / "versions.json", "{\"p3d\": {\"major\": 12,");
    EXPECT_TRUE(checkVersions(s));
    EXPECT_TRUE(logged("Cannot read versions.json: "));
    EXPECT_FALSE(fs::exists(tmp / "data" / "versions.json"));
    EXPECT_EQ(dataRequests(), 0);
    EXPECT_FALSE(stopRequested());
}

TEST_F(VersionCheck, ANewerProgramIsUnpackedIntoNewVersionAndStopsTheProgram) {
    serveVersions(allAt("9.9.9", kNext));
    test::writeFile(tmp / "program" / ("setup_Ventrix_P3D_d_v" + kNext + ".exe"), "an old download");
    // An earlier new version the user never installed is replaced.
    fs::create_directories(tmp / "program" / "new_version");
    test::writeFile(tmp / "program" / "new_version" / "install_new_version.exe", "an earlier installer");
    test::writeFile(tmp / "program" / "new_version" / "README.txt", "an earlier note");
    const std::string installer = serveRelease(kNext);
    EXPECT_FALSE(checkVersions(s));
    EXPECT_TRUE(stopRequested());
    EXPECT_EQ(exitReason(), ExitReason::NewVersion);

    const fs::path nv = tmp / "program" / "new_version";
    EXPECT_TRUE(test::readFile(nv / "install_new_version.exe") == installer);
    EXPECT_EQ(test::readFile(nv / "README.txt"),
              "A new version is available.\nThe installer can be executed normally (no Administrator rights required).");
    EXPECT_EQ(test::readFile(nv / "ReleaseNotes.pdf"), "%PDF-1.4 notes");
    // Nothing else left: not the archive, not the unpacked installer, no ".part".
    std::vector<std::string> left;
    for (const auto& e : fs::recursive_directory_iterator(tmp / "program"))
        left.push_back(e.path().lexically_relative(tmp / "program").generic_string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"new_version", "new_version/README.txt", "new_version/ReleaseNotes.pdf",
                                              "new_version/install_new_version.exe"}));
    EXPECT_EQ(opened, std::vector<fs::path>{nv});
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(logged("Ventrix_P3D program version at web = " + kNext));
    EXPECT_TRUE(logged("setup_Ventrix_P3D_d_v" + kNext + ".exe unzipped to "));
    // The data members are not looked at.
    EXPECT_EQ(dataRequests(), 0);
    EXPECT_EQ(params().DBASE_VERSION.get(), "1.0.0");
}

TEST_F(VersionCheck, FileExplorerThatDoesNotOpenIsReportedAndTheProgramStillStops) {
    serveVersions(allAt("1.0.0", kNext));
    serveRelease(kNext);
    fs::remove(env.root / "downloads" / "docs" / "ReleaseNotes.pdf");
    openSucceeds = false;
    EXPECT_FALSE(checkVersions(s));
    EXPECT_EQ(boxes, std::vector<std::string>{"VNTX: Could not open File Explorer at new version"});
    EXPECT_TRUE(logged("Opening file explorer at the new version failed? Try manually via the Corlinde website."));
    EXPECT_TRUE(logged("could not download ReleaseNotes.pdf to "));
    EXPECT_EQ(exitReason(), ExitReason::NewVersion);
    EXPECT_TRUE(fs::exists(tmp / "program" / "new_version" / "install_new_version.exe"));
}

TEST_F(VersionCheck, ANewerProgramThatCannotBeFetchedLetsTheProgramStart) {
    serveVersions(allAt("1.0.0", kNext));  // no release on the server
    EXPECT_TRUE(checkVersions(s));
    EXPECT_TRUE(logged("Downloading program installer file version " + kNext + " failed"));
    EXPECT_EQ(statusText(), "The downloading/unzipping of the new version failed? Try manually via the Corlinde website.");
    EXPECT_TRUE(logged("The downloading/unzipping of the new version failed?"));
    EXPECT_FALSE(stopRequested());
    EXPECT_TRUE(logged("dbase version up-to-date"));  // the data members come next
    EXPECT_FALSE(fs::exists(tmp / "program" / "new_version"));
}

TEST_F(VersionCheck, AnArchiveWithAnEntryOutsideTheProgramFolderIsRefused) {
    serveVersions(allAt("1.0.0", kNext));
    serveRelease(kNext, {{"../evil.exe", {}, "evil"}});
    EXPECT_TRUE(checkVersions(s));
    EXPECT_TRUE(logged("Refused zip entry '../evil.exe'"));
    EXPECT_FALSE(fs::exists(tmp / "evil.exe"));
    EXPECT_FALSE(stopRequested());
    EXPECT_TRUE(fs::is_empty(tmp / "program"));  // neither the installer nor the archive stayed
    EXPECT_EQ(statusText(), "The downloading/unzipping of the new version failed? Try manually via the Corlinde website.");
}

TEST_F(VersionCheck, AnArchiveWithoutTheInstallerFails) {
    serveVersions(allAt("1.0.0", kNext));
    fs::create_directories(env.root / "downloads" / "release");
    writeZip(env.root / "downloads" / "release" / ("setup_Ventrix_P3D_d_v" + kNext + ".zip"), {{"other.exe", {}, "x"}});
    EXPECT_TRUE(checkVersions(s));
    EXPECT_TRUE(logged("setup_Ventrix_P3D_d_v" + kNext + ".exe does not exists?"));
    EXPECT_FALSE(stopRequested());
    EXPECT_FALSE(fs::exists(tmp / "program" / "new_version" / "install_new_version.exe"));
}

TEST_F(VersionCheck, ADownloadCheckThatRefusesKeepsTheOldFile) {
    test::writeFile(env.root / "downloads" / "x.bin", "new");
    test::writeFile(tmp / "x.bin", "old");
    std::string seen;
    EXPECT_FALSE(download(downloadBase() + "x.bin", tmp / "x.bin", true, [&](const fs::path& received) {
        seen = test::readFile(received);
        return false;
    }));
    EXPECT_EQ(seen, "new");  // the check saw the whole body
    EXPECT_EQ(test::readFile(tmp / "x.bin"), "old");
    EXPECT_TRUE(download(downloadBase() + "x.bin", tmp / "x.bin", true, [](const fs::path&) { return true; }));
    EXPECT_EQ(test::readFile(tmp / "x.bin"), "new");
}

}  // namespace
