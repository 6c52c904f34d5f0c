// An in-process stand-in for the simulator behind the Client interface: it
// keeps every operation as the wire message the simulator would have read
// and dispatches the simulator messages a test queues.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "simconnect/simconnect.h"

namespace vntx::simconnect {

class FakeClient final : public Client {
public:
    // --- test side
    // Queues simulator messages (one or several, as built by wire::append*).
    void queueReceived(const wire::Bytes& messages);
    // The operations sent so far, as wire messages with their packet ids.
    std::vector<wire::Bytes> sentMessages() const;
    // The operations sent so far, decoded (payloads point into the fake's copies).
    std::vector<wire::Request> sentRequests() const;
    void clearSent();
    // Makes Open fail, or every later operation fail with E_FAIL (a dropped connection).
    void setOpenFails(bool fails) { openFails_ = fails; }
    int openAttempts() const { return openAttempts_.load(); }
    void setConnectionLost(bool lost) { lost_ = lost; }
    bool isOpen() const { return open_; }

    // --- Client
    HRESULT SimConnect_Open(HANDLE* ph, LPCSTR name, HWND, DWORD, HANDLE, DWORD) override;
    HRESULT SimConnect_Close(HANDLE h) override;
    HRESULT SimConnect_CallDispatch(HANDLE h, DispatchProc proc, void* ctx) override;
    HRESULT SimConnect_GetLastSentPacketID(HANDLE h, DWORD* id) override;
    HRESULT SimConnect_MapClientEventToSimEvent(HANDLE h, SIMCONNECT_CLIENT_EVENT_ID e, const char* n) override;
    HRESULT SimConnect_TransmitClientEvent(HANDLE h, SIMCONNECT_OBJECT_ID o, SIMCONNECT_CLIENT_EVENT_ID e, DWORD d,
                                           SIMCONNECT_NOTIFICATION_GROUP_ID g, SIMCONNECT_EVENT_FLAG f) override;
    HRESULT SimConnect_AddClientEventToNotificationGroup(HANDLE h, SIMCONNECT_NOTIFICATION_GROUP_ID g,
                                                         SIMCONNECT_CLIENT_EVENT_ID e, BOOL m) override;
    HRESULT SimConnect_SetNotificationGroupPriority(HANDLE h, SIMCONNECT_NOTIFICATION_GROUP_ID g, DWORD p) override;
    HRESULT SimConnect_AddToDataDefinition(HANDLE h, SIMCONNECT_DATA_DEFINITION_ID d, const char* n, const char* u,
                                           SIMCONNECT_DATATYPE t, float eps, DWORD id) override;
    HRESULT SimConnect_RequestDataOnSimObject(HANDLE h, SIMCONNECT_DATA_REQUEST_ID r, SIMCONNECT_DATA_DEFINITION_ID d,
                                              SIMCONNECT_OBJECT_ID o, SIMCONNECT_PERIOD p,
                                              SIMCONNECT_DATA_REQUEST_FLAG f, DWORD origin, DWORD interval,
                                              DWORD limit) override;
    HRESULT SimConnect_RequestDataOnSimObjectType(HANDLE h, SIMCONNECT_DATA_REQUEST_ID r,
                                                  SIMCONNECT_DATA_DEFINITION_ID d, DWORD radius,
                                                  SIMCONNECT_SIMOBJECT_TYPE t) override;
    HRESULT SimConnect_SetDataOnSimObject(HANDLE h, SIMCONNECT_DATA_DEFINITION_ID d, SIMCONNECT_OBJECT_ID o,
                                          SIMCONNECT_DATA_SET_FLAG f, DWORD n, DWORD size, void* data) override;
    HRESULT SimConnect_SubscribeToSystemEvent(HANDLE h, SIMCONNECT_CLIENT_EVENT_ID e, const char* n) override;
    HRESULT SimConnect_AICreateNonATCAircraft(HANDLE h, const char* title, const char* tail,
                                              SIMCONNECT_DATA_INITPOSITION pos, SIMCONNECT_DATA_REQUEST_ID r) override;
    HRESULT SimConnect_AIReleaseControl(HANDLE h, SIMCONNECT_OBJECT_ID o, SIMCONNECT_DATA_REQUEST_ID r) override;
    HRESULT SimConnect_AIRemoveObject(HANDLE h, SIMCONNECT_OBJECT_ID o, SIMCONNECT_DATA_REQUEST_ID r) override;
    HRESULT SimConnect_AISetAircraftFlightPlan(HANDLE h, SIMCONNECT_OBJECT_ID o, const char* path,
                                               SIMCONNECT_DATA_REQUEST_ID r) override;

private:
    HRESULT record(HANDLE h, HRESULT encoded, wire::Bytes& message);
    bool valid(HANDLE h) const;

    mutable std::mutex mutex_;
    std::vector<wire::Bytes> sent_;
    std::deque<wire::Bytes> received_;
    DWORD lastPacketId_ = 0;
    // Set by the test, read by the link's thread.
    std::atomic<bool> open_{false};
    std::atomic<bool> openFails_{false};
    std::atomic<int> openAttempts_{0};
    std::atomic<bool> lost_{false};
};

}  // namespace vntx::simconnect
