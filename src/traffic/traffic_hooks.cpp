#include <memory>

#include <fmt/format.h>

#include "core/hooks.h"
#include "core/status.h"
#include "traffic/traffic.h"
#include "traffic/traffic_feed.h"

namespace vntx {

namespace {

using namespace traffic;

// Stands in while no simulator link is wired: nothing is ever created.
// Until the simulator link is set, user positions still go to RealTraffic.
class NoSimLink final : public NullSimLink {
public:
    void sendUserPosition() override {
        if (hooks().sendUserPosition) hooks().sendUserPosition();
    }
};

// The manager binds a reference to its link; the forwarding link lets the
// real one be set later.
class ForwardingLink final : public SimLinkPort {
public:
    SimLinkPort* target = &none;
    NoSimLink none;
    void takeNotices(std::vector<ObjectNotice>& out) override { target->takeNotices(out); }
    void queuePosition(std::uint32_t id, const AiPosition& p) override { target->queuePosition(id, p); }
    void handOverPositions() override { target->handOverPositions(); }
    void queueEvent(std::uint32_t id, std::string_view e, std::uint32_t d) override { target->queueEvent(id, e, d); }
    void setLights(std::uint32_t id, const std::array<int, 7>& l) override { target->setLights(id, l); }
    void setCabinLights(std::uint32_t id, int on) override { target->setCabinLights(id, on); }
    void setControlBlock(std::uint32_t id, double s, double a, double b) override { target->setControlBlock(id, s, a, b); }
    bool toggleAllLights(std::uint32_t id) override { return target->toggleAllLights(id); }
    void queueCreation(const CreationRequest& c) override { target->queueCreation(c); }
    void queueRemoval(std::uint32_t id) override { target->queueRemoval(id); }
    void requestStaticCg(std::uint32_t id) override { target->requestStaticCg(id); }
    bool createFlightPlan(const LiveAircraft& ac) override { return target->createFlightPlan(ac); }
    void deleteFlightPlan(std::uint32_t id) override { target->deleteFlightPlan(id); }
    void requestWithinRange() override { target->requestWithinRange(); }
    void requestUserPosition() override { target->requestUserPosition(); }
    void sendUserPosition() override { target->sendUserPosition(); }
    void reportLiveryNotCreated(const std::string& n, const std::string& t) override {
        target->reportLiveryNotCreated(n, t);
    }
    void requestFailed() override { target->requestFailed(); }
};

// Runs an earlier hook first, so that several modules can share one.
void chain(std::function<void()>& hook, std::function<void()> mine) {
    auto earlier = std::move(hook);
    hook = [earlier = std::move(earlier), mine = std::move(mine)] {
        if (earlier) earlier();
        mine();
    };
}

ForwardingLink& link() {
    static ForwardingLink l;
    return l;
}

std::unique_ptr<TrafficManager>& managerSlot() {
    static std::unique_ptr<TrafficManager> m;
    return m;
}

}  // namespace

TrafficManager& trafficManager() {
    auto& m = managerSlot();
    if (!m) {
        m = std::make_unique<TrafficManager>(link(), TrafficServices{});
        m->setTickCounter(&liveTraffic().tickCount);
    }
    return *m;
}

void setTrafficSimLink(SimLinkPort* l) { link().target = l ? l : &link().none; }

void setTrafficServices(TrafficServices services) {
    auto& m = managerSlot();
    m = std::make_unique<TrafficManager>(link(), std::move(services));
    m->setTickCounter(&liveTraffic().tickCount);
}

void installTrafficHooks() {
    auto& h = hooks();
    h.trafficTick = [] { trafficManager().tick(); };
    h.refreshCounts = [] {
        const auto c = trafficManager().counts();
        if (indicators().liveCount.exchange(c.active) != c.active) requestRepaint();
    };
    h.perReportDuties = [] { trafficManager().perReportDuties(); };
    h.trafficLoad = [] {
        std::size_t active = 0, buffered = 0;
        const auto& list = trafficManager().liveList();
        for (const auto& ac : list) {
            active += ac.state == traffic::AcState::active;
            buffered += ac.stream.size();
        }
        return fmt::format("live {} active of {} aircraft, {} buffered reports", active, list.size(), buffered);
    };
    h.pauseEnter = [] { trafficManager().pauseEnter(); };
    h.pauseDuties = [] { trafficManager().pauseDuties(); };
    h.withdrawLiveTraffic = [] { trafficManager().withdrawAll(); };
    chain(h.clearContainers, [] { trafficManager().reset(); });
    chain(h.resetCycleState, [] { trafficManager().reset(); });
    h.clearGhosts = [] { trafficManager().clearGhosts(); };
}

void resetTrafficState() { trafficManager().reset(); }

}  // namespace vntx
