#include "chart.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

#include <fmt/format.h>

#include "svg.h"

namespace vntx::fidelity {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kColours[] = {"#1f5fbf", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b"};

std::vector<std::string_view> split(std::string_view line, char sep) {
    std::vector<std::string_view> out;
    for (;;) {
        const auto at = line.find(sep);
        out.push_back(line.substr(0, at));
        if (at == std::string_view::npos) return out;
        line.remove_prefix(at + 1);
    }
}

double number(std::string_view cell, std::size_t row) {
    while (!cell.empty() && (cell.back() == '\r' || cell.back() == ' ')) cell.remove_suffix(1);
    if (cell.empty()) return kNaN;
    double v = 0;
    const auto [end, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), v);
    if (ec != std::errc() || end != cell.data() + cell.size())
        throw std::runtime_error(fmt::format("row {}: '{}' is not a number", row, cell));
    return v;
}

// A round step for about `want` grid lines over 0..top.
double gridStep(double top, int want) {
    const double raw = top / want;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * p >= raw) return m * p;
    return 10 * p;
}

}  // namespace

std::size_t Table::column(std::string_view name) const {
    for (std::size_t i = 0; i < header.size(); ++i)
        if (header[i] == name) return i;
    throw std::invalid_argument(fmt::format("no column '{}'", name));
}

Table readCsv(std::istream& in) {
    Table t;
    std::string line;
    if (!std::getline(in, line)) return t;
    for (auto h : split(line, ',')) {
        while (!h.empty() && h.back() == '\r') h.remove_suffix(1);
        t.header.emplace_back(h);
    }
    while (std::getline(in, line)) {
        if (line.empty() || line == "\r") continue;
        const auto cells = split(line, ',');
        if (cells.size() != t.header.size())
            throw std::runtime_error(
                fmt::format("row {}: {} cells for {} columns", t.rows.size() + 1, cells.size(), t.header.size()));
        std::vector<double> row;
        for (auto c : cells) row.push_back(number(c, t.rows.size() + 1));
        t.rows.push_back(std::move(row));
    }
    return t;
}

std::optional<Panel> parsePanel(std::string_view text) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos || eq == 0) return std::nullopt;
    Panel p;
    p.title = std::string(text.substr(0, eq));
    auto rest = text.substr(eq + 1);
    if (const auto at = rest.find('@'); at != std::string_view::npos) {
        const auto limit = rest.substr(at + 1);
        double v = 0;
        const auto [end, ec] = std::from_chars(limit.data(), limit.data() + limit.size(), v);
        if (ec != std::errc() || end != limit.data() + limit.size()) return std::nullopt;
        p.limit = v;
        rest = rest.substr(0, at);
    }
    for (auto c : split(rest, ','))
        if (!c.empty()) p.columns.emplace_back(c);
    if (p.columns.empty()) return std::nullopt;
    return p;
}

std::string seriesChart(const Table& table, const std::vector<Panel>& panels, std::string_view title) {
    constexpr double left = 70, width = 760, height = 130, gap = 50, top0 = 40;
    double xMin = 0, xMax = 1;
    if (!table.rows.empty()) {
        xMin = table.rows.front()[0];
        xMax = std::max(xMin + 1, table.rows.back()[0]);
    }
    auto X = [&](double x) { return left + (x - xMin) / (xMax - xMin) * width; };
    std::string svg = svgOpen(left + width + 40, top0 + panels.size() * (height + gap) + 10, title);
    double top = top0;
    for (const auto& panel : panels) {
        std::vector<std::size_t> cols;
        for (const auto& c : panel.columns) cols.push_back(table.column(c));
        double yMax = panel.limit.value_or(0);
        for (const auto& row : table.rows)
            for (auto c : cols)
                if (!std::isnan(row[c])) yMax = std::max(yMax, row[c]);
        yMax = yMax > 0 ? yMax * 1.1 : 1;
        auto Y = [&](double y) { return top + height - y / yMax * height; };
        svg += fmt::format("<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"none\" stroke=\"#999\"/>\n", left,
                           top, width, height);
        svg += svgText(left, top - 6, panel.title, 12);
        const double step = gridStep(yMax, 4);
        for (double y = 0; y <= yMax; y += step) {
            svg += svgPolyline({{left, Y(y)}, {left + width, Y(y)}}, "#eee", 1);
            svg += svgText(left - 5, Y(y) + 4, fmt::format("{:g}", y), 10, "end");
        }
        if (panel.limit) {
            svg += svgPolyline({{left, Y(*panel.limit)}, {left + width, Y(*panel.limit)}}, "#d62728", 1, "6,4");
            svg += svgText(left + width - 2, Y(*panel.limit) - 3, fmt::format("limit {:g}", *panel.limit), 10, "end",
                           "#d62728");
        }
        for (std::size_t k = 0; k < cols.size(); ++k) {
            const auto* colour = kColours[k % std::size(kColours)];
            // An empty cell breaks the line.
            std::vector<std::pair<double, double>> run;
            auto flush = [&] {
                if (run.size() == 1) run.push_back({run[0].first + 1, run[0].second});
                if (run.size() > 1) svg += svgPolyline(run, colour);
                run.clear();
            };
            for (const auto& row : table.rows) {
                if (std::isnan(row[cols[k]]) || std::isnan(row[0])) {
                    flush();
                    continue;
                }
                run.push_back({X(row[0]), Y(row[cols[k]])});
            }
            flush();
            svg += svgText(left + 200 + 130 * k, top - 6, panel.columns[k], 11, "start", colour);
        }
        svg += svgText(left, top + height + 14, fmt::format("{:g}", xMin), 10);
        svg += svgText(left + width, top + height + 14, fmt::format("{:g} {}", xMax, table.header[0]), 10, "end");
        top += height + gap;
    }
    return svg + "</svg>\n";
}

}  // namespace vntx::fidelity
