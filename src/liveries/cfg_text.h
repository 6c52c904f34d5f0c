// The text rules of aircraft.cfg and sim.cfg files: key lines, section
// headers, comments and line splitting.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace vntx {

// \s of the line patterns: space, tab, line feed, vertical tab, form feed, carriage return.
inline bool isCfgSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// One "key = value" line: the value when the line is that key, else nullopt.
// Same as the whole-line pattern \s*(key)\s*=\s*(.*\S)\s* without case; key
// is given in lower case.
std::optional<std::string_view> matchKeyLine(std::string_view line, std::string_view key);

// The value of a key line as the simulator reads it: a trailing "//" comment
// and the blanks before it are cut. nullopt when the line is not that key or
// nothing is left of its value.
std::optional<std::string_view> keyValue(std::string_view line, std::string_view key);

// A [fltsim.N] header by \s*(\[fltsim\.)(\d+)\]\s* without case: the digits.
std::optional<std::string_view> matchHeaderLine(std::string_view line);

// A line whose first non-blank characters are "//".
bool isCommentLine(std::string_view line);

// Any section header ([General], [CameraDefinition.0], [fltsim.3] ...): "["
// as the first non-blank character and a "]" after it. Comment lines never are.
bool isSectionHeaderLine(std::string_view line);

// The lines of a text at "\n", each without a trailing "\r".
void splitLines(std::string_view text, std::vector<std::string_view>& lines);

}  // namespace vntx
