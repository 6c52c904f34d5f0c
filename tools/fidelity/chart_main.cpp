// series_chart: a CSV of series over time as an SVG chart of stacked panels.
//
//   series_chart --csv FILE --svg FILE [--title TEXT] [--panel TITLE=COL,COL[@LIMIT]]...
// Without --panel, one panel per column.
#include <fstream>
#include <iostream>
#include <string>

#include "chart.h"
#include "core/files.h"

using namespace vntx;

int main(int argc, char** argv) {
    std::string csvPath, svgPath, title = "Series over time";
    std::vector<fidelity::Panel> panels;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--csv") csvPath = v;
        else if (a == "--svg") svgPath = v;
        else if (a == "--title") title = v;
        else if (a == "--panel") {
            auto p = fidelity::parsePanel(v);
            if (!p) {
                std::cerr << "series_chart: bad panel '" << v << "'\n";
                return 2;
            }
            panels.push_back(*p);
        } else {
            std::cerr << "series_chart: unknown argument " << a << "\n";
            return 2;
        }
    }
    if (csvPath.empty() || svgPath.empty()) {
        std::cerr << "usage: series_chart --csv FILE --svg FILE [--title TEXT] [--panel TITLE=COL,COL[@LIMIT]]...\n";
        return 2;
    }
    try {
        std::ifstream in(csvPath);
        if (!in) throw std::runtime_error("cannot read " + csvPath);
        const auto table = fidelity::readCsv(in);
        if (panels.empty())
            for (std::size_t i = 1; i < table.header.size(); ++i) panels.push_back({table.header[i], {table.header[i]}, {}});
        if (!writeFileAtomically(svgPath, fidelity::seriesChart(table, panels, title)))
            throw std::runtime_error("cannot write " + svgPath);
    } catch (const std::exception& e) {
        std::cerr << "series_chart: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
