// The soak chart: the series table it reads and the panels it draws.
#include <cmath>
#include <sstream>

#include <gtest/gtest.h>

#include "chart.h"

using namespace vntx::fidelity;

namespace {

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(SeriesChart, TableKeepsEmptyCellsAsGapsAndRefusesRaggedRows) {
    std::istringstream in("minute,rss_kb,median\r\n1,100,\r\n2,101,12.5\r\n");
    const auto t = readCsv(in);
    ASSERT_EQ(t.header.size(), 3u);
    EXPECT_EQ(t.header[2], "median");  // no carriage return left on the last name
    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_TRUE(std::isnan(t.rows[0][2]));
    EXPECT_DOUBLE_EQ(t.rows[1][2], 12.5);
    EXPECT_EQ(t.column("rss_kb"), 1u);
    EXPECT_THROW(t.column("fds"), std::invalid_argument);

    std::istringstream ragged("a,b\n1,2\n3\n");
    EXPECT_THROW(readCsv(ragged), std::runtime_error);
    std::istringstream word("a,b\n1,x\n");
    EXPECT_THROW(readCsv(word), std::runtime_error);
}

TEST(SeriesChart, PanelTextNamesTitleColumnsAndLimit) {
    const auto p = parsePanel("loop period, ms=period_mean,period_p99@11");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->title, "loop period, ms");
    EXPECT_EQ(p->columns, (std::vector<std::string>{"period_mean", "period_p99"}));
    ASSERT_TRUE(p->limit);
    EXPECT_DOUBLE_EQ(*p->limit, 11);
    EXPECT_FALSE(parsePanel("rss_kb").has_value());       // no title
    EXPECT_FALSE(parsePanel("memory=").has_value());      // no column
    EXPECT_FALSE(parsePanel("memory=rss@lots").has_value());
}

TEST(SeriesChart, AGapBreaksTheLineAndTheLimitIsDrawn) {
    std::istringstream in("minute,median,p95\n1,10,100\n2,,120\n3,12,130\n4,11,140\n");
    const auto t = readCsv(in);
    const auto svg = seriesChart(t, {*parsePanel("fidelity <m>=median,p95@300")}, "Soak & more");
    // median: two pieces around the empty minute; p95: one line; one limit line
    // and the grid lines.
    EXPECT_EQ(count(svg, "stroke=\"#1f5fbf\""), 2u);
    EXPECT_EQ(count(svg, "stroke=\"#d62728\""), 2u);  // the p95 line and the dashed limit
    EXPECT_NE(svg.find("stroke-dasharray"), std::string::npos);
    EXPECT_NE(svg.find("limit 300"), std::string::npos);
    EXPECT_NE(svg.find("Soak &amp; more"), std::string::npos);
    EXPECT_NE(svg.find("fidelity &lt;m&gt;"), std::string::npos);
    EXPECT_EQ(svg.rfind("</svg>"), svg.size() - 7);
    EXPECT_THROW(seriesChart(t, {*parsePanel("x=fds")}, "t"), std::invalid_argument);
}
