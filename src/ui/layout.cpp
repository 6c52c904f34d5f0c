#include "ui/layout.h"

#include <array>

#include "core/files.h"

namespace vntx::ui {
namespace {

using K = ControlKind;

constexpr ControlSpec kControls[] = {
    {"ALL_INSTALL_PATH", K::Edit, 32788, 111, 119, 750, 0, 1200},
    {"SCAN_LIVERIES", K::CheckBox, 32798, 5, 147, 0, 0, 0},
    {"LIG_PRIORITIZE", K::CheckBox, 32800, 536, 147, 0, 0, 0},
    {"ALWAYS_ON_TOP", K::CheckBox, 32771, 748, 147, 0, 0, 0},
    {"SCAN_AIRPORTS", K::CheckBox, 32802, 5, 175, 0, 0, 0},
    {"tblo", K::Button, kButtonTblo, 217, 175, 60, 0, 0},
    {"NAV_LIGHTS_WHILE_PARKED", K::CheckBox, 32777, 652, 175, 0, 0, 0},
    {"LEARN_SOFT", K::CheckBox, 32776, 748, 175, 0, 0, 0},
    {"MATCHING_DEPTH", K::List, 32808, 217, 203, 40, 120, 0},
    {"LIGHT_AIRCRAFT", K::CheckBox, 32809, 323, 203, 0, 0, 0},
    {"HELICOPTERS", K::CheckBox, 32810, 430, 203, 0, 0, 0},
    {"HIGH_PERF_AIRCRAFT", K::CheckBox, 32811, 536, 203, 0, 0, 0},
    {"AEROWINX", K::CheckBox, 32774, 652, 203, 0, 0, 0},
    {"GUID_CHANGES", K::CheckBox, 32773, 748, 203, 0, 0, 0},
    {"RANGE", K::List, 32818, 217, 231, 50, 200, 0},
    {"AUTO_RANGE", K::CheckBox, 32819, 323, 231, 0, 0, 0},
    {"AR_ABOVE_HEIGHT", K::List, 32820, 455, 231, 70, 230, 0},
    {"AIRBORNE_ONLY", K::CheckBox, 32821, 572, 231, 0, 0, 0},
    {"BLOCK_CALLSIGN", K::Edit, 32828, 107, 259, 100, 0, 0},
    {"Unblock", K::Button, kButtonUnblock, 223, 257, 60, 0, 0},
    {"cs->oid:", K::Button, kButtonCsOid, 305, 257, 60, 0, 0},
    {"callsigns", K::List, kCallsignList, 375, 259, 100, 300, 0},
    {"Block", K::Button, kButtonBlock, 576, 257, 60, 0, 0},
    {"COLLISION_USER_GND", K::CheckBox, 32834, 217, 287, 0, 0, 0},
    {"COLLISION_USER_AIR", K::CheckBox, 32833, 323, 287, 0, 0, 0},
    {"COLLISION_LIVE_PARKED_GND", K::CheckBox, 32835, 430, 287, 0, 0, 0},
    {"Now", K::Button, kButtonNow, 111, 313, 45, 0, 0},
    {"MAX_PARK_SEL", K::List, 32848, 323, 315, 55, 144, 0},
    {"MAX_LIVE_SEL", K::List, 32849, 536, 315, 55, 144, 0},
    {"STRAIGHT_PBS_ONLY", K::CheckBox, 32855, 652, 315, 0, 0, 0},
    {"Re-read", K::Button, kButtonReread, 758, 341, 90, 0, 0},
    {"DESTINATION", K::Edit, 32839, 217, 343, 50, 0, 0},
    {"AIRP_RANGE", K::List, 32840, 353, 343, 45, 144, 0},
    {"AIRP_HEIGHT", K::List, 32841, 566, 343, 70, 230, 0},
    {"Flush static", K::Button, kButtonFlushStatic, 758, 369, 90, 0, 0},
    {"INITIAL_LOAD_ONLY", K::CheckBox, 32851, 5, 371, 0, 0, 0},
    {"WEEK", K::CheckBox, 32853, 71, 371, 0, 0, 0},
    {"PARK_SOFT", K::CheckBox, 32852, 151, 371, 0, 0, 0},
    {"parking_percentage", K::List, 32850, 323, 371, 50, 200, 0},
    {"MAX_FIT_FL", K::List, 32854, 566, 371, 60, 300, 0},
};

// Check-box captions start 16 pixels right of the box; labels left of a list
// or an edit box end 4 pixels before it.
constexpr TextAlign R = TextAlign::Right;
constexpr LabelSpec kLabels[] = {
    {"Install path:", 107, 119, R},
    {"Scan for liveries", 21, 147},
    {"Prioritize", 552, 147},
    {"Stay on top", 764, 147},
    {"Scan for addon airports", 21, 175},
    {kTbloRequest, 283, 177},
    {"Nav lights", 668, 175},
    {"Learn Soft", 764, 175},
    {"Max aircraft matching depth", 213, 203, R},
    {"Optional:", 319, 203, R},
    {"Light aircraft", 339, 203},
    {"Helicopters", 446, 203},
    {"FighterJets", 552, 203},
    {"Aerowinx", 668, 203},
    {"GUID changes", 764, 203},
    {"Traffic injection", 5, 231},
    {"Radius:", 213, 231, R},
    {"nm, or", 271, 231},
    {"Auto range", 339, 231},
    {"AirOnly", 588, 231},
    {"Block callsign:", 103, 259, R},
    {"Collision avoidance", 5, 287},
    {"User ground", 233, 287},
    {"User air", 339, 287},
    {"Live X parked", 446, 287},
    {"Max park (static+live):", 319, 315, R},
    {"Max live (park incl):", 532, 315, R},
    {"Straight push backs only", 668, 315},
    {"Airport parking", 5, 343},
    {"Destination:", 213, 343, R},
    {"Range:", 349, 343, R},
    {"Height above gnd:", 562, 343, R},
    {"Init only", 21, 371},
    {"Week", 87, 371},
    {"Soft", 167, 371},
    {"Target:", 319, 371, R},
    {"Max fit:", 562, 371, R},
};

}  // namespace

Rect controlRect(const ControlSpec& c) {
    switch (c.kind) {
    case ControlKind::CheckBox: return {c.x, c.y + 2, 12, 12};
    case ControlKind::Button: return {c.x, c.y, c.width, 20};
    case ControlKind::Edit: return {c.x, c.y, c.width, 16};
    case ControlKind::List: return {c.x, c.y, c.width, c.listHeight};
    }
    return {};
}

std::span<const ControlSpec> controls() { return kControls; }

const ControlSpec* findControl(int id) {
    for (const auto& c : kControls)
        if (c.id == id) return &c;
    return nullptr;
}

const ControlSpec* findControl(std::string_view name) {
    if (iequals(name, "call sign list")) name = "callsigns";
    for (const auto& c : kControls)
        if (iequals(name, c.name)) return &c;
    return nullptr;
}

std::span<const LabelSpec> labels() { return kLabels; }

}  // namespace vntx::ui
