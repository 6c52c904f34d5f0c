// Writes the seed streams of the simulator-message fuzz targets into a
// folder: one message of each kind the simulator sends, and the data replies
// the link asks for (made with the wire encoders; the fuzzer varies them).
//   make_wire_seeds <folder>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "simconnect/wire.h"
#include "simlink/ids.h"

using namespace vntx::simconnect;
using namespace vntx::simconnect::wire;
using namespace vntx::simlink;

namespace {

template <typename T>
void put(std::vector<std::uint8_t>& out, T v) {
    std::uint8_t b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    out.insert(out.end(), b, b + sizeof(T));
}

void putText(std::vector<std::uint8_t>& out, const std::string& s, std::size_t width) {
    std::string t = s;
    t.resize(width, '\0');
    out.insert(out.end(), t.begin(), t.end());
}

void save(const std::string& folder, const std::string& name, const Bytes& b) {
    std::ofstream(folder + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                                               static_cast<std::streamsize>(b.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string dir = argv[1];
    const DWORD v5[4] = {5, 4, 0, 0}, sc[4] = {5, 0, 0, 0}, v3[4] = {3, 4, 0, 0};

    Bytes open;
    appendOpenReply(open, 4, "Lockheed Martin\xAE Prepar3D\xAE v5", v5, sc);
    appendEvent(open, 4, kNotificationGroup, EVT_SIM, 1);
    save(dir, "open_v5_running", open);
    Bytes old;
    appendOpenReply(old, 4, "Prepar3D", v3, sc);
    save(dir, "open_v3", old);

    Bytes events;
    appendObjectAddRemove(events, 4, EVT_OBJECT_ADDED, 7, SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT);
    appendObjectAddRemove(events, 4, EVT_OBJECT_REMOVED, 7, SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT);
    appendFrameEvent(events, 4, EVT_FRAME, 30.0f, 1.0f);
    appendFileNameEvent(events, 4, EVT_FLIGHT_LOADED, "flight.fxml");
    appendException(events, 4, 1, 12, 3);
    appendAssignedObjectId(events, 4, REQ_AI_CREATE, 9);
    appendQuit(events, 4);
    save(dir, "events", events);

    std::vector<std::uint8_t> pos;  // lat, lon, alt, pitch, bank, heading, tas, ground
    for (double d : {47.45, 8.55, 1416.0, 0.0, 0.0, 1.57, 0.0, 1.0}) put(pos, d);
    Bytes user;
    appendObjectData(user, 4, SIMCONNECT_RECV_ID_SIMOBJECT_DATA, REQ_USER_POSITION, 1, DEF_USER_POSITION, 0, 0, 1, 8,
                     pos);
    std::vector<std::uint8_t> title;
    putText(title, "Boeing 737-800 KLM", 256);
    appendObjectData(user, 4, SIMCONNECT_RECV_ID_SIMOBJECT_DATA, REQ_USER_TITLE, 1, DEF_USER_TITLE, 0, 0, 1, 1, title);
    std::vector<std::uint8_t> model;
    putText(model, "B738", 32);
    putText(model, "KLM", 64);
    appendObjectData(user, 4, SIMCONNECT_RECV_ID_SIMOBJECT_DATA, REQ_USER_MODEL, 1, DEF_USER_MODEL, 0, 0, 1, 2, model);
    std::vector<std::uint8_t> ground;
    put(ground, 1.0);
    appendObjectData(user, 4, SIMCONNECT_RECV_ID_SIMOBJECT_DATA, REQ_USER_ON_GROUND, 1, DEF_USER_ON_GROUND, 0, 0, 1, 1,
                     ground);
    save(dir, "user_aircraft", user);

    Bytes ai;
    for (DWORD entry = 1; entry <= 3; ++entry) {
        std::vector<std::uint8_t> d;
        for (double x : {47.45 + entry * 0.001, 8.55, 1416.0, 90.0}) put(d, x);
        putText(d, "SWR12" + std::to_string(entry), 32);
        appendObjectData(ai, 4, SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE, REQ_AI_WITHIN_RANGE, 10 + entry,
                         DEF_AI_OBJECT, 0, entry, 3, 5, d);
    }
    std::vector<std::uint8_t> cg;
    put(cg, 0.25);
    put(cg, 3.5);
    appendObjectData(ai, 4, SIMCONNECT_RECV_ID_SIMOBJECT_DATA, REQ_STATIC_CG, 11, DEF_STATIC_CG, 0, 0, 1, 2, cg);
    save(dir, "ai_objects", ai);
    return 0;
}
