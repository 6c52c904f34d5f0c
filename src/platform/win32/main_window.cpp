#include "platform/win32/main_window.h"

#include <fmt/format.h>

#include <exception>

#include "core/log.h"
#include "core/status.h"
#include "core/version.h"
#include "platform/win32/wide.h"

namespace vntx::win32 {
namespace {

using platform::win32::narrow;
using platform::win32::widen;

constexpr int kTitleResource = 101;
constexpr int kIconResource = 100;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;

void drawText(HDC dc, int x, int y, COLORREF colour, const std::string& text) {
    if (text.empty()) return;
    const std::wstring w = widen(text);
    ::SetTextColor(dc, colour);
    ::TextOutW(dc, x, y, w.c_str(), static_cast<int>(w.size()));
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, int showCommand, WindowHandlers handlers)
    : instance_(instance), showCommand_(showCommand), handlers_(std::move(handlers)) {
    font_ = ::CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New");
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
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = className_.c_str();
    classRegistered_ = ::RegisterClassExW(&wc) != 0;
    return classRegistered_;
}

bool MainWindow::createMainWindow(const std::string& title, int x, int y) {
    HWND h = ::CreateWindowExW(0, className_.c_str(), widen(title).c_str(), kWindowStyle, x, y, kMainWindowWidth,
                               kMainWindowHeight, nullptr, nullptr, instance_, this);
    if (!h) return false;
    ::ShowWindow(h, showCommand_);
    ::UpdateWindow(h);
    return true;
}

int MainWindow::runMessageLoop() {
    MSG msg{};
    for (;;) {
        BOOL rc = ::GetMessageW(&msg, nullptr, 0, 0);
        if (rc == 0) return static_cast<int>(msg.wParam);
        if (rc == -1) return exitCode_;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
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
    HWND h = hwnd_.load();
    HWND control = h ? ::GetDlgItem(h, controlId) : nullptr;
    if (!control) {
        // Until the settings controls exist the state is only remembered for
        // them; once they do, a missing one is a fault worth a log line.
        if (controlsCreated_) logf("GetDlgItem failed for ID {}", controlId);
        std::lock_guard lock(enableMutex_);
        pendingEnable_[controlId] = enabled;
        return;
    }
    ::EnableWindow(control, enabled ? TRUE : FALSE);
}

std::optional<bool> MainWindow::pendingEnableState(int controlId) const {
    std::lock_guard lock(enableMutex_);
    auto it = pendingEnable_.find(controlId);
    if (it == pendingEnable_.end()) return std::nullopt;
    return it->second;
}

void MainWindow::refreshControls() {
    // The settings controls come with the complete window; nothing to show yet.
}

void MainWindow::setTopMost(bool onTop) {
    if (HWND h = hwnd_.load())
        ::SetWindowPos(h, onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void MainWindow::paint(HDC dc, int width, int height) {
    RECT all{0, 0, width, height};
    ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    ::SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = font_ ? ::SelectObject(dc, font_) : nullptr;

    drawText(dc, 3, 7, kLime, fmt::format("Version {}", programVersion()));
    drawText(dc, 390, 7, kLime, kProgramName);
    const auto& ind = indicators();
    drawText(dc, 398, 63, ind.simRunning ? kLime : kYellow, "Sim");
    drawText(dc, 430, 63, ind.realTraffic ? kLime : kYellow, "RT");
    drawText(dc, 642, 91, kLime, fmt::format("live: {:3}", ind.liveCount.load()));
    drawText(dc, kTextLeft, kStatusLineY, kLime, statusText());
    drawText(dc, kTextLeft, kErrorLineY, kYellow, errorText());

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
    case kMsgStartCycle: run(handlers_.startCycle, "MsgStartCycle"); return 0;
    case kMsgEndProgram: run(handlers_.endProgram, "MsgEndProgram"); return 0;
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
