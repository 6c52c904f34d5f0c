// The live traffic input as the cycle sees it: the two readers, their
// threads, the RealTraffic link and the per-cycle reset.
#pragma once

#include "input/realtraffic_link.h"
#include "input/traffic_reader.h"
#include "input/weather_reader.h"

namespace vntx::input {

TrafficReader& trafficReader();
WeatherReader& weatherReader();

// Start a reader thread; a previous thread of the same reader is stopped and
// joined first (it ends within 1 s of its stop flag).
void startWeatherReader(int port = kWeatherPort);
void startTrafficReader(int port = kTrafficPort);
// Closing: set both stop flags (the threads notice within 1 s).
void stopReaders();
// Set both stop flags and wait for both threads to end.
void joinReaders();

// Handshake and lost-link reset: QNH 1013, traffic stamp 0, call signs
// emptied, stop flags cleared, the weather counter and the value the
// liveness check remembers zeroed, both readers marked as receiving.
void resetReaderState();

// Looks for RealTraffic.jar in <RoamingAppData>/InsideSystems, remembers the
// result and logs "RealTraffic {}detected at this PC".
bool detectRealTraffic();

// The user position into the traffic reader's range filter.
void copyRangePosition();

}  // namespace vntx::input

namespace vntx {
// End-of-cycle reset of everything the input owns: readers joined, QNH 1013,
// traffic stamp 0, call signs emptied, stop flags and counters cleared,
// liveness 3, time synchronisation off, the incoming queue emptied.
void resetInputState();
// Fills the input's members of hooks().
void installInputHooks();
}  // namespace vntx
