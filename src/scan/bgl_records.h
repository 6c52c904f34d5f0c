// Inside the BGL decoder: the airport record, shared by the file walk and
// its tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scan/bgl.h"

namespace vntx::bgl {

inline constexpr std::uint32_t kHeaderSize = 56;
inline constexpr std::uint32_t kAirportSection = 3;
inline constexpr std::uint32_t kWideSubsections = 0x10000;  // size flag: 20-byte subsection entries
inline constexpr std::uint16_t kAirportRecord = 60;
inline constexpr std::uint16_t kAirportRecordNew = 171;
inline constexpr std::uint16_t kNameRecord = 25;
inline constexpr std::uint16_t kHelipadRecord = 38;
inline constexpr std::uint16_t kParkingRecord = 61;
inline constexpr std::uint16_t kParkingRecordNew = 173;
inline constexpr int kMaxSubrecords = 5000;

// The 16-bit id of the record starting at word `offset`.
inline std::uint16_t recordId(const BglWords& words, std::uint64_t offset) {
    return static_cast<std::uint16_t>(words.at(offset) & 0xFFFF);
}

// Decodes the airport record at word `offset`, `size` words long, into
// `airport` (ident already set). Report lines are appended to `report`;
// `path` names the file in them.
void decodeAirportRecord(const BglWords& words, std::uint64_t offset, std::uint64_t size, bool newLayout,
                         std::string_view path, BglAirport& airport, std::vector<std::string>& report);

// The stand id of a parking: the name's prefix, then the number.
std::string parkingId(unsigned name, unsigned number);

}  // namespace vntx::bgl
