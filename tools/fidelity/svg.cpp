#include "svg.h"

#include <fmt/format.h>

namespace vntx::fidelity {

std::string xmlEscaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

std::string svgOpen(double width, double height, std::string_view title) {
    return fmt::format(
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{:.0f}\" height=\"{:.0f}\" style=\"background:#fff\">\n",
               width, height) +
           svgText(10, 18, title, 14);
}

std::string svgText(double x, double y, std::string_view text, int size, std::string_view anchor,
                    std::string_view colour) {
    return fmt::format("<text x=\"{:.1f}\" y=\"{:.1f}\" font-family=\"sans-serif\" font-size=\"{}\" "
                       "text-anchor=\"{}\" fill=\"{}\">{}</text>\n",
                       x, y, size, anchor, colour, xmlEscaped(text));
}

std::string svgPolyline(const std::vector<std::pair<double, double>>& points, std::string_view colour, double width,
                        std::string_view dash) {
    std::string svg = fmt::format("<polyline fill=\"none\" stroke=\"{}\" stroke-width=\"{}\"{} points=\"", colour,
                                  width, dash.empty() ? std::string() : fmt::format(" stroke-dasharray=\"{}\"", dash));
    for (const auto& [x, y] : points) svg += fmt::format("{:.1f},{:.1f} ", x, y);
    return svg + "\"/>\n";
}

}  // namespace vntx::fidelity
