// A SimConnect client double that keeps every call in order and fails the
// operations a test names.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "simconnect/simconnect.h"

namespace vntx::simlink::test {

using namespace simconnect;

struct Call {
    Call(std::string op, DWORD objectId = 0, DWORD id = 0, DWORD data = 0, DWORD request = 0, DWORD group = 0,
         std::string text = {}, std::string tail = {})
        : op(std::move(op)), objectId(objectId), id(id), data(data), request(request), group(group),
          text(std::move(text)), tail(std::move(tail)) {}
    std::string op;
    DWORD objectId = 0, id = 0, data = 0, request = 0, group = 0;
    std::string text, tail;
    std::vector<double> values;
};

class RecordingClient final : public Client {
public:
    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<Call> callsOf(const std::string& op) const {
        std::vector<Call> out;
        for (auto& c : calls())
            if (c.op == op) out.push_back(c);
        return out;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }
    // Fails every call for which the predicate is true.
    std::function<bool(const Call&)> fails;
    DWORD nextPacketId = 100;

    HRESULT SimConnect_Open(HANDLE* ph, LPCSTR, HWND, DWORD, HANDLE, DWORD) override {
        *ph = reinterpret_cast<HANDLE>(std::uintptr_t{0x51});
        return rec(Call{"Open"});
    }
    HRESULT SimConnect_Close(HANDLE) override { return rec(Call{"Close"}); }
    HRESULT SimConnect_CallDispatch(HANDLE, DispatchProc, void*) override { return S_OK; }
    HRESULT SimConnect_GetLastSentPacketID(HANDLE, DWORD* id) override {
        *id = lastPacket_;
        return rec(Call{"GetLastSentPacketID"}, false);
    }
    HRESULT SimConnect_MapClientEventToSimEvent(HANDLE, SIMCONNECT_CLIENT_EVENT_ID e, const char* n) override {
        return rec(Call{"MapClientEventToSimEvent", 0, e, 0, 0, 0, n});
    }
    HRESULT SimConnect_TransmitClientEvent(HANDLE, SIMCONNECT_OBJECT_ID o, SIMCONNECT_CLIENT_EVENT_ID e, DWORD d,
                                           SIMCONNECT_NOTIFICATION_GROUP_ID g, SIMCONNECT_EVENT_FLAG) override {
        return rec(Call{"TransmitClientEvent", o, e, d, 0, g});
    }
    HRESULT SimConnect_AddClientEventToNotificationGroup(HANDLE, SIMCONNECT_NOTIFICATION_GROUP_ID g,
                                                         SIMCONNECT_CLIENT_EVENT_ID e, BOOL m) override {
        return rec(Call{"AddClientEventToNotificationGroup", 0, e, static_cast<DWORD>(m), 0, g});
    }
    HRESULT SimConnect_SetNotificationGroupPriority(HANDLE, SIMCONNECT_NOTIFICATION_GROUP_ID g, DWORD p) override {
        return rec(Call{"SetNotificationGroupPriority", 0, 0, p, 0, g});
    }
    HRESULT SimConnect_AddToDataDefinition(HANDLE, SIMCONNECT_DATA_DEFINITION_ID d, const char* n, const char* u,
                                           SIMCONNECT_DATATYPE t, float, DWORD) override {
        return rec(Call{"AddToDataDefinition", 0, d, static_cast<DWORD>(t), 0, 0, n, u ? u : ""});
    }
    HRESULT SimConnect_RequestDataOnSimObject(HANDLE, SIMCONNECT_DATA_REQUEST_ID r, SIMCONNECT_DATA_DEFINITION_ID d,
                                              SIMCONNECT_OBJECT_ID o, SIMCONNECT_PERIOD p, SIMCONNECT_DATA_REQUEST_FLAG,
                                              DWORD, DWORD, DWORD) override {
        return rec(Call{"RequestDataOnSimObject", o, d, static_cast<DWORD>(p), r});
    }
    HRESULT SimConnect_RequestDataOnSimObjectType(HANDLE, SIMCONNECT_DATA_REQUEST_ID r,
                                                  SIMCONNECT_DATA_DEFINITION_ID d, DWORD radius,
                                                  SIMCONNECT_SIMOBJECT_TYPE t) override {
        return rec(Call{"RequestDataOnSimObjectType", static_cast<DWORD>(t), d, radius, r});
    }
    HRESULT SimConnect_SetDataOnSimObject(HANDLE, SIMCONNECT_DATA_DEFINITION_ID d, SIMCONNECT_OBJECT_ID o,
                                          SIMCONNECT_DATA_SET_FLAG, DWORD, DWORD size, void* data) override {
        Call c{"SetDataOnSimObject", o, d, size};
        const double* v = static_cast<const double*>(data);
        c.values.assign(v, v + size / sizeof(double));
        return rec(c);
    }
    HRESULT SimConnect_SubscribeToSystemEvent(HANDLE, SIMCONNECT_CLIENT_EVENT_ID e, const char* n) override {
        return rec(Call{"SubscribeToSystemEvent", 0, e, 0, 0, 0, n});
    }
    HRESULT SimConnect_AICreateNonATCAircraft(HANDLE, const char* title, const char* tail,
                                              SIMCONNECT_DATA_INITPOSITION pos, SIMCONNECT_DATA_REQUEST_ID r) override {
        Call c{"AICreateNonATCAircraft", 0, 0, 0, r, 0, title, tail};
        c.values = {pos.Latitude, pos.Longitude, pos.Altitude};
        return rec(c);
    }
    HRESULT SimConnect_AIReleaseControl(HANDLE, SIMCONNECT_OBJECT_ID o, SIMCONNECT_DATA_REQUEST_ID r) override {
        return rec(Call{"AIReleaseControl", o, 0, 0, r});
    }
    HRESULT SimConnect_AIRemoveObject(HANDLE, SIMCONNECT_OBJECT_ID o, SIMCONNECT_DATA_REQUEST_ID r) override {
        return rec(Call{"AIRemoveObject", o, 0, 0, r});
    }
    HRESULT SimConnect_AISetAircraftFlightPlan(HANDLE, SIMCONNECT_OBJECT_ID o, const char* path,
                                               SIMCONNECT_DATA_REQUEST_ID r) override {
        return rec(Call{"AISetAircraftFlightPlan", o, 0, 0, r, 0, path});
    }

private:
    HRESULT rec(const Call& c, bool packet = true) {
        std::lock_guard lock(mutex_);
        calls_.push_back(c);
        if (fails && fails(c)) return E_FAIL;
        if (packet) lastPacket_ = ++nextPacketId;
        return S_OK;
    }
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    DWORD lastPacket_ = 0;
};

}  // namespace vntx::simlink::test
