#include "core/state.h"

#include <mutex>

#include <fmt/format.h>

#include "core/files.h"
#include "core/log.h"
#include "core/status.h"
#include "core/version.h"

namespace vntx {
namespace {
// The test of the first stop and the store of reason and delay are one step
// under this mutex; the flags stay atomic for lock-free reads.
std::mutex stopMutex;
std::atomic<bool> stopFlag{false};
std::atomic<bool> userClosedFlag{false};
std::atomic<std::int32_t> reasonCode{0};
std::atomic<int> delaySeconds{0};
}  // namespace

const char* exitReasonText(ExitReason reason) {
    switch (reason) {
    case ExitReason::NotYetSet: return "NOT YET SET";
    case ExitReason::SimWasClosed: return "SIM WAS CLOSED";
    case ExitReason::NewFlight: return "NEW FLIGHT";
    case ExitReason::NewSettings: return "NEW SETTINGS";
    case ExitReason::UserClosedSim: return "USER CLOSED SIM";
    case ExitReason::SimConnectError: return "SIMCONNECT ERROR";
    case ExitReason::ReaderError: return "READER ERROR";
    case ExitReason::SystemError: return "SYSTEM ERROR";
    case ExitReason::NewVersion: return "NEW VERSION";
    }
    return "NOT YET SET";
}

bool restartsCycle(ExitReason reason) {
    return reason == ExitReason::NewSettings || reason == ExitReason::SimConnectError ||
           reason == ExitReason::ReaderError;
}

void requestStop(ExitReason reason, int restartDelay) {
    std::lock_guard lock(stopMutex);
    if (reason == ExitReason::UserClosedSim) {
        userClosedFlag = true;
        stopFlag = true;
        if (reasonCode.load() == 0) reasonCode = static_cast<std::int32_t>(reason);
        return;
    }
    if (stopFlag.load()) return;
    reasonCode = static_cast<std::int32_t>(reason);
    delaySeconds = restartDelay;
    stopFlag = true;
}

bool stopRequested() { return stopFlag.load(); }
bool userClosed() { return userClosedFlag.load(); }
ExitReason exitReason() { return static_cast<ExitReason>(reasonCode.load()); }
int restartDelaySeconds() { return delaySeconds.load(); }

void forceExitReason(ExitReason reason) {
    std::lock_guard lock(stopMutex);
    reasonCode = static_cast<std::int32_t>(reason);
}

void resetStopState() {
    std::lock_guard lock(stopMutex);
    stopFlag = false;
    userClosedFlag = false;
    reasonCode = 0;
    delaySeconds = 0;
}

void readerStopped(const std::string& readerName, const std::string& error) {
    auto text = fmt::format("The {} has stopped with error: {}", readerName, error);
    logLine(text);
    showStatus(text, false);
    requestStop(ExitReason::ReaderError, 15);
}

void simulatorGone() {
    if (stopRequested()) return;
    logf("{} Flight Simulator no longer connected, {} will stop ...", utcTimeOfDay(), kProgramName);
    requestStop(ExitReason::SimWasClosed, 0);
}

}  // namespace vntx
