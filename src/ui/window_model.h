// The main window's model, shared by every front end: what each control shows
// (value, choices, enable state), the call sign list, and every text painted
// on the window with its place and colour. The Win32 window draws it; the
// terminal prints what changed.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ui/layout.h"

namespace vntx::ui {

// What the window shows of the other subsystems, asked for when it paints.
// Unset sources show their default text. The program's wiring fills them.
struct WindowSources {
    std::function<bool()> simulatorConnected;
    std::function<std::string()> simulatorText;     // name and version
    std::function<std::string()> userTitle;
    std::function<std::string()> userModel;
    std::function<std::optional<double>()> userWingspanMeters;  // nullopt: unknown
    std::function<std::string()> nearestAirport;    // empty: none near
    std::function<bool()> userOnGround;
    std::function<double()> userAltitudeFeet;
    // Distance to the first airport in sight of the static parking; nullopt: none.
    std::function<std::optional<double>()> airportInSightNm;
    // The call signs of the live aircraft in the simulator (cycle thread).
    std::function<std::vector<std::string>()> liveCallsigns;
};
void setWindowSources(WindowSources sources);
const WindowSources& windowSources();

// The state of a control as the front ends show it.
struct ControlState {
    const ControlSpec* spec = nullptr;
    bool enabled = true;
    bool checked = false;               // check boxes
    std::vector<std::string> entries;   // drop-down lists
    int selected = -1;                  // -1: the value is not among the entries (keep the shown selection)
    std::string text;                   // edit boxes: the setting's value
};

class WindowModel {
public:
    WindowModel();

    ControlState state(const ControlSpec& control) const;
    bool enabled(int controlId) const;
    // False (and logged as a missing control) when the id is not a control of the window.
    bool setEnabled(int controlId, bool enabled);

    // The call sign list: new entries clear the choice.
    void setCallsigns(std::vector<std::string> callsigns);
    std::vector<std::string> callsigns() const;
    bool chooseCallsign(int index);
    std::string chosenCallsign() const;  // empty when none is chosen

    // Back to the state of a newly created window.
    void reset();

private:
    mutable std::mutex mutex_;
    std::map<int, bool> enabled_;
    std::vector<std::string> callsigns_;
    int chosen_ = -1;
};
WindowModel& windowModel();

// The entries of a drop-down list as text (the settings' choices, the call signs).
std::vector<std::string> listEntries(int controlId);

// Every text painted on the window.
struct PaintedText {
    std::string name;   // what the terminal calls it; empty for the controls' labels
    std::string text;
    int x = 0;
    int y = 0;
    bool highlight = false;  // yellow instead of lime
    TextAlign align = TextAlign::Left;
};
std::vector<PaintedText> paintedTexts();

inline constexpr int kStatusLineY = 435;
inline constexpr int kErrorLineY = 455;

// Moves a window rectangle (screen coordinates) as little as possible so that
// it lies within the work area; a window larger than the area keeps its
// top-left corner in it.
Rect fitIntoWorkArea(Rect window, Rect workArea);

}  // namespace vntx::ui
