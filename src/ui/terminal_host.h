// The main window as a terminal: prints every painted indicator and line and
// every control's value and enable state when it changes, and takes the
// window's commands as text lines on standard input. SIGINT and SIGTERM act
// as the close button.
//
// Commands (names as in the window's layout, without regard to case):
//   close                      the close button
//   check KEY                  click a check box (toggles), e.g. "check SCAN_AIRPORTS"
//   select KEY VALUE           choose a list entry, e.g. "select RANGE 25", "select callsigns DLH4AB"
//   enter KEY TEXT             type into an edit box and press Enter ("enter BLOCK_CALLSIGN dlh4ab")
//   button NAME                a push button ("Now", "Flush static", "Unblock", "cs->oid:", ...)
//   show                       print the whole window: indicators, labels, controls
//   help                       list the controls
// A disabled control refuses its command, as in the window.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iosfwd>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "core/app.h"

namespace vntx::ui {

class TerminalHost final : public WindowHost {
public:
    explicit TerminalHost(std::ostream& out);
    ~TerminalHost() override;

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
    void messageBox(const std::string& text, const std::string& caption) override;

    // Runs one command line on the UI thread (posted).
    void postCommand(const std::string& line);
    // Executes a command line now (UI thread).
    void execute(const std::string& line);
    // Prints every line of the window that changed since the last call (the
    // loop calls it after each message).
    void paintChanges();

private:
    void post(std::function<void()> message);
    // The window as lines, by what they show; changed ones are printed.
    std::map<std::string, std::string> snapshot() const;
    void print(const std::string& line);
    void command(const std::string& verb, const std::string& rest);

    std::ostream& out_;
    std::mutex queueMutex_;
    std::condition_variable queueCv_;
    std::deque<std::function<void()>> queue_;
    bool quit_ = false;
    int exitCode_ = 0;
    std::mutex paintMutex_;
    std::map<std::string, std::string> lastPainted_;
    std::atomic<bool> topMost_{false};
    int x_ = 0, y_ = 0;
    std::atomic<bool> terminate_{false};
    std::jthread input_;
};

}  // namespace vntx::ui
