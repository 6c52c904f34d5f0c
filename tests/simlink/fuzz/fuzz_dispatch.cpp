// libFuzzer target: any bytes from the simulator, cut into messages as the
// transport cuts them and handed to the link's dispatch handler: every
// message kind and every data reply the link reads (user position, title,
// model, on-ground, the AI objects in range, static centres of gravity).
// The handler refuses a wrong simulator with a user error and nothing else.
#include <cstddef>
#include <cstdint>

#include "core/errors.h"
#include "core/state.h"
#include "simconnect/wire.h"
#include "simlink/recording_client.h"
#include "simlink/sim_link.h"

using namespace vntx;
using namespace vntx::simconnect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static simlink::test::RecordingClient client;
    simlink::Services s;
    s.hasWingspan = [](std::string_view m) { return m == "B738" || m == "A320"; };
    s.halfWingspan = [](std::string_view) { return 0.0097; };
    s.largestHalfWingspan = [] { return 0.0433; };
    s.categoryOf = [](std::string_view m) { return m == "B738" ? AircraftCategory::Large : AircraftCategory::Light; };
    s.simInstallPath = [] { return std::string("C:/Program Files/Lockheed Martin/Prepar3D v5"); };
    s.configuredVersion = [] { return 5; };
    simlink::SimLink link(client, s);
    resetStopState();
    wire::Framer framer(wire::kRecvHeaderSize, wire::kDefaultMaxReceiveSize);
    framer.append(data, size);
    wire::ByteView m;
    while (framer.next(m)) {
        try {
            link.handleMessage(m.data(), m.size());
        } catch (const UserErrorException&) {
        }
        (void)link.takeNotices();
    }
    client.clear();
    resetStopState();
    return 0;
}
