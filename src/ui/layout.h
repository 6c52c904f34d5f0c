// The main window's layout: every control with its kind, id, place and size,
// in tab order, and the labels painted beside them. Both front ends build
// from this one table: the Win32 window creates its child controls from it,
// the terminal takes control names from it.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vntx::ui {

enum class ControlKind { CheckBox, Button, List, Edit };

struct ControlSpec {
    const char* name;   // the setting's key, the button's caption, or "callsigns"
    ControlKind kind;
    int id;
    int x;
    int y;              // the row's y
    int width;          // 0 for check boxes
    int listHeight;     // drop-down lists: how far the list opens downwards
    int textLimit;      // edit boxes: characters accepted (0: the system's default)
};

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

// The control's rectangle in client coordinates: check boxes are 12 by 12 at
// y + 2, buttons 20 high, edit boxes 16 high; a drop-down list's height is
// the height it opens to.
Rect controlRect(const ControlSpec& c);

// Every control in tab order.
std::span<const ControlSpec> controls();
const ControlSpec* findControl(int id);
// By setting key or caption, without regard to case; "call sign list" and
// "callsigns" name the call sign list.
const ControlSpec* findControl(std::string_view name);

inline constexpr int kInstallPathBox = 32788;
inline constexpr int kButtonTblo = 32804;
inline constexpr int kButtonUnblock = 32829;
inline constexpr int kButtonCsOid = 32830;
inline constexpr int kCallsignList = 32831;
inline constexpr int kButtonBlock = 32832;
inline constexpr int kButtonNow = 32847;
inline constexpr int kButtonReread = 32838;
inline constexpr int kButtonFlushStatic = 32857;

// A text painted on the window's black background.
enum class TextAlign { Left, Right };  // Right: the text ends at x
struct LabelSpec {
    const char* text;
    int x;
    int y;
    TextAlign align = TextAlign::Left;
};
std::span<const LabelSpec> labels();

// The text beside the "tblo" button.
inline constexpr const char* kTbloRequest = "<- please send this archive to the Ventrix_P3D support";

}  // namespace vntx::ui
