// One livery file of the scan: its text, its section numbers and file model,
// and the checks that turn each [fltsim.N] section into a Livery.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "liveries/livery.h"
#include "liveries/scan_state.h"

namespace vntx {

namespace platform {
class Folder;
}

// The file task: every livery of one aircraft.cfg / sim.cfg. listing: the
// entries of the file's folder when the caller has them (else the file
// system is asked); folder: that folder when the caller has it open.
std::vector<Livery> lf_searchLiveriesinFile(ScanState& state, const std::filesystem::path& file,
                                            std::uint32_t folderIndex, const FolderListing* listing = nullptr,
                                            const platform::Folder* folder = nullptr);

// One section: its header line first, up to (not including) the next
// header of any kind. ivao: the airline comes from the title.
std::optional<Livery> lf_procesFltSimSection(ScanState& state, const std::vector<std::string_view>& lines,
                                             std::uint32_t folderIndex, const std::string& fileModel,
                                             const std::filesystem::path& file, bool ivao = false,
                                             const FolderListing* listing = nullptr);

// The raw model of an IVAO_MTL path, cut to an ICAO code; empty when the
// path does not name one.
std::string ivaoModelFromPath(const std::filesystem::path& file);

// A folder entry's name as the listing keeps it.
std::string listingName(std::string_view name);

}  // namespace vntx
