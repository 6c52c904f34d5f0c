#include "support/fake_client.h"

namespace vntx::simconnect {
namespace {
HANDLE const kFakeHandle = reinterpret_cast<HANDLE>(std::uintptr_t{0xFA4E});
}

void FakeClient::queueReceived(const wire::Bytes& messages) {
    wire::Framer framer(wire::kRecvHeaderSize, 1u << 24);
    framer.append(messages.data(), messages.size());
    wire::ByteView m;
    std::lock_guard lock(mutex_);
    while (framer.next(m)) received_.emplace_back(m.begin(), m.end());
}

std::vector<wire::Bytes> FakeClient::sentMessages() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

std::vector<wire::Request> FakeClient::sentRequests() const {
    std::lock_guard lock(mutex_);
    std::vector<wire::Request> out;
    for (const auto& m : sent_) {
        wire::Request r;
        if (wire::decodeRequest(m, r) == wire::RequestStatus::Ok) out.push_back(r);
    }
    return out;
}

void FakeClient::clearSent() {
    std::lock_guard lock(mutex_);
    sent_.clear();
}

bool FakeClient::valid(HANDLE h) const { return h == kFakeHandle && open_ && !lost_; }

HRESULT FakeClient::record(HANDLE h, HRESULT encoded, wire::Bytes& message) {
    if (FAILED(encoded)) return encoded;
    std::lock_guard lock(mutex_);
    if (!valid(h)) return E_FAIL;
    wire::writeU32(message.data() + 12, ++lastPacketId_);
    sent_.push_back(message);
    return S_OK;
}

HRESULT FakeClient::SimConnect_Open(HANDLE* ph, LPCSTR name, HWND, DWORD, HANDLE, DWORD) {
    if (!ph) return E_FAIL;
    *ph = nullptr;
    ++openAttempts_;
    wire::Bytes m;
    if (HRESULT hr = wire::encodeOpen(m, name); FAILED(hr)) return hr;
    {
        std::lock_guard lock(mutex_);
        if (openFails_) return E_FAIL;
        open_ = true;
        lost_ = false;
    }
    *ph = kFakeHandle;
    return record(kFakeHandle, S_OK, m);
}

HRESULT FakeClient::SimConnect_Close(HANDLE h) {
    std::lock_guard lock(mutex_);
    if (h != kFakeHandle || !open_) return E_FAIL;
    open_ = false;
    return S_OK;
}

HRESULT FakeClient::SimConnect_CallDispatch(HANDLE h, DispatchProc proc, void* ctx) {
    std::deque<wire::Bytes> batch;
    {
        std::lock_guard lock(mutex_);
        if (h != kFakeHandle || !open_) return E_FAIL;
        if (received_.empty() && lost_) return E_FAIL;
        batch.swap(received_);
    }
    for (auto& m : batch)
        if (proc) proc(reinterpret_cast<SIMCONNECT_RECV*>(m.data()), static_cast<DWORD>(m.size()), ctx);
    return S_OK;
}

HRESULT FakeClient::SimConnect_GetLastSentPacketID(HANDLE h, DWORD* id) {
    std::lock_guard lock(mutex_);
    if (h != kFakeHandle || !open_ || !id) return E_FAIL;
    *id = lastPacketId_;
    return S_OK;
}

HRESULT FakeClient::SimConnect_MapClientEventToSimEvent(HANDLE h, SIMCONNECT_CLIENT_EVENT_ID e, const char* n) {
    wire::Bytes m;
    return record(h, wire::encodeMapClientEventToSimEvent(m, e, n), m);
}

HRESULT FakeClient::SimConnect_TransmitClientEvent(HANDLE h, SIMCONNECT_OBJECT_ID o, SIMCONNECT_CLIENT_EVENT_ID e,
                                                   DWORD d, SIMCONNECT_NOTIFICATION_GROUP_ID g,
                                                   SIMCONNECT_EVENT_FLAG f) {
    wire::Bytes m;
    return record(h, wire::encodeTransmitClientEvent(m, o, e, d, g, f), m);
}

HRESULT FakeClient::SimConnect_AddClientEventToNotificationGroup(HANDLE h, SIMCONNECT_NOTIFICATION_GROUP_ID g,
                                                                 SIMCONNECT_CLIENT_EVENT_ID e, BOOL mask) {
    wire::Bytes m;
    return record(h, wire::encodeAddClientEventToNotificationGroup(m, g, e, mask), m);
}

HRESULT FakeClient::SimConnect_SetNotificationGroupPriority(HANDLE h, SIMCONNECT_NOTIFICATION_GROUP_ID g, DWORD p) {
    wire::Bytes m;
    return record(h, wire::encodeSetNotificationGroupPriority(m, g, p), m);
}

HRESULT FakeClient::SimConnect_AddToDataDefinition(HANDLE h, SIMCONNECT_DATA_DEFINITION_ID d, const char* n,
                                                   const char* u, SIMCONNECT_DATATYPE t, float eps, DWORD id) {
    wire::Bytes m;
    return record(h, wire::encodeAddToDataDefinition(m, d, n, u, t, eps, id), m);
}

HRESULT FakeClient::SimConnect_RequestDataOnSimObject(HANDLE h, SIMCONNECT_DATA_REQUEST_ID r,
                                                      SIMCONNECT_DATA_DEFINITION_ID d, SIMCONNECT_OBJECT_ID o,
                                                      SIMCONNECT_PERIOD p, SIMCONNECT_DATA_REQUEST_FLAG f,
                                                      DWORD origin, DWORD interval, DWORD limit) {
    wire::Bytes m;
    return record(h, wire::encodeRequestDataOnSimObject(m, r, d, o, p, f, origin, interval, limit), m);
}

HRESULT FakeClient::SimConnect_RequestDataOnSimObjectType(HANDLE h, SIMCONNECT_DATA_REQUEST_ID r,
                                                          SIMCONNECT_DATA_DEFINITION_ID d, DWORD radius,
                                                          SIMCONNECT_SIMOBJECT_TYPE t) {
    wire::Bytes m;
    return record(h, wire::encodeRequestDataOnSimObjectType(m, r, d, radius, t), m);
}

HRESULT FakeClient::SimConnect_SetDataOnSimObject(HANDLE h, SIMCONNECT_DATA_DEFINITION_ID d, SIMCONNECT_OBJECT_ID o,
                                                  SIMCONNECT_DATA_SET_FLAG f, DWORD n, DWORD size, void* data) {
    wire::Bytes m;
    return record(h, wire::encodeSetDataOnSimObject(m, d, o, f, n, size, data), m);
}

HRESULT FakeClient::SimConnect_SubscribeToSystemEvent(HANDLE h, SIMCONNECT_CLIENT_EVENT_ID e, const char* n) {
    wire::Bytes m;
    return record(h, wire::encodeSubscribeToSystemEvent(m, e, n), m);
}

HRESULT FakeClient::SimConnect_AICreateNonATCAircraft(HANDLE h, const char* title, const char* tail,
                                                      SIMCONNECT_DATA_INITPOSITION pos, SIMCONNECT_DATA_REQUEST_ID r) {
    wire::Bytes m;
    return record(h, wire::encodeAICreateNonATCAircraft(m, title, tail, pos, r), m);
}

HRESULT FakeClient::SimConnect_AIReleaseControl(HANDLE h, SIMCONNECT_OBJECT_ID o, SIMCONNECT_DATA_REQUEST_ID r) {
    wire::Bytes m;
    return record(h, wire::encodeAIReleaseControl(m, o, r), m);
}

HRESULT FakeClient::SimConnect_AIRemoveObject(HANDLE h, SIMCONNECT_OBJECT_ID o, SIMCONNECT_DATA_REQUEST_ID r) {
    wire::Bytes m;
    return record(h, wire::encodeAIRemoveObject(m, o, r), m);
}

HRESULT FakeClient::SimConnect_AISetAircraftFlightPlan(HANDLE h, SIMCONNECT_OBJECT_ID o, const char* path,
                                                       SIMCONNECT_DATA_REQUEST_ID r) {
    wire::Bytes m;
    return record(h, wire::encodeAISetAircraftFlightPlan(m, o, path, r), m);
}

}  // namespace vntx::simconnect
