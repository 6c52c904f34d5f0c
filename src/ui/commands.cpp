#include "ui/commands.h"

#include <filesystem>
#include <map>

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

namespace vntx::ui {
namespace {

BoolParam* boolById(int id) {
    for (auto* b : params().bools)
        if (b->controlId == id) return b;
    return nullptr;
}

IntParam* intById(int id) {
    for (auto* i : params().ints)
        if (i->controlId == id && !i->choices.empty()) return i;
    return nullptr;
}

void enable(int id, bool on) {
    if (auto* fe = frontEnd()) fe->enableControl(id, on);
}

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
    if (auto* fe = frontEnd()) fe->refreshControls();
    showStatus(fmt::format("no more blocking of live aircraft '{}'", was), true);
}

}  // namespace

bool onCheckBox(int id) {
    BoolParam* b = boolById(id);
    if (!b) return false;
    auto& p = params();
    bool on = !b->get();
    b->set(on);
    p.writeParameter(*b);
    if (auto* fe = frontEnd()) fe->refreshControls();
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
        enable(p.RANGE.controlId, !on);
        enable(p.AR_ABOVE_HEIGHT.controlId, on);
        if (on && hooks().autoRange) hooks().autoRange();
    }
    return true;
}

bool onListChoice(int id, const std::string& text) {
    auto& p = params();
    if (id == p.MAX_FIT_FL.controlId) {
        float hours = std::stof(text);
        p.MAX_FIT_FL.set(hours);
        p.MAX_FIT.set(static_cast<long long>(hours * 2 - 1));
        p.writeParameter(p.MAX_FIT);
        return true;
    }
    IntParam* ip = intById(id);
    if (!ip) return false;
    ip->set(std::stoll(text));
    p.writeParameter(*ip);
    if (ip == &p.RANGE) p.recomputeRange();
    if (auto* fe = frontEnd()) fe->refreshControls();
    return true;
}

bool onEditEnter(int id, const std::string& raw) {
    auto& p = params();
    std::string text = trim(raw);
    if (id == p.BLOCK_CALLSIGN.controlId) {
        clearStatus();
        if (text.empty()) {
            if (!p.BLOCK_CALLSIGN.empty()) unblock();
        } else if (text.size() < 4 || text.size() > 8) {
            showStatus(fmt::format("callsign '{}' is not valid", text), true);
        } else {
            std::string cs = toUpper(text);
            if (cs == p.BLOCK_CALLSIGN.get()) {
                showStatus(fmt::format("callsign '{}' was already set ...", cs), true);
            } else {
                p.BLOCK_CALLSIGN.set(cs);
                p.writeParameter(p.BLOCK_CALLSIGN);
                enable(kButtonUnblock, true);
            }
        }
        return true;
    }
    if (id == p.DESTINATION.controlId) {
        clearStatus();
        if (text.empty()) {
            p.DESTINATION.set("");
            p.writeParameter(p.DESTINATION);
            enable(kButtonReread, true);
            showStatus("destination set to empty", true);
        } else if (text.size() != 4) {
            showStatus(fmt::format("destination '{}' is not valid", text), true);
        } else {
            std::string code = toUpper(text);
            if (code == p.DESTINATION.get()) {
                showStatus(fmt::format("destination '{}' was already set ...", code), true);
            } else if (hooks().airportKnown && hooks().airportKnown(code)) {
                p.DESTINATION.set(code);
                p.writeParameter(p.DESTINATION);
                showStatus(fmt::format("New destination: {}", code), true);
            } else {
                showStatus(fmt::format("destination '{}' is unknown ...", code), true);
            }
        }
        return true;
    }
    if (id == p.ALL_INSTALL_PATH.controlId) {
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
        return true;
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
        enable(kButtonReread, false);
        enable(p.DESTINATION.controlId, false);
        return true;
    case kButtonTblo:
        platform::shellOpen("tblo.zip");
        return true;
    case kButtonBlock:
        return true;
    default:
        return false;
    }
}

int controlIdByName(const std::string& name) {
    auto& p = params();
    for (auto* b : p.bools)
        if (b->controlId && iequals(name, b->key)) return b->controlId;
    for (auto* i : p.ints)
        if (i->controlId && iequals(name, i->key)) return i->controlId;
    for (auto* t : p.texts)
        if (t->controlId && iequals(name, t->key)) return t->controlId;
    if (iequals(name, p.MAX_FIT_FL.key)) return p.MAX_FIT_FL.controlId;
    static const std::map<std::string, int> buttons = {
        {"tblo", kButtonTblo},     {"unblock", kButtonUnblock}, {"cs->oid:", kButtonCsOid},
        {"block", kButtonBlock},   {"now", kButtonNow},         {"re-read", kButtonReread},
        {"flush static", kButtonFlushStatic}, {"flush", kButtonFlushStatic}};
    auto it = buttons.find(toLower(name));
    return it == buttons.end() ? 0 : it->second;
}

}  // namespace vntx::ui
