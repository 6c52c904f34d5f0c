#include "ui/terminal_host.h"

#include <ostream>
#include <sstream>

#include <fmt/format.h>

#include "core/files.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/status.h"
#include "core/version.h"
#include "platform/platform.h"
#include "ui/commands.h"

namespace vntx::ui {

TerminalHost::TerminalHost(std::ostream& out) : out_(out) {}

TerminalHost::~TerminalHost() {
    input_.request_stop();
    if (input_.joinable()) input_.join();
}

std::optional<std::string> TerminalHost::loadTitle() { return std::string(kProgramName); }

bool TerminalHost::registerWindowClass(const std::string&) { return true; }

bool TerminalHost::createMainWindow(const std::string& title, int x, int y) {
    x_ = x;
    y_ = y;
    {
        std::lock_guard lock(paintMutex_);
        out_ << fmt::format("{} version {}", title, programVersion()) << std::endl;
    }
    platform::catchTerminationSignals(terminate_);
    input_ = std::jthread([this](std::stop_token stop) {
        std::string line;
        while (!stop.stop_requested()) {
            int rc = platform::readStdinLine(line, 100);
            if (rc < 0) return;
            if (rc > 0) postCommand(line);
        }
    });
    return true;
}

void TerminalHost::post(std::function<void()> message) {
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(std::move(message));
    }
    queueCv_.notify_one();
}

int TerminalHost::runMessageLoop() {
    while (true) {
        std::function<void()> message;
        {
            std::unique_lock lock(queueMutex_);
            queueCv_.wait_for(lock, std::chrono::milliseconds(50), [&] { return !queue_.empty() || quit_; });
            if (quit_) break;
            if (!queue_.empty()) {
                message = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        if (terminate_.exchange(false)) onCloseButton();
        if (message) message();
        paintChanges();
    }
    input_.request_stop();
    paintChanges();
    return exitCode_;
}

void TerminalHost::quit(int exitCode) {
    std::lock_guard lock(queueMutex_);
    quit_ = true;
    exitCode_ = exitCode;
    queueCv_.notify_one();
}

WindowRect TerminalHost::windowRect() { return {x_, y_, x_ + kMainWindowWidth, y_ + kMainWindowHeight}; }

void TerminalHost::repaint() { queueCv_.notify_one(); }

void TerminalHost::paintChanges() {
    auto& ind = indicators();
    std::string err = errorText();
    std::string state = fmt::format(
        "{}|sim {}|RT {}|weather {}|traffic {}|qnh {}|live {:3}|static {:3}",
        err.empty() ? statusText() : "Error " + err, ind.simRunning ? "on" : "off", ind.realTraffic ? "on" : "off",
        ind.weatherLiveness.load(), ind.trafficLiveness.load(), ind.qnh.load(), ind.liveCount.load(),
        ind.staticCount.load());
    std::lock_guard lock(paintMutex_);
    if (state == lastPainted_) return;
    lastPainted_ = state;
    out_ << "[window] " << state << std::endl;
}

void TerminalHost::postStartCycle() {
    post([] { onStartCycle(); });
}

void TerminalHost::postEndProgram() {
    post([] { onEndProgram(); });
}

void TerminalHost::enableControl(int, bool) { repaint(); }
void TerminalHost::refreshControls() { repaint(); }
void TerminalHost::setTopMost(bool) {}

void TerminalHost::postCommand(const std::string& line) {
    post([this, line] { execute(line); });
}

void TerminalHost::execute(const std::string& line) {
    std::istringstream in(line);
    std::string verb, name;
    in >> verb;
    std::string rest;
    std::getline(in, rest);
    rest = trim(rest);
    try {
        if (verb == "close") {
            onCloseButton();
        } else if (verb == "show") {
            std::lock_guard lock(paintMutex_);
            out_ << "[window] " << lastPainted_ << std::endl;
        } else if (verb == "check" || verb == "select" || verb == "enter" || verb == "button") {
            std::string value;
            if (verb == "button") {
                name = rest;
            } else {
                auto sp = rest.find(' ');
                name = rest.substr(0, sp);
                value = sp == std::string::npos ? "" : trim(rest.substr(sp + 1));
            }
            int id = controlIdByName(name);
            bool handled = id != 0 && ((verb == "check" && onCheckBox(id)) ||
                                       (verb == "select" && onListChoice(id, value)) ||
                                       (verb == "enter" && onEditEnter(id, value)) ||
                                       (verb == "button" && onButton(id)));
            if (!handled) {
                std::lock_guard lock(paintMutex_);
                out_ << fmt::format("[window] no {} control '{}'", verb, name) << std::endl;
            }
        } else if (!verb.empty()) {
            std::lock_guard lock(paintMutex_);
            out_ << fmt::format("[window] unknown command '{}' (close, check, select, enter, button, show)", verb)
                 << std::endl;
        }
    } catch (const std::exception& e) {
        logErrorf("{} exception {}", "lf_HandleWMCOMMAND", e.what());
    }
    repaint();
}

}  // namespace vntx::ui
