// Park files written in each mode and read back by the program's own reader.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "airports/park_file.h"
#include "park_fixture.h"

namespace fs = std::filesystem;
using namespace vntx;

namespace {

const fs::path kStockTree = fs::path(VNTX_BUILD_SERVER) / "downloads" / "P3D" / "archive" / "stock";

void expectSameStands(const std::vector<ParkPosition>& a, const std::vector<ParkPosition>& b, bool occurrences) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(a[i].id);
        EXPECT_EQ(a[i].id, b[i].id);
        EXPECT_DOUBLE_EQ(a[i].lat, b[i].lat);
        EXPECT_DOUBLE_EQ(a[i].lon, b[i].lon);
        EXPECT_NEAR(a[i].heading, b[i].heading, 1e-9);
        EXPECT_NEAR(a[i].radius, b[i].radius, 1e-9);
        EXPECT_EQ(std::tie(a[i].cargo, a[i].ramp, a[i].heli, a[i].manual, a[i].radius_change, a[i].cargo_change),
                  std::tie(b[i].cargo, b[i].ramp, b[i].heli, b[i].manual, b[i].radius_change, b[i].cargo_change));
        EXPECT_EQ(a[i].neighbours, b[i].neighbours);
        if (!occurrences) continue;
        ASSERT_EQ(a[i].occupancies.size(), b[i].occupancies.size());
        for (std::size_t k = 0; k < a[i].occupancies.size(); ++k) {
            const StandOccupancy &x = a[i].occupancies[k], &y = b[i].occupancies[k];
            EXPECT_EQ(std::tie(x.airline, x.type, x.reg, x.callsign, x.callsign_extra, x.number, x.day, x.real),
                      std::tie(y.airline, y.type, y.reg, y.callsign, y.callsign_extra, y.number, y.day, y.real));
            EXPECT_EQ(x.hours, y.hours);
        }
    }
}

class ParkWrite : public test::ParkFolder {
protected:
    ParkAirport readLocal(const std::string& location, const std::string& code) {
        ParkAirport a;
        a.code = code;
        EXPECT_EQ(gf_readApf(location, a), "");
        return a;
    }
    // The stock park file of Zurich that the build made, as a user's own file.
    ParkAirport zurich() {
        shippedReferenceData();
        fs::copy_file(kStockTree / "LSZH.xml", tmp / "airports/my_thirdparty/LSZH.xml");
        return readLocal("airports/my_thirdparty/LSZH.xml", "LSZH");
    }
};

TEST_F(ParkWrite, ArchiveAndGeneratedFilesReadBackAsWritten) {
    const ParkAirport original = zurich();
    ASSERT_GT(original.positions.size(), 200u);

    ASSERT_TRUE(writeParkFile(original, ParkFileMode::Archive, tmp / "airports/my_thirdparty/COPY.xml"));
    const ParkAirport archive = readLocal("airports/my_thirdparty/COPY.xml", "COPY");
    expectSameStands(original.positions, archive.positions, true);
    EXPECT_EQ(std::tie(archive.airport_name, archive.publisher, archive.altitude, archive.Qf_real, archive.Qf_soft),
              std::tie(original.airport_name, original.publisher, original.altitude, original.Qf_real,
                       original.Qf_soft));

    ParkAirport scanned = original;
    scanned.publisher = "";
    scanned.BGLpath = "C:\\Scenery\\LSZH_AD.bgl";
    ASSERT_TRUE(writeParkFile(scanned, ParkFileMode::Generated, tmp / "airports/my_ORBX/GEN.xml"));
    const std::string text = test::readFile(tmp / "airports/my_ORBX/GEN.xml");
    EXPECT_NE(text.find(fmt::format("<parameter name=\"num_parkpos\" value=\"{}\" />", original.positions.size())),
              std::string::npos);
    EXPECT_EQ(text.find("<opt "), std::string::npos);
    EXPECT_EQ(text.find("Qf_real"), std::string::npos);
    const ParkAirport generated = readLocal("airports/my_ORBX/GEN.xml", "GEN");
    expectSameStands(original.positions, generated.positions, false);
    EXPECT_EQ(generated.BGLpath, scanned.BGLpath);
    EXPECT_EQ(generated.altitude, original.altitude);
}

TEST_F(ParkWrite, LearnedFileKeepsOnlyWhatWasLearnedAndMergesBackToTheSameState) {
    ParkAirport& current = currentParkAirport();
    current = zurich();
    ASSERT_GE(current.positions.size(), 4u);
    // What a run learns: a radius, a cargo flag, a stand by hand, two
    // occurrences (a registration the database knows, one it does not).
    ParkPosition& grown = current.positions[0];
    grown.radius += 5 / 1852.0;
    grown.radius_change = true;
    current.positions[1].cargo = !current.positions[1].cargo;
    current.positions[1].cargo_change = true;
    ParkPosition hand = current.positions[2];
    hand.id = "HAND1";
    hand.lat += 0.01;
    hand.manual = true;
    hand.occupancies.clear();
    current.positions.push_back(hand);
    ASSERT_NE(registrationRecord("HB-JJK"), nullptr);
    ASSERT_EQ(registrationRecord("HB-ZZZ"), nullptr);
    StandOccupancy known;
    known.reg = "HB-JJK";
    known.airline = registrationRecord("HB-JJK")->airline;
    known.type = registrationRecord("HB-JJK")->model;
    known.callsign = "EDW12";
    known.day = 6;
    known.hours.set(20);
    StandOccupancy unknown = known;
    unknown.reg = "HB-ZZZ";
    unknown.airline = "XYZ";
    unknown.type = "C172";
    unknown.real = false;
    ParkPosition& learnedOn = current.positions[3];
    for (const auto& o : learnedOn.occupancies) ASSERT_NE(o.reg, known.reg);
    for (auto* o : {&known, &unknown}) {
        o->number = static_cast<std::uint32_t>(learnedOn.occupancies.size() + 1);  // numbered after the archived ones
        learnedOn.occupancies.push_back(*o);
    }
    current.updates = 5;
    const ParkAirport before = current;

    ASSERT_TRUE(saveLearnedFile());
    EXPECT_EQ(current.updates, 0u);
    EXPECT_TRUE(logged("LSZH 'airports/learned/stock/LSZH.xml' saved with 5 updates"));
    const std::string text = test::readFile(tmp / "airports/learned/stock/LSZH.xml");
    EXPECT_NE(text.find("<opt reg=\"HB-JJK\" day=\"6\" hh=\"20\" cs=\"EDW12\" />"), std::string::npos);
    EXPECT_NE(text.find("<opt reg=\"HB-ZZZ\" airl=\"XYZ\" type=\"C172\" soft=\"true\" day=\"6\" hh=\"20\""),
              std::string::npos);
    EXPECT_NE(text.find("<parameter name=\"MAX_FIT\" value=\"47\" />"), std::string::npos);
    {
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_file((tmp / "airports/learned/stock/LSZH.xml").c_str()));
        // Only the four changed stands, and the archived stands in part only.
        EXPECT_EQ(doc.child("parkpositions").select_nodes("parkpos").size(), 4u);
        EXPECT_FALSE(doc.child("parkpositions").find_child_by_attribute("id", grown.id.c_str()).attribute("latitude"));
        EXPECT_TRUE(doc.child("parkpositions").find_child_by_attribute("id", "HAND1").attribute("latitude"));
        EXPECT_EQ(doc.child("parkpositions").select_nodes("parkpos/opt").size(), 2u);
    }

    // The next visit reads the archived file and merges this one: the same stands.
    const ParkAirport again = readLocal("airports/my_thirdparty/LSZH.xml", "LSZH");
    ParkAirport expected = before;
    linkStands(expected.positions);
    expectSameStands(expected.positions, again.positions, true);
}

TEST_F(ParkWrite, HandmadeAirportIsWrittenWhole) {
    ParkAirport& current = currentParkAirport();
    current = zurich();
    current.handmade = true;
    current.positions.resize(3);
    for (auto& p : current.positions)
        for (auto& o : p.occupancies) o.source = 1;  // kept: a hand-made file owns every stand
    ASSERT_TRUE(saveLearnedFile());
    EXPECT_TRUE(logged("LSZH handmade 'airports/learned/stock/LSZH.xml' saved with 0 updates"));
    const ParkAirport again = readLocal("airports/my_thirdparty/LSZH.xml", "LSZH");
    EXPECT_TRUE(again.handmade);
    ParkAirport expected = current;
    linkStands(expected.positions);
    expectSameStands(expected.positions, again.positions, true);
    EXPECT_EQ(again.altitude, current.altitude);
}

TEST_F(ParkWrite, LearnedFileOfAGeneratedOrbxFileIsFoundAgain) {
    ParkAirport& current = currentParkAirport();
    current = zurich();
    current.publisher = "simaddon";
    current.positions.resize(2);
    ASSERT_TRUE(writeParkFile(current, ParkFileMode::Generated, tmp / "airports/my_ORBX/LSZH.xml"));
    fs::remove(tmp / "airports/my_thirdparty/LSZH.xml");
    ASSERT_EQ(findParkFileLocation("LSZH"), "airports/my_ORBX/LSZH.xml");
    current = readLocal("airports/my_ORBX/LSZH.xml", "LSZH");
    current.positions[1].radius_change = true;
    current.positions[1].radius *= 2;
    ASSERT_TRUE(saveLearnedFile());
    EXPECT_TRUE(fs::exists(tmp / "airports/learned/simaddon/LSZH.xml"));
    const ParkAirport again = readLocal("airports/my_ORBX/LSZH.xml", "LSZH");
    EXPECT_TRUE(again.positions[1].radius_change);
    EXPECT_NEAR(again.positions[1].radius, current.positions[1].radius, 1e-6);
}

}  // namespace
