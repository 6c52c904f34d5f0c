// The Win32 front end of the main window: window class, the fixed-size main
// window with its child controls (built from the window's layout), the
// painted texts of the window model, and the message loop. Other threads
// reach the window only through posted messages and repaint requests.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/app.h"

namespace vntx::win32 {

inline constexpr UINT kMsgStartCycle = WM_APP + 1;
inline constexpr UINT kMsgEndProgram = WM_APP + 2;
inline constexpr UINT kMsgSyncControls = WM_APP + 3;  // show the model's state on the controls
inline constexpr UINT kMsgTopMost = WM_APP + 4;       // wParam: 1 above all others, 0 normal

inline constexpr COLORREF kLime = RGB(50, 205, 50);
inline constexpr COLORREF kYellow = RGB(255, 255, 0);
inline constexpr COLORREF kGrey = RGB(128, 128, 128);             // disabled edit boxes
inline constexpr COLORREF kEditBackground = RGB(40, 40, 40);

// What the window procedure does for the cycle's messages. The program binds
// them to onStartCycle, onEndProgram and onCloseButton.
struct WindowHandlers {
    std::function<void()> startCycle;
    std::function<void()> endProgram;
    std::function<void()> closeButton;
};

class MainWindow final : public WindowHost {
public:
    MainWindow(HINSTANCE instance, int showCommand, WindowHandlers handlers);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    std::optional<std::string> loadTitle() override;
    bool registerWindowClass(const std::string& title) override;
    // Placed within the work area of the nearest monitor.
    bool createMainWindow(const std::string& title, int x, int y) override;
    int runMessageLoop() override;
    void quit(int exitCode) override;
    WindowRect windowRect() override;

    void repaint() override;
    void postStartCycle() override;
    void postEndProgram() override;
    void enableControl(int controlId, bool enabled) override;
    void refreshControls() override;
    void setTopMost(bool onTop) override;
    void messageBox(const std::string& text, const std::string& caption) override;

    HWND hwnd() const { return hwnd_.load(); }
    // Handles one message as the loop does (Tab between the controls, Enter
    // in the edit boxes); for callers that pump messages themselves.
    void processMessage(MSG& msg);
    // Draws the whole client area (width by height) into dc.
    void paint(HDC dc, int width, int height);
    // Replaces the message box (tests).
    void setMessageBoxFunction(std::function<void(const std::string&, const std::string&)> f) {
        messageBox_ = std::move(f);
    }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK editProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT handleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void createControls(HWND parent);
    void syncControls();
    void onCommand(WPARAM wp, LPARAM lp);
    void onPaint(HWND hwnd);
    void run(const std::function<void()>& handler, const char* what);

    HINSTANCE instance_;
    int showCommand_;
    WindowHandlers handlers_;
    std::wstring className_;
    bool classRegistered_ = false;
    std::atomic<HWND> hwnd_{nullptr};
    HFONT font_ = nullptr;
    HBRUSH black_ = nullptr;
    HBRUSH editBrush_ = nullptr;
    int exitCode_ = 0;
    bool destroyingQuietly_ = false;
    std::atomic<bool> syncPosted_{false};
    // What the controls show now (UI thread only).
    std::map<int, std::vector<std::string>> shownEntries_;
    std::map<int, std::string> shownText_;
    std::function<void(const std::string&, const std::string&)> messageBox_;
};

}  // namespace vntx::win32
