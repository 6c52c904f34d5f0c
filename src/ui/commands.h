// The window's commands (check boxes, drop-down lists, edit boxes, push
// buttons), shared by every front end. Each handler returns false when the
// control is not one of its kind.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ui/layout.h"

namespace vntx::ui {

// A click on a check box: toggles the setting, writes it and reacts.
bool onCheckBox(int controlId);
// A new selection in a drop-down list: the entry at that position.
bool onListChoice(int controlId, int index);
// Enter in an edit box.
bool onEditEnter(int controlId, const std::string& text);
// A push button.
bool onButton(int controlId);

// WM_COMMAND: a click asks the button handler, then the check-box handler; a
// new list selection asks the list handler. Exceptions are logged
// ("lf_HandleWMCOMMAND"); the window is repainted afterwards.
enum class Notification { Clicked, SelectionChanged, Other };
void handleCommand(int controlId, Notification notification, int listIndex = -1);
// Runs a command the same way (logged exceptions, repaint afterwards).
void runCommand(const std::function<void()>& command);

// The destination as the cycle applies it at the start of a run: a known
// airport is announced, an unknown one is cleared.
void applyDestination();

// RANGE chosen from the surroundings of the user aircraft, first rule that applies.
struct AutoRangeInput {
    bool onGround = false;
    double altitudeFeet = 0;
    int arAboveHeight = 48000;   // AR_ABOVE_HEIGHT
    int airportHeight = 18000;   // AIRP_HEIGHT
    std::optional<double> airportInSightNm;  // the first airport in sight, if any
};
int autoRangeFor(const AutoRangeInput& in);
// Computes RANGE from the window's sources, stores it, recomputes the derived
// range and shows the new value when it changed.
void applyAutoRange();

// Refills the call sign list from the live aircraft in the simulator.
void fillCallsignList();

// The re-read asked for with "Re-read": the park airports again, then the
// button and the destination box enabled. Nothing when none was asked for.
void rereadParkAirportsIfAsked();

}  // namespace vntx::ui
