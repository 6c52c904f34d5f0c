// The pieces of the tools' SVG pictures: the document's opening with its
// title line, text, and lines through points.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vntx::fidelity {

// "<svg ...>" of the given size on a white background, with the title at the top left.
std::string svgOpen(double width, double height, std::string_view title);
// Text with &, < and > escaped.
std::string svgText(double x, double y, std::string_view text, int size = 11, std::string_view anchor = "start",
                    std::string_view colour = "#000");
std::string svgPolyline(const std::vector<std::pair<double, double>>& points, std::string_view colour,
                        double width = 1.2, std::string_view dash = "");
std::string xmlEscaped(std::string_view text);

}  // namespace vntx::fidelity
