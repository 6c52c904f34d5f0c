// libFuzzer target: any bytes as a scenery file. Whatever arrives, the
// decoder reads only inside the buffer (the sanitizers watch that) and what
// it returns are usable stands.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>

#include "scan/bgl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    (void)vntx::hasAirportSection(bytes);
    vntx::AirportFilter filter;
    if (size % 2) filter = [](std::string_view code) { return code < "M"; };
    const vntx::BglFileResult r = vntx::decodeBglData(bytes, "fuzz.bgl", filter);
    for (const vntx::BglAirport& a : r.airports) {
        if (a.ident.size() != 4 || a.altitudeFt < -20 || a.altitudeFt > 10000) __builtin_trap();
        std::set<std::string> ids;
        for (const vntx::BglStand& s : a.stands) {
            if (s.id.empty() || !ids.insert(s.id).second) __builtin_trap();
            if (!(s.lat >= -90 && s.lat <= 90 && s.lon >= -180 && s.lon <= 180)) __builtin_trap();
            if (!std::isfinite(s.heading) || s.heading == 0.0) __builtin_trap();
            if (!(s.heli ? s.radiusM >= 0.0 && std::isfinite(s.radiusM) : s.radiusM > 1.0 && s.radiusM < 200.0))
                __builtin_trap();
            if (!s.heli && (s.type < 1 || s.type > 11)) __builtin_trap();
        }
    }
    return 0;
}
