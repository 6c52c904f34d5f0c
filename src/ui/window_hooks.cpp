#include "ui/window_hooks.h"

#include <utility>

#include "core/cycle.h"
#include "core/hooks.h"
#include "core/status.h"
#include "ui/commands.h"

namespace vntx::ui {
namespace {

// Runs the hook's earlier work first.
void chain(std::function<void()>& hook, std::function<void()> mine) {
    hook = [earlier = std::move(hook), mine = std::move(mine)] {
        if (earlier) earlier();
        mine();
    };
}

}  // namespace

void installWindowHooks() {
    auto& h = hooks();
    h.applyDestination = [] { applyDestination(); };
    h.autoRange = [] { applyAutoRange(); };
    h.fillCallsignList = [] { fillCallsignList(); };
    chain(h.perReportDuties, [] {
        if (cycleState().callsignListRefreshRequested.exchange(false)) fillCallsignList();
    });
    chain(h.staticDuties15, [] { rereadParkAirportsIfAsked(); });
    chain(h.pauseCountdownDone, [] { rereadParkAirportsIfAsked(); });
    chain(h.realTrafficHandshake, [] {
        if (indicators().realTraffic) indicators().startupMark = false;
    });
}

}  // namespace vntx::ui
