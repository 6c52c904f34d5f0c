#include "ui/commands.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <fmt/format.h>

#include "core/cycle.h"
#include "core/files.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/state.h"
#include "core/status.h"
#include "core/version.h"
#include "platform/platform.h"
#include "ui/window_model.h"

namespace vntx::ui {
namespace {

// Only the settings that have a control in the window.
BoolParam* checkBoxSetting(int id) {
    const ControlSpec* c = findControl(id);
    if (!c || c->kind != ControlKind::CheckBox) return nullptr;
    for (auto* b : params().bools)
        if (b->controlId == id) return b;
    return nullptr;
}

IntParam* listSetting(int id) {
    const ControlSpec* c = findControl(id);
    if (!c || c->kind != ControlKind::List) return nullptr;
    for (auto* i : params().ints)
        if (i->controlId == id && !i->choices.empty()) return i;
    return nullptr;
}

void refresh() {
    if (auto* fe = frontEnd()) fe->refreshControls();
}

void enable(int id, bool on) {
    windowModel().setEnabled(id, on);
    refresh();
}

bool airportKnown(const std::string& code) { return hooks().airportKnown && hooks().airportKnown(code); }

void scanRequested(const char* now, const char* later) {
    if (indicators().startupMark) {
        showStatus(now, true);
        requestStop(ExitReason::NewSettings, 2);
    } else {
        showStatus(fmt::format(fmt::runtime(later), kProgramName), true);
    }
}

void unblock() {
    auto& p = params();
    std::string was = p.BLOCK_CALLSIGN.get();
    p.BLOCK_CALLSIGN.set("");
    p.writeParameter(p.BLOCK_CALLSIGN);
    refresh();
    showStatus(fmt::format("no more blocking of live aircraft '{}'", was), true);
}

// The block box's rule, also used by "Block" for the chosen call sign.
void blockCallsign(const std::string& text) {
    auto& p = params();
    clearStatus();
    if (text.empty()) {
        if (!p.BLOCK_CALLSIGN.empty()) unblock();
        return;
    }
    if (text.size() < 4 || text.size() > 8) {
        showStatus(fmt::format("callsign '{}' is not valid", text), true);
        return;
    }
    const std::string cs = toUpper(text);
    if (cs == p.BLOCK_CALLSIGN.get()) {
        showStatus(fmt::format("callsign '{}' was already set ...", cs), true);
        return;
    }
    p.BLOCK_CALLSIGN.set(cs);
    p.writeParameter(p.BLOCK_CALLSIGN);
    // The next per-report step removes the live aircraft with that call sign.
    cycleState().blockedCallsignChanged = true;
    enable(kButtonUnblock, true);
}

void enterDestination(const std::string& text) {
    auto& p = params();
    clearStatus();
    if (text.empty()) {
        p.DESTINATION.set("");
        p.writeParameter(p.DESTINATION);
        enable(kButtonReread, true);
        showStatus("destination set to empty", true);
        return;
    }
    if (text.size() != 4) {
        showStatus(fmt::format("destination '{}' is not valid", text), true);
        return;
    }
    const std::string code = toUpper(text);
    if (code == p.DESTINATION.get()) {
        showStatus(fmt::format("destination '{}' was already set ...", code), true);
    } else if (airportKnown(code)) {
        p.DESTINATION.set(code);
        p.writeParameter(p.DESTINATION);
        refresh();
        showStatus(fmt::format("New destination: {}", code), true);
    } else {
        showStatus(fmt::format("destination '{}' is unknown ...", code), true);
    }
}

void enterInstallPath(const std::string& text) {
    auto& p = params();
    clearError();
    clearStatus();
    std::error_code ec;
    if (!text.empty() && std::filesystem::is_directory(platform::pathFromUtf8(text), ec)) {
        p.SIM_INSTALL_PATH.set(text);
        p.writeParameter(p.SIM_INSTALL_PATH);
        showStatus(fmt::format("Install path exists, {} will restart", kProgramName), true);
        if (!stopRequested()) requestStop(ExitReason::NewSettings, 3);
    } else {
        showStatus(fmt::format("This install path does not exist: {}", text), true);
    }
}

void openTbloArchive() {
    // Part of the airport scan's output: the archive lies in its folder "tblo".
    std::error_code ec;
    const auto archive = std::filesystem::absolute("tblo/tblo.zip", ec);
    bool opened = !ec && std::filesystem::exists(archive, ec) &&
                  platform::shellOpen(platform::pathToUtf8(archive.parent_path()));
    if (!opened) {
        if (auto* fe = frontEnd()) fe->messageBox("Could not open File Explorer at tblo.zip.", "VNTX");
    }
}

}  // namespace

bool onCheckBox(int id) {
    BoolParam* b = checkBoxSetting(id);
    if (!b) return false;
    auto& p = params();
    const bool on = !b->get();
    b->set(on);
    p.writeParameter(*b);
    refresh();
    if (b == &p.ALWAYS_ON_TOP) {
        if (on)
            showStatus(fmt::format("{}'s window will remain visible", kProgramName), true);
        else
            clearStatus();
        if (auto* fe = frontEnd()) fe->setTopMost(on);
    } else if (b == &p.SCAN_LIVERIES) {
        if (on) scanRequested("Your liveries will be scanned", "Your liveries will be scanned at the next start of {}");
    } else if (b == &p.SCAN_AIRPORTS) {
        if (on) scanRequested("Your airports will be scanned", "Your airports will be scanned at the next start of {}");
    } else if (b == &p.LIG_PRIORITIZE) {
        if (on) showStatus("Liveries, for airl+model, in lower lfolders that are already available will be skipped", true);
    } else if (b == &p.AEROWINX) {
        if (on) showStatus(fmt::format("Note: This mode is for Aerowinx PSX users only, please re-start {}", kProgramName), true);
    } else if (b == &p.GUID_CHANGES) {
        if (!on) showStatus("Be aware, no more livery updates: you miss correct data for Learn, LittleNavMap, etc!", true);
    } else if (b == &p.AIRBORNE_ONLY) {
        if (on) showStatus("Be aware, airborne live traffic only!  (greater than 300 ft above ground ...)", true);
    } else if (b == &p.COLLISION_USER_AIR) {
        if (!on) showStatus("Be aware, user aircraft may collide with (run through) live aircraft in the air", true);
    } else if (b == &p.COLLISION_USER_GND) {
        if (!on)
            showStatus("Be aware, user aircraft may collide with (run through) live aircraft and static parked on the ground", true);
    } else if (b == &p.COLLISION_LIVE_PARKED_GND) {
        if (!on) showStatus("Be aware, live aircraft may collide with (run through) static parked on the ground", true);
    } else if (b == &p.INITIAL_LOAD_ONLY) {
        if (on)
            showStatus(fmt::format("Initial Load Only: static parked aircraft are generated once, no renewal every {} minutes", 20), true);
    } else if (b == &p.AUTO_RANGE) {
        windowModel().setEnabled(p.RANGE.controlId, !on);
        windowModel().setEnabled(p.AR_ABOVE_HEIGHT.controlId, on);
        if (on) applyAutoRange();
        refresh();
    }
    return true;
}

bool onListChoice(int id, int index) {
    auto& p = params();
    if (id == kCallsignList) {
        if (windowModel().chooseCallsign(index)) enable(kButtonBlock, true);
        return true;
    }
    if (id == p.MAX_FIT_FL.controlId) {
        const auto& choices = p.MAX_FIT_FL.choices;
        if (index < 0 || index >= static_cast<int>(choices.size())) return true;
        const float hours = choices[static_cast<std::size_t>(index)];
        p.MAX_FIT_FL.set(hours);
        p.MAX_FIT.set(std::lround(hours * 2) - 1);
        p.writeParameter(p.MAX_FIT);
        refresh();
        return true;
    }
    IntParam* ip = listSetting(id);
    if (!ip) return false;
    if (index < 0 || index >= static_cast<int>(ip->choices.size())) return true;
    ip->set(ip->choices[static_cast<std::size_t>(index)]);
    p.writeParameter(*ip);
    if (ip == &p.RANGE) p.recomputeRange();
    refresh();
    return true;
}

bool onEditEnter(int id, const std::string& raw) {
    auto& p = params();
    const std::string text = trim(raw);
    if (id == p.BLOCK_CALLSIGN.controlId) {
        blockCallsign(text);
        return true;
    }
    if (id == p.DESTINATION.controlId) {
        enterDestination(text);
        return true;
    }
    if (id == p.ALL_INSTALL_PATH.controlId) {
        enterInstallPath(text);
        return true;
    }
    return false;
}

bool onButton(int id) {
    auto& p = params();
    auto& cs = cycleState();
    switch (id) {
    case kButtonUnblock:
        if (p.BLOCK_CALLSIGN.empty())
            showStatus("Nothing to block or unblock...", true);
        else
            unblock();
        if (!windowModel().chosenCallsign().empty()) enable(kButtonBlock, true);
        return true;
    case kButtonBlock: {
        const std::string chosen = windowModel().chosenCallsign();
        if (!chosen.empty()) blockCallsign(chosen);
        enable(kButtonBlock, false);
        return true;
    }
    case kButtonCsOid:
        cs.callsignListRefreshRequested = true;
        enable(kButtonBlock, false);
        return true;
    case kButtonFlushStatic:
        showStatus("All static parked aircraft will be removed ...", true);
        enable(kButtonFlushStatic, false);
        cs.flushStaticRequested = true;
        return true;
    case kButtonNow:
        showStatus(fmt::format("{} will update static parking in {} second{} ...", kProgramName, 15, "s"), true);
        cs.staticUpdateRequested = true;
        return true;
    case kButtonReread:
        windowModel().setEnabled(kButtonReread, false);
        windowModel().setEnabled(p.DESTINATION.controlId, false);
        refresh();
        cs.parkAirportsRereadRequested = true;
        return true;
    case kButtonTblo:
        openTbloArchive();
        return true;
    default:
        return false;
    }
}

void runCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& e) {
        logErrorf("{} exception {}", "lf_HandleWMCOMMAND", e.what());
    } catch (...) {
        logErrorf("{} exception {}", "lf_HandleWMCOMMAND", "unknown");
    }
    requestRepaint();
}

void handleCommand(int id, Notification n, int listIndex) {
    runCommand([&] {
        if (n == Notification::Clicked) {
            if (!onButton(id)) onCheckBox(id);
        } else if (n == Notification::SelectionChanged) {
            onListChoice(id, listIndex);
        }
    });
}

void applyDestination() {
    auto& p = params();
    const std::string code = toUpper(trim(p.DESTINATION.get()));
    if (code.empty()) return;
    if (airportKnown(code)) {
        p.DESTINATION.set(code);
        showStatus(fmt::format("New destination: {}", code), true);
    } else {
        showStatus(fmt::format("destination '{}' is unknown ...", code), true);
        p.DESTINATION.set("");
        p.writeParameter(p.DESTINATION);
    }
    refresh();
}

int autoRangeFor(const AutoRangeInput& in) {
    if (in.onGround) return 10;
    if (in.altitudeFeet > in.arAboveHeight) return 100;
    if (in.altitudeFeet > in.airportHeight) return 40;
    const double x = in.airportInSightNm.value_or(10000.0);
    if (x <= 7) return 10;
    if (x < 37) return nearestRangeChoice(static_cast<int>(std::lround(x)) + 3);
    return 40;
}

void applyAutoRange() {
    auto& p = params();
    const auto& src = windowSources();
    AutoRangeInput in;
    in.onGround = src.userOnGround && src.userOnGround();
    in.altitudeFeet = src.userAltitudeFeet ? src.userAltitudeFeet() : 0.0;
    in.arAboveHeight = p.AR_ABOVE_HEIGHT;
    in.airportHeight = p.AIRP_HEIGHT;
    in.airportInSightNm = src.airportInSightNm ? src.airportInSightNm() : std::nullopt;
    const int before = p.RANGE;
    p.RANGE.set(autoRangeFor(in));
    p.recomputeRange();
    if (p.RANGE != before) refresh();
}

void fillCallsignList() {
    const auto& src = windowSources();
    std::vector<std::string> list = src.liveCallsigns ? src.liveCallsigns() : std::vector<std::string>{};
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    windowModel().setCallsigns(std::move(list));
    enable(kButtonBlock, false);
}

void rereadParkAirportsIfAsked() {
    if (!cycleState().parkAirportsRereadRequested.exchange(false)) return;
    if (hooks().readParkAirports) hooks().readParkAirports();
    windowModel().setEnabled(kButtonReread, true);
    windowModel().setEnabled(params().DESTINATION.controlId, true);
    refresh();
}

}  // namespace vntx::ui
