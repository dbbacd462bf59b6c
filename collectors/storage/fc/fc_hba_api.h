#pragma once
// The Fibre Channel HBA API wrapper: loads the system's HBA API library by name at run time,
// polls every adapter and port it reports into the current list, finds each adapter's slot and
// board id through its ports' devices, and hands its client (the FCA collector) a copy of the
// list. One instance, s_FcHbaApi, used from the "Data Collection" thread; its lists are guarded
// by named mutexes.

#include "fc_decode.h"
#include "fc_hbaapi_types.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// The library load results.
constexpr LONG FC_HBA_LIBRARY_NOT_FOUND = -0xEFFF;
constexpr LONG FC_HBA_EXPORT_MISSING = -0xEFFE;

// Controller types of a port's device.
enum : uint32_t {
    FC_CONTROLLER_UNKNOWN = 0,
    FC_CONTROLLER_DRIVER = 1,       // the FC driver's own slot request, else WMI
    FC_CONTROLLER_CSMI_SLOT = 4,    // the maker's CSMI, slot through the driver's request
    FC_CONTROLLER_CSMI_CLASS4 = 5,
    FC_CONTROLLER_CSMI = 6,
};

struct FC_PORT_RECORD {
    HANDLE Device = INVALID_HANDLE_VALUE;   // open only while the slot is looked up
    uint32_t ControllerType = FC_CONTROLLER_UNKNOWN;
    FC_CSMI_CONFIG Config;
    uint32_t Position = 0;
    uint32_t Status = 0;
    HBA_PORTATTRIBUTES Attributes{};
    HBA_PORTSTATISTICS Statistics{};
    std::string NodeWwn, PortWwn, FabricWwn;
};

struct FC_ADAPTER_RECORD {
    HBA_HANDLE Handle = 0;
    std::vector<FC_PORT_RECORD> Ports;
    HBA_ADAPTERATTRIBUTES Attributes{};
    uint32_t Status = 0;
    int32_t Slot = 255;
    uint8_t ModelCode = 0;
    std::string NodeWwn;
    std::string Location = "N/A";
    std::string Name;
};

struct FC_ADAPTER_LIST {
    std::vector<FC_ADAPTER_RECORD> Adapters;
    uint32_t Count = 0;
    uint32_t Status = 0;
};

struct FcHbaTimeouts {
    // How long a wait for one of the wrapper's list mutexes lasts at most; a stop of the
    // collector ends it earlier.
    static inline std::atomic<DWORD> MutexWaitMs{30000};
};

// The library's entry points.
using PFN_HBA_GetVersion = HBA_UINT32 (*)();
using PFN_HBA_LoadLibrary = HBA_STATUS (*)();
using PFN_HBA_FreeLibrary = HBA_STATUS (*)();
using PFN_HBA_GetNumberOfAdapters = HBA_UINT32 (*)();
using PFN_HBA_GetAdapterName = HBA_STATUS (*)(HBA_UINT32 index, char *name);
using PFN_HBA_OpenAdapter = HBA_HANDLE (*)(char *name);
using PFN_HBA_CloseAdapter = void (*)(HBA_HANDLE handle);
using PFN_HBA_GetAdapterAttributes = HBA_STATUS (*)(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES *attributes);
using PFN_HBA_GetAdapterPortAttributes = HBA_STATUS (*)(HBA_HANDLE handle, HBA_UINT32 port,
                                                        HBA_PORTATTRIBUTES *attributes);
using PFN_HBA_GetPortStatistics = HBA_STATUS (*)(HBA_HANDLE handle, HBA_UINT32 port, HBA_PORTSTATISTICS *statistics);
using PFN_HBA_RefreshInformation = void (*)(HBA_HANDLE handle);

class CFCHBA_API {
public:
    CFCHBA_API();
    ~CFCHBA_API();
    CFCHBA_API(const CFCHBA_API &) = delete;
    CFCHBA_API &operator=(const CFCHBA_API &) = delete;

    LONG pollHBAInfo(int keepPrevious);
    void CopyToClientList();
    // False when the list could not be had (the wait ran out or the collector is stopping); the
    // client then walks nothing and does not unlock.
    bool LockClientList();
    void UnlockClientList();
    // Valid between LockClientList and UnlockClientList.
    const FC_ADAPTER_LIST &ClientList() const { return m_Client; }
    uint32_t AdaptersOpened() const { return m_AdaptersOpened; }

    LONG EnsureLoaded();
    void Unload();

    // The slot discovery of one port (the adapter's slot and board id).
    LONG getHBAPCISlot(FC_ADAPTER_RECORD *adapter, FC_PORT_RECORD *port);
    LONG OpenPortDevice(FC_PORT_RECORD *port);
    int GetCsmiControllerType(FC_PORT_RECORD *port);
    // 0 with the UI number (0 when it has none) of the first present device whose location text
    // names the low bytes of bus, device and function; 13 when no device does.
    static LONG FindUiNumber(unsigned bus, unsigned device, unsigned function, int32_t *uiNumber);

    // As a new process finds it: library unloaded, lists empty (tests only).
    void ResetForTests();

private:
    LONG prv_LoadAllHbaFunctions();
    void PollAdapter(HBA_UINT32 index, uint32_t *slotOfLastPort, uint32_t *portCounter, LONG *result);

    PFN_HBA_GetVersion m_GetVersion = nullptr;
    PFN_HBA_LoadLibrary m_LoadLibrary = nullptr;
    PFN_HBA_FreeLibrary m_FreeLibrary = nullptr;
    PFN_HBA_GetNumberOfAdapters m_GetNumberOfAdapters = nullptr;
    PFN_HBA_GetAdapterName m_GetAdapterName = nullptr;
    PFN_HBA_OpenAdapter m_OpenAdapter = nullptr;
    PFN_HBA_CloseAdapter m_CloseAdapter = nullptr;
    PFN_HBA_GetAdapterAttributes m_GetAdapterAttributes = nullptr;
    PFN_HBA_GetAdapterPortAttributes m_GetAdapterPortAttributes = nullptr;
    PFN_HBA_GetPortStatistics m_GetPortStatistics = nullptr;
    PFN_HBA_RefreshInformation m_RefreshInformation = nullptr;
    HMODULE m_Module = nullptr;
    HBA_STATUS m_Released = 1;
    LONG m_LoadStatus = -1;
    uint32_t m_AdaptersOpened = 0;
    HBA_UINT32 m_Version = 0;
    std::atomic<LONG> m_Clients{0};
    FC_ADAPTER_LIST m_Client;
    FC_ADAPTER_LIST m_Previous;
    FC_ADAPTER_LIST m_Current;
    int m_FirstPoll = 1;
    uint32_t m_PollCounter = 0;
    wchar_t m_ComputerName[16] = {};
    uint32_t m_BoardId = 0;
    HANDLE m_CurrentListMutex = nullptr;
    HANDLE m_ClientListMutex = nullptr;
    HANDLE m_InitMutex = nullptr;
};

extern CFCHBA_API s_FcHbaApi;

// A wait for one of the wrapper's mutexes: bounded by FcHbaTimeouts::MutexWaitMs and ended by a
// stop of the collector. An abandoned mutex counts as acquired.
bool WaitFcMutex(HANDLE mutex);
