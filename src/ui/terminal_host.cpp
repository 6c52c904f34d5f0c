#include "ui/terminal_host.h"

#include <algorithm>
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
#include "ui/window_model.h"

namespace vntx::ui {
namespace {

const char* kindName(ControlKind k) {
    switch (k) {
    case ControlKind::CheckBox: return "check";
    case ControlKind::Button: return "button";
    case ControlKind::List: return "select";
    case ControlKind::Edit: return "enter";
    }
    return "";
}

// "RANGE = 25", "SCAN_AIRPORTS = on (disabled)", "callsigns = DLH4AB, KLM1 (chosen: KLM1)".
std::string controlLine(const ControlState& s) {
    std::string value;
    switch (s.spec->kind) {
    case ControlKind::CheckBox: value = s.checked ? " = on" : " = off"; break;
    case ControlKind::Edit: value = " = " + s.text; break;
    case ControlKind::Button: break;
    case ControlKind::List:
        if (s.spec->id == kCallsignList) {
            value = " = ";
            for (std::size_t i = 0; i < s.entries.size(); ++i) value += (i ? ", " : "") + s.entries[i];
            if (s.selected >= 0) value += " (chosen: " + s.entries[static_cast<std::size_t>(s.selected)] + ")";
        } else {
            value = s.selected >= 0 ? " = " + s.entries[static_cast<std::size_t>(s.selected)] : " = ?";
        }
        break;
    }
    return fmt::format("{}{}{}", s.spec->name, value, s.enabled ? "" : " (disabled)");
}

}  // namespace

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
        // What a new window shows is printed by "show"; from here on, changes.
        lastPainted_ = snapshot();
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

std::map<std::string, std::string> TerminalHost::snapshot() const {
    std::map<std::string, std::string> lines;
    for (const auto& t : paintedTexts()) {
        if (t.name.empty()) continue;  // the controls' labels never change
        if (t.text.empty())
            lines[t.name] = t.name + " cleared";
        else
            lines[t.name] = fmt::format("{}: {}{}", t.name, t.text, t.highlight && t.name != "error" ? " (yellow)" : "");
    }
    for (const auto& c : controls()) lines["control " + std::string(c.name)] = controlLine(windowModel().state(c));
    lines["on top"] = topMost_ ? "window stays on top" : "window is a normal window";
    return lines;
}

void TerminalHost::paintChanges() {
    auto now = snapshot();
    std::lock_guard lock(paintMutex_);
    // Indicators and lines in the order they are painted: status and error last.
    for (const auto& [name, line] : now) {
        if (name == "status" || name == "error") continue;
        auto it = lastPainted_.find(name);
        if (it == lastPainted_.end() || it->second != line) out_ << "[window] " << line << '\n';
    }
    for (const char* name : {"status", "error"}) {
        auto it = lastPainted_.find(name);
        if (it == lastPainted_.end() || it->second != now[name]) out_ << "[window] " << now[name] << '\n';
    }
    out_.flush();
    lastPainted_ = std::move(now);
}

void TerminalHost::print(const std::string& line) {
    std::lock_guard lock(paintMutex_);
    out_ << "[window] " << line << std::endl;
}

void TerminalHost::postStartCycle() {
    post([] { onStartCycle(); });
}

void TerminalHost::postEndProgram() {
    post([] { onEndProgram(); });
}

void TerminalHost::enableControl(int controlId, bool enabled) {
    windowModel().setEnabled(controlId, enabled);
    repaint();
}

void TerminalHost::refreshControls() { repaint(); }

void TerminalHost::setTopMost(bool onTop) {
    topMost_ = onTop;
    repaint();
}

void TerminalHost::messageBox(const std::string& text, const std::string& caption) {
    print(fmt::format("message box {}: {}", caption, text));
}

void TerminalHost::postCommand(const std::string& line) {
    post([this, line] { execute(line); });
}

void TerminalHost::execute(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    std::string rest;
    std::getline(in, rest);
    command(toLower(verb), trim(rest));
    repaint();
}

void TerminalHost::command(const std::string& verb, const std::string& rest) {
    if (verb.empty()) return;
    if (verb == "close") {
        onCloseButton();
        return;
    }
    if (verb == "show") {
        auto now = snapshot();
        std::lock_guard lock(paintMutex_);
        for (const auto& t : paintedTexts())
            if (t.name.empty()) out_ << fmt::format("[window] label at {},{}: {}\n", t.x, t.y, t.text);
        for (const auto& [name, text] : now) out_ << "[window] " << text << '\n';
        out_.flush();
        return;
    }
    if (verb == "help") {
        for (const auto& c : controls()) print(fmt::format("{} {}", kindName(c.kind), c.name));
        return;
    }
    if (verb != "check" && verb != "select" && verb != "enter" && verb != "button") {
        print(fmt::format("unknown command '{}' (close, check, select, enter, button, show, help)", verb));
        return;
    }
    // "button" takes the whole rest as the caption ("Flush static"); the others a name and a value.
    std::string name = rest, value;
    if (verb != "button") {
        auto sp = rest.find(' ');
        name = rest.substr(0, sp);
        value = sp == std::string::npos ? "" : trim(rest.substr(sp + 1));
    }
    const ControlSpec* c = findControl(name);
    if (!c || kindName(c->kind) != verb) {
        print(fmt::format("no {} control '{}'", verb, name));
        return;
    }
    if (!windowModel().enabled(c->id)) {
        print(fmt::format("'{}' is disabled", c->name));
        return;
    }
    switch (c->kind) {
    case ControlKind::CheckBox:
    case ControlKind::Button: handleCommand(c->id, Notification::Clicked); break;
    case ControlKind::Edit: runCommand([&] { onEditEnter(c->id, value); }); break;
    case ControlKind::List: {
        const auto entries = listEntries(c->id);
        auto it = std::find_if(entries.begin(), entries.end(), [&](const std::string& e) { return iequals(e, value); });
        if (it == entries.end()) {
            std::string all;
            for (const auto& e : entries) all += (all.empty() ? "" : ", ") + e;
            print(fmt::format("'{}' is not an entry of {} ({})", value, c->name, all));
            return;
        }
        handleCommand(c->id, Notification::SelectionChanged, static_cast<int>(it - entries.begin()));
        break;
    }
    }
}

}  // namespace vntx::ui
