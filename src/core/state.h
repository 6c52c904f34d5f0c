// Process-wide cycle state: exit reasons and the stop request.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace vntx {

enum class ExitReason : std::int32_t {
    NotYetSet = 0,
    SimWasClosed = 1,
    NewFlight = 2,
    NewSettings = 3,
    UserClosedSim = 4,
    SimConnectError = 5,
    ReaderError = 6,
    SystemError = 7,
    NewVersion = 8,
};

const char* exitReasonText(ExitReason reason);
// NEW SETTINGS, SIMCONNECT ERROR and READER ERROR restart the cycle.
bool restartsCycle(ExitReason reason);

// The only way to end a cycle. The first stop of a cycle wins; USER CLOSED SIM
// always sets userClosed and keeps an earlier reason and delay.
void requestStop(ExitReason reason, int restartDelaySeconds);
bool stopRequested();
bool userClosed();
ExitReason exitReason();
int restartDelaySeconds();
// Sets the reason without the first-stop rule (the cycle's top-level error handler).
void forceExitReason(ExitReason reason);
// Clears the stop flags, the reason and the delay (end of closing).
void resetStopState();

// "The {} has stopped with error: {}", then READER ERROR (delay 15) unless a stop was requested.
void readerStopped(const std::string& readerName, const std::string& error);
// "{} Flight Simulator no longer connected, {} will stop ...", then SIM WAS CLOSED (delay 0).
void simulatorGone();

}  // namespace vntx
