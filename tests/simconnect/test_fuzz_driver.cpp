// A bounded run of the receive fuzz target with seeded random inputs: raw
// noise, and valid message streams with bytes flipped, cut or inserted.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "simconnect/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

using namespace vntx::simconnect;
using namespace vntx::simconnect::wire;

namespace {

Bytes validStream() {
    Bytes s;
    const DWORD v[4] = {5, 4, 0, 0};
    appendOpenReply(s, 35, "P3D v5", v, v);
    appendObjectAddRemove(s, 35, 202, 7, 2);
    std::uint8_t data[60] = {};
    std::memcpy(data + 24, "SWR123", 6);
    appendObjectData(s, 35, SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE, 101, 7, 404, 0, 1, 1, 4, data);
    appendFileNameEvent(s, 35, 206, "flight.fxml");
    Bytes op;
    SIMCONNECT_DATA_INITPOSITION p{};
    encodeAICreateNonATCAircraft(op, "Title", "TAIL", p, 104);
    s.insert(s.end(), op.begin(), op.end());
    double block[8] = {};
    encodeSetDataOnSimObject(op, 402, 7, 0, 1, 64, block);
    s.insert(s.end(), op.begin(), op.end());
    return s;
}

}  // namespace

TEST(SimConnectFuzz, BoundedRandomInputsNeverCrash) {
    std::mt19937 rng(20240601);
    const Bytes valid = validStream();
    const int runs = 20000;
    for (int run = 0; run < runs; ++run) {
        Bytes input;
        input.push_back(static_cast<std::uint8_t>(rng()));
        if (run % 2 == 0) {
            std::size_t n = rng() % 2048;
            for (std::size_t i = 0; i < n; ++i) input.push_back(static_cast<std::uint8_t>(rng()));
            // Plausible size words make the framer cut messages out of noise.
            if (n >= 4) writeU32(input.data() + 1, 12 + rng() % 64);
        } else {
            input.insert(input.end(), valid.begin(), valid.end());
            int edits = 1 + static_cast<int>(rng() % 8);
            for (int e = 0; e < edits && input.size() > 2; ++e) {
                std::size_t at = 1 + rng() % (input.size() - 1);
                switch (rng() % 3) {
                case 0: input[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8)); break;
                case 1: input.resize(at); break;
                default: input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rng()));
                }
            }
        }
        ASSERT_EQ(LLVMFuzzerTestOneInput(input.data(), input.size()), 0);
    }
}

TEST(SimConnectFuzz, TheValidStreamIsReadInFullAtEveryReadSize) {
    // Guards the driver itself: unmutated input must reach every decoder.
    const Bytes valid = validStream();
    for (int piece = 1; piece <= 256; piece += 51) {
        Framer f(kRecvHeaderSize, kDefaultMaxReceiveSize);
        int messages = 0;
        for (std::size_t off = 0; off < valid.size(); off += piece) {
            f.append(valid.data() + off, std::min<std::size_t>(piece, valid.size() - off));
            ByteView m;
            while (f.next(m)) {
                ++messages;
                Request r;
                bool isRequest = decodeRequest(m, r) == RequestStatus::Ok;
                EXPECT_TRUE(isRequest || decodeReceived(m).has_value());
            }
        }
        EXPECT_EQ(messages, 6) << piece;
    }
}
