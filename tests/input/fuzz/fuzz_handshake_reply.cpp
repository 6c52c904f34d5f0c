// libFuzzer target: any bytes as RealTraffic's reply to the version request.
// The reading never throws, and a reply it takes is a JSON object.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "input/realtraffic_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const auto version = vntx::input::readVersionReply(reply);
    // An object needs at least "{}": anything shorter must be refused.
    if (version && size < 2) __builtin_trap();
    return 0;
}
