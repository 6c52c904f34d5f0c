#include "ui/window_model.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <fmt/format.h>

#include "core/cycle.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/status.h"
#include "core/version.h"

namespace vntx::ui {
namespace {

WindowSources sources;
std::mutex sourcesMutex;

BoolParam* boolParam(const ControlSpec& c) {
    for (auto* b : params().bools)
        if (b->controlId == c.id) return b;
    return nullptr;
}

IntParam* intParam(const ControlSpec& c) {
    for (auto* i : params().ints)
        if (i->controlId == c.id && !i->choices.empty()) return i;
    return nullptr;
}

TextParam* textParam(const ControlSpec& c) {
    for (auto* t : params().texts)
        if (t->controlId == c.id) return t;
    return nullptr;
}

template <typename T>
T ask(const std::function<T()>& source, T fallback) {
    return source ? source() : fallback;
}

std::string countText(int n) { return n < 0 ? "..." : std::to_string(n); }

}  // namespace

void setWindowSources(WindowSources s) {
    std::lock_guard lock(sourcesMutex);
    sources = std::move(s);
}

const WindowSources& windowSources() { return sources; }

// ------------------------------------------------------------------ controls

WindowModel::WindowModel() { reset(); }

void WindowModel::reset() {
    std::lock_guard lock(mutex_);
    enabled_.clear();
    for (const auto& c : controls()) enabled_[c.id] = true;
    // Enabled by the cycle once it can use them: the install path once the
    // settings are read, the destination once the park airports are, the
    // flush once static parking runs; "Block" once a call sign is chosen;
    // "tblo" once the airport scan has packed its archive.
    const bool autoRange = params().AUTO_RANGE;
    enabled_[kInstallPathBox] = false;
    enabled_[params().DESTINATION.controlId] = false;
    enabled_[kButtonFlushStatic] = false;
    enabled_[kButtonBlock] = false;
    std::error_code ec;
    enabled_[kButtonTblo] = std::filesystem::exists("tblo/tblo.zip", ec);
    enabled_[params().RANGE.controlId] = !autoRange;
    enabled_[params().AR_ABOVE_HEIGHT.controlId] = autoRange;
    callsigns_.clear();
    chosen_ = -1;
}

bool WindowModel::enabled(int id) const {
    std::lock_guard lock(mutex_);
    auto it = enabled_.find(id);
    return it != enabled_.end() && it->second;
}

bool WindowModel::setEnabled(int id, bool on) {
    if (!findControl(id)) {
        logf("GetDlgItem failed for ID {}", id);
        return false;
    }
    std::lock_guard lock(mutex_);
    enabled_[id] = on;
    return true;
}

void WindowModel::setCallsigns(std::vector<std::string> list) {
    std::lock_guard lock(mutex_);
    callsigns_ = std::move(list);
    chosen_ = -1;
}

std::vector<std::string> WindowModel::callsigns() const {
    std::lock_guard lock(mutex_);
    return callsigns_;
}

bool WindowModel::chooseCallsign(int index) {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<int>(callsigns_.size())) return false;
    chosen_ = index;
    return true;
}

std::string WindowModel::chosenCallsign() const {
    std::lock_guard lock(mutex_);
    return chosen_ < 0 ? std::string() : callsigns_[static_cast<std::size_t>(chosen_)];
}

WindowModel& windowModel() {
    static WindowModel model;
    return model;
}

std::vector<std::string> listEntries(int id) {
    std::vector<std::string> out;
    if (id == kCallsignList) return windowModel().callsigns();
    auto& p = params();
    if (id == p.MAX_FIT_FL.controlId) {
        for (float h : p.MAX_FIT_FL.choices) out.push_back(fmt::format("{}", h));
        return out;
    }
    const ControlSpec* c = findControl(id);
    if (IntParam* ip = c ? intParam(*c) : nullptr)
        for (int v : ip->choices) out.push_back(std::to_string(v));
    return out;
}

ControlState WindowModel::state(const ControlSpec& c) const {
    ControlState s;
    s.spec = &c;
    s.enabled = enabled(c.id);
    auto& p = params();
    switch (c.kind) {
    case ControlKind::CheckBox:
        if (BoolParam* b = boolParam(c)) s.checked = b->get();
        break;
    case ControlKind::Edit:
        if (TextParam* t = textParam(c)) s.text = t->get();
        break;
    case ControlKind::List:
        if (c.id == kCallsignList) {
            std::lock_guard lock(mutex_);
            s.entries = callsigns_;
            s.selected = chosen_;
        } else if (c.id == p.MAX_FIT_FL.controlId) {
            s.entries = listEntries(c.id);
            const auto& ch = p.MAX_FIT_FL.choices;
            auto it = std::find(ch.begin(), ch.end(), p.MAX_FIT_FL.get());
            if (it != ch.end()) s.selected = static_cast<int>(it - ch.begin());
        } else if (IntParam* ip = intParam(c)) {
            s.entries = listEntries(c.id);
            auto it = std::find(ip->choices.begin(), ip->choices.end(), ip->get());
            if (it != ip->choices.end()) s.selected = static_cast<int>(it - ip->choices.begin());
        }
        break;
    case ControlKind::Button: break;
    }
    return s;
}

// ------------------------------------------------------------------ painting

std::vector<PaintedText> paintedTexts() {
    std::vector<PaintedText> out;
    auto add = [&](std::string name, std::string text, int x, int y, bool highlight = false) {
        out.push_back({std::move(name), std::move(text), x, y, highlight, TextAlign::Left});
    };
    const auto& ind = indicators();
    const WindowSources src = [] {
        std::lock_guard lock(sourcesMutex);
        return sources;
    }();

    add("version", fmt::format("Version {}", programVersion()), 3, 7);
    add("program", kProgramName, 390, 7);

    // The simulator and the user aircraft.
    const bool connected = ask<bool>(src.simulatorConnected, false);
    const std::string simText = ask<std::string>(src.simulatorText, "");
    add("simulator", connected && !simText.empty() ? simText : "no simulator connected", 5, 35, !connected);
    const std::string nearest = ask<std::string>(src.nearestAirport, "");
    add("nearest", nearest.empty() ? "no RT airport near" : "near: " + nearest, 642, 35);
    add("title", ask<std::string>(src.userTitle, ""), 5, 63);
    add("sim", "Sim", 398, 63, !ind.simRunning);
    add("rt", "RT", 430, 63, !ind.realTraffic);
    const std::string model = ask<std::string>(src.userModel, "");
    if (!model.empty()) {
        auto span = ask<std::optional<double>>(src.userWingspanMeters, std::nullopt);
        add("model", span ? fmt::format("{}, wing span {:.1f} m", model, *span) : model + ", wing span unknown", 642,
            63, !span);
    } else {
        add("model", "", 642, 63);
    }
    if (ind.waiting) add("waiting", "waiting ...", 398, 91, true);

    // RealTraffic and its readers.
    if (ind.realTraffic) {
        add("rt version", realTrafficVersion(), 458, 35);
        add("weather", "Weather", 458, 63, ind.weatherLiveness != 1);
        add("traffic", "Traffic", 458, 91, ind.trafficLiveness != 1);
        const int w = ind.weatherLiveness;
        if (w == 1 || w == 2) add("qnh", fmt::format("qnh: {:4}", ind.qnh.load()), 530, 63);
    }

    // Counts.
    const int liveries = ind.liveryCount, learned = ind.learnedCount, thirdp = ind.thirdpCount;
    add("liveries", fmt::format("# liveries: {}", countText(liveries)), 5, 91, liveries < 0);
    add("learned", fmt::format("# {}: {}", "learned", countText(learned)), 141, 91, learned < 0);
    add("thirdp", fmt::format("# thirdp: {}", countText(thirdp)), 278, 91, thirdp < 0);
    add("live", fmt::format("live: {:3}", ind.liveCount.load()), 642, 91);

    // Static parking.
    add("stands", fmt::format("# stands: {:3}", ind.stands.load()), 5, 399);
    add("parked live", fmt::format("parked live: {:3}", ind.parkedLive.load()), 120, 399);
    add("static", fmt::format("static: {:3}", ind.staticCount.load()), 250, 399);
    add("average fit", fmt::format("average fit: {}", indicatorText(IndicatorText::AverageFit)), 360, 399);
    const int maxPark = ind.maxPark;
    add("max park",
        maxPark < 0 ? std::string("no max park live")
                    : fmt::format("max park: {:3} (={} %)", maxPark, ind.maxParkPercent.load()),
        520, 399);
    add("qf", fmt::format("qf: {}", indicatorText(IndicatorText::QualityFactors)), 5, 417);
    add("reserved stand", fmt::format("reserved stand: {}", indicatorText(IndicatorText::ReservedStand)), 120, 417);
    add("updates", fmt::format("# updates: {:4}", ind.staticUpdates.load()), 360, 417);
    const auto& p = params();
    const bool renewing = p.MAX_PARK_SEL.get() > 0 && !p.INITIAL_LOAD_ONLY && !cycleState().flushStaticRequested;
    add("next", renewing ? fmt::format("(next in {} min)", ind.staticCountdown.load()) : "(no next ... )", 520, 417);
    std::string used;
    if (ind.softUsed) used += "soft ";
    if (ind.weekUsed) used += "week ";
    if (ind.changedStands > 0) used += fmt::format("changed stands: {}", ind.changedStands.load());
    add("used", used, 642, 417);

    // The labels of the controls.
    for (const auto& l : labels()) out.push_back({"", l.text, l.x, l.y, false, l.align});

    // The status and error lines.
    add("status", statusText(), 3, kStatusLineY);
    const std::string error = errorText();
    add("error", error.empty() ? "" : "Error " + error, 3, kErrorLineY, true);
    return out;
}

Rect fitIntoWorkArea(Rect w, Rect area) {
    auto fit = [](int pos, int size, int start, int length) {
        if (pos + size > start + length) pos = start + length - size;
        return std::max(pos, start);
    };
    w.left = fit(w.left, w.width, area.left, area.width);
    w.top = fit(w.top, w.height, area.top, area.height);
    return w;
}

}  // namespace vntx::ui
