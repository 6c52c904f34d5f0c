#include "bglgen/bglgen.h"

#include <bit>
#include <cmath>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace bglgen {

namespace {

class Bytes {
public:
    void u8(std::uint8_t v) { b_ += static_cast<char>(v); }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    void f32(float v) { u32(std::bit_cast<std::uint32_t>(v)); }
    void text(std::string_view s) { b_ += s; }
    void zeros(std::size_t n) { b_.append(n, '\0'); }
    void pad4() { zeros((4 - b_.size() % 4) % 4); }
    void patch32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b_[at + i] = static_cast<char>(v >> (8 * i));
    }
    std::size_t size() const { return b_.size(); }
    std::string& str() { return b_; }

private:
    std::string b_;
};

// A subrecord: id, 32-bit size at byte 2, then the body the callback writes.
template <typename Body>
void subrecord(Bytes& out, std::uint16_t id, Body body) {
    const std::size_t start = out.size();
    out.u16(id);
    out.u32(0);
    body();
    out.pad4();
    out.patch32(start + 2, static_cast<std::uint32_t>(out.size() - start));
}

std::string airportRecord(const Airport& a) {
    Bytes r;
    r.u16(a.newLayout ? 171 : 60);
    r.u32(0);
    r.u8(0);  // runways
    r.u8(0);  // frequencies
    r.u8(0);  // starts
    r.u8(0);  // approaches
    r.u8(0);  // aprons
    r.u8(static_cast<std::uint8_t>(a.helipads.size()));
    r.u32(packLon(a.lon));
    r.u32(packLat(a.lat));
    r.i32(a.altitudeMm);
    r.u32(packLon(a.lon));  // tower
    r.u32(packLat(a.lat));
    r.i32(a.altitudeMm);
    r.f32(0.0f);            // magnetic variation
    r.u32(packIdent(a.ident));
    r.u32(0);               // region
    r.u32(0);               // fuel
    r.u32(0);               // flags
    if (a.newLayout) r.u32(0);

    for (const std::string& name : a.names) subrecord(r, 25, [&] { r.text(name); });
    for (const Helipad& h : a.helipads) {
        subrecord(r, 38, [&] {
            r.u8(4);          // surface
            r.u8(0x12);       // square, transparent
            r.u32(0xFFFFFF);  // colour
            r.u32(packLon(h.lon));
            r.u32(packLat(h.lat));
            r.i32(a.altitudeMm);
            r.f32(h.length);
            r.f32(h.width);
            r.f32(h.heading);
        });
    }
    if (a.taxiPoints) {
        subrecord(r, a.newLayout ? 172 : 26, [&] {
            r.u16(static_cast<std::uint16_t>(a.taxiPoints));
            for (unsigned i = 0; i < a.taxiPoints; ++i) {
                r.u32(1);
                r.u32(packLon(a.lon + 0.001 * i));
                r.u32(packLat(a.lat));
                if (a.newLayout) r.u32(0);
            }
        });
    }
    for (unsigned i = 0; i < a.fillers; ++i) subrecord(r, 0x11, [&] { r.zeros(2); });
    if (!a.parkings.empty()) {
        subrecord(r, a.newLayout ? 173 : 61, [&] {
            r.u16(static_cast<std::uint16_t>(a.parkings.size()));
            for (const Parking& p : a.parkings) {
                r.u32((p.name & 0x3F) | (p.type & 0xF) << 8 | (p.number & 0xFFF) << 12 | (p.airlineCodes & 0xFF) << 24);
                r.f32(p.radius);
                r.f32(p.heading);
                r.zeros(16);  // tee offsets
                r.u32(p.packedLon ? *p.packedLon : packLon(p.lon));
                r.u32(p.packedLat ? *p.packedLat : packLat(p.lat));
                if (a.newLayout) r.i32(a.altitudeMm);
                for (unsigned k = 0; k < p.airlineCodes; ++k) r.text(std::string_view("AAA\0", 4));
            }
        });
    }
    if (a.taxiPoints > 1) {
        subrecord(r, a.newLayout ? 174 : 64, [&] {
            r.u16(static_cast<std::uint16_t>(a.taxiPoints - 1));
            r.zeros(20 * (a.taxiPoints - 1));
        });
    }
    r.patch32(2, static_cast<std::uint32_t>(r.size()));
    return std::move(r.str());
}

struct Section {
    std::uint32_t type;
    std::vector<std::string> subsections;  // the data of each
};

// Object placements: records that are not airports.
std::string objectData(unsigned seed) {
    Bytes d;
    for (unsigned i = 0; i < 6; ++i) subrecord(d, 0x0B, [&] { d.zeros(40 + 4 * ((seed + i) % 5)); });
    return std::move(d.str());
}

}  // namespace

std::uint32_t packIdent(std::string_view ident) {
    std::uint64_t value = 0;
    for (char c : ident) {
        unsigned digit;
        if (c == ' ') digit = 0;
        else if (c >= '0' && c <= '9') digit = 2 + static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'Z') digit = 12 + static_cast<unsigned>(c - 'A');
        else throw std::invalid_argument("ident character out of range");
        value = value * 38 + digit;
    }
    if (value >= (1u << 27)) throw std::invalid_argument("ident too long");
    return static_cast<std::uint32_t>(value << 5);
}

std::uint32_t packLon(double lon) {
    return static_cast<std::uint32_t>(std::llround((lon + 180.0) * 805306368.0 / 360.0));
}

std::uint32_t packLat(double lat) {
    return static_cast<std::uint32_t>(std::llround((90.0 - lat) * 536870912.0 / 180.0));
}

std::string write(const File& file) {
    std::vector<Section> sections;
    Section airports{3, {}};
    for (const Airport& a : file.airports) airports.subsections.push_back(airportRecord(a));
    if (!file.airports.empty() && !file.airportsLast) sections.push_back(airports);
    for (unsigned i = 0; i < file.objectSections; ++i) sections.push_back({0x25, {objectData(i)}});
    if (file.exclusion) {
        Bytes d;
        d.u32(packLon(1.0));
        d.u32(packLat(1.0));
        d.u32(packLon(1.01));
        d.u32(packLat(0.99));
        sections.push_back({0x65, {std::move(d.str())}});
    }
    if (!file.airports.empty() && file.airportsLast) sections.push_back(airports);

    std::size_t subsectionCount = 0;
    for (const Section& s : sections) subsectionCount += s.subsections.size();
    const std::size_t sectionTable = 56;
    const std::size_t subsectionTable = sectionTable + 20 * sections.size();
    std::size_t data = subsectionTable + 16 * subsectionCount;

    Bytes out;
    out.u32(0x19920201);
    out.u32(file.headerSize);
    out.u32(0x5F693850);  // time stamp
    out.u32(0x01D6ED0C);
    out.u32(0x08051803);
    out.u32(static_cast<std::uint32_t>(sections.size()));
    out.zeros(32);        // cell ids
    std::size_t sub = subsectionTable;
    for (const Section& s : sections) {
        out.u32(s.type);
        out.u32(1);       // 16-byte subsection entries
        out.u32(static_cast<std::uint32_t>(s.subsections.size()));
        out.u32(static_cast<std::uint32_t>(sub));
        out.u32(static_cast<std::uint32_t>(16 * s.subsections.size()));
        sub += 16 * s.subsections.size();
    }
    for (const Section& s : sections) {
        for (const std::string& d : s.subsections) {
            out.u32(0x000865D4);  // cell
            out.u32(1);           // records
            out.u32(static_cast<std::uint32_t>(data));
            out.u32(static_cast<std::uint32_t>(d.size()));
            data += d.size();
        }
    }
    for (const Section& s : sections)
        for (const std::string& d : s.subsections) out.text(d);
    return std::move(out.str());
}

void writeFile(const fs::path& path, const File& file) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    const std::string bytes = write(file);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

Airport sampleAirport(std::string ident, double lat, double lon, unsigned gates, unsigned ramps, bool newLayout) {
    Airport a;
    a.names = {"Generated " + ident};
    a.ident = std::move(ident);
    a.lat = lat;
    a.lon = lon;
    a.altitudeMm = 120000;
    a.newLayout = newLayout;
    constexpr double kMetre = 1.0 / 111320.0;
    for (unsigned i = 0; i < gates + ramps; ++i) {
        Parking p;
        const bool gate = i < gates;
        p.name = gate ? kGate : kParking;
        p.number = gate ? i + 1 : i - gates + 1;
        p.type = gate ? (i % 3 == 0 ? kGateHeavy : kGateMedium) : (i % 5 == 0 ? kRampCargo : kRampGaSmall);
        p.radius = gate ? 36.0f : 14.0f;
        p.heading = static_cast<float>((i * 37) % 360);
        p.lat = lat + (gate ? 0.0 : 150.0 * kMetre) + 0.0 * i;
        p.lon = lon + 80.0 * kMetre * (gate ? i : i - gates);
        p.airlineCodes = i % 4 == 0 ? 2 : 0;
        a.parkings.push_back(p);
    }
    return a;
}

std::vector<TreeAirport> writeTree(const fs::path& root, const std::vector<std::string>& codes,
                                   const TreeOptions& options) {
    std::mt19937_64 rng(options.seed);
    std::vector<TreeAirport> out;
    out.reserve(codes.size());
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::string& code = codes[i];
        const fs::path folder = root / ("Publisher" + std::to_string(i % 7) + " " + code) / "scenery";
        const double lat = -60.0 + static_cast<double>(rng() % 120000) / 1000.0;
        const double lon = -170.0 + static_cast<double>(rng() % 340000) / 1000.0;
        File f;
        f.airports.push_back(sampleAirport(code, lat, lon, options.gates, options.ramps, i % 2 == 1));
        f.objectSections = 1;
        const fs::path file = folder / (code + "_ADE.bgl");
        writeFile(file, f);
        out.push_back({code, file, f.airports.front().parkings.size()});
        for (unsigned k = 0; k < options.otherPerAirport; ++k) {
            File other;
            if (k % 2 == 0) other.exclusion = true;
            else other.objectSections = 1 + static_cast<unsigned>(rng() % 3);
            writeFile(folder / (code + "_OBJ" + std::to_string(k) + ".bgl"), other);
        }
    }
    return out;
}

}  // namespace bglgen
