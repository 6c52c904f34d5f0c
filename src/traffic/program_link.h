// The live traffic joined to the rest of the program: the real simulator
// link behind the traffic tick's port, and the reference data, livery
// matching, weather and user aircraft behind its services.
#pragma once

#include <string_view>

#include "simlink/sim_link.h"
#include "traffic/sim_port.h"

namespace vntx {

// The traffic tick's view of a simulator link. Notices are translated to the
// tick's layout, events go by name, creations and removals are queued for the
// link's next frame (the tick paces them itself).
class SimLinkAdapter final : public traffic::SimLinkPort {
public:
    explicit SimLinkAdapter(simlink::SimLink& link) : link_(link) {}

    void takeNotices(std::vector<traffic::ObjectNotice>& out) override;
    void queuePosition(std::uint32_t objectId, const traffic::AiPosition& pos) override;
    void handOverPositions() override { link_.handOverPositions(); }
    void queueEvent(std::uint32_t objectId, std::string_view event, std::uint32_t data) override;
    void setLights(std::uint32_t objectId, const std::array<int, 7>& lights) override;
    void setCabinLights(std::uint32_t objectId, int on) override;
    void setControlBlock(std::uint32_t objectId, double spoilers, double throttle1, double throttle2) override {
        link_.setControlBlock(objectId, spoilers, throttle1, throttle2);
    }
    bool toggleAllLights(std::uint32_t objectId) override { return link_.gf_allLightsToggle(objectId); }
    void queueCreation(const traffic::CreationRequest& creation) override;
    void queueRemoval(std::uint32_t objectId) override { link_.queueRemoval(objectId); }
    void requestStaticCg(std::uint32_t objectId) override { link_.requestStaticCg(objectId); }
    bool createFlightPlan(const traffic::LiveAircraft& ac) override;
    void deleteFlightPlan(std::uint32_t objectId) override;
    void requestWithinRange() override { link_.requestAiWithinRange(); }
    void requestUserPosition() override { link_.requestUserPosition(); }
    void sendUserPosition() override;
    void reportLiveryNotCreated(const std::string& name, const std::string& title) override;
    void requestFailed() override { link_.requestFailure(); }

private:
    simlink::SimLink& link_;
    std::vector<simlink::ObjectNotice> raw_;
};

// The client event id of a traffic event name; 0 for a name the link does
// not register.
std::uint32_t trafficEventId(std::string_view name);

// The notice as the traffic tick reads it.
traffic::ObjectNotice translateNotice(const simlink::ObjectNotice& n);

// The services drawn from the program's modules. The park airport, stands,
// ground movement, static parking and collision rules stay unset until
// those subsystems exist.
traffic::TrafficServices programTrafficServices();

// Logs the live traffic's totals (nothing when no aircraft was seen).
void logTrafficSummary();

// Puts the program's simulator link and services behind the traffic tick and
// fills the traffic hooks. Call after installSimlinkHooks(): the link's own
// parts of the shared hooks are kept, its stand-in tick is replaced.
void installProgramTraffic();

}  // namespace vntx
