#include "airports/parking_services.h"

#include "airports/catalogue.h"
#include "traffic/ground_motion.h"

namespace vntx {

using traffic::LiveAircraft;

void addParkingServices(traffic::TrafficServices& s, Parking& p) {
    s.parkAirport = [&p]() -> std::optional<traffic::ParkAirportInfo> {
        const auto ref = p.statics.parkAirportRef();
        if (!ref) return std::nullopt;
        traffic::ParkAirportInfo info;
        info.latitude = ref->lat;
        info.longitude = ref->lon;
        info.elevation = ref->elevationFt;
        info.codes.push_back(p.statics.parkCode());
        if (const AirportEntry* a = findAirport(p.statics.parkCode()); a && !a->iata.empty()) info.codes.push_back(a->iata);
        return info;
    };
    s.requestStand = [&p](LiveAircraft& ac) { return p.stands.standAtSpawn(ac); };
    s.freeStand = [&p](LiveAircraft& ac) { p.stands.freeStand(ac); };
    s.standChecks = [&p](LiveAircraft& ac, const TrafficRecord& rec) { return p.stands.standChecks(ac, rec); };
    s.arrivalStep = [&p](LiveAircraft& ac) { p.stands.arrivalStep(ac); };
    s.parksStep = [&p](LiveAircraft& ac) { p.stands.parksStep(ac); };
    s.parkingLimits = [&p](LiveAircraft& ac) { p.stands.parkingLimits(ac); };
    s.try2Park = [&p](LiveAircraft& ac, bool wide) { p.stands.try2Park(ac, wide); };
    s.softLearning = [&p](LiveAircraft& ac) { p.stands.softLearning(ac); };
    s.standLabel = [&p](std::int32_t id) { return p.statics.standLabel(id < 0 ? 0u : static_cast<std::uint32_t>(id)); };
    s.staticPlacement = [&p] { p.statics.placementStep(); };
    s.staticCreationWaiting = [&p] { return p.statics.creationWaiting(); };
    s.takeStaticCreation = [&p] { p.statics.takeCreation(); };
    s.staticCreated = [&p](const traffic::ObjectNotice& n) { p.statics.created(n.hexid, n.objectId); };
    s.staticRemoved = [&p](std::uint32_t objectId) { p.statics.removed(objectId); };
    s.staticRefused = [&p](std::uint32_t hexid) { p.statics.refused(hexid); };
    s.couple = [&p](LiveAircraft& ac) { p.statics.couple(ac); };
    s.activeStaticAircraft = [&p] {
        std::vector<traffic::StaticAircraftView> out;
        const auto& stands = p.statics.airport().positions;
        for (const auto& a : p.statics.statics()) {
            if (a.state != StaticAircraft::State::active || a.stand == 0 || a.stand > stands.size()) continue;
            traffic::StaticAircraftView v;
            v.id = a.objectId;
            v.latitude = stands[a.stand - 1].lat;
            v.longitude = stands[a.stand - 1].lon;
            v.halfWingspan = p.statics.port().halfWingspan ? p.statics.port().halfWingspan(a.type) : 0.0;
            v.callsign = a.callsign;
            v.standLabel = p.statics.standLabel(a.stand);
            out.push_back(std::move(v));
        }
        return out;
    };
    s.removeStaticAircraft = [&p](std::uint32_t objectId) { p.statics.removeActive(objectId); };
}

void useGroundMovement(StandAllocation& stands) {
    stands.drive2Stand = [](LiveAircraft& ac) {
        traffic::drive2Stand(ac, ac.standLatitude, ac.standLongitude, ac.standHeading);
    };
    stands.startLeaving = [](LiveAircraft&) {};
}

}  // namespace vntx
