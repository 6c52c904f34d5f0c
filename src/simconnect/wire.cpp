#include "simconnect/wire.h"

#include <algorithm>
#include <cstring>

namespace vntx::simconnect::wire {
namespace {

struct OperationInfo {
    DWORD op;
    const char* name;
    std::size_t size;
};

constexpr OperationInfo kOperations[] = {
    {OP_OPEN, "Open", 296},
    {OP_MAP_CLIENT_EVENT_TO_SIM_EVENT, "MapClientEventToSimEvent", 276},
    {OP_TRANSMIT_CLIENT_EVENT, "TransmitClientEvent", 36},
    {OP_ADD_CLIENT_EVENT_TO_NOTIFICATION_GROUP, "AddClientEventToNotificationGroup", 28},
    {OP_SET_NOTIFICATION_GROUP_PRIORITY, "SetNotificationGroupPriority", 24},
    {OP_ADD_TO_DATA_DEFINITION, "AddToDataDefinition", 544},
    {OP_REQUEST_DATA_ON_SIM_OBJECT, "RequestDataOnSimObject", 48},
    {OP_REQUEST_DATA_ON_SIM_OBJECT_TYPE, "RequestDataOnSimObjectType", 32},
    {OP_SET_DATA_ON_SIM_OBJECT, "SetDataOnSimObject", kSetDataHeaderSize},
    {OP_SUBSCRIBE_TO_SYSTEM_EVENT, "SubscribeToSystemEvent", 276},
    {OP_AI_CREATE_NON_ATC_AIRCRAFT, "AICreateNonATCAircraft", 344},
    {OP_AI_RELEASE_CONTROL, "AIReleaseControl", 24},
    {OP_AI_REMOVE_OBJECT, "AIRemoveObject", 24},
    {OP_AI_SET_AIRCRAFT_FLIGHT_PLAN, "AISetAircraftFlightPlan", 284},
};

const OperationInfo* findOperation(DWORD op) {
    for (const auto& o : kOperations)
        if (o.op == op) return &o;
    return nullptr;
}

// Appends little-endian fields to a message.
class Builder {
public:
    explicit Builder(Bytes& out) : out_(out) {}
    void u32(DWORD v) {
        std::uint8_t b[4];
        writeU32(b, v);
        out_.insert(out_.end(), b, b + 4);
    }
    void f32(float v) {
        DWORD w;
        std::memcpy(&w, &v, 4);
        u32(w);
    }
    void f64(double v) {
        std::uint64_t w;
        std::memcpy(&w, &v, 8);
        u32(static_cast<DWORD>(w));
        u32(static_cast<DWORD>(w >> 32));
    }
    void raw(const void* p, std::size_t n) {
        auto* b = static_cast<const std::uint8_t*>(p);
        out_.insert(out_.end(), b, b + n);
    }
    void zeros(std::size_t n) { out_.insert(out_.end(), n, 0); }
    // A fixed, zero-filled field; the text is cut when too long.
    void text(std::string_view s, std::size_t width) {
        std::size_t n = std::min(s.size(), width - 1);
        raw(s.data(), n);
        zeros(width - n);
    }

private:
    Bytes& out_;
};

std::size_t cstrLength(const char* s) { return s ? std::strlen(s) : 0; }
bool fits(const char* s, std::size_t width) { return cstrLength(s) < width; }

void begin(Bytes& out, DWORD op, std::size_t reserve) {
    out.clear();
    out.reserve(reserve);
    Builder b(out);
    b.u32(0);  // size, patched by finish
    b.u32(kProtocolVersion);
    b.u32(kOperationBits | op);
    b.u32(0);  // packet id, filled in when sent
}

HRESULT finish(Bytes& out) {
    writeU32(out.data(), static_cast<DWORD>(out.size()));
    return S_OK;
}

HRESULT refuse(Bytes& out) {
    out.clear();
    return E_INSUFFICIENT_BUFFER;
}

void appendRecvHeader(Bytes& out, DWORD size, DWORD version, DWORD id) {
    Builder b(out);
    b.u32(size);
    b.u32(version);
    b.u32(id);
}

std::string fixedText(const std::uint8_t* p, std::size_t width) {
    auto* end = static_cast<const std::uint8_t*>(std::memchr(p, 0, width));
    return std::string(reinterpret_cast<const char*>(p), end ? static_cast<std::size_t>(end - p) : width);
}

double readF64(const std::uint8_t* p) {
    double v;
    std::memcpy(&v, p, 8);
    return v;
}
float readF32(const std::uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace

DWORD readU32(const std::uint8_t* p) {
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
           static_cast<DWORD>(p[3]) << 24;
}

void writeU32(std::uint8_t* p, DWORD v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

const char* operationName(DWORD op) {
    auto* o = findOperation(op);
    return o ? o->name : nullptr;
}

std::size_t operationSize(DWORD op) {
    auto* o = findOperation(op);
    return o ? o->size : 0;
}

HRESULT encodeOpen(Bytes& out, const char* name, const ClientVersion& version) {
    if (!fits(name, kNameField)) return refuse(out);
    begin(out, OP_OPEN, 296);
    Builder b(out);
    b.text(name ? name : "", kNameField);
    b.u32(0);
    b.raw(version.tag, 4);
    b.u32(version.major);
    b.u32(version.minor);
    b.u32(version.buildMajor);
    b.u32(version.buildMinor);
    return finish(out);
}

HRESULT encodeMapClientEventToSimEvent(Bytes& out, DWORD eventId, const char* eventName) {
    if (!fits(eventName, kNameField)) return refuse(out);
    begin(out, OP_MAP_CLIENT_EVENT_TO_SIM_EVENT, 276);
    Builder b(out);
    b.u32(eventId);
    b.text(eventName ? eventName : "", kNameField);
    return finish(out);
}

HRESULT encodeTransmitClientEvent(Bytes& out, DWORD objectId, DWORD eventId, DWORD data, DWORD groupId,
                                  DWORD flags) {
    begin(out, OP_TRANSMIT_CLIENT_EVENT, 36);
    Builder b(out);
    b.u32(objectId);
    b.u32(eventId);
    b.u32(data);
    b.u32(groupId);
    b.u32(flags);
    return finish(out);
}

HRESULT encodeAddClientEventToNotificationGroup(Bytes& out, DWORD groupId, DWORD eventId, BOOL maskable) {
    begin(out, OP_ADD_CLIENT_EVENT_TO_NOTIFICATION_GROUP, 28);
    Builder b(out);
    b.u32(groupId);
    b.u32(eventId);
    b.u32(maskable ? 1 : 0);
    return finish(out);
}

HRESULT encodeSetNotificationGroupPriority(Bytes& out, DWORD groupId, DWORD priority) {
    begin(out, OP_SET_NOTIFICATION_GROUP_PRIORITY, 24);
    Builder b(out);
    b.u32(groupId);
    b.u32(priority);
    return finish(out);
}

HRESULT encodeAddToDataDefinition(Bytes& out, DWORD defineId, const char* datumName, const char* unitsName,
                                  DWORD datumType, float epsilon, DWORD datumId) {
    if (!fits(datumName, kNameField) || !fits(unitsName, kNameField)) return refuse(out);
    begin(out, OP_ADD_TO_DATA_DEFINITION, 544);
    Builder b(out);
    b.u32(defineId);
    b.text(datumName ? datumName : "", kNameField);
    b.text(unitsName ? unitsName : "", kNameField);
    b.u32(datumType);
    b.f32(epsilon);
    b.u32(datumId);
    return finish(out);
}

HRESULT encodeRequestDataOnSimObject(Bytes& out, DWORD requestId, DWORD defineId, DWORD objectId, DWORD period,
                                     DWORD flags, DWORD origin, DWORD interval, DWORD limit) {
    begin(out, OP_REQUEST_DATA_ON_SIM_OBJECT, 48);
    Builder b(out);
    for (DWORD v : {requestId, defineId, objectId, period, flags, origin, interval, limit}) b.u32(v);
    return finish(out);
}

HRESULT encodeRequestDataOnSimObjectType(Bytes& out, DWORD requestId, DWORD defineId, DWORD radiusMeters,
                                         DWORD type) {
    begin(out, OP_REQUEST_DATA_ON_SIM_OBJECT_TYPE, 32);
    Builder b(out);
    for (DWORD v : {requestId, defineId, radiusMeters, type}) b.u32(v);
    return finish(out);
}

HRESULT encodeSetDataOnSimObject(Bytes& out, DWORD defineId, DWORD objectId, DWORD flags, DWORD arrayCount,
                                 DWORD unitSize, const void* data) {
    // An array count of 0 means one element; it goes on the wire as 1.
    DWORD count = arrayCount == 0 ? 1 : arrayCount;
    std::uint64_t bytes = static_cast<std::uint64_t>(count) * unitSize;
    if ((bytes > 0 && !data) || bytes > kMaxOutgoingSize - kSetDataHeaderSize) {
        out.clear();
        return E_FAIL;
    }
    begin(out, OP_SET_DATA_ON_SIM_OBJECT, kSetDataHeaderSize + bytes);
    Builder b(out);
    for (DWORD v : {defineId, objectId, flags, count, unitSize}) b.u32(v);
    b.raw(data, static_cast<std::size_t>(bytes));
    return finish(out);
}

HRESULT encodeSubscribeToSystemEvent(Bytes& out, DWORD eventId, const char* eventName) {
    if (!fits(eventName, kNameField)) return refuse(out);
    begin(out, OP_SUBSCRIBE_TO_SYSTEM_EVENT, 276);
    Builder b(out);
    b.u32(eventId);
    b.text(eventName ? eventName : "", kNameField);
    return finish(out);
}

HRESULT encodeAICreateNonATCAircraft(Bytes& out, const char* title, const char* tailNumber,
                                     const SIMCONNECT_DATA_INITPOSITION& pos, DWORD requestId) {
    if (!fits(title, kNameField) || !fits(tailNumber, kTailField)) return refuse(out);
    begin(out, OP_AI_CREATE_NON_ATC_AIRCRAFT, 344);
    Builder b(out);
    b.text(title ? title : "", kNameField);
    b.text(tailNumber ? tailNumber : "", kTailField);
    for (double v : {pos.Latitude, pos.Longitude, pos.Altitude, pos.Pitch, pos.Bank, pos.Heading}) b.f64(v);
    b.u32(pos.OnGround);
    b.u32(pos.Airspeed);
    b.u32(requestId);
    return finish(out);
}

HRESULT encodeAIReleaseControl(Bytes& out, DWORD objectId, DWORD requestId) {
    begin(out, OP_AI_RELEASE_CONTROL, 24);
    Builder b(out);
    b.u32(objectId);
    b.u32(requestId);
    return finish(out);
}

HRESULT encodeAIRemoveObject(Bytes& out, DWORD objectId, DWORD requestId) {
    begin(out, OP_AI_REMOVE_OBJECT, 24);
    Builder b(out);
    b.u32(objectId);
    b.u32(requestId);
    return finish(out);
}

HRESULT encodeAISetAircraftFlightPlan(Bytes& out, DWORD objectId, const char* path, DWORD requestId) {
    if (!fits(path, kPathField)) return refuse(out);
    begin(out, OP_AI_SET_AIRCRAFT_FLIGHT_PLAN, 284);
    Builder b(out);
    b.u32(objectId);
    b.text(path ? path : "", kPathField);
    b.u32(requestId);
    return finish(out);
}

RequestStatus decodeRequest(ByteView m, Request& r) {
    if (m.size() < kHeaderSize) return RequestStatus::TooShort;
    const std::uint8_t* p = m.data();
    r = Request{};
    r.size = readU32(p);
    r.version = readU32(p + 4);
    DWORD id = readU32(p + 8);
    r.packetId = readU32(p + 12);
    if (r.size != m.size()) return RequestStatus::SizeMismatch;
    r.op = id & ~kOperationBits;
    if ((id & kOperationBits) != kOperationBits || !findOperation(r.op)) return RequestStatus::UnknownOperation;
    std::size_t expected = operationSize(r.op);
    if (r.op == OP_SET_DATA_ON_SIM_OBJECT) {
        if (m.size() < expected) return RequestStatus::SizeMismatch;
    } else if (m.size() != expected) {
        return RequestStatus::SizeMismatch;
    }
    auto u = [&](std::size_t off) { return readU32(p + off); };
    switch (r.op) {
    case OP_OPEN:
        r.name = fixedText(p + 16, kNameField);
        r.reserved = u(272);
        std::memcpy(r.clientVersion.tag, p + 276, 4);
        r.clientVersion.major = u(280);
        r.clientVersion.minor = u(284);
        r.clientVersion.buildMajor = u(288);
        r.clientVersion.buildMinor = u(292);
        break;
    case OP_MAP_CLIENT_EVENT_TO_SIM_EVENT:
    case OP_SUBSCRIBE_TO_SYSTEM_EVENT:
        r.eventId = u(16);
        r.name = fixedText(p + 20, kNameField);
        break;
    case OP_TRANSMIT_CLIENT_EVENT:
        r.objectId = u(16);
        r.eventId = u(20);
        r.data = u(24);
        r.groupId = u(28);
        r.flags = u(32);
        break;
    case OP_ADD_CLIENT_EVENT_TO_NOTIFICATION_GROUP:
        r.groupId = u(16);
        r.eventId = u(20);
        r.maskable = u(24);
        break;
    case OP_SET_NOTIFICATION_GROUP_PRIORITY:
        r.groupId = u(16);
        r.priority = u(20);
        break;
    case OP_ADD_TO_DATA_DEFINITION:
        r.defineId = u(16);
        r.name = fixedText(p + 20, kNameField);
        r.units = fixedText(p + 276, kNameField);
        r.datumType = u(532);
        r.epsilon = readF32(p + 536);
        r.datumId = u(540);
        break;
    case OP_REQUEST_DATA_ON_SIM_OBJECT:
        r.requestId = u(16);
        r.defineId = u(20);
        r.objectId = u(24);
        r.period = u(28);
        r.flags = u(32);
        r.origin = u(36);
        r.interval = u(40);
        r.limit = u(44);
        break;
    case OP_REQUEST_DATA_ON_SIM_OBJECT_TYPE:
        r.requestId = u(16);
        r.defineId = u(20);
        r.radius = u(24);
        r.objectType = u(28);
        break;
    case OP_SET_DATA_ON_SIM_OBJECT: {
        r.defineId = u(16);
        r.objectId = u(20);
        r.flags = u(24);
        r.arrayCount = u(28);
        r.unitSize = u(32);
        std::uint64_t count = r.arrayCount == 0 ? 1 : r.arrayCount;
        if (count * r.unitSize != m.size() - kSetDataHeaderSize) return RequestStatus::SizeMismatch;
        r.payload = m.subspan(kSetDataHeaderSize);
        break;
    }
    case OP_AI_CREATE_NON_ATC_AIRCRAFT:
        r.name = fixedText(p + 16, kNameField);
        r.units = fixedText(p + 272, kTailField);
        r.position.Latitude = readF64(p + 284);
        r.position.Longitude = readF64(p + 292);
        r.position.Altitude = readF64(p + 300);
        r.position.Pitch = readF64(p + 308);
        r.position.Bank = readF64(p + 316);
        r.position.Heading = readF64(p + 324);
        r.position.OnGround = u(332);
        r.position.Airspeed = u(336);
        r.requestId = u(340);
        break;
    case OP_AI_RELEASE_CONTROL:
    case OP_AI_REMOVE_OBJECT:
        r.objectId = u(16);
        r.requestId = u(20);
        break;
    case OP_AI_SET_AIRCRAFT_FLIGHT_PLAN:
        r.objectId = u(16);
        r.name = fixedText(p + 20, kPathField);
        r.requestId = u(280);
        break;
    default: return RequestStatus::UnknownOperation;
    }
    return RequestStatus::Ok;
}

void appendOpenReply(Bytes& out, DWORD version, std::string_view appName, const DWORD appVersion[4],
                     const DWORD simConnectVersion[4]) {
    appendRecvHeader(out, 308, version, SIMCONNECT_RECV_ID_OPEN);
    Builder b(out);
    b.text(appName, kNameField);
    for (int i = 0; i < 4; ++i) b.u32(appVersion[i]);
    for (int i = 0; i < 4; ++i) b.u32(simConnectVersion[i]);
    b.u32(0);
    b.u32(0);
}

void appendException(Bytes& out, DWORD version, DWORD exception, DWORD sendId, DWORD index) {
    appendRecvHeader(out, 24, version, SIMCONNECT_RECV_ID_EXCEPTION);
    Builder b(out);
    b.u32(exception);
    b.u32(sendId);
    b.u32(index);
}

void appendQuit(Bytes& out, DWORD version) { appendRecvHeader(out, 12, version, SIMCONNECT_RECV_ID_QUIT); }

void appendEvent(Bytes& out, DWORD version, DWORD groupId, DWORD eventId, DWORD data) {
    appendRecvHeader(out, 28, version, SIMCONNECT_RECV_ID_EVENT);
    Builder b(out);
    b.u32(groupId);
    b.u32(eventId);
    b.u32(data);
    b.u32(0);
}

void appendObjectAddRemove(Bytes& out, DWORD version, DWORD eventId, DWORD objectId, DWORD objectType) {
    appendRecvHeader(out, 32, version, SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE);
    Builder b(out);
    b.u32(SIMCONNECT_RECV_UNKNOWN_GROUP);
    b.u32(eventId);
    b.u32(objectId);
    b.u32(objectType);
    b.u32(0);
}

void appendFileNameEvent(Bytes& out, DWORD version, DWORD eventId, std::string_view fileName) {
    appendRecvHeader(out, 288, version, SIMCONNECT_RECV_ID_EVENT_FILENAME);
    Builder b(out);
    b.u32(SIMCONNECT_RECV_UNKNOWN_GROUP);
    b.u32(eventId);
    b.u32(0);
    b.text(fileName, kPathField);
    b.u32(0);
}

void appendFrameEvent(Bytes& out, DWORD version, DWORD eventId, float frameRate, float simSpeed) {
    appendRecvHeader(out, 36, version, SIMCONNECT_RECV_ID_EVENT_FRAME);
    Builder b(out);
    b.u32(SIMCONNECT_RECV_UNKNOWN_GROUP);
    b.u32(eventId);
    b.u32(0);
    b.f32(frameRate);
    b.f32(simSpeed);
    b.u32(0);
}

void appendObjectData(Bytes& out, DWORD version, DWORD recvId, DWORD requestId, DWORD objectId, DWORD defineId,
                      DWORD flags, DWORD entry, DWORD outOf, DWORD defineCount, ByteView data) {
    appendRecvHeader(out, static_cast<DWORD>(40 + data.size()), version, recvId);
    Builder b(out);
    for (DWORD v : {requestId, objectId, defineId, flags, entry, outOf, defineCount}) b.u32(v);
    b.raw(data.data(), data.size());
}

void appendAssignedObjectId(Bytes& out, DWORD version, DWORD requestId, DWORD objectId) {
    appendRecvHeader(out, 20, version, SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID);
    Builder b(out);
    b.u32(requestId);
    b.u32(objectId);
}

std::optional<Received> decodeReceived(ByteView m) {
    if (m.size() < kRecvHeaderSize) return std::nullopt;
    const std::uint8_t* p = m.data();
    Received r;
    r.size = readU32(p);
    r.version = readU32(p + 4);
    r.id = readU32(p + 8);
    if (r.size != m.size()) return std::nullopt;
    auto u = [&](std::size_t off) { return readU32(p + off); };
    auto need = [&](std::size_t n) { return m.size() >= n; };
    switch (r.id) {
    case SIMCONNECT_RECV_ID_EXCEPTION:
        if (!need(24)) return std::nullopt;
        r.exception = u(12);
        r.sendId = u(16);
        r.index = u(20);
        break;
    case SIMCONNECT_RECV_ID_OPEN:
        if (!need(300)) return std::nullopt;
        r.applicationName = fixedText(p + 12, kNameField);
        for (int i = 0; i < 4; ++i) r.applicationVersion[i] = u(268 + 4 * i);
        for (int i = 0; i < 4; ++i) r.simConnectVersion[i] = u(284 + 4 * i);
        break;
    case SIMCONNECT_RECV_ID_EVENT:
        if (!need(24)) return std::nullopt;
        r.groupId = u(12);
        r.eventId = u(16);
        r.data = u(20);
        if (need(28)) r.eventFlags = u(24);
        break;
    case SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE:
        if (!need(28)) return std::nullopt;
        r.groupId = u(12);
        r.eventId = u(16);
        r.data = u(20);
        r.objectId = r.data;
        r.objectType = u(24);
        if (need(32)) r.eventFlags = u(28);
        break;
    case SIMCONNECT_RECV_ID_EVENT_FILENAME:
        if (!need(284)) return std::nullopt;
        r.groupId = u(12);
        r.eventId = u(16);
        r.data = u(20);
        r.fileName = fixedText(p + 24, kPathField);
        if (need(288)) r.eventFlags = u(284);
        break;
    case SIMCONNECT_RECV_ID_EVENT_FRAME:
        if (!need(32)) return std::nullopt;
        r.groupId = u(12);
        r.eventId = u(16);
        r.data = u(20);
        r.frameRate = readF32(p + 24);
        r.simSpeed = readF32(p + 28);
        if (need(36)) r.eventFlags = u(32);
        break;
    case SIMCONNECT_RECV_ID_SIMOBJECT_DATA:
    case SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE:
    case SIMCONNECT_RECV_ID_CLIENT_DATA:
        if (!need(40)) return std::nullopt;
        r.requestId = u(12);
        r.objectId = u(16);
        r.defineId = u(20);
        r.flags = u(24);
        r.entryNumber = u(28);
        r.outOf = u(32);
        r.defineCount = u(36);
        r.objectData = m.subspan(40);
        break;
    case SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID:
        if (!need(20)) return std::nullopt;
        r.requestId = u(12);
        r.objectId = u(16);
        break;
    default: break;
    }
    return r;
}

bool DatumReader::float64(double& v) {
    if (remaining() < 8) return false;
    v = readF64(data_.data() + pos_);
    pos_ += 8;
    return true;
}

bool DatumReader::float32(float& v) {
    if (remaining() < 4) return false;
    v = readF32(data_.data() + pos_);
    pos_ += 4;
    return true;
}

bool DatumReader::int64(std::int64_t& v) {
    if (remaining() < 8) return false;
    std::memcpy(&v, data_.data() + pos_, 8);
    pos_ += 8;
    return true;
}

bool DatumReader::int32(std::int32_t& v) {
    if (remaining() < 4) return false;
    std::memcpy(&v, data_.data() + pos_, 4);
    pos_ += 4;
    return true;
}

bool DatumReader::fixedString(std::size_t width, std::string& v) {
    if (width == 0 || remaining() < width) return false;
    v = fixedText(data_.data() + pos_, width);
    pos_ += width;
    return true;
}

bool DatumReader::stringV(std::string& v) {
    if (remaining() == 0) return false;
    const std::uint8_t* start = data_.data() + pos_;
    auto* zero = static_cast<const std::uint8_t*>(std::memchr(start, 0, remaining()));
    std::size_t n = zero ? static_cast<std::size_t>(zero - start) : remaining();
    v.assign(reinterpret_cast<const char*>(start), n);
    pos_ += zero ? n + 1 : n;
    return true;
}

std::size_t datumSize(DWORD type) {
    switch (type) {
    case SIMCONNECT_DATATYPE_INT32:
    case SIMCONNECT_DATATYPE_FLOAT32: return 4;
    case SIMCONNECT_DATATYPE_INT64:
    case SIMCONNECT_DATATYPE_FLOAT64:
    case SIMCONNECT_DATATYPE_STRING8: return 8;
    case SIMCONNECT_DATATYPE_STRING32: return 32;
    case SIMCONNECT_DATATYPE_STRING64: return 64;
    case SIMCONNECT_DATATYPE_STRING128: return 128;
    case SIMCONNECT_DATATYPE_STRING256: return 256;
    case SIMCONNECT_DATATYPE_STRING260: return 260;
    case SIMCONNECT_DATATYPE_INITPOSITION: return 56;
    case SIMCONNECT_DATATYPE_LATLONALT:
    case SIMCONNECT_DATATYPE_XYZ: return 24;
    default: return 0;
    }
}

void Framer::append(const std::uint8_t* data, std::size_t size) {
    if (head_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    buffer_.insert(buffer_.end(), data, data + size);
}

bool Framer::next(ByteView& message) {
    if (corrupt_) return false;
    std::size_t available = buffer_.size() - head_;
    if (available < 4) return false;
    std::size_t size = readU32(buffer_.data() + head_);
    if (size < min_ || size > max_) {
        corrupt_ = true;
        return false;
    }
    if (available < size) return false;
    message = ByteView(buffer_.data() + head_, size);
    head_ += size;
    return true;
}

}  // namespace vntx::simconnect::wire
