// Angles and the great-circle distance used by the traffic filters: the
// program's one distanceNm (haversine, nautical miles), kept with the
// airports catalogue.
#pragma once

#include "airports/catalogue.h"

namespace vntx::input {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kDegToRad = kPi / 180.0;

using vntx::distanceNm;

}  // namespace vntx::input
