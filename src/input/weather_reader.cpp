#include "input/weather_reader.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "core/log.h"
#include "core/status.h"
#include "input/traffic_reader.h"

namespace vntx::input {

std::atomic<int>& publishedQnh() {
    static std::atomic<int> qnh{1013};
    return qnh;
}

int qnhToHpa(long long value) {
    double hpa = static_cast<double>(value);
    if (value > 1100) hpa = std::round(hpa * 0.33865307);
    if (hpa < 900) hpa = 900;
    if (hpa > 1100) hpa = 1100;
    return static_cast<int>(hpa);
}

void WeatherReader::resetState() { qnhHpa = 1013; }

void WeatherReader::processDatagram(std::string_view datagram) {
    try {
        const auto doc = nlohmann::json::parse(datagram);
        const nlohmann::json* qnh = nullptr;
        if (doc.is_object()) {
            auto it = doc.find("QNH");
            if (it != doc.end()) qnh = &*it;
        }
        if (!qnh || qnh->is_null() || ((qnh->is_object() || qnh->is_array()) && qnh->empty())) {
            logf("no QNH {}", datagram);
            return;
        }
        long long value = 0;
        if (qnh->is_number_integer() || qnh->is_number_unsigned()) {
            if (qnh->is_number_unsigned() && qnh->get<std::uint64_t>() > static_cast<std::uint64_t>(
                                                                             std::numeric_limits<long long>::max()))
                value = std::numeric_limits<long long>::max();
            else
                value = qnh->get<long long>();
        } else if (qnh->is_number_float()) {
            const double d = qnh->get<double>();
            if (!std::isfinite(d) || d != std::trunc(d))
                throw std::runtime_error("QNH is not a whole number");
            value = d > 1e15 ? 1000000000000000LL : (d < -1e15 ? -1000000000000000LL : static_cast<long long>(d));
        } else if (qnh->is_string()) {
            const auto& text = qnh->get_ref<const std::string&>();
            std::int32_t v = 0;
            auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
            if (ec != std::errc() || ptr != text.data() + text.size()) {
                logErrorf("QNH string parse error: {} in {}", text, datagram);
                return;
            }
            value = v;
        } else {
            logf("no QNH {}", datagram);
            return;
        }
        const int hpa = qnhToHpa(value);
        if (hpa == qnhHpa.load() && hpa != 1013) return;
        qnhHpa = hpa;
        if (traffic_) traffic_->qnhCopy = hpa;
        publishedQnh() = hpa;
        indicators().qnh = hpa;
        int silent = 2;
        indicators().weatherLiveness.compare_exchange_strong(silent, 1);
        requestRepaint();
    } catch (const std::exception& e) {
        logf("Exception {}, in {}", e.what(), datagram);
    }
}

void WeatherReader::onConnected() {
    indicators().weatherLiveness = 1;
    requestRepaint();
}

void WeatherReader::onStopped() { logLine("QNH Reader has stopped"); }

}  // namespace vntx::input
