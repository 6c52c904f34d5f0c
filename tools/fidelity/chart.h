// A chart of series over time: a table (CSV with a header line, one row per
// sample, empty cells for samples a series lacks) drawn as stacked panels,
// each with one or more of the table's columns against its first column and,
// where given, the limit they must stay under.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vntx::fidelity {

struct Table {
    std::vector<std::string> header;
    std::vector<std::vector<double>> rows;  // NaN: an empty cell
    // The column's index; throws std::invalid_argument naming an unknown one.
    std::size_t column(std::string_view name) const;
};

// Throws std::runtime_error on a row with another number of cells than the
// header, or a cell that is not a number.
Table readCsv(std::istream& in);

struct Panel {
    std::string title;
    std::vector<std::string> columns;
    std::optional<double> limit;
};

// "TITLE=COLUMN,COLUMN...[@LIMIT]"; nothing when the text has no title or column.
std::optional<Panel> parsePanel(std::string_view text);

// The chart: the first column is the time axis. Throws std::invalid_argument
// for a panel naming an unknown column.
std::string seriesChart(const Table& table, const std::vector<Panel>& panels, std::string_view title);

}  // namespace vntx::fidelity
