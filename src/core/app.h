// Process entry and the window's messages, shared by every window front end.
//
// A front end (the Win32 window on Windows, the terminal elsewhere) implements
// WindowHost; its entry point calls programMain(). Its window procedure calls
// onStartCycle() for MsgStartCycle (WM_APP + 1), onEndProgram() for
// MsgEndProgram (WM_APP + 2) and onCloseButton() for WM_CLOSE.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/status.h"

namespace vntx {

struct WindowRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

class WindowHost : public WindowFrontEnd {
public:
    // String resource 101 (at most 100 characters); nullopt on failure.
    virtual std::optional<std::string> loadTitle() = 0;
    // The window class: redraw on resize, icon 100, arrow cursor, black brush, no menu.
    virtual bool registerWindowClass(const std::string& title) = 0;
    // 880 by 516 at (x, y), caption and system menu; shown and updated.
    virtual bool createMainWindow(const std::string& title, int x, int y) = 0;
    // Runs the message loop until quit() and returns its exit code.
    virtual int runMessageLoop() = 0;
    // Ends the message loop with the exit code (from the UI thread).
    virtual void quit(int exitCode) = 0;
    virtual WindowRect windowRect() = 0;
};

inline constexpr int kMainWindowWidth = 880;
inline constexpr int kMainWindowHeight = 516;
inline constexpr const char* kInstanceName = "Local\\$VNTX_P3D$";

// The start sequence; returns the process exit code (-1 for a second instance).
int programMain(const std::vector<std::string>& args, WindowHost& host);

// Production mode as the command line asks: the last recognised argument wins.
bool productionRequested(const std::vector<std::string>& args);

// Window messages owned by the cycle.
void onStartCycle();
void onEndProgram();
void onCloseButton();

}  // namespace vntx
