// Fuzz target: arbitrary bytes arriving on either side of the connection.
// Cuts them into messages the way the client and the simulator stand-in do,
// and reads every message as a simulator message and as a client operation.
#include <cstddef>
#include <cstdint>

#include "simconnect/wire.h"

using namespace vntx::simconnect::wire;

namespace {

void walkData(ByteView data) {
    DatumReader r(data);
    std::string s;
    double d;
    std::int64_t i;
    // A mix of the datum kinds the simulator link reads.
    while (r.remaining() > 0) {
        if (!r.float64(d) || !r.int64(i) || !r.fixedString(32, s)) break;
        if (!r.stringV(s)) break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the read size, so messages split across reads.
    std::size_t piece = static_cast<std::size_t>(data[0]) + 1;
    ++data;
    --size;
    Framer client(kRecvHeaderSize, kDefaultMaxReceiveSize);
    Framer server(kHeaderSize, 1u << 20);
    for (std::size_t off = 0; off < size; off += piece) {
        std::size_t n = size - off < piece ? size - off : piece;
        client.append(data + off, n);
        server.append(data + off, n);
        ByteView m;
        while (client.next(m)) {
            if (auto r = decodeReceived(m)) walkData(r->objectData);
        }
        while (server.next(m)) {
            Request req;
            if (decodeRequest(m, req) == RequestStatus::Ok) walkData(req.payload);
        }
    }
    return 0;
}
