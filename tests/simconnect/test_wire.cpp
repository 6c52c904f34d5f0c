#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "simconnect/wire.h"

using namespace vntx::simconnect;
using namespace vntx::simconnect::wire;

namespace {

SIMCONNECT_DATA_INITPOSITION somePosition() { return {47.5, 8.5, 1400, -2, 3, 270, 1, 0xFFFFFFFFu}; }

// Every operation with its number and total size, built the way the client sends it.
struct Built {
    DWORD op;
    std::size_t size;
    Bytes bytes;
};

std::vector<Built> everyOperation() {
    std::vector<Built> all;
    auto add = [&](DWORD op, std::size_t size, auto&& encode) {
        Built b{op, size, {}};
        EXPECT_EQ(encode(b.bytes), S_OK) << operationName(op);
        all.push_back(std::move(b));
    };
    double block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    add(OP_OPEN, 296, [](Bytes& m) { return encodeOpen(m, "Ventrix_P3D"); });
    add(OP_MAP_CLIENT_EVENT_TO_SIM_EVENT, 276, [](Bytes& m) { return encodeMapClientEventToSimEvent(m, 220, "GEAR_SET"); });
    add(OP_TRANSMIT_CLIENT_EVENT, 36, [](Bytes& m) { return encodeTransmitClientEvent(m, 7, 215, 1, 301, 0); });
    add(OP_ADD_CLIENT_EVENT_TO_NOTIFICATION_GROUP, 28,
        [](Bytes& m) { return encodeAddClientEventToNotificationGroup(m, 301, 208, 1); });
    add(OP_SET_NOTIFICATION_GROUP_PRIORITY, 24, [](Bytes& m) { return encodeSetNotificationGroupPriority(m, 301, 1); });
    add(OP_ADD_TO_DATA_DEFINITION, 544, [](Bytes& m) {
        return encodeAddToDataDefinition(m, 402, "Plane Latitude", "degree", SIMCONNECT_DATATYPE_FLOAT64, 0,
                                         SIMCONNECT_UNUSED);
    });
    add(OP_REQUEST_DATA_ON_SIM_OBJECT, 48, [](Bytes& m) { return encodeRequestDataOnSimObject(m, 109, 403, 0, 1, 0, 0, 0, 0); });
    add(OP_REQUEST_DATA_ON_SIM_OBJECT_TYPE, 32, [](Bytes& m) { return encodeRequestDataOnSimObjectType(m, 101, 404, 92600, 2); });
    add(OP_SET_DATA_ON_SIM_OBJECT, 100, [&](Bytes& m) { return encodeSetDataOnSimObject(m, 402, 9, 0, 0, 64, block); });
    add(OP_SUBSCRIBE_TO_SYSTEM_EVENT, 276, [](Bytes& m) { return encodeSubscribeToSystemEvent(m, 201, "Sim"); });
    add(OP_AI_CREATE_NON_ATC_AIRCRAFT, 344,
        [](Bytes& m) { return encodeAICreateNonATCAircraft(m, "Boeing 737-800 Test", "SWR123", somePosition(), 104); });
    add(OP_AI_RELEASE_CONTROL, 24, [](Bytes& m) { return encodeAIReleaseControl(m, 9, 103); });
    add(OP_AI_REMOVE_OBJECT, 24, [](Bytes& m) { return encodeAIRemoveObject(m, 9, 105); });
    add(OP_AI_SET_AIRCRAFT_FLIGHT_PLAN, 284,
        [](Bytes& m) { return encodeAISetAircraftFlightPlan(m, 9, "orig_dest\\SWR123", 110); });
    return all;
}

}  // namespace

TEST(SimConnectWire, EveryOperationHasItsHeaderSizeAndFields) {
    for (const auto& b : everyOperation()) {
        SCOPED_TRACE(operationName(b.op));
        ASSERT_EQ(b.bytes.size(), b.size);
        EXPECT_EQ(readU32(b.bytes.data()), b.size);
        EXPECT_EQ(readU32(b.bytes.data() + 4), 35u);
        EXPECT_EQ(readU32(b.bytes.data() + 8), 0xF0000000u | b.op);
        Request r;
        ASSERT_EQ(decodeRequest(b.bytes, r), RequestStatus::Ok);
        EXPECT_EQ(r.op, b.op);
    }
    auto all = everyOperation();
    Request r;
    decodeRequest(all[10].bytes, r);  // the creation
    EXPECT_EQ(r.name, "Boeing 737-800 Test");
    EXPECT_EQ(r.units, "SWR123");
    EXPECT_DOUBLE_EQ(r.position.Latitude, 47.5);
    EXPECT_DOUBLE_EQ(r.position.Heading, 270);
    EXPECT_EQ(r.position.OnGround, 1u);
    EXPECT_EQ(r.position.Airspeed, 0xFFFFFFFFu);
    EXPECT_EQ(r.requestId, 104u);
    EXPECT_EQ(readU32(all[10].bytes.data() + 340), 104u);  // request id is the last word
    decodeRequest(all[8].bytes, r);  // the position block
    EXPECT_EQ(r.arrayCount, 1u);     // 0 goes on the wire as one element
    EXPECT_EQ(r.unitSize, 64u);
    double last;
    std::memcpy(&last, r.payload.data() + 56, 8);
    EXPECT_DOUBLE_EQ(last, 8);
    decodeRequest(all[0].bytes, r);
    EXPECT_EQ(r.name, "Ventrix_P3D");
    EXPECT_EQ(std::string(r.clientVersion.tag + 1, 3), "XSF");
}

TEST(SimConnectWire, StringsThatDoNotFitTheirFieldAreRefused) {
    Bytes m;
    const std::string title255(255, 'T'), title256(256, 'T');
    EXPECT_EQ(encodeAICreateNonATCAircraft(m, title255.c_str(), "ABCDEFGHIJK", somePosition(), 104), S_OK);
    EXPECT_EQ(m.size(), 344u);
    Request r;
    ASSERT_EQ(decodeRequest(m, r), RequestStatus::Ok);
    EXPECT_EQ(r.name, title255);
    EXPECT_EQ(r.units, "ABCDEFGHIJK");

    EXPECT_EQ(encodeAICreateNonATCAircraft(m, title256.c_str(), "SWR1", somePosition(), 104), E_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(m.empty());
    EXPECT_EQ(encodeAICreateNonATCAircraft(m, "ok", "ABCDEFGHIJKL", somePosition(), 104), E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(static_cast<std::uint32_t>(E_INSUFFICIENT_BUFFER), 0x8007007Au);
    EXPECT_EQ(encodeAISetAircraftFlightPlan(m, 1, std::string(260, 'p').c_str(), 110), E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(encodeAISetAircraftFlightPlan(m, 1, std::string(259, 'p').c_str(), 110), S_OK);
    EXPECT_EQ(encodeAddToDataDefinition(m, 1, "TITLE", std::string(256, 'u').c_str(), 11, 0, 0), E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(encodeOpen(m, std::string(256, 'n').c_str()), E_INSUFFICIENT_BUFFER);
}

TEST(SimConnectWire, SetDataRefusesMissingOrOversizedBlocks) {
    Bytes m;
    EXPECT_EQ(encodeSetDataOnSimObject(m, 402, 9, 0, 1, 64, nullptr), E_FAIL);
    std::vector<std::uint8_t> big(64);
    // 2^26 elements of 64 bytes would overflow a 32-bit size word.
    EXPECT_EQ(encodeSetDataOnSimObject(m, 402, 9, 0, 1u << 26, 64, big.data()), E_FAIL);
    EXPECT_EQ(encodeSetDataOnSimObject(m, 402, 9, 0, 2, 32, big.data()), S_OK);
    EXPECT_EQ(m.size(), 100u);
}

TEST(SimConnectWire, RequestsWithWrongSizesOrOperationsAreRecognised) {
    Bytes m;
    encodeAIRemoveObject(m, 5, 105);
    Request r;
    auto truncated = m;
    truncated.pop_back();
    writeU32(truncated.data(), static_cast<DWORD>(truncated.size()));
    EXPECT_EQ(decodeRequest(truncated, r), RequestStatus::SizeMismatch);
    auto unknown = m;
    writeU32(unknown.data() + 8, 0xF0000099u);
    EXPECT_EQ(decodeRequest(unknown, r), RequestStatus::UnknownOperation);
    auto noBits = m;
    writeU32(noBits.data() + 8, OP_AI_REMOVE_OBJECT);
    EXPECT_EQ(decodeRequest(noBits, r), RequestStatus::UnknownOperation);
    double block[8] = {};
    encodeSetDataOnSimObject(m, 402, 9, 0, 1, 64, block);
    writeU32(m.data() + 32, 60);  // unit size no longer matches the data
    EXPECT_EQ(decodeRequest(m, r), RequestStatus::SizeMismatch);
}

namespace {

Bytes threeReplies() {
    Bytes stream;
    const DWORD v[4] = {5, 4, 9, 28482};
    appendOpenReply(stream, 35, "Lockheed Martin\xAE Prepar3D\xAE v5", v, v);
    appendFrameEvent(stream, 35, 204, 30.0f, 1.0f);
    std::uint8_t data[12] = {'A', 'B', 0, 'x', 'y', 'z', 0, 1, 2, 3, 4, 5};
    appendObjectData(stream, 35, SIMCONNECT_RECV_ID_SIMOBJECT_DATA, 106, 1, 407, 0, 1, 1, 1, data);
    return stream;
}

std::vector<Bytes> frame(const Bytes& stream, std::size_t piece) {
    Framer f(kRecvHeaderSize, kDefaultMaxReceiveSize);
    std::vector<Bytes> out;
    for (std::size_t i = 0; i < stream.size(); i += piece) {
        f.append(stream.data() + i, std::min(piece, stream.size() - i));
        ByteView m;
        while (f.next(m)) out.emplace_back(m.begin(), m.end());
    }
    EXPECT_FALSE(f.corrupt());
    EXPECT_EQ(f.buffered(), 0u);
    return out;
}

}  // namespace

TEST(SimConnectFraming, SplitAndCoalescedReadsGiveTheSameWholeMessages) {
    Bytes stream = threeReplies();
    auto whole = frame(stream, stream.size());  // all three in one read
    ASSERT_EQ(whole.size(), 3u);
    EXPECT_EQ(whole[0].size(), 308u);
    EXPECT_EQ(whole[1].size(), 36u);
    EXPECT_EQ(whole[2].size(), 52u);
    for (std::size_t piece : {1u, 3u, 7u, 200u, 309u})
        EXPECT_EQ(frame(stream, piece), whole) << "reads of " << piece << " bytes";
}

TEST(SimConnectFraming, SizesOutsideTheLimitsMarkTheStreamCorrupt) {
    for (DWORD bad : {0u, 11u, 41089u}) {
        Framer f(kRecvHeaderSize, kDefaultMaxReceiveSize);
        std::uint8_t word[4];
        writeU32(word, bad);
        f.append(word, 4);
        ByteView m;
        EXPECT_FALSE(f.next(m));
        EXPECT_TRUE(f.corrupt()) << bad;
    }
    Framer f(kRecvHeaderSize, kDefaultMaxReceiveSize);
    std::uint8_t word[4];
    writeU32(word, 41088);
    f.append(word, 4);
    ByteView m;
    EXPECT_FALSE(f.next(m));
    EXPECT_FALSE(f.corrupt());  // the largest allowed message is just incomplete
}

TEST(SimConnectReceive, DecodesRepliesAndRefusesTruncatedOnes) {
    auto msgs = frame(threeReplies(), 1000);
    auto open = decodeReceived(msgs[0]);
    ASSERT_TRUE(open);
    EXPECT_EQ(open->id, SIMCONNECT_RECV_ID_OPEN);
    EXPECT_EQ(open->applicationName, "Lockheed Martin\xAE Prepar3D\xAE v5");
    EXPECT_EQ(open->applicationVersion[3], 28482u);
    auto frameEvent = decodeReceived(msgs[1]);
    EXPECT_FLOAT_EQ(frameEvent->frameRate, 30.0f);
    EXPECT_EQ(frameEvent->eventId, 204u);
    ASSERT_TRUE(frameEvent->eventFlags);

    auto data = decodeReceived(msgs[2]);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->requestId, 106u);
    DatumReader reader(data->objectData);
    std::string a, b;
    EXPECT_TRUE(reader.stringV(a));
    EXPECT_TRUE(reader.stringV(b));
    EXPECT_EQ(a, "AB");
    EXPECT_EQ(b, "xyz");
    double d;
    EXPECT_FALSE(reader.float64(d));  // five bytes left: not enough, and nothing consumed
    EXPECT_EQ(reader.remaining(), 5u);

    // The FSX form of a frame event (no flags word) is still read.
    Bytes fsx(msgs[1].begin(), msgs[1].end() - 4);
    writeU32(fsx.data(), 32);
    auto shortFrame = decodeReceived(fsx);
    ASSERT_TRUE(shortFrame);
    EXPECT_FALSE(shortFrame->eventFlags);
    // Shorter still is refused, as is a size word that disagrees with the message.
    Bytes cut(fsx.begin(), fsx.end() - 4);
    writeU32(cut.data(), 28);
    EXPECT_FALSE(decodeReceived(cut));
    EXPECT_FALSE(decodeReceived(ByteView(msgs[0].data(), 300)));
}
