#include <gtest/gtest.h>

#include <set>

#include "liveries/liveries_fixture.h"
#include "refdata/crypt.h"
#include "refdata/regcodes.h"

namespace fs = std::filesystem;
using namespace vntx;
using namespace vntx::test;

namespace {

class RegcodesTest : public ::testing::Test {
protected:
    void writeAig(const std::string& body) {
        streamEncrypt("<?xml version=\"1.0\"?>\n<AIG-regcodes>" + body + "</AIG-regcodes>\n",
                      tmp.dir() / "input" / "AIG-regcodes.enc");
    }
    void writeUser(const std::string& name, const std::string& text) {
        writeText(tmp.dir() / "input" / "my_regcodes" / name, text);
    }
    TitleLookup lookup() {
        return [this](std::string_view t) -> const std::string* {
            auto it = installed.find(t);
            return it == installed.end() ? nullptr : &*it;
        };
    }
    std::vector<std::string> offlineReport() { return readLines(tmp.output() / "info" / "OfflineRegcodes.txt"); }

    TempFolder tmp;
    std::set<std::string, std::less<>> installed = {"Inline KLM", "AIG KLM", "User KLM", "Special one", "Special two"};
    RegcodeIndex index;
};

TEST_F(RegcodesTest, UserFileLinesAndTheirFaults) {
    writeUser("a.TXT", "A;PH-ABC\r\nB;PH-X1,AB,PH-BCD\n\nC;PH-CCC;#\nD\nE;1;2;3\nF;AB\nG;PH-GGG;x\nI;PH-III;# \nJ;PH-JJJ; #\n");
    writeUser("ignored.cfg", "H;PH-HHH\n");
    auto r = readUserRegcodes(tmp.dir() / "input" / "my_regcodes");
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.entries.size(), 7u);
    EXPECT_EQ(r.entries[0].title, "A");
    EXPECT_EQ(r.entries[0].registrations, std::vector<std::string>{"PH-ABC"});
    EXPECT_EQ(r.entries[1].registrations, (std::vector<std::string>{"PH-X1", "PH-BCD"}));
    EXPECT_TRUE(r.entries[2].special);
    EXPECT_TRUE(r.entries[3].registrations.empty());
    // The third field must be exactly "#": not "x", nor "#" with a blank.
    for (std::size_t i = 4; i < 7; ++i) EXPECT_FALSE(r.entries[i].special) << r.entries[i].title;
    const std::string log = tmp.log();
    const std::string file = (tmp.dir() / "input" / "my_regcodes" / "a.TXT").string();
    EXPECT_NE(log.find("wrong regcode length 'AB' in " + file), std::string::npos);
    EXPECT_NE(log.find(file + ": wrong format 'E;1;2;3'"), std::string::npos);
    EXPECT_NE(log.find("F ; regs empty?"), std::string::npos);
    EXPECT_NE(log.find("7 liveries"), std::string::npos);
}

TEST_F(RegcodesTest, AigFileSameAsPreviousAndSpecial) {
    const fs::path xml = tmp.dir() / "aig.xml";
    writeText(xml, R"(<AIG-regcodes><livery title="X" reg="A1B,C2D"/><livery title="X" reg="E3F"/>)"
                   R"(<livery title="Y" reg="G4H" special="true"/><livery title="Z"/></AIG-regcodes>)");
    auto r = readAigRegcodes(xml);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.entries.size(), 3u);
    EXPECT_EQ(r.entries[0].registrations, (std::vector<std::string>{"A1B", "C2D"}));
    EXPECT_TRUE(r.entries[1].special);
    EXPECT_TRUE(r.entries[2].registrations.empty());
    EXPECT_NE(tmp.log().find("SAME AS PREVIOUS title 'X'"), std::string::npos);
    EXPECT_FALSE(readAigRegcodes(tmp.dir() / "missing.xml").ok);
}

TEST_F(RegcodesTest, UserFileBeatsAigWhichBeatsInline) {
    writeAig(R"(<livery title="AIG KLM" reg="PH-AAA,PH-BBB"/><livery title="Not installed" reg="PH-CCC,PH-AAA"/>)");
    writeUser("mine.txt", "User KLM;PH-AAA\n");
    index.addInline({{"PH-AAA", "Inline KLM"}, {"PH-DDD", "Inline KLM"}}, lookup(), tmp.output());
    EXPECT_EQ(*index.titleFor("PH-AAA"), "Inline KLM");
    index.processOffline(lookup(), tmp.output());
    EXPECT_EQ(*index.titleFor("PH-AAA"), "User KLM");
    EXPECT_EQ(*index.titleFor("PH-BBB"), "AIG KLM");
    EXPECT_EQ(*index.titleFor("PH-DDD"), "Inline KLM");
    EXPECT_EQ(index.titleFor("PH-CCC"), nullptr);  // its livery is not installed
    EXPECT_EQ(offlineReport(), (std::vector<std::string>{
                                   "   regcode PH-AAA for 'AIG KLM', instead of the same for 'Inline KLM'",
                                   "   regcode PH-AAA for 'User KLM', instead of the same for 'AIG KLM'"}));
    // The deciphered file does not stay behind.
    EXPECT_FALSE(fs::exists(tmp.dir() / "input" / "AIG-regcodes.xml"));
    const std::string log = tmp.log();
    EXPECT_NE(log.find("1 new regcode added, 1 regcode replaced"), std::string::npos);
    EXPECT_NE(log.find("0 new regcodes added, 1 regcode replaced"), std::string::npos);
}

TEST_F(RegcodesTest, FaultySourcesArePointedOutInTheReport) {
    writeAig(R"(<livery title="AIG KLM" reg="PH-AAA"/><livery title="AIG KLM" reg="PH-BBB"/>)");
    writeUser("bad.txt", "User KLM;P\n");
    index.processOffline(lookup(), tmp.output());
    auto lines = offlineReport();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("There were errors processing the AIG-regcode file '", 0), 0u);
    EXPECT_EQ(lines[1].rfind("There were errors processing the regcode files in folder '", 0), 0u);
    EXPECT_EQ(*index.titleFor("PH-AAA"), "AIG KLM");
}

TEST_F(RegcodesTest, InlineClashKeepsTheFirstTitle) {
    index.addInline({{"PH-AAA", "Inline KLM"}, {"PH-AAA", "AIG KLM"}, {"PH-AAA", "Inline KLM"}}, lookup(),
                    tmp.output());
    EXPECT_EQ(*index.titleFor("PH-AAA"), "Inline KLM");
    EXPECT_EQ(readLines(tmp.output() / "errors" / "InlineRegcodes.txt"),
              std::vector<std::string>{"PH-AAA 'AIG KLM' => already in use by 'Inline KLM'"});
    EXPECT_NE(tmp.log().find("1 in-line regcode clashes"), std::string::npos);
}

TEST_F(RegcodesTest, SpecialEntriesAndSingleRegistrations) {
    writeUser("s.txt", "Special one;PH-ONE;#\nSpecial two;PH-TW1,PH-TW2;#\n");
    index.processOffline(lookup(), tmp.output());
    EXPECT_TRUE(index.isSpecialTitle("Special one"));
    EXPECT_TRUE(index.isSpecialTitle("Special two"));
    EXPECT_FALSE(index.isSpecialTitle("User KLM"));
    EXPECT_TRUE(index.isSingleRegistration("PH-ONE"));
    EXPECT_FALSE(index.isSingleRegistration("PH-TW1"));
    EXPECT_FALSE(index.isSingleRegistration("PH-TW2"));
    const std::string log = tmp.log();
    EXPECT_NE(log.find("2 special liveries"), std::string::npos);
    EXPECT_NE(log.find("1 unique liveries"), std::string::npos);
}

TEST_F(RegcodesTest, DontUseTitlesFromBothSources) {
    writeAig(R"(<livery title="Hide me"/><livery title="Keep me" reg="PH-KKK"/>)");
    writeUser("u.txt", "Hide me too\nKeep;PH-KEP\n");
    auto titles = loadDontUseTitles();
    EXPECT_EQ(titles, (TitleSet{"Hide me", "Hide me too"}));
    EXPECT_FALSE(fs::exists(tmp.dir() / "input" / "AIG-regcodes.xml"));
    const std::string log = tmp.log();
    EXPECT_NE(log.find("1 don't use title read\n"), std::string::npos);
    EXPECT_NE(log.find("1 don't use title read from files in "), std::string::npos);
}

}  // namespace
