// The real Win32 window's controls: read back through Win32 and compared with
// the window's table, then driven as a user would (clicks, Enter, list
// choices, Tab) with their effect on parameters.xml and the status line.
#include <gtest/gtest.h>

#include <windows.h>

#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/cycle.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/state.h"
#include "core/status.h"
#include "platform/win32/main_window.h"
#include "platform/win32/wide.h"
#include "support/temp_dir.h"
#include "support/window_state.h"
#include "ui/layout.h"
#include "ui/window_model.h"

using namespace vntx;
using vntx::win32::MainWindow;

namespace {

// The controls as the window's design fixes them: kind, id, x, row y, width,
// list height; in tab order.
struct Expected {
    const char* cls;
    int id, x, y, width, listHeight;
};
constexpr Expected kTable[] = {
    {"Edit", 32788, 111, 119, 750, 0},    {"Button", 32798, 5, 147, 0, 0},     {"Button", 32800, 536, 147, 0, 0},
    {"Button", 32771, 748, 147, 0, 0},    {"Button", 32802, 5, 175, 0, 0},     {"Button", 32804, 217, 175, 60, 0},
    {"Button", 32777, 652, 175, 0, 0},    {"Button", 32776, 748, 175, 0, 0},   {"ComboBox", 32808, 217, 203, 40, 120},
    {"Button", 32809, 323, 203, 0, 0},    {"Button", 32810, 430, 203, 0, 0},   {"Button", 32811, 536, 203, 0, 0},
    {"Button", 32774, 652, 203, 0, 0},    {"Button", 32773, 748, 203, 0, 0},   {"ComboBox", 32818, 217, 231, 50, 200},
    {"Button", 32819, 323, 231, 0, 0},    {"ComboBox", 32820, 455, 231, 70, 230}, {"Button", 32821, 572, 231, 0, 0},
    {"Edit", 32828, 107, 259, 100, 0},    {"Button", 32829, 223, 257, 60, 0},  {"Button", 32830, 305, 257, 60, 0},
    {"ComboBox", 32831, 375, 259, 100, 300}, {"Button", 32832, 576, 257, 60, 0}, {"Button", 32834, 217, 287, 0, 0},
    {"Button", 32833, 323, 287, 0, 0},    {"Button", 32835, 430, 287, 0, 0},   {"Button", 32847, 111, 313, 45, 0},
    {"ComboBox", 32848, 323, 315, 55, 144}, {"ComboBox", 32849, 536, 315, 55, 144}, {"Button", 32855, 652, 315, 0, 0},
    {"Button", 32838, 758, 341, 90, 0},   {"Edit", 32839, 217, 343, 50, 0},    {"ComboBox", 32840, 353, 343, 45, 144},
    {"ComboBox", 32841, 566, 343, 70, 230}, {"Button", 32857, 758, 369, 90, 0}, {"Button", 32851, 5, 371, 0, 0},
    {"Button", 32853, 71, 371, 0, 0},     {"Button", 32852, 151, 371, 0, 0},   {"ComboBox", 32850, 323, 371, 50, 200},
    {"ComboBox", 32854, 566, 371, 60, 300},
};
const std::set<int> kPushButtons = {32804, 32829, 32830, 32832, 32847, 32838, 32857};

struct Child {
    HWND hwnd;
    int id;
    std::wstring cls;
    LONG style;
    RECT rect;  // client coordinates of the main window
};

std::vector<Child> children(HWND parent) {
    std::vector<Child> out;
    struct Ctx {
        HWND parent;
        std::vector<Child>* out;
    } ctx{parent, &out};
    ::EnumChildWindows(
        parent,
        [](HWND h, LPARAM lp) -> BOOL {
            auto* c = reinterpret_cast<Ctx*>(lp);
            if (::GetParent(h) != c->parent) return TRUE;  // the combo boxes' own children
            Child ch{h, ::GetDlgCtrlID(h), {}, ::GetWindowLongW(h, GWL_STYLE), {}};
            wchar_t name[64] = {};
            ::GetClassNameW(h, name, 64);
            ch.cls = name;
            ::GetWindowRect(h, &ch.rect);
            ::MapWindowPoints(HWND_DESKTOP, c->parent, reinterpret_cast<POINT*>(&ch.rect), 2);
            c->out->push_back(ch);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&ctx));
    return out;
}

// The colour of the pixel in column x, halfway down, as the control paints its client area.
COLORREF edgePixel(HWND control, int x) {
    RECT r{};
    ::GetClientRect(control, &r);
    HDC screen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(screen);
    HBITMAP bmp = ::CreateCompatibleBitmap(screen, r.right, r.bottom);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    ::SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT | PRF_ERASEBKGND);
    COLORREF c = ::GetPixel(mem, x, r.bottom / 2);
    ::SelectObject(mem, old);
    ::DeleteObject(bmp);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);
    return c;
}

class WindowControls : public ::testing::Test {
protected:
    void SetUp() override {
        hooks().airportKnown = [](const std::string& code) { return code == "VHHH"; };
        window = std::make_unique<MainWindow>(::GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE, win32::WindowHandlers{});
        window->setMessageBoxFunction([this](const std::string& t, const std::string& c) { boxes.push_back(c + ": " + t); });
        ASSERT_TRUE(window->registerWindowClass("Ventrix_P3D"));
        ASSERT_TRUE(window->createMainWindow("Ventrix_P3D", 100, 50));
        setFrontEnd(window.get());
        pump();
    }
    void TearDown() override {
        setFrontEnd(nullptr);
        window.reset();
    }
    // Handles what is waiting, as the message loop would.
    void pump() {
        MSG msg;
        for (int round = 0; round < 3; ++round)
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) window->processMessage(msg);
    }
    HWND control(int id) { return ::GetDlgItem(window->hwnd(), id); }
    std::string stored(const std::string& key) { return test::storedParameter(key); }
    std::string text(int id) {
        wchar_t buffer[256] = {};
        ::GetWindowTextW(control(id), buffer, 256);
        return platform::win32::narrow(buffer);
    }
    void click(int id) {
        ::SendMessageW(control(id), BM_CLICK, 0, 0);
        pump();
    }
    void type(int id, const wchar_t* typed) {
        ::SetWindowTextW(control(id), typed);
        ::PostMessageW(control(id), WM_KEYDOWN, VK_RETURN, 0);
        ::PostMessageW(control(id), WM_CHAR, '\r', 0);
        pump();
    }
    void choose(int id, const wchar_t* entry) {
        HWND h = control(id);
        LRESULT index = ::SendMessageW(h, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(entry));
        ASSERT_NE(index, CB_ERR);
        ::SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        ::SendMessageW(window->hwnd(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(h));
        pump();
    }
    void enable(int id) {
        window->enableControl(id, true);
        pump();
    }

    test::TempDir dir;
    test::FreshWindowState state{dir.path()};
    std::unique_ptr<MainWindow> window;
    std::vector<std::string> boxes;
};

TEST_F(WindowControls, EveryControlHasItsIdClassStyleAndRectangleInTabOrder) {
    const auto found = children(window->hwnd());
    ASSERT_EQ(found.size(), std::size(kTable));
    int scrolled = 0;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const Expected& e = kTable[i];
        const Child& c = found[i];
        SCOPED_TRACE(e.id);
        EXPECT_EQ(c.id, e.id) << "tab order";
        EXPECT_EQ(platform::win32::narrow(c.cls), e.cls);
        EXPECT_EQ(c.style & (WS_CHILD | WS_VISIBLE | WS_TABSTOP), WS_CHILD | WS_VISIBLE | WS_TABSTOP);
        EXPECT_EQ(c.rect.left, e.x);
        const std::string cls = e.cls;
        if (cls == "Edit") {
            // The edit control takes WS_BORDER over and draws the border
            // itself: its first column differs from the box's background.
            EXPECT_NE(edgePixel(c.hwnd, 0), edgePixel(c.hwnd, 5)) << "a border";
            EXPECT_EQ(c.rect.top, e.y);
            EXPECT_EQ(c.rect.right - c.rect.left, e.width);
            EXPECT_EQ(c.rect.bottom - c.rect.top, 16);
        } else if (cls == "ComboBox") {
            EXPECT_EQ(c.style & 3, CBS_DROPDOWNLIST);
            EXPECT_EQ(c.rect.top, e.y);
            EXPECT_EQ(c.rect.right - c.rect.left, e.width);
            // Opens downwards by the list height: Windows reports the whole
            // dropped control, Wine the list under the selection field (and its border).
            const int field = c.rect.bottom - c.rect.top;
            RECT dropped{};
            ::SendMessageW(c.hwnd, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
            const int reported = dropped.bottom - dropped.top;
            EXPECT_TRUE(reported == e.listHeight || std::abs(reported + field - e.listHeight) <= 2)
                << reported << " + " << field;
            // A list whose entries do not fit shows the vertical scroll bar.
            COMBOBOXINFO info{};
            info.cbSize = sizeof info;
            ASSERT_TRUE(::GetComboBoxInfo(c.hwnd, &info));
            const auto items = ::SendMessageW(c.hwnd, CB_GETCOUNT, 0, 0);
            const auto itemHeight = ::SendMessageW(c.hwnd, CB_GETITEMHEIGHT, 0, 0);
            if (items * itemHeight > std::min(reported, e.listHeight - field)) {
                EXPECT_TRUE(::GetWindowLongW(info.hwndList, GWL_STYLE) & WS_VSCROLL) << items << " entries";
                ++scrolled;
            }
        } else if (kPushButtons.count(e.id)) {
            EXPECT_EQ(c.style & BS_TYPEMASK, BS_DEFPUSHBUTTON);
            EXPECT_EQ(c.rect.top, e.y);
            EXPECT_EQ(c.rect.right - c.rect.left, e.width);
            EXPECT_EQ(c.rect.bottom - c.rect.top, 20);
        } else {
            EXPECT_EQ(c.style & BS_TYPEMASK, BS_CHECKBOX) << "the program sets the state";
            EXPECT_EQ(c.rect.top, e.y + 2);
            EXPECT_EQ(c.rect.right - c.rect.left, 12);
            EXPECT_EQ(c.rect.bottom - c.rect.top, 12);
        }
    }
    EXPECT_EQ(::SendMessageW(control(32788), EM_GETLIMITTEXT, 0, 0), 1200);
    EXPECT_GE(scrolled, 2) << "RANGE and parking_percentage hold more than they show";
}

TEST_F(WindowControls, ControlsShowTheSettingsAndTheirEnableStates) {
    EXPECT_EQ(::SendMessageW(control(32798), BM_GETCHECK, 0, 0), BST_CHECKED);    // SCAN_LIVERIES
    EXPECT_EQ(::SendMessageW(control(32821), BM_GETCHECK, 0, 0), BST_UNCHECKED);  // AIRBORNE_ONLY
    EXPECT_EQ(text(32818), "40");                                                  // RANGE
    EXPECT_EQ(::SendMessageW(control(32818), CB_GETCOUNT, 0, 0), 20);
    EXPECT_EQ(text(32854), "24");  // MAX_FIT_FL
    EXPECT_FALSE(::IsWindowEnabled(control(32818))) << "automatic range";
    EXPECT_TRUE(::IsWindowEnabled(control(32820)));
    EXPECT_FALSE(::IsWindowEnabled(control(32857))) << "Flush static waits for the run";
    EXPECT_FALSE(::IsWindowEnabled(control(32832))) << "Block waits for a choice";

    // From another thread: the enable state arrives through the window's messages.
    std::thread cycle([&] { window->enableControl(32857, true); });
    cycle.join();
    pump();
    EXPECT_TRUE(::IsWindowEnabled(control(32857)));
}

TEST_F(WindowControls, CheckBoxClicksWriteTheSettingAndShowTheMessage) {
    click(32821);  // AIRBORNE_ONLY
    EXPECT_EQ(stored("AIRBORNE_ONLY"), "true");
    EXPECT_EQ(::SendMessageW(control(32821), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(statusText(), "Be aware, airborne live traffic only!  (greater than 300 ft above ground ...)");

    click(32771);  // ALWAYS_ON_TOP
    EXPECT_EQ(statusText(), "Ventrix_P3D's window will remain visible");
    EXPECT_TRUE(::GetWindowLongW(window->hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    click(32771);
    EXPECT_FALSE(::GetWindowLongW(window->hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST);

    click(32819);  // AUTO_RANGE off: the RANGE list takes over
    EXPECT_TRUE(::IsWindowEnabled(control(32818)));
    EXPECT_FALSE(::IsWindowEnabled(control(32820)));
}

TEST_F(WindowControls, EveryCheckBoxAndListWritesItsSetting) {
    for (const auto& c : ui::controls()) {
        SCOPED_TRACE(c.name);
        if (c.kind == ui::ControlKind::CheckBox) {
            const std::string before = stored(c.name);
            click(c.id);
            EXPECT_EQ(stored(c.name), before == "true" ? "false" : "true");
            EXPECT_EQ(::SendMessageW(control(c.id), BM_GETCHECK, 0, 0), before == "true" ? BST_UNCHECKED : BST_CHECKED);
        } else if (c.kind == ui::ControlKind::List && c.id != ui::kCallsignList) {
            const auto count = ::SendMessageW(control(c.id), CB_GETCOUNT, 0, 0);
            ASSERT_GT(count, 1);
            // The second entry: never a setting's default.
            wchar_t entry[32] = {};
            ::SendMessageW(control(c.id), CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(entry));
            choose(c.id, entry);
            if (c.id == params().MAX_FIT_FL.controlId)
                EXPECT_EQ(stored("MAX_FIT"), "1");  // one hour: two half hours less one
            else
                EXPECT_EQ(stored(c.name), platform::win32::narrow(entry));
            EXPECT_EQ(text(c.id), platform::win32::narrow(entry));
        }
    }
}

TEST_F(WindowControls, EnterInTheEditBoxesAppliesTheirText) {
    type(32828, L"dlh4ab");
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "DLH4AB");
    EXPECT_EQ(text(32828), "DLH4AB");
    type(32828, L"ab");
    EXPECT_EQ(statusText(), "callsign 'ab' is not valid");
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "DLH4AB");

    enable(32839);
    type(32839, L"vhhh");
    EXPECT_EQ(stored("DESTINATION"), "VHHH");
    EXPECT_EQ(statusText(), "New destination: VHHH");
    EXPECT_EQ(text(32839), "VHHH");

    enable(32788);
    showError("No P3D install path detected, type full Install Path above, and press Enter");
    type(32788, platform::win32::widen(dir.path().string()).c_str());
    EXPECT_EQ(errorText(), "");
    EXPECT_EQ(statusText(), "Install path exists, Ventrix_P3D will restart");
    EXPECT_EQ(exitReason(), ExitReason::NewSettings);
}

TEST_F(WindowControls, ListChoicesAndTheCallsignListWithBlock) {
    choose(32840, L"25");  // AIRP_RANGE
    EXPECT_EQ(stored("AIRP_RANGE"), "25");
    choose(32854, L"1.5");  // MAX_FIT_FL
    EXPECT_EQ(stored("MAX_FIT"), "2");

    ui::windowModel().setCallsigns({"CPA101", "KLM12"});
    window->refreshControls();
    pump();
    EXPECT_EQ(::SendMessageW(control(32831), CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(::SendMessageW(control(32831), CB_GETCURSEL, 0, 0), CB_ERR);
    choose(32831, L"KLM12");
    EXPECT_TRUE(::IsWindowEnabled(control(32832)));
    click(32832);  // Block
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "KLM12");
    EXPECT_FALSE(::IsWindowEnabled(control(32832)));
    click(32829);  // Unblock
    EXPECT_EQ(statusText(), "no more blocking of live aircraft 'KLM12'");
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "");
}

TEST_F(WindowControls, PushButtons) {
    click(32847);  // Now
    EXPECT_EQ(statusText(), "Ventrix_P3D will update static parking in 15 seconds ...");
    enable(32857);
    click(32857);  // Flush static
    EXPECT_EQ(statusText(), "All static parked aircraft will be removed ...");
    EXPECT_FALSE(::IsWindowEnabled(control(32857)));
    click(32838);  // Re-read
    EXPECT_FALSE(::IsWindowEnabled(control(32838)));
    EXPECT_TRUE(cycleState().parkAirportsRereadRequested.exchange(false));
    click(32830);  // cs->oid:
    EXPECT_TRUE(cycleState().callsignListRefreshRequested.exchange(false));
    enable(32804);
    click(32804);  // tblo, without an archive
    EXPECT_EQ(boxes, std::vector<std::string>{"VNTX: Could not open File Explorer at tblo.zip."});
}

TEST_F(WindowControls, TabMovesThroughTheEnabledControlsInTableOrder) {
    ::SetForegroundWindow(window->hwnd());
    ::SetFocus(control(32798));
    ASSERT_EQ(::GetFocus(), control(32798));
    std::vector<int> order;
    for (int i = 0; i < 6; ++i) {
        ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_TAB, 0);
        pump();
        order.push_back(::GetDlgCtrlID(::GetFocus()));
    }
    // "tblo" (32804) is disabled without an archive and skipped.
    EXPECT_EQ(order, (std::vector<int>{32800, 32771, 32802, 32777, 32776, 32808}));
}

TEST_F(WindowControls, ASavedPositionOffTheScreenIsMovedOntoIt) {
    MainWindow offScreen(::GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE, {});
    offScreen.registerWindowClass("Ventrix_P3D");  // already registered by the fixture's window
    ASSERT_TRUE(offScreen.createMainWindow("Ventrix_P3D", 5000, 3000));
    RECT r{};
    ::GetWindowRect(offScreen.hwnd(), &r);
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    ::GetMonitorInfoW(::MonitorFromWindow(offScreen.hwnd(), MONITOR_DEFAULTTONEAREST), &mi);
    EXPECT_LE(r.right, mi.rcWork.right);
    EXPECT_LE(r.bottom, mi.rcWork.bottom);
    EXPECT_GE(r.left, mi.rcWork.left);
    EXPECT_EQ(r.right - r.left, kMainWindowWidth);
}

}  // namespace
