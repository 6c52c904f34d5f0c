#include "core/status.h"

#include <mutex>

#include "core/log.h"
#include "core/state.h"

namespace vntx {
namespace {
std::mutex statusMutex;
std::string status;
std::string error;
unsigned statusAge = 1;   // advanced once per report
unsigned statusSetAt = 0; // 0: nothing to clear
std::string rtVersion;
std::atomic<WindowFrontEnd*> currentFrontEnd{nullptr};
WindowIndicators windowIndicators;
}  // namespace

void showStatus(const std::string& text, bool log) {
    {
        std::lock_guard lock(statusMutex);
        if (!error.empty()) return;
        status = text;
        statusSetAt = text.empty() ? 0 : statusAge;
        if (log && !stopRequested() && !text.empty()) logLine(text);
    }
    requestRepaint();
}

void clearStatus() { showStatus("", true); }

void showError(const std::string& text) {
    {
        std::lock_guard lock(statusMutex);
        status.clear();
        statusSetAt = 0;
        error = text;
        if (!stopRequested()) logLine("Error " + text);
    }
    requestRepaint();
}

void clearError() {
    {
        std::lock_guard lock(statusMutex);
        error.clear();
    }
    requestRepaint();
}

std::string statusText() {
    std::lock_guard lock(statusMutex);
    return status;
}

std::string errorText() {
    std::lock_guard lock(statusMutex);
    return error;
}

void advanceStatusAge() {
    bool cleared = false;
    {
        std::lock_guard lock(statusMutex);
        ++statusAge;
        if (statusSetAt != 0 && statusAge - statusSetAt >= 25) {
            status.clear();
            statusSetAt = 0;
            cleared = true;
        }
    }
    if (cleared) requestRepaint();
}

void WindowIndicators::reset() {
    realTraffic = false;
    simRunning = false;
    waiting = true;
    weatherLiveness = 3;
    trafficLiveness = 3;
    qnh = 1013;
    liveCount = 0;
    staticCount = 0;
    staticCountdown = 20;
    startupMark = true;
}

WindowIndicators& indicators() { return windowIndicators; }

void setRealTrafficVersion(const std::string& text) {
    std::lock_guard lock(statusMutex);
    rtVersion = text;
}

std::string realTrafficVersion() {
    std::lock_guard lock(statusMutex);
    return rtVersion;
}

void setFrontEnd(WindowFrontEnd* fe) { currentFrontEnd = fe; }
WindowFrontEnd* frontEnd() { return currentFrontEnd.load(); }

void requestRepaint() {
    if (auto* fe = currentFrontEnd.load()) fe->repaint();
}

}  // namespace vntx
