// What the scan makes of the decoded airports: a redirect to the maker's park
// file when the maker knows the scenery, a park file generated from the
// decoded stands for the rest.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "scan/bgl.h"

namespace vntx {

class Database;

namespace scan {

// One decoded scenery file of the scan.
struct DecodedFile {
    std::string path;                    // UTF-8, as the report names it
    std::vector<std::string> lines;      // the decoder's report lines
    std::vector<BglAirport> airports;    // RealTraffic airports only
    std::vector<std::string> decisions;  // what became of them (placeAirports)
};

struct Unrecognised {
    std::string code;
    std::filesystem::path parkFile;      // the generated file
};

struct Placement {
    std::size_t airports = 0;   // distinct codes
    std::size_t linked = 0;
    std::size_t generated = 0;
    std::vector<Unrecognised> unrecognised;
};

// Every airport code found in the files is placed once, from the file that
// gave it the most stands (equal counts: the smaller path), after all files
// are decoded. The report lines go to that file's decisions; the other files
// of the same code get a line saying so.
Placement placeAirports(std::vector<DecodedFile>& files, const Database& db);

// The maker's location of the airport's park file when the maker knows this
// publisher's scenery of it ("archive/simaddon/CODE.xml",
// "archive/thirdparty/PUBLISHER/CODE.xml" with blanks as "%20").
std::optional<std::string> archivedLocation(const Database& db, const std::string& publisher,
                                            const std::string& code);

// A park file written by an earlier scan (it carries "num_parkpos" and no
// quality factors), as opposed to one the user put there.
bool isGeneratedParkFile(const std::filesystem::path& file);

}  // namespace scan
}  // namespace vntx
