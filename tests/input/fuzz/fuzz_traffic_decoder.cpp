// libFuzzer target: any bytes as a traffic datagram, with and without a park
// airport and call-sign collection.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "input/traffic_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vntx::input::TrafficDecoder decoder;
    vntx::TrafficRecord record;
    vntx::input::DecoderSettings s;
    s.rangeNm = size % 2 ? 40 : 100000;
    s.collectCallsigns = size % 3 == 0;
    s.airborneOnly = size % 5 == 0;
    if (size % 7 < 3) s.parkAirport = vntx::input::ParkAirportRef{47.5, 8.6, 1400};
    decoder.decode(text, s, record);
    if (decoder.hasSeenCallsign()) {
        // The views must lie inside the input.
        const auto cs = decoder.seenCallsign();
        if (cs.data() < text.data() || cs.data() + cs.size() > text.data() + text.size()) __builtin_trap();
    }
    return 0;
}
