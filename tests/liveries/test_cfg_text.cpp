// The text rules of aircraft.cfg files: key lines, headers and comments.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include "liveries/cfg_text.h"

using namespace vntx;

namespace {

TEST(KeyLines, AgreeWithTheWholeLinePatterns) {
    const std::regex title(R"(\s*(title)\s*=\s*(.*\S)\s*)", std::regex::ECMAScript | std::regex::icase);
    const std::regex header(R"(\s*(\[fltsim\.)(\d+)\]\s*)", std::regex::ECMAScript | std::regex::icase);
    std::vector<std::string> lines = {"title=A", " TITLE = KLM B738 ", "Title\t=\tx y\t", "title=", "title = ",
                                      "titles=A", "xtitle=A", "title A", "title==A", "  title=A B  C\r",
                                      "[fltsim.3]", "[FLTSIM.3]", " [FltSim.12] ", "[fltsim.x]", "[fltsim.-1]",
                                      "[fltsim.3] //c", "[fltsim.]", "[fltsim.3", "x[fltsim.3]", "[fltsim.003]\r"};
    // Random lines from a small alphabet find the corners the list misses.
    std::mt19937 rng(7);
    const std::string alphabet = " \t=tiTLEle[]fltsim.0123x\r";
    for (int i = 0; i < 20000; ++i) {
        std::string l = (i % 2) ? "title" : "[fltsim.";
        const int n = static_cast<int>(rng() % 8);
        for (int k = 0; k < n; ++k) l.insert(rng() % (l.size() + 1), 1, alphabet[rng() % alphabet.size()]);
        lines.push_back(l);
    }
    for (const auto& l : lines) {
        std::smatch m;
        const bool t = std::regex_match(l, m, title);
        auto v = matchKeyLine(l, "title");
        ASSERT_EQ(t, v.has_value()) << '"' << l << '"';
        if (t) {
            EXPECT_EQ(m[2].str(), std::string(*v)) << l;
        }
        const bool h = std::regex_match(l, m, header);
        auto d = matchHeaderLine(l);
        ASSERT_EQ(h, d.has_value()) << '"' << l << '"';
        if (h) {
            EXPECT_EQ(m[2].str(), std::string(*d));
        }
    }
}

// A trailing "//" comment is not part of a value: the real Eurofighter
// package writes model=long //clean,long and means the model.long folder.
TEST(KeyValue, CutsTrailingCommentsAndTheBlanksBeforeThem) {
    struct Case {
        const char* line;
        const char* key;
        std::optional<std::string_view> value;
    } cases[] = {
        {"model=long //clean,long", "model", "long"},
        {"sim=NBAI_Typhoon_F2_AI_ONLY\t// flight model", "sim", "NBAI_Typhoon_F2_AI_ONLY"},
        {"texture=Ala 14_14-70", "texture", "Ala 14_14-70"},   // blanks inside stay
        {"atc_parking_codes=KLM//airline", "atc_parking_codes", "KLM"},
        {" Title = A // B // C ", "title", "A"},
        {"model= //clean,long", "model", std::nullopt},          // nothing left: no value
        {"model=//", "model", std::nullopt},
        {"atc_id=PH-ABC;/ /x", "atc_id", "PH-ABC;/ /x"},         // one slash is no comment
        {"//model=long", "model", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keyValue(c.line, c.key), c.value) << c.line;
    }
}

TEST(SectionHeaders, AnyBracketedNameIsAHeaderButCommentsAreNot) {
    for (const char* line : {"[General]", "  [CameraDefinition.0]", "[airspeed_indicators]  //IAS adjustment",
                             "[keyboard_response]      ", "[fltsim.3]", "[FLTSIM.x]", "[Reference Speeds]\r"})
        EXPECT_TRUE(isSectionHeaderLine(line)) << line;
    for (const char* line : {"//[General]", "  // [fltsim.1]", "title=[x]", "[no close", "", "   ", "x[General]"})
        EXPECT_FALSE(isSectionHeaderLine(line)) << line;
    EXPECT_TRUE(isCommentLine("  //[fltsim.1]"));
}

TEST(SplitLines, KeepsEmptyLinesAndDropsCarriageReturns) {
    std::vector<std::string_view> lines;
    splitLines("a\r\n\nb\r\r\nc", lines);
    EXPECT_EQ(lines, (std::vector<std::string_view>{"a", "", "b\r", "c"}));
    splitLines("", lines);
    EXPECT_EQ(lines, (std::vector<std::string_view>{""}));
    splitLines("x\n", lines);
    EXPECT_EQ(lines, (std::vector<std::string_view>{"x", ""}));
}

}  // namespace
