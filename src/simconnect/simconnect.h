// The SimConnect client: the operations the simulator link calls, with the
// names, arguments and results of the interface Prepar3D publishes. The free
// functions talk to the simulator; the Client interface carries the same
// operations so that the simulator link can run against a fake.
#pragma once

#include <memory>

#include "simconnect/config.h"
#include "simconnect/transport.h"
#include "simconnect/types.h"
#include "simconnect/wire.h"

namespace vntx::simconnect {

HRESULT SimConnect_Open(HANDLE* phSimConnect, LPCSTR szName, HWND hWnd, DWORD UserEventWin32, HANDLE hEventHandle,
                        DWORD ConfigIndex);
HRESULT SimConnect_Close(HANDLE hSimConnect);
HRESULT SimConnect_CallDispatch(HANDLE hSimConnect, DispatchProc pfcnDispatch, void* pContext);
HRESULT SimConnect_GetLastSentPacketID(HANDLE hSimConnect, DWORD* pdwSendID);
HRESULT SimConnect_MapClientEventToSimEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                            const char* EventName = "");
HRESULT SimConnect_TransmitClientEvent(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                       SIMCONNECT_CLIENT_EVENT_ID EventID, DWORD dwData,
                                       SIMCONNECT_NOTIFICATION_GROUP_ID GroupID, SIMCONNECT_EVENT_FLAG Flags);
HRESULT SimConnect_AddClientEventToNotificationGroup(HANDLE hSimConnect, SIMCONNECT_NOTIFICATION_GROUP_ID GroupID,
                                                     SIMCONNECT_CLIENT_EVENT_ID EventID, BOOL bMaskable = 0);
HRESULT SimConnect_SetNotificationGroupPriority(HANDLE hSimConnect, SIMCONNECT_NOTIFICATION_GROUP_ID GroupID,
                                                DWORD uPriority);
HRESULT SimConnect_AddToDataDefinition(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                       const char* DatumName, const char* UnitsName,
                                       SIMCONNECT_DATATYPE DatumType = SIMCONNECT_DATATYPE_FLOAT64,
                                       float fEpsilon = 0, DWORD DatumID = SIMCONNECT_UNUSED);
HRESULT SimConnect_RequestDataOnSimObject(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                          SIMCONNECT_DATA_DEFINITION_ID DefineID, SIMCONNECT_OBJECT_ID ObjectID,
                                          SIMCONNECT_PERIOD Period, SIMCONNECT_DATA_REQUEST_FLAG Flags = 0,
                                          DWORD origin = 0, DWORD interval = 0, DWORD limit = 0);
HRESULT SimConnect_RequestDataOnSimObjectType(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                              SIMCONNECT_DATA_DEFINITION_ID DefineID, DWORD dwRadiusMeters,
                                              SIMCONNECT_SIMOBJECT_TYPE type);
HRESULT SimConnect_SetDataOnSimObject(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                      SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_DATA_SET_FLAG Flags,
                                      DWORD ArrayCount, DWORD cbUnitSize, void* pDataSet);
HRESULT SimConnect_SubscribeToSystemEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                          const char* SystemEventName);
HRESULT SimConnect_AICreateNonATCAircraft(HANDLE hSimConnect, const char* szContainerTitle,
                                          const char* szTailNumber, SIMCONNECT_DATA_INITPOSITION InitPos,
                                          SIMCONNECT_DATA_REQUEST_ID RequestID);
HRESULT SimConnect_AIReleaseControl(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                    SIMCONNECT_DATA_REQUEST_ID RequestID);
HRESULT SimConnect_AIRemoveObject(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                  SIMCONNECT_DATA_REQUEST_ID RequestID);
HRESULT SimConnect_AISetAircraftFlightPlan(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                           const char* szFlightPlanPath, SIMCONNECT_DATA_REQUEST_ID RequestID);

// Open over a given configuration and connector (used by SimConnect_Open and by tests).
HRESULT openWith(HANDLE* phSimConnect, LPCSTR szName, HANDLE hEventHandle, const Config& config,
                 Connector& connector);
// Whether a connection is open, closed by the other side, or failed.
ConnectionState connectionState(HANDLE hSimConnect);

// The operations as an interface, for the simulator link.
class Client {
public:
    virtual ~Client() = default;
    virtual HRESULT SimConnect_Open(HANDLE* phSimConnect, LPCSTR szName, HWND hWnd, DWORD UserEventWin32,
                                    HANDLE hEventHandle, DWORD ConfigIndex) = 0;
    virtual HRESULT SimConnect_Close(HANDLE hSimConnect) = 0;
    virtual HRESULT SimConnect_CallDispatch(HANDLE hSimConnect, DispatchProc pfcnDispatch, void* pContext) = 0;
    virtual HRESULT SimConnect_GetLastSentPacketID(HANDLE hSimConnect, DWORD* pdwSendID) = 0;
    virtual HRESULT SimConnect_MapClientEventToSimEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                        const char* EventName) = 0;
    virtual HRESULT SimConnect_TransmitClientEvent(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                                   SIMCONNECT_CLIENT_EVENT_ID EventID, DWORD dwData,
                                                   SIMCONNECT_NOTIFICATION_GROUP_ID GroupID,
                                                   SIMCONNECT_EVENT_FLAG Flags) = 0;
    virtual HRESULT SimConnect_AddClientEventToNotificationGroup(HANDLE hSimConnect,
                                                                 SIMCONNECT_NOTIFICATION_GROUP_ID GroupID,
                                                                 SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                                 BOOL bMaskable) = 0;
    virtual HRESULT SimConnect_SetNotificationGroupPriority(HANDLE hSimConnect,
                                                            SIMCONNECT_NOTIFICATION_GROUP_ID GroupID,
                                                            DWORD uPriority) = 0;
    virtual HRESULT SimConnect_AddToDataDefinition(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                                   const char* DatumName, const char* UnitsName,
                                                   SIMCONNECT_DATATYPE DatumType, float fEpsilon,
                                                   DWORD DatumID) = 0;
    virtual HRESULT SimConnect_RequestDataOnSimObject(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                      SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                                      SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_PERIOD Period,
                                                      SIMCONNECT_DATA_REQUEST_FLAG Flags, DWORD origin,
                                                      DWORD interval, DWORD limit) = 0;
    virtual HRESULT SimConnect_RequestDataOnSimObjectType(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                          SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                                          DWORD dwRadiusMeters, SIMCONNECT_SIMOBJECT_TYPE type) = 0;
    virtual HRESULT SimConnect_SetDataOnSimObject(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                                  SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_DATA_SET_FLAG Flags,
                                                  DWORD ArrayCount, DWORD cbUnitSize, void* pDataSet) = 0;
    virtual HRESULT SimConnect_SubscribeToSystemEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                      const char* SystemEventName) = 0;
    virtual HRESULT SimConnect_AICreateNonATCAircraft(HANDLE hSimConnect, const char* szContainerTitle,
                                                      const char* szTailNumber,
                                                      SIMCONNECT_DATA_INITPOSITION InitPos,
                                                      SIMCONNECT_DATA_REQUEST_ID RequestID) = 0;
    virtual HRESULT SimConnect_AIReleaseControl(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                                SIMCONNECT_DATA_REQUEST_ID RequestID) = 0;
    virtual HRESULT SimConnect_AIRemoveObject(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                              SIMCONNECT_DATA_REQUEST_ID RequestID) = 0;
    virtual HRESULT SimConnect_AISetAircraftFlightPlan(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                                       const char* szFlightPlanPath,
                                                       SIMCONNECT_DATA_REQUEST_ID RequestID) = 0;
};

// The client that talks to the simulator (the free functions above).
std::unique_ptr<Client> makeSystemClient();

}  // namespace vntx::simconnect
