#include "platform/win32/main_window.h"

#include <fmt/format.h>

#include <exception>

#include "core/log.h"
#include "core/status.h"
#include "platform/win32/wide.h"
#include "ui/commands.h"
#include "ui/layout.h"
#include "ui/window_model.h"

namespace vntx::win32 {
namespace {

using platform::win32::narrow;
using platform::win32::widen;

constexpr int kTitleResource = 101;
constexpr int kIconResource = 100;
// Caption, system menu and minimise; no resize, no maximise. Children are not
// painted over, so nothing flickers.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

// The edit control's own procedure, under the subclass.
std::atomic<WNDPROC> editClassProc{nullptr};

const wchar_t* className(ui::ControlKind kind) {
    switch (kind) {
    case ui::ControlKind::CheckBox:
    case ui::ControlKind::Button: return L"BUTTON";
    case ui::ControlKind::List: return L"COMBOBOX";
    case ui::ControlKind::Edit: return L"EDIT";
    }
    return L"STATIC";
}

DWORD controlStyle(ui::ControlKind kind) {
    const DWORD common = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    switch (kind) {
    case ui::ControlKind::CheckBox: return common | BS_CHECKBOX;  // the program sets the state
    case ui::ControlKind::Button: return common | BS_DEFPUSHBUTTON;
    case ui::ControlKind::List: return common | CBS_DROPDOWNLIST | WS_VSCROLL;
    case ui::ControlKind::Edit: return common | WS_BORDER | ES_AUTOHSCROLL;
    }
    return common;
}

std::string windowText(HWND h) {
    const int n = ::GetWindowTextLengthW(h);
    std::wstring w(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = ::GetWindowTextW(h, w.data(), n + 1);
    w.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return narrow(w);
}

MainWindow* ownerOf(HWND control) {
    return reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(::GetParent(control), GWLP_USERDATA));
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, int showCommand, WindowHandlers handlers)
    : instance_(instance), showCommand_(showCommand), handlers_(std::move(handlers)) {
    font_ = ::CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, L"Arial");
    black_ = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    editBrush_ = ::CreateSolidBrush(kEditBackground);
    messageBox_ = [this](const std::string& text, const std::string& caption) {
        ::MessageBoxW(hwnd_.load(), widen(text).c_str(), widen(caption).c_str(), MB_OK | MB_ICONWARNING);
    };
}

MainWindow::~MainWindow() {
    if (HWND h = hwnd_.load()) {
        // Destroyed by its owner, not by the program's end: no WM_QUIT for
        // whatever message loop this thread runs next.
        destroyingQuietly_ = true;
        ::DestroyWindow(h);
    }
    if (classRegistered_) ::UnregisterClassW(className_.c_str(), instance_);
    if (font_) ::DeleteObject(font_);
    if (editBrush_) ::DeleteObject(editBrush_);
}

std::optional<std::string> MainWindow::loadTitle() {
    wchar_t buffer[101] = {};
    int n = ::LoadStringW(instance_, kTitleResource, buffer, 101);
    if (n <= 0) return std::nullopt;
    return narrow(std::wstring_view(buffer, static_cast<std::size_t>(n)));
}

bool MainWindow::registerWindowClass(const std::string& title) {
    className_ = widen(title);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &MainWindow::windowProc;
    wc.hInstance = instance_;
    wc.hIcon = ::LoadIconW(instance_, MAKEINTRESOURCEW(kIconResource));
    wc.hIconSm = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                                 LR_DEFAULTCOLOR));
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = black_;
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = className_.c_str();
    classRegistered_ = ::RegisterClassExW(&wc) != 0;
    return classRegistered_;
}

bool MainWindow::createMainWindow(const std::string& title, int x, int y) {
    // A position saved on a monitor that is gone must not hide the window.
    ui::Rect wanted{x, y, kMainWindowWidth, kMainWindowHeight};
    RECT r{x, y, x + kMainWindowWidth, y + kMainWindowHeight};
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    if (::GetMonitorInfoW(::MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &mi)) {
        const RECT& a = mi.rcWork;
        wanted = ui::fitIntoWorkArea(wanted, {a.left, a.top, a.right - a.left, a.bottom - a.top});
    }
    HWND h = ::CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_APPWINDOW, className_.c_str(), widen(title).c_str(),
                               kWindowStyle, wanted.left, wanted.top, kMainWindowWidth, kMainWindowHeight, nullptr,
                               nullptr, instance_, this);
    if (!h) return false;
    ::ShowWindow(h, showCommand_);
    ::UpdateWindow(h);
    return true;
}

void MainWindow::processMessage(MSG& msg) {
    // The dialog manager moves the focus with Tab and Shift+Tab; the edit
    // boxes ask for Enter themselves (editProc).
    HWND h = hwnd_.load();
    if (h && ::IsDialogMessageW(h, &msg)) return;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
}

int MainWindow::runMessageLoop() {
    MSG msg{};
    for (;;) {
        BOOL rc = ::GetMessageW(&msg, nullptr, 0, 0);
        if (rc == 0) return static_cast<int>(msg.wParam);
        if (rc == -1) return exitCode_;
        processMessage(msg);
    }
}

void MainWindow::quit(int exitCode) {
    exitCode_ = exitCode;
    if (HWND h = hwnd_.load()) ::DestroyWindow(h);  // WM_DESTROY ends the loop
    else ::PostQuitMessage(exitCode);
}

WindowRect MainWindow::windowRect() {
    RECT r{};
    if (HWND h = hwnd_.load()) ::GetWindowRect(h, &r);
    return {r.left, r.top, r.right, r.bottom};
}

void MainWindow::repaint() {
    if (HWND h = hwnd_.load()) ::InvalidateRect(h, nullptr, FALSE);
}

void MainWindow::postStartCycle() {
    if (HWND h = hwnd_.load()) ::PostMessageW(h, kMsgStartCycle, 0, 0);
}

void MainWindow::postEndProgram() {
    if (HWND h = hwnd_.load()) ::PostMessageW(h, kMsgEndProgram, 0, 0);
}

void MainWindow::enableControl(int controlId, bool enabled) {
    if (ui::windowModel().setEnabled(controlId, enabled)) refreshControls();
}

void MainWindow::refreshControls() {
    // Any thread: one pending message is enough, it shows the latest state.
    HWND h = hwnd_.load();
    if (h && !syncPosted_.exchange(true)) ::PostMessageW(h, kMsgSyncControls, 0, 0);
}

void MainWindow::setTopMost(bool onTop) {
    if (HWND h = hwnd_.load()) ::PostMessageW(h, kMsgTopMost, onTop ? 1 : 0, 0);
}

void MainWindow::messageBox(const std::string& text, const std::string& caption) {
    if (messageBox_) messageBox_(text, caption);
}

void MainWindow::createControls(HWND parent) {
    for (const auto& c : ui::controls()) {
        const ui::Rect r = ui::controlRect(c);
        const std::wstring caption = c.kind == ui::ControlKind::Button ? widen(c.name) : std::wstring();
        HWND h = ::CreateWindowExW(0, className(c.kind), caption.c_str(), controlStyle(c.kind), r.left, r.top,
                                   r.width, r.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
                                   instance_, nullptr);
        if (!h) {
            logf("GetDlgItem failed for ID {}", c.id);
            continue;
        }
        ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        if (c.kind == ui::ControlKind::Edit) {
            if (c.textLimit > 0) ::SendMessageW(h, EM_SETLIMITTEXT, static_cast<WPARAM>(c.textLimit), 0);
            auto previous = reinterpret_cast<WNDPROC>(
                ::SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::editProc)));
            editClassProc = previous;
        }
    }
    syncControls();
}

void MainWindow::syncControls() {
    HWND parent = hwnd_.load();
    if (!parent) return;
    auto& model = ui::windowModel();
    for (const auto& c : ui::controls()) {
        HWND h = ::GetDlgItem(parent, c.id);
        if (!h) {
            logf("GetDlgItem failed for ID {}", c.id);
            continue;
        }
        const ui::ControlState s = model.state(c);
        if ((::IsWindowEnabled(h) != FALSE) != s.enabled) ::EnableWindow(h, s.enabled ? TRUE : FALSE);
        switch (c.kind) {
        case ui::ControlKind::CheckBox: {
            const WPARAM want = s.checked ? BST_CHECKED : BST_UNCHECKED;
            if (static_cast<WPARAM>(::SendMessageW(h, BM_GETCHECK, 0, 0)) != want)
                ::SendMessageW(h, BM_SETCHECK, want, 0);
            break;
        }
        case ui::ControlKind::Edit:
            // Only a changed setting replaces what the user may be typing.
            if (shownText_[c.id] != s.text) {
                shownText_[c.id] = s.text;
                ::SetWindowTextW(h, widen(s.text).c_str());
            }
            break;
        case ui::ControlKind::List: {
            auto& shown = shownEntries_[c.id];
            if (shown != s.entries || ::SendMessageW(h, CB_GETCOUNT, 0, 0) != static_cast<LRESULT>(s.entries.size())) {
                ::SendMessageW(h, CB_RESETCONTENT, 0, 0);
                for (const auto& e : s.entries)
                    ::SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(e).c_str()));
                shown = s.entries;
            }
            // A value that is not among the choices keeps the shown selection;
            // the call sign list shows no selection until one is chosen.
            const LRESULT current = ::SendMessageW(h, CB_GETCURSEL, 0, 0);
            if (s.selected >= 0 ? current != s.selected : (c.id == ui::kCallsignList && current != CB_ERR))
                ::SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(s.selected), 0);
            break;
        }
        case ui::ControlKind::Button: break;
        }
    }
}

void MainWindow::onCommand(WPARAM wp, LPARAM lp) {
    if (lp == 0) return;  // menus and accelerators: the window has none
    const int id = LOWORD(wp);
    const int code = HIWORD(wp);
    const ui::ControlSpec* c = ui::findControl(id);
    if (!c) return;
    if (c->kind == ui::ControlKind::List) {
        if (code != CBN_SELCHANGE) return;
        const auto index = static_cast<int>(::SendMessageW(reinterpret_cast<HWND>(lp), CB_GETCURSEL, 0, 0));
        ui::handleCommand(id, ui::Notification::SelectionChanged, index);
    } else if (c->kind == ui::ControlKind::Button || c->kind == ui::ControlKind::CheckBox) {
        if (code != BN_CLICKED) return;
        ui::handleCommand(id, ui::Notification::Clicked);
    } else {
        return;  // edit boxes act on Enter (editProc)
    }
    syncControls();
}

LRESULT CALLBACK MainWindow::editProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    WNDPROC base = editClassProc.load();
    switch (msg) {
    case WM_GETDLGCODE:
        // Enter goes to the box, not to the dialog manager's default button.
        if (lp && reinterpret_cast<const MSG*>(lp)->message == WM_KEYDOWN && wp == VK_RETURN)
            return DLGC_WANTALLKEYS | ::CallWindowProcW(base, hwnd, msg, wp, lp);
        break;
    case WM_KEYDOWN:
        if (wp == VK_RETURN) {
            const int id = ::GetDlgCtrlID(hwnd);
            const std::string text = windowText(hwnd);
            ui::runCommand([&] { ui::onEditEnter(id, text); });
            if (MainWindow* self = ownerOf(hwnd)) self->syncControls();
            return 0;
        }
        break;
    case WM_CHAR:
        if (wp == '\r') return 0;  // no beep for the Enter just handled
        break;
    default: break;
    }
    return ::CallWindowProcW(base, hwnd, msg, wp, lp);
}

void MainWindow::paint(HDC dc, int width, int height) {
    RECT all{0, 0, width, height};
    ::FillRect(dc, &all, black_);
    ::SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = font_ ? ::SelectObject(dc, font_) : nullptr;
    for (const auto& t : ui::paintedTexts()) {
        if (t.text.empty()) continue;
        const std::wstring w = widen(t.text);
        ::SetTextColor(dc, t.highlight ? kYellow : kLime);
        ::SetTextAlign(dc, t.align == ui::TextAlign::Right ? (TA_RIGHT | TA_TOP) : (TA_LEFT | TA_TOP));
        ::TextOutW(dc, t.x, t.y, w.c_str(), static_cast<int>(w.size()));
    }
    ::SetTextAlign(dc, TA_LEFT | TA_TOP);
    if (oldFont) ::SelectObject(dc, oldFont);
}

void MainWindow::onPaint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    RECT client;
    ::GetClientRect(hwnd, &client);
    // Drawn off screen and copied in one go, so repaints from the cycle do not flicker.
    HDC mem = ::CreateCompatibleDC(dc);
    HBITMAP bitmap = ::CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ old = ::SelectObject(mem, bitmap);
    paint(mem, client.right, client.bottom);
    ::BitBlt(dc, 0, 0, client.right, client.bottom, mem, 0, 0, SRCCOPY);
    ::SelectObject(mem, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(mem);
    ::EndPaint(hwnd, &ps);
}

void MainWindow::run(const std::function<void()>& handler, const char* what) {
    if (!handler) return;
    // An exception must not unwind through the system's window-procedure frames.
    try {
        handler();
    } catch (const std::exception& e) {
        logErrorf("{} exception {}", what, e.what());
    } catch (...) {
        logErrorf("Exception in {}", what);
    }
}

LRESULT CALLBACK MainWindow::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
    return self->handleMessage(hwnd, msg, wp, lp);
}

LRESULT MainWindow::handleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE: run([&] { createControls(hwnd); }, "WM_CREATE"); return 0;
    case kMsgStartCycle: run(handlers_.startCycle, "MsgStartCycle"); return 0;
    case kMsgEndProgram: run(handlers_.endProgram, "MsgEndProgram"); return 0;
    case kMsgSyncControls:
        syncPosted_ = false;
        run([&] { syncControls(); }, "refreshControls");
        return 0;
    case kMsgTopMost:
        ::SetWindowPos(hwnd, wp ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        return 0;
    case WM_COMMAND: run([&] { onCommand(wp, lp); }, "lf_HandleWMCOMMAND"); return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
        // Check boxes on the black background; edit boxes (disabled ones ask
        // as static texts) a shade lighter, so that the box and its border show.
        HDC dc = reinterpret_cast<HDC>(wp);
        HWND control = reinterpret_cast<HWND>(lp);
        const ui::ControlSpec* c = ui::findControl(::GetDlgCtrlID(control));
        const bool edit = c && c->kind == ui::ControlKind::Edit;
        const bool enabled = ::IsWindowEnabled(control) != FALSE;
        ::SetTextColor(dc, enabled ? kLime : kGrey);
        ::SetBkColor(dc, edit ? kEditBackground : RGB(0, 0, 0));
        return reinterpret_cast<LRESULT>(edit ? editBrush_ : black_);
    }
    case WM_CLOSE:
        // The window stays until closing down posts MsgEndProgram.
        run(handlers_.closeButton, "WM_CLOSE");
        return 0;
    case WM_ERASEBKGND: return 1;  // WM_PAINT fills every pixel
    case WM_PAINT: onPaint(hwnd); return 0;
    case WM_DESTROY:
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        if (!destroyingQuietly_) ::PostQuitMessage(exitCode_);
        return 0;
    default: return ::DefWindowProcW(hwnd, msg, wp, lp);
    }
}

}  // namespace vntx::win32
