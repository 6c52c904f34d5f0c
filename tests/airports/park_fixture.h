// A program folder of its own (the current directory) with Log.txt, an
// "input" folder for the catalogue and database, and default settings.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "airports/catalogue.h"
#include "airports/park_file.h"
#include "core/log.h"
#include "core/parameters.h"
#include "refdata/crypt.h"
#include "refdata/dbase.h"
#include "support/temp_dir.h"

namespace vntx::test {

class ParkFolder : public ::testing::Test {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        for (const char* f : {"airports/learned/stock", "airports/learned/simaddon", "airports/learned/thirdparty",
                              "airports/my_thirdparty", "airports/my_ORBX", "input"})
            fs::create_directories(tmp / f);
        previousInput_ = inputFolder();
        setInputFolder(tmp / "input");
        openLog(tmp / "Log.txt");
        params().resetToDefaults();
        database().clear();
        resetAirportCatalogue();
    }
    void TearDown() override {
        closeLog();
        setInputFolder(previousInput_);
        params().resetToDefaults();
        database().clear();
        resetAirportCatalogue();
        setClosestStandReader(nullptr);
    }
    std::string log() const {
        flushLog();
        return readFile(tmp / "Log.txt");
    }
    bool logged(const std::string& text) const { return log().find(text) != std::string::npos; }
    void write(const std::string& relative, const std::string& text) const { writeFile(tmp / relative, text); }
    // The catalogue from an airports.xml body.
    void catalogue(const std::string& airports) const {
        resetAirportCatalogue();
        streamEncrypt("<?xml version=\"1.0\"?>\n<airports>" + airports + "</airports>", tmp / "input" / "airports.enc");
        ASSERT_TRUE(gf_readAirports());
    }
    // The database and catalogue the build made from data/.
    void shippedReferenceData() const {
        namespace fs = std::filesystem;
        for (const char* f : {"dbase.enc", "airports.enc"})
            fs::copy_file(fs::path(VNTX_BUILD_INPUT) / f, tmp / "input" / f, fs::copy_options::overwrite_existing);
        ASSERT_TRUE(gf_readDbase());
        ASSERT_TRUE(gf_readAirports());
    }

    TempDir tmp;

private:
    std::filesystem::path previousInput_;
};

}  // namespace vntx::test
