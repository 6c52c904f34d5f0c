// The main window's status and error lines, its painted indicators, and the
// hand-off to whichever window front end is running (Win32 or terminal).
#pragma once

#include <atomic>
#include <string>

namespace vntx {

// Status line: replaced unless the error line is set; cleared 25 reports after
// it was set. showStatus logs the text when asked and no stop is requested.
void showStatus(const std::string& text, bool log);
void clearStatus();
// Error line: clears the status, logs "Error {}" unless a stop is requested.
void showError(const std::string& text);
void clearError();
std::string statusText();
std::string errorText();
// Per-report age counter of the status line (clears the text after 25 reports).
void advanceStatusAge();

// Indicators painted by the window, set from any thread.
struct WindowIndicators {
    std::atomic<bool> realTraffic{false};     // RealTraffic connected, or not used (Aerowinx)
    std::atomic<bool> simRunning{false};
    std::atomic<bool> waiting{true};          // waiting for the simulator / RealTraffic
    std::atomic<int> weatherLiveness{3};      // 1 receiving, 2 silent, 3 not known
    std::atomic<int> trafficLiveness{3};
    std::atomic<int> qnh{1013};
    std::atomic<int> liveryCount{-1};         // -1 while counting
    std::atomic<int> learnedCount{-1};
    std::atomic<int> thirdpCount{-1};
    std::atomic<int> liveCount{0};
    std::atomic<int> staticCount{0};
    std::atomic<int> staticCountdown{20};     // minutes to the next static-parking update
    std::atomic<bool> startupMark{true};      // from each reset until RealTraffic connected
    // Static parking and stand allocation figures.
    std::atomic<int> stands{0};               // stands of the park airport
    std::atomic<int> parkedLive{0};           // live aircraft parked on them
    std::atomic<int> maxPark{-1};             // the wanted count; -1: no maximum for live aircraft
    std::atomic<int> maxParkPercent{0};
    std::atomic<int> staticUpdates{0};
    std::atomic<int> changedStands{0};        // stands whose radius was enlarged
    std::atomic<bool> softUsed{false};        // the last selection took soft occurrences
    std::atomic<bool> weekUsed{false};        // ... or other weekdays
    void reset();
};
WindowIndicators& indicators();

// The indicators that are texts.
enum class IndicatorText { RealTrafficVersion, AverageFit, QualityFactors, ReservedStand };
void setIndicatorText(IndicatorText which, const std::string& text);
std::string indicatorText(IndicatorText which);
void setRealTrafficVersion(const std::string& text);
std::string realTrafficVersion();

// The window front end: the cycle thread talks to it only through these calls
// (repaint requests, message posting, enable states).
class WindowFrontEnd {
public:
    virtual ~WindowFrontEnd() = default;
    virtual void repaint() = 0;
    virtual void postStartCycle() = 0;                  // MsgStartCycle (WM_APP + 1)
    virtual void postEndProgram() = 0;                  // MsgEndProgram (WM_APP + 2)
    virtual void enableControl(int controlId, bool enabled) = 0;
    virtual void refreshControls() = 0;                 // show the settings' current values
    virtual void setTopMost(bool onTop) = 0;
    // A modal message for the user (the Win32 window's message box).
    virtual void messageBox(const std::string& /*text*/, const std::string& /*caption*/) {}
};
void setFrontEnd(WindowFrontEnd* frontEnd);
WindowFrontEnd* frontEnd();
void requestRepaint();

}  // namespace vntx
