// The main window as a terminal: prints the status and error lines and the
// indicators when they change, and takes the window's commands as text lines
// on standard input. SIGINT and SIGTERM act as the close button.
//
// Commands:
//   close                      the close button
//   check KEY                  click a check box (toggles), e.g. "check SCAN_AIRPORTS"
//   select KEY VALUE           choose a list entry, e.g. "select RANGE 25"
//   enter KEY TEXT             type into an edit box and press Enter
//   button NAME                a push button ("Now", "Flush static", "Unblock", ...)
//   show                       print the window's state
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iosfwd>
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

    // Runs one command line on the UI thread (posted).
    void postCommand(const std::string& line);
    // Executes a command line now (UI thread).
    void execute(const std::string& line);

private:
    void post(std::function<void()> message);
    void paintChanges();

    std::ostream& out_;
    std::mutex queueMutex_;
    std::condition_variable queueCv_;
    std::deque<std::function<void()>> queue_;
    bool quit_ = false;
    int exitCode_ = 0;
    std::mutex paintMutex_;
    std::string lastPainted_;
    int x_ = 0, y_ = 0;
    std::atomic<bool> terminate_{false};
    std::jthread input_;
};

}  // namespace vntx::ui
