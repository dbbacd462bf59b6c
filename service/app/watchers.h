#pragma once
// The watchers that turn operating-system changes into collection triggers:
//   - the network watcher: an IP interface change notification; every change of an interface's
//     operational state also sends linkUp or linkDown and posts a "NIC Link" black-box record;
//   - the network polling thread: compares snapshots of the interface table every 120 seconds;
//   - the device watcher: every device-interface arrival and removal.
//
// Changes closer than 6 seconds to the last one the network watcher acted on are not acted on at
// once; the interfaces concerned are examined again when the 6 seconds have passed (the polling
// thread looks every second), so that the second of two quick changes is not lost.

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <cfgmgr32.h>

#include <atomic>
#include <cstdint>
#include <map>

// Interface index -> last known state (MapIfOperStatus numbering). Read by tests.
extern std::map<uint32_t, DWORD> s_IfOperStatusMap;

// What the watchers read of the system. The product reads the real interfaces and clock; tests
// install their own (never the product).
struct NETWORK_WATCHER_PLATFORM {
    MIB_IFTABLE *(*AllocIfTable)();       // sorted, states mapped (the watcher's start)
    MIB_IFTABLE *(*AllocRawIfTable)();    // unsorted, states as reported (the polling thread)
    DWORD (*GetIfEntry)(MIB_IFROW *row);  // by row->dwIndex
    uint64_t (*Now)();                    // FILETIME, UTC
};
const NETWORK_WATCHER_PLATFORM &SystemNetworkWatcherPlatform();
// Null brings back the system's. Not while the watcher is registered.
void SetNetworkWatcherPlatform(const NETWORK_WATCHER_PLATFORM *platform);

struct NetworkWatcherTimeouts {
    // How long the callback waits for the NIC collector's "ZdtNICSendTrapDone".
    static inline std::atomic<DWORD> TrapDoneWaitMs{10000};
    // The polling thread's pass interval is PollTicks pauses of PollTickMs.
    static inline std::atomic<DWORD> PollTickMs{1000};
    static inline std::atomic<int> PollTicks{120};
};

constexpr uint32_t kNetworkChangeDebounceSeconds = 6;
constexpr wchar_t kNetworkChangeEventName[] = L"Evt_Notify_oXB_Network_Change";
constexpr wchar_t kDeviceChangeEventName[] = L"Evt_Notify_oXB_Device_Change";
constexpr wchar_t kNicSendTrapDoneEventName[] = L"ZdtNICSendTrapDone";

int StartNetworkWatcher();
void StopNetworkWatcher();
void WINAPI NetworkCallback(PVOID context, PMIB_IPINTERFACE_ROW row, MIB_NOTIFICATION_TYPE type);
// Examines again, as a parameter change, every interface whose change the 6-second window held
// back, once the window has ended. The polling thread calls it every second.
void ReexamineDroppedInterfaces();
// Interfaces waiting for re-examination (tests).
size_t DroppedInterfaceCount();

// The polling thread: the procedure, and its start (a handle, or null) as the service's start
// makes it. StopNetworkWatcher ends it.
DWORD WINAPI NetworkPollThread(LPVOID);
HANDLE StartNetworkPollThread();

// Device-interface notifications. CM_Register_Notification is looked up at run time (systems
// without it would refuse to load a program that imports it).
using CM_REGISTER_NOTIFICATION = CONFIGRET(WINAPI *)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK,
                                                     PHCMNOTIFICATION);
// Tests put their own registration here; null looks the system's up.
extern std::atomic<CM_REGISTER_NOTIFICATION> s_RegisterDeviceNotification;
int StartDeviceWatcher();
DWORD CALLBACK DeviceChangeCallback(HCMNOTIFICATION notification, PVOID context, CM_NOTIFY_ACTION action,
                                    PCM_NOTIFY_EVENT_DATA eventData, DWORD eventDataSize);

// linkUp / linkDown with ifIndex.n; nothing when traps are disabled.
void SendLinkTrap(const uint8_t *trapOid, uint32_t interfaceIndex);
void SendLinkUpTrap(uint32_t interfaceIndex);
void SendLinkDownTrap(uint32_t interfaceIndex);
