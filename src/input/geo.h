// Great-circle distance used by the traffic filters.
#pragma once

#include <cmath>

namespace vntx::input {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kDegToRad = kPi / 180.0;

// Haversine distance in nautical miles; the factor is twice an Earth radius
// of 3437.7468 nm.
inline double distanceNm(double lat1, double lon1, double lat2, double lon2) {
    const double dLat = (lat2 - lat1) * kDegToRad;
    const double dLon = (lon2 - lon1) * kDegToRad;
    const double s1 = std::sin(dLat / 2);
    const double s2 = std::sin(dLon / 2);
    double a = s1 * s1 + std::cos(lat1 * kDegToRad) * std::cos(lat2 * kDegToRad) * s2 * s2;
    if (a > 1) a = 1;
    return 6875.493541569878 * std::asin(std::sqrt(a));
}

}  // namespace vntx::input
