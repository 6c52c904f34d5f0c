// The window's model and commands without a window: a fresh settings file,
// log and window state per test, and a front end that records what the
// commands asked of the window.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"
#include "support/window_state.h"

namespace vntx::test {

struct RecordingWindow : WindowFrontEnd {
    std::atomic<int> starts{0}, ends{0};
    int refreshes = 0;
    std::vector<bool> topMost;
    std::vector<std::pair<std::string, std::string>> boxes;
    void repaint() override {}
    void postStartCycle() override { ++starts; }
    void postEndProgram() override { ++ends; }
    void enableControl(int id, bool on) override { ui::windowModel().setEnabled(id, on); }
    void refreshControls() override { ++refreshes; }
    void setTopMost(bool on) override { topMost.push_back(on); }
    void messageBox(const std::string& text, const std::string& caption) override { boxes.emplace_back(text, caption); }
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { setFrontEnd(&window); }
    void TearDown() override { setFrontEnd(nullptr); }
    std::string stored(const std::string& key) { return storedParameter(key); }
    std::string log() {
        flushLog();
        return readFile(dir / "Log.txt");
    }
    bool enabled(int id) { return ui::windowModel().enabled(id); }

    TempDir dir;
    FreshWindowState state{dir.path()};
    RecordingWindow window;
};

}  // namespace vntx::test
