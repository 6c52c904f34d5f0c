// The window's model and commands without a window: a fresh settings file,
// log and window state per test, and a front end that records what the
// commands asked of the window.
#pragma once

#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "core/cycle.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/state.h"
#include "core/status.h"
#include "support/temp_dir.h"
#include "ui/window_model.h"

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
    void SetUp() override {
        resetStopState();
        params().resetToDefaults();
        params().setFile(dir / "parameters.xml");
        params().readAllParameters();
        openLog(dir / "Log.txt");
        clearError();
        clearStatus();
        indicators().reset();
        auto& cs = cycleState();
        cs.blockedCallsignChanged = false;
        cs.parkAirportsRereadRequested = false;
        cs.callsignListRefreshRequested = false;
        cs.flushStaticRequested = false;
        cs.staticUpdateRequested = false;
        ui::windowModel().reset();
        setFrontEnd(&window);
    }
    void TearDown() override {
        setFrontEnd(nullptr);
        clearError();
        clearStatus();
        closeLog();
        resetStopState();
        hooks() = CycleHooks{};
        ui::setWindowSources({});
        ui::windowModel().reset();
        cycleState().restartPending = false;
        params().setFile({});
        params().resetToDefaults();
    }
    // The value of a setting as parameters.xml holds it ("<none>" when absent).
    std::string stored(const std::string& key) {
        pugi::xml_document doc;
        doc.load_file(params().file().c_str());
        auto node = doc.select_node(("/parameters/parameter[@name='" + key + "']").c_str()).node();
        return node ? node.attribute("value").value() : "<none>";
    }
    std::string log() {
        flushLog();
        return readFile(dir / "Log.txt");
    }
    bool enabled(int id) { return ui::windowModel().enabled(id); }

    TempDir dir;
    RecordingWindow window;
};

}  // namespace vntx::test
