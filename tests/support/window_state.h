// The program-wide state a window test starts from: the settings of a new
// parameters.xml in the test's folder, its own Log.txt, no status or error
// line, the indicators and controls of a new window, no stop, no hooks.
// The destructor puts the defaults back for the next test.
#pragma once

#include <filesystem>
#include <string>

#include <pugixml.hpp>

#include "core/cycle.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/state.h"
#include "core/status.h"
#include "ui/window_model.h"

namespace vntx::test {

class FreshWindowState {
public:
    explicit FreshWindowState(const std::filesystem::path& folder) {
        resetStopState();
        params().resetToDefaults();
        params().setFile(folder / "parameters.xml");
        params().readAllParameters();
        openLog(folder / "Log.txt");
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
    }
    ~FreshWindowState() {
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
    FreshWindowState(const FreshWindowState&) = delete;
    FreshWindowState& operator=(const FreshWindowState&) = delete;
};

// The value of a setting as parameters.xml holds it ("<none>" when absent).
inline std::string storedParameter(const std::string& key) {
    pugi::xml_document doc;
    doc.load_file(params().file().c_str());
    auto node = doc.select_node(("/parameters/parameter[@name='" + key + "']").c_str()).node();
    return node ? node.attribute("value").value() : "<none>";
}

}  // namespace vntx::test
