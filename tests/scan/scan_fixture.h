// A program folder with the shipped reference data for scan tests, scenery
// files of generated airports, and the reading of zip archives.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include <zip.h>

#include "airports/park_fixture.h"
#include "bglgen/bglgen.h"
#include "core/state.h"

namespace vntx::test {

// Entry names and contents of a zip archive; empty when it cannot be opened.
inline std::map<std::string, std::string> zipEntries(const std::filesystem::path& file) {
    std::map<std::string, std::string> out;
    int error = 0;
    zip_t* z = zip_open(file.string().c_str(), ZIP_RDONLY, &error);
    if (!z) return out;
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st);
        std::string data(st.size, '\0');
        zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
        if (f) {
            zip_fread(f, data.data(), st.size);
            zip_fclose(f);
        }
        out[st.name] = data;
    }
    zip_discard(z);
    return out;
}

class ScanFolder : public ParkFolder {
protected:
    void SetUp() override {
        ParkFolder::SetUp();
        shippedReferenceData();
    }
    void TearDown() override {
        resetStopState();
        ParkFolder::TearDown();
    }
    // A scenery file with one generated airport of `stands` stands.
    std::filesystem::path bgl(const std::string& relative, const std::string& code, unsigned stands = 6) {
        const std::filesystem::path file = tmp / relative;
        bglgen::File f;
        f.airports.push_back(bglgen::sampleAirport(code, 47.26, 11.34, stands / 2, stands - stands / 2, false));
        bglgen::writeFile(file, f);
        return file;
    }
};

}  // namespace vntx::test
