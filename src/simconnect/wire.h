// SimConnect messages on the wire: building the client's operations,
// reading them back (the simulator stand-in does), building and reading the
// simulator's messages, and cutting a byte stream into messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "simconnect/types.h"

namespace vntx::simconnect::wire {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline constexpr DWORD kProtocolVersion = 35;
inline constexpr DWORD kOperationBits = 0xF0000000u;
inline constexpr std::size_t kHeaderSize = 16;      // outgoing: size, version, id, packet id
inline constexpr std::size_t kRecvHeaderSize = 12;  // incoming: size, version, id
inline constexpr std::size_t kNameField = 256;
inline constexpr std::size_t kPathField = 260;
inline constexpr std::size_t kTailField = 12;
inline constexpr std::size_t kSetDataHeaderSize = 36;
inline constexpr DWORD kDefaultMaxReceiveSize = 41088;
// Largest message the client builds; a data block beyond it is refused.
inline constexpr std::size_t kMaxOutgoingSize = 1u << 20;

enum Operation : DWORD {
    OP_OPEN = 0x01,
    OP_MAP_CLIENT_EVENT_TO_SIM_EVENT = 0x04,
    OP_TRANSMIT_CLIENT_EVENT = 0x05,
    OP_ADD_CLIENT_EVENT_TO_NOTIFICATION_GROUP = 0x07,
    OP_SET_NOTIFICATION_GROUP_PRIORITY = 0x09,
    OP_ADD_TO_DATA_DEFINITION = 0x0C,
    OP_REQUEST_DATA_ON_SIM_OBJECT = 0x0E,
    OP_REQUEST_DATA_ON_SIM_OBJECT_TYPE = 0x0F,
    OP_SET_DATA_ON_SIM_OBJECT = 0x10,
    OP_SUBSCRIBE_TO_SYSTEM_EVENT = 0x17,
    OP_AI_CREATE_NON_ATC_AIRCRAFT = 0x29,
    OP_AI_RELEASE_CONTROL = 0x2B,
    OP_AI_REMOVE_OBJECT = 0x2C,
    OP_AI_SET_AIRCRAFT_FLIGHT_PLAN = 0x2D,
};

// "AICreateNonATCAircraft" etc.; nullptr for an operation we do not know.
const char* operationName(DWORD op);
// The fixed total size of an operation's message (SetDataOnSimObject: its
// header without data); 0 for an unknown operation.
std::size_t operationSize(DWORD op);

// What the client announces in Open.
struct ClientVersion {
    char tag[4] = {0, 'X', 'S', 'F'};
    DWORD major = 10, minor = 0, buildMajor = 61259, buildMinor = 0;
};

// --- client operations. Each replaces `out` with the whole message (packet id 0,
// filled in when sent) and returns S_OK, or E_INSUFFICIENT_BUFFER with `out`
// emptied when a string does not fit its field with its terminating zero.
HRESULT encodeOpen(Bytes& out, const char* name, const ClientVersion& version = {});
HRESULT encodeMapClientEventToSimEvent(Bytes& out, DWORD eventId, const char* eventName);
HRESULT encodeTransmitClientEvent(Bytes& out, DWORD objectId, DWORD eventId, DWORD data, DWORD groupId, DWORD flags);
HRESULT encodeAddClientEventToNotificationGroup(Bytes& out, DWORD groupId, DWORD eventId, BOOL maskable);
HRESULT encodeSetNotificationGroupPriority(Bytes& out, DWORD groupId, DWORD priority);
HRESULT encodeAddToDataDefinition(Bytes& out, DWORD defineId, const char* datumName, const char* unitsName,
                                  DWORD datumType, float epsilon, DWORD datumId);
HRESULT encodeRequestDataOnSimObject(Bytes& out, DWORD requestId, DWORD defineId, DWORD objectId, DWORD period,
                                     DWORD flags, DWORD origin, DWORD interval, DWORD limit);
HRESULT encodeRequestDataOnSimObjectType(Bytes& out, DWORD requestId, DWORD defineId, DWORD radiusMeters, DWORD type);
// E_FAIL when the data block is missing or would make the message larger than kMaxOutgoingSize.
HRESULT encodeSetDataOnSimObject(Bytes& out, DWORD defineId, DWORD objectId, DWORD flags, DWORD arrayCount,
                                 DWORD unitSize, const void* data);
HRESULT encodeSubscribeToSystemEvent(Bytes& out, DWORD eventId, const char* eventName);
HRESULT encodeAICreateNonATCAircraft(Bytes& out, const char* title, const char* tailNumber,
                                     const SIMCONNECT_DATA_INITPOSITION& pos, DWORD requestId);
HRESULT encodeAIReleaseControl(Bytes& out, DWORD objectId, DWORD requestId);
HRESULT encodeAIRemoveObject(Bytes& out, DWORD objectId, DWORD requestId);
HRESULT encodeAISetAircraftFlightPlan(Bytes& out, DWORD objectId, const char* path, DWORD requestId);

// Little-endian words inside a message.
DWORD readU32(const std::uint8_t* p);
void writeU32(std::uint8_t* p, DWORD v);

// --- reading a client operation (the simulator's side).
enum class RequestStatus { Ok, TooShort, UnknownOperation, SizeMismatch };

struct Request {
    DWORD size = 0, version = 0, op = 0, packetId = 0;
    // The operation's fields; each operation fills the ones it has.
    DWORD objectId = 0, eventId = 0, data = 0, groupId = 0, flags = 0, maskable = 0, priority = 0;
    DWORD defineId = 0, datumType = 0, datumId = 0, requestId = 0, period = 0, origin = 0, interval = 0,
          limit = 0, radius = 0, objectType = 0, arrayCount = 0, unitSize = 0, reserved = 0;
    float epsilon = 0;
    std::string name;   // app name, event name, datum name, title, flight plan path
    std::string units;  // units name, tail number
    SIMCONNECT_DATA_INITPOSITION position{};
    ClientVersion clientVersion;
    ByteView payload;   // SetDataOnSimObject data (points into the message)
};
RequestStatus decodeRequest(ByteView message, Request& out);

// --- the simulator's messages. Each appends one message to `out`; the event
// kinds are written in Prepar3D's form with a trailing flags word.
void appendOpenReply(Bytes& out, DWORD version, std::string_view appName, const DWORD appVersion[4],
                     const DWORD simConnectVersion[4]);
void appendException(Bytes& out, DWORD version, DWORD exception, DWORD sendId, DWORD index);
void appendQuit(Bytes& out, DWORD version);
void appendEvent(Bytes& out, DWORD version, DWORD groupId, DWORD eventId, DWORD data);
void appendObjectAddRemove(Bytes& out, DWORD version, DWORD eventId, DWORD objectId, DWORD objectType);
void appendFileNameEvent(Bytes& out, DWORD version, DWORD eventId, std::string_view fileName);
void appendFrameEvent(Bytes& out, DWORD version, DWORD eventId, float frameRate, float simSpeed);
void appendObjectData(Bytes& out, DWORD version, DWORD recvId, DWORD requestId, DWORD objectId, DWORD defineId,
                      DWORD flags, DWORD entry, DWORD outOf, DWORD defineCount, ByteView data);
void appendAssignedObjectId(Bytes& out, DWORD version, DWORD requestId, DWORD objectId);

// --- reading the simulator's messages (the client's side). Fields are
// checked against the message size; nullopt when the message is too short
// for its kind. Unknown kinds decode with only the header filled.
struct Received {
    DWORD size = 0, version = 0, id = 0;
    DWORD exception = 0, sendId = 0, index = 0;
    std::string applicationName;
    DWORD applicationVersion[4] = {}, simConnectVersion[4] = {};
    DWORD groupId = 0, eventId = 0, data = 0, objectType = 0;
    float frameRate = 0, simSpeed = 0;
    std::string fileName;
    std::optional<DWORD> eventFlags;  // present in Prepar3D's form only
    DWORD requestId = 0, objectId = 0, defineId = 0, flags = 0, entryNumber = 0, outOf = 0, defineCount = 0;
    ByteView objectData;  // points into the message
};
std::optional<Received> decodeReceived(ByteView message);

// Walks the datums of a data reply in definition order. Every read checks
// the remaining bytes and fails without moving when they are too few.
class DatumReader {
public:
    explicit DatumReader(ByteView data) : data_(data) {}
    bool float64(double& v);
    bool float32(float& v);
    bool int64(std::int64_t& v);
    bool int32(std::int32_t& v);
    bool fixedString(std::size_t width, std::string& v);  // up to the first zero
    bool stringV(std::string& v);                         // characters and one zero
    std::size_t remaining() const { return data_.size() - pos_; }

private:
    ByteView data_;
    std::size_t pos_ = 0;
};

// Bytes one datum of a type takes in a data reply (0 for STRINGV and unknown types).
std::size_t datumSize(DWORD type);

// Cuts a byte stream into whole messages by their leading size word.
class Framer {
public:
    Framer(std::size_t minSize, std::size_t maxSize) : min_(minSize), max_(maxSize) {}
    void append(const std::uint8_t* data, std::size_t size);
    // The next whole message, valid until the next append; false when none is
    // complete yet or the stream is corrupt (a size outside [min, max]).
    bool next(ByteView& message);
    bool corrupt() const { return corrupt_; }
    std::size_t buffered() const { return buffer_.size() - head_; }

private:
    std::size_t min_, max_;
    Bytes buffer_;
    std::size_t head_ = 0;
    bool corrupt_ = false;
};

}  // namespace vntx::simconnect::wire
