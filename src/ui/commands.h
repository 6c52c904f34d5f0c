// The window's commands (check boxes, drop-down lists, edit boxes, push
// buttons), shared by every front end. Each returns false when the control is
// not one of its kind.
#pragma once

#include <string>

namespace vntx::ui {

// A click on a check box: toggles the setting, writes it and reacts.
bool onCheckBox(int controlId);
// A new selection in a drop-down list, given as the chosen value's text.
bool onListChoice(int controlId, const std::string& choiceText);
// Enter in an edit box.
bool onEditEnter(int controlId, const std::string& text);
// A push button.
bool onButton(int controlId);

// WM_COMMAND: buttons, then check boxes, then lists (the caller repaints).
// Control ids by setting key for text front ends ("SCAN_AIRPORTS", "Unblock", ...); 0 if unknown.
int controlIdByName(const std::string& name);

inline constexpr int kButtonTblo = 32804;
inline constexpr int kButtonUnblock = 32829;
inline constexpr int kButtonCsOid = 32830;
inline constexpr int kCallsignList = 32831;
inline constexpr int kButtonBlock = 32832;
inline constexpr int kButtonNow = 32847;
inline constexpr int kButtonReread = 32838;
inline constexpr int kButtonFlushStatic = 32857;

}  // namespace vntx::ui
