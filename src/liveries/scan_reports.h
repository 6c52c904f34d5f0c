// The livery scan's corrections from the database and its report files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "liveries/livery.h"
#include "liveries/scan_state.h"

namespace vntx {

// Takes cargo flag, airline and model from the database record of each
// livery's registration; one line per change.
void correctFromDatabase(std::vector<Livery>& liveries, const Database& db, std::vector<std::string>& lines);

// Removes the report files of an earlier scan, and with withLiveryList its LiveriesScanned.xml.
void removeScanOutputs(const std::filesystem::path& outputFolder, bool withLiveryList);

// Writes the report files of the state's lists (emptying them) and the data
// corrections under outputFolder/errors and outputFolder/info, and logs the
// summary.
void writeScanReports(ScanState& state, std::vector<std::string> corrections,
                      const std::filesystem::path& outputFolder);

}  // namespace vntx
