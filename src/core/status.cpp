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
std::string texts[4];  // by IndicatorText
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
    stands = 0;
    parkedLive = 0;
    maxPark = -1;
    maxParkPercent = 0;
    staticUpdates = 0;
    changedStands = 0;
    softUsed = false;
    weekUsed = false;
    {
        std::lock_guard lock(statusMutex);
        for (auto* t : {&texts[1], &texts[2], &texts[3]}) t->clear();
    }
}

WindowIndicators& indicators() { return windowIndicators; }

void setIndicatorText(IndicatorText which, const std::string& text) {
    {
        std::lock_guard lock(statusMutex);
        texts[static_cast<int>(which)] = text;
    }
    requestRepaint();
}

std::string indicatorText(IndicatorText which) {
    std::lock_guard lock(statusMutex);
    return texts[static_cast<int>(which)];
}

void setRealTrafficVersion(const std::string& text) { setIndicatorText(IndicatorText::RealTrafficVersion, text); }
std::string realTrafficVersion() { return indicatorText(IndicatorText::RealTrafficVersion); }

void setFrontEnd(WindowFrontEnd* fe) { currentFrontEnd = fe; }
WindowFrontEnd* frontEnd() { return currentFrontEnd.load(); }

void requestRepaint() {
    if (auto* fe = currentFrontEnd.load()) fe->repaint();
}

}  // namespace vntx
