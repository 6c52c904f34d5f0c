// Ground traffic near the park airport reaches the traffic code: real Zurich
// ground movements through the traffic reader, before and after static
// parking made Zurich the park airport.
#include <gtest/gtest.h>

#include "airports/parking_services.h"
#include "core/cycle.h"
#include "input/traffic_reader.h"
#include "park_fixture.h"
#include "recording.h"
#include "traffic/traffic_feed.h"

using namespace vntx;
using namespace vntx::test;

namespace {

class GroundTraffic : public ParkFolder {};

// The ground and airborne records the reader queued for the traffic tick.
std::pair<int, int> drain(double lat, double lon, double& farthest) {
    std::deque<TrafficRecord> out;
    takeIncoming(out, 1u << 20);
    int ground = 0, air = 0;
    for (const auto& r : out) {
        if (r.airborne) {
            ++air;
            continue;
        }
        ++ground;
        farthest = std::max(farthest, distanceNm(lat, lon, r.latitude, r.longitude));
    }
    return {ground, air};
}

}  // namespace

TEST_F(GroundTraffic, GroundReportsNearTheParkAirportReachTheTrafficQueueOnceItIsSet) {
    shippedReferenceData();
    std::filesystem::copy_file(std::filesystem::path(VNTX_BUILD_SERVER) / "downloads/P3D/archive/stock/LSZH.xml",
                               tmp / "airports/my_thirdparty/LSZH.xml");
    const auto reports = rtfeed::readRecordingFile(VNTX_SOURCE "/data/traffic/lszh_ground_2019_arranged.rtrec");
    ASSERT_GT(reports.size(), 1000u);
    const AirportEntry* zh = findAirport("LSZH");
    ASSERT_TRUE(zh);
    input::TrafficReader reader;
    reader.setUserPositionForRange(zh->lat, zh->lon);
    auto feed = [&] {
        for (std::size_t i = 0; i < 1500; ++i) reader.processDatagram(rtfeed::trafficDatagram(reports[i], reports[i].time));
    };
    std::deque<TrafficRecord> stale;
    takeIncoming(stale, 1u << 20);
    setCycleRunning(true);
    double farthest = 0;
    feed();
    const auto [groundBefore, airBefore] = drain(zh->lat, zh->lon, farthest);
    EXPECT_EQ(groundBefore, 0);  // no park airport: every ground report is dropped

    ParkingPort port;
    port.user = [zh]() -> std::optional<UserFix> { return UserFix{zh->lat, zh->lon, 1416, true}; };
    port.hasParkFile = [](std::string_view code) { return !findParkFileLocation(code).empty(); };
    port.readParkFile = [](ParkAirport& a) { return gf_readApf(findParkFileLocation(a.code), a); };
    port.parkAirportChanged = [&reader](const std::optional<ParkAirportRefInfo>& r) {
        if (r)
            reader.setParkAirport(input::ParkAirportRef{r->lat, r->lon, r->elevationFt});
        else
            reader.setParkAirport(std::nullopt);
    };
    Parking parking(port);
    parking.statics.updateStaticParking();
    ASSERT_EQ(parking.statics.parkCode(), "LSZH");
    feed();
    const auto [groundAfter, airAfter] = drain(zh->lat, zh->lon, farthest);
    EXPECT_GT(groundAfter, 1000);
    // Airborne reports stay, except those the field's elevation now shows to lie at ground level.
    EXPECT_GT(airAfter, airBefore / 2);
    EXPECT_LE(airAfter, airBefore);
    EXPECT_LE(farthest, 5.0);

    parking.statics.leaveParkAirport();  // out of sight again: dropped again
    feed();
    EXPECT_EQ(drain(zh->lat, zh->lon, farthest).first, 0);
    setCycleRunning(false);
}
