// One installed AI livery: a [fltsim.N] section of an aircraft.cfg file.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>

namespace vntx {

struct Livery {
    std::string airline;       // ICAO code; "ZZZ" generic, "PVT" private
    std::string model;         // ICAO type designator
    std::string title;         // the simulator's name for it; unique in the catalogue
    std::string registration;  // may be empty
    std::uint32_t folderIndex = 0;  // lfolder index it was found under (scan time only)
    bool cargo = false;

    friend bool operator==(const Livery& a, const Livery& b) {
        return a.title == b.title && a.airline == b.airline && a.model == b.model &&
               a.registration == b.registration && a.cargo == b.cargo;
    }
};

// Catalogue order: airline, model, title (byte-wise).
inline bool catalogueLess(const Livery& a, const Livery& b) {
    return std::tie(a.airline, a.model, a.title) < std::tie(b.airline, b.model, b.title);
}

}  // namespace vntx
