// The enciphered data files that versions.json governs, and their update: a
// newer file replaces the old one only when it deciphers and its plain text
// parses, and only then is its version stored.
#pragma once

#include <filesystem>
#include <vector>

#include "update/version_check.h"

namespace vntx {

struct TextParam;

struct DataFileUpdate {
    const char* member;       // in versions.json: "airports", "aig", "dbase"
    const char* fileName;     // in the input folder and under downloads/<major>/
    TextParam* version;       // the *_VERSION setting
    const char* topElement;   // the plain text's top-level element ...
    const char* childElement; // ... with at least one of these
};

// airports, aig, dbase, in this order.
const std::vector<DataFileUpdate>& dataFiles();

// One member: "{} version not found", "{} version up-to-date", or the
// download, check and replacement with "{} updated to {}".
void updateDataFile(const WebVersions& web, const DataFileUpdate& file, const std::filesystem::path& inputFolder);

// True when the enciphered file deciphers with the program's key and its
// plain text parses with the element the reader of that file starts from
// (the database is read whole). Logs why not; the plain twin is removed.
bool dataFileUsable(const std::filesystem::path& enciphered, const DataFileUpdate& file);

}  // namespace vntx
