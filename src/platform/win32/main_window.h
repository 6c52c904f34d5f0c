// The Win32 front end of the main window: window class, the fixed-size main
// window, its painted status and error lines, and the message loop.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "core/app.h"

namespace vntx::win32 {

inline constexpr UINT kMsgStartCycle = WM_APP + 1;
inline constexpr UINT kMsgEndProgram = WM_APP + 2;

inline constexpr COLORREF kLime = RGB(50, 205, 50);
inline constexpr COLORREF kYellow = RGB(255, 255, 0);

// Painted positions of the status and error lines.
inline constexpr int kStatusLineY = 435;
inline constexpr int kErrorLineY = 455;
inline constexpr int kTextLeft = 3;

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

    HWND hwnd() const { return hwnd_.load(); }
    // Enable state asked for a control that does not exist (yet); nullopt if none.
    std::optional<bool> pendingEnableState(int controlId) const;
    // Draws the whole client area (width by height) into dc.
    void paint(HDC dc, int width, int height);

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT handleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void onPaint(HWND hwnd);
    void run(const std::function<void()>& handler, const char* what);

    HINSTANCE instance_;
    int showCommand_;
    WindowHandlers handlers_;
    std::wstring className_;
    bool classRegistered_ = false;
    std::atomic<HWND> hwnd_{nullptr};
    HFONT font_ = nullptr;
    int exitCode_ = 0;
    bool destroyingQuietly_ = false;
    bool controlsCreated_ = false;  // set once the settings controls are created
    mutable std::mutex enableMutex_;
    std::map<int, bool> pendingEnable_;
};

}  // namespace vntx::win32
