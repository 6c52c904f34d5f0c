// libFuzzer target: any bytes as a weather datagram; the QNH must stay
// within its limits whatever arrives.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "input/weather_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static vntx::input::WeatherReader reader;
    reader.processDatagram(std::string_view(reinterpret_cast<const char*>(data), size));
    const int qnh = reader.qnhHpa.load();
    if (qnh != 1013 && (qnh < 900 || qnh > 1100)) __builtin_trap();
    return 0;
}
