#include "simconnect/simconnect.h"

#include <cstring>
#include <map>
#include <mutex>

namespace vntx::simconnect {
namespace {

// Open connections by handle. Handles are numbers that are never reused, so a
// stale handle finds nothing instead of a newer connection; operations hold a
// reference while they run, so a Close on another thread cannot pull the
// connection away under them.
std::mutex connectionsMutex;
std::map<std::uintptr_t, std::shared_ptr<Connection>> connections;
std::uintptr_t nextHandle = 1;

std::shared_ptr<Connection> find(HANDLE h) {
    std::lock_guard lock(connectionsMutex);
    auto it = connections.find(reinterpret_cast<std::uintptr_t>(h));
    return it == connections.end() ? nullptr : it->second;
}

wire::Bytes& scratch() {
    thread_local wire::Bytes bytes;
    return bytes;
}

template <typename Encode>
HRESULT sendEncoded(HANDLE h, Encode&& encode) {
    auto c = find(h);
    if (!c) return E_FAIL;
    auto& message = scratch();
    HRESULT hr = encode(message);
    if (FAILED(hr)) return hr;
    return c->send(message);
}

}  // namespace

HRESULT openWith(HANDLE* phSimConnect, LPCSTR szName, HANDLE hEventHandle, const Config& config,
                 Connector& connector) {
    if (!phSimConnect) return E_FAIL;
    *phSimConnect = nullptr;
    auto& message = scratch();
    if (HRESULT hr = wire::encodeOpen(message, szName); FAILED(hr)) return hr;
    auto stream = connectFirst(planAttempts(config), config, connector);
    if (!stream) return E_FAIL;
    auto connection = std::make_shared<Connection>(std::move(stream), config.maxReceiveSize, hEventHandle);
    if (HRESULT hr = connection->send(message); FAILED(hr)) {
        connection->close();
        return hr;
    }
    std::lock_guard lock(connectionsMutex);
    std::uintptr_t handle = nextHandle++;
    connections[handle] = std::move(connection);
    *phSimConnect = reinterpret_cast<HANDLE>(handle);
    return S_OK;
}

HRESULT SimConnect_Open(HANDLE* phSimConnect, LPCSTR szName, HWND, DWORD, HANDLE hEventHandle, DWORD ConfigIndex) {
    if (!phSimConnect) return E_FAIL;
    *phSimConnect = nullptr;
    auto config = findConfiguration(ConfigIndex);
    if (!config) return E_FAIL;
    SystemConnector connector;
    return openWith(phSimConnect, szName, hEventHandle, *config, connector);
}

HRESULT SimConnect_Close(HANDLE hSimConnect) {
    std::shared_ptr<Connection> c;
    {
        std::lock_guard lock(connectionsMutex);
        auto it = connections.find(reinterpret_cast<std::uintptr_t>(hSimConnect));
        if (it == connections.end()) return E_FAIL;
        c = std::move(it->second);
        connections.erase(it);
    }
    c->close();
    return S_OK;
}

ConnectionState connectionState(HANDLE hSimConnect) {
    auto c = find(hSimConnect);
    return c ? c->state() : ConnectionState::Closed;
}

HRESULT SimConnect_CallDispatch(HANDLE hSimConnect, DispatchProc pfcnDispatch, void* pContext) {
    auto c = find(hSimConnect);
    if (!c) return E_FAIL;
    return c->dispatch(pfcnDispatch, pContext);
}

HRESULT SimConnect_GetLastSentPacketID(HANDLE hSimConnect, DWORD* pdwSendID) {
    auto c = find(hSimConnect);
    if (!c || !pdwSendID) return E_FAIL;
    *pdwSendID = c->lastSentPacketId();
    return S_OK;
}

HRESULT SimConnect_MapClientEventToSimEvent(HANDLE h, SIMCONNECT_CLIENT_EVENT_ID EventID, const char* EventName) {
    return sendEncoded(h, [&](wire::Bytes& m) { return wire::encodeMapClientEventToSimEvent(m, EventID, EventName); });
}

HRESULT SimConnect_TransmitClientEvent(HANDLE h, SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                       DWORD dwData, SIMCONNECT_NOTIFICATION_GROUP_ID GroupID,
                                       SIMCONNECT_EVENT_FLAG Flags) {
    return sendEncoded(
        h, [&](wire::Bytes& m) { return wire::encodeTransmitClientEvent(m, ObjectID, EventID, dwData, GroupID, Flags); });
}

HRESULT SimConnect_AddClientEventToNotificationGroup(HANDLE h, SIMCONNECT_NOTIFICATION_GROUP_ID GroupID,
                                                     SIMCONNECT_CLIENT_EVENT_ID EventID, BOOL bMaskable) {
    return sendEncoded(
        h, [&](wire::Bytes& m) { return wire::encodeAddClientEventToNotificationGroup(m, GroupID, EventID, bMaskable); });
}

HRESULT SimConnect_SetNotificationGroupPriority(HANDLE h, SIMCONNECT_NOTIFICATION_GROUP_ID GroupID, DWORD uPriority) {
    return sendEncoded(h, [&](wire::Bytes& m) { return wire::encodeSetNotificationGroupPriority(m, GroupID, uPriority); });
}

HRESULT SimConnect_AddToDataDefinition(HANDLE h, SIMCONNECT_DATA_DEFINITION_ID DefineID, const char* DatumName,
                                       const char* UnitsName, SIMCONNECT_DATATYPE DatumType, float fEpsilon,
                                       DWORD DatumID) {
    return sendEncoded(h, [&](wire::Bytes& m) {
        return wire::encodeAddToDataDefinition(m, DefineID, DatumName, UnitsName, DatumType, fEpsilon, DatumID);
    });
}

HRESULT SimConnect_RequestDataOnSimObject(HANDLE h, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                          SIMCONNECT_DATA_DEFINITION_ID DefineID, SIMCONNECT_OBJECT_ID ObjectID,
                                          SIMCONNECT_PERIOD Period, SIMCONNECT_DATA_REQUEST_FLAG Flags, DWORD origin,
                                          DWORD interval, DWORD limit) {
    return sendEncoded(h, [&](wire::Bytes& m) {
        return wire::encodeRequestDataOnSimObject(m, RequestID, DefineID, ObjectID, Period, Flags, origin, interval,
                                                  limit);
    });
}

HRESULT SimConnect_RequestDataOnSimObjectType(HANDLE h, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                              SIMCONNECT_DATA_DEFINITION_ID DefineID, DWORD dwRadiusMeters,
                                              SIMCONNECT_SIMOBJECT_TYPE type) {
    return sendEncoded(h, [&](wire::Bytes& m) {
        return wire::encodeRequestDataOnSimObjectType(m, RequestID, DefineID, dwRadiusMeters, type);
    });
}

HRESULT SimConnect_SetDataOnSimObject(HANDLE h, SIMCONNECT_DATA_DEFINITION_ID DefineID, SIMCONNECT_OBJECT_ID ObjectID,
                                      SIMCONNECT_DATA_SET_FLAG Flags, DWORD ArrayCount, DWORD cbUnitSize,
                                      void* pDataSet) {
    return sendEncoded(h, [&](wire::Bytes& m) {
        return wire::encodeSetDataOnSimObject(m, DefineID, ObjectID, Flags, ArrayCount, cbUnitSize, pDataSet);
    });
}

HRESULT SimConnect_SubscribeToSystemEvent(HANDLE h, SIMCONNECT_CLIENT_EVENT_ID EventID, const char* SystemEventName) {
    return sendEncoded(h, [&](wire::Bytes& m) { return wire::encodeSubscribeToSystemEvent(m, EventID, SystemEventName); });
}

HRESULT SimConnect_AICreateNonATCAircraft(HANDLE h, const char* szContainerTitle, const char* szTailNumber,
                                          SIMCONNECT_DATA_INITPOSITION InitPos, SIMCONNECT_DATA_REQUEST_ID RequestID) {
    return sendEncoded(h, [&](wire::Bytes& m) {
        return wire::encodeAICreateNonATCAircraft(m, szContainerTitle, szTailNumber, InitPos, RequestID);
    });
}

HRESULT SimConnect_AIReleaseControl(HANDLE h, SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_DATA_REQUEST_ID RequestID) {
    return sendEncoded(h, [&](wire::Bytes& m) { return wire::encodeAIReleaseControl(m, ObjectID, RequestID); });
}

HRESULT SimConnect_AIRemoveObject(HANDLE h, SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_DATA_REQUEST_ID RequestID) {
    return sendEncoded(h, [&](wire::Bytes& m) { return wire::encodeAIRemoveObject(m, ObjectID, RequestID); });
}

HRESULT SimConnect_AISetAircraftFlightPlan(HANDLE h, SIMCONNECT_OBJECT_ID ObjectID, const char* szFlightPlanPath,
                                           SIMCONNECT_DATA_REQUEST_ID RequestID) {
    return sendEncoded(h, [&](wire::Bytes& m) {
        return wire::encodeAISetAircraftFlightPlan(m, ObjectID, szFlightPlanPath, RequestID);
    });
}

namespace {

class SystemClient final : public Client {
public:
    HRESULT SimConnect_Open(HANDLE* ph, LPCSTR name, HWND hwnd, DWORD user, HANDLE ev, DWORD index) override {
        return simconnect::SimConnect_Open(ph, name, hwnd, user, ev, index);
    }
    HRESULT SimConnect_Close(HANDLE h) override { return simconnect::SimConnect_Close(h); }
    HRESULT SimConnect_CallDispatch(HANDLE h, DispatchProc proc, void* ctx) override {
        return simconnect::SimConnect_CallDispatch(h, proc, ctx);
    }
    HRESULT SimConnect_GetLastSentPacketID(HANDLE h, DWORD* id) override {
        return simconnect::SimConnect_GetLastSentPacketID(h, id);
    }
    HRESULT SimConnect_MapClientEventToSimEvent(HANDLE h, SIMCONNECT_CLIENT_EVENT_ID e, const char* n) override {
        return simconnect::SimConnect_MapClientEventToSimEvent(h, e, n);
    }
    HRESULT SimConnect_TransmitClientEvent(HANDLE h, SIMCONNECT_OBJECT_ID o, SIMCONNECT_CLIENT_EVENT_ID e, DWORD d,
                                           SIMCONNECT_NOTIFICATION_GROUP_ID g, SIMCONNECT_EVENT_FLAG f) override {
        return simconnect::SimConnect_TransmitClientEvent(h, o, e, d, g, f);
    }
    HRESULT SimConnect_AddClientEventToNotificationGroup(HANDLE h, SIMCONNECT_NOTIFICATION_GROUP_ID g,
                                                         SIMCONNECT_CLIENT_EVENT_ID e, BOOL m) override {
        return simconnect::SimConnect_AddClientEventToNotificationGroup(h, g, e, m);
    }
    HRESULT SimConnect_SetNotificationGroupPriority(HANDLE h, SIMCONNECT_NOTIFICATION_GROUP_ID g, DWORD p) override {
        return simconnect::SimConnect_SetNotificationGroupPriority(h, g, p);
    }
    HRESULT SimConnect_AddToDataDefinition(HANDLE h, SIMCONNECT_DATA_DEFINITION_ID d, const char* n, const char* u,
                                           SIMCONNECT_DATATYPE t, float eps, DWORD id) override {
        return simconnect::SimConnect_AddToDataDefinition(h, d, n, u, t, eps, id);
    }
    HRESULT SimConnect_RequestDataOnSimObject(HANDLE h, SIMCONNECT_DATA_REQUEST_ID r, SIMCONNECT_DATA_DEFINITION_ID d,
                                              SIMCONNECT_OBJECT_ID o, SIMCONNECT_PERIOD p,
                                              SIMCONNECT_DATA_REQUEST_FLAG f, DWORD origin, DWORD interval,
                                              DWORD limit) override {
        return simconnect::SimConnect_RequestDataOnSimObject(h, r, d, o, p, f, origin, interval, limit);
    }
    HRESULT SimConnect_RequestDataOnSimObjectType(HANDLE h, SIMCONNECT_DATA_REQUEST_ID r,
                                                  SIMCONNECT_DATA_DEFINITION_ID d, DWORD radius,
                                                  SIMCONNECT_SIMOBJECT_TYPE t) override {
        return simconnect::SimConnect_RequestDataOnSimObjectType(h, r, d, radius, t);
    }
    HRESULT SimConnect_SetDataOnSimObject(HANDLE h, SIMCONNECT_DATA_DEFINITION_ID d, SIMCONNECT_OBJECT_ID o,
                                          SIMCONNECT_DATA_SET_FLAG f, DWORD n, DWORD size, void* data) override {
        return simconnect::SimConnect_SetDataOnSimObject(h, d, o, f, n, size, data);
    }
    HRESULT SimConnect_SubscribeToSystemEvent(HANDLE h, SIMCONNECT_CLIENT_EVENT_ID e, const char* n) override {
        return simconnect::SimConnect_SubscribeToSystemEvent(h, e, n);
    }
    HRESULT SimConnect_AICreateNonATCAircraft(HANDLE h, const char* title, const char* tail,
                                              SIMCONNECT_DATA_INITPOSITION pos, SIMCONNECT_DATA_REQUEST_ID r) override {
        return simconnect::SimConnect_AICreateNonATCAircraft(h, title, tail, pos, r);
    }
    HRESULT SimConnect_AIReleaseControl(HANDLE h, SIMCONNECT_OBJECT_ID o, SIMCONNECT_DATA_REQUEST_ID r) override {
        return simconnect::SimConnect_AIReleaseControl(h, o, r);
    }
    HRESULT SimConnect_AIRemoveObject(HANDLE h, SIMCONNECT_OBJECT_ID o, SIMCONNECT_DATA_REQUEST_ID r) override {
        return simconnect::SimConnect_AIRemoveObject(h, o, r);
    }
    HRESULT SimConnect_AISetAircraftFlightPlan(HANDLE h, SIMCONNECT_OBJECT_ID o, const char* path,
                                               SIMCONNECT_DATA_REQUEST_ID r) override {
        return simconnect::SimConnect_AISetAircraftFlightPlan(h, o, path, r);
    }
};

}  // namespace

std::unique_ptr<Client> makeSystemClient() { return std::make_unique<SystemClient>(); }

}  // namespace vntx::simconnect
