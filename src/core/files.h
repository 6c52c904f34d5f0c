// Time texts, backup generations, folder clean-up, character sets, text and
// XML files, half-hour slot sets and other small shared helpers.
#pragma once

#include <bitset>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace pugi {
class xml_document;
}

namespace vntx {

// "{:3} {:3} {:02} {:02}:{:02}:{:02} {:4}" in UTC, or "Invalid time".
std::string utcDateTime(std::int64_t secondsSince1970);
std::string utcDateTimeNow();
// "hh:mm:ss" of now, UTC.
std::string utcTimeOfDay();
std::int64_t nowEpochSeconds();

// Backup generations: "a/Log.txt" -> "a/Log0.txt". Empty when the file name has no dot.
std::filesystem::path generationName(const std::filesystem::path& path);
bool gf_save1GenerationOf(const std::filesystem::path& path);
bool gf_saveUpto3GenerationsOf(const std::filesystem::path& path);

void gf_removeFilesFromDirectory(const std::filesystem::path& folder);
void gf_removeXMLFilesFromDirectory(const std::filesystem::path& folder);
int countFilesInDirectory(const std::filesystem::path& folder);

enum Charset : int {
    kAnsi = 0,
    kUnicode = 1,
    kUnicodeBigEndian = 2,
    kUtf8WithBom = 3,
    kUtf8WithoutBom = 4,
    kNoneFound = 5,
};
const char* charsetName(int code);
int detectCharset(const std::filesystem::path& path);
// The same detection on a file's bytes already read (the first 4096 count).
int detectCharsetOf(std::string_view bytes);
// Reads the file as UTF-8 into out. False when a UTF-16 file fails to convert
// (the failure is shown on the status line). Throws for an unknown charset.
bool readTextFile(int charset, const std::filesystem::path& path, std::string& out);
// readTextFile's conversion for bytes already read from path: in place.
bool decodeText(int charset, const std::filesystem::path& path, std::string& text);
// UTF-16 (little or big endian, with or without mark) to UTF-8. Throws
// std::runtime_error on a broken surrogate or odd length.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian);

// Writes data to a temporary file beside path and renames it into place.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view data);
// Ensures the <?xml version="1.0" encoding="UTF-8"?> declaration and saves with
// two-space indentation (atomically).
bool saveXmlDocument(pugi::xml_document& doc, const std::filesystem::path& path);

using HalfHourSet = std::bitset<48>;
HalfHourSet gf_hours2bitset(std::string_view text);

std::string trim(std::string_view text);
std::string toUpper(std::string_view text);
std::string toLower(std::string_view text);
bool iequals(std::string_view a, std::string_view b);

std::string socketErrorText(int code);

}  // namespace vntx
