#include "watchers.h"

#include "agentx_pdu.h"
#include "blackbox.h"
#include "common_log.h"
#include "iphelper.h"
#include "scheduler.h"
#include "service_parameters.h"
#include "traps.h"

#include <cstdlib>
#include <cwctype>
#include <mutex>
#include <string>
#include <vector>

std::map<uint32_t, DWORD> s_IfOperStatusMap;
std::atomic<CM_REGISTER_NOTIFICATION> s_RegisterDeviceNotification{nullptr};

namespace {

constexpr uint64_t kFileTimeSecond = 10000000;
constexpr wchar_t kCallbackName[] = L"NetworkCallback";

MIB_IFTABLE *AllocRawIfTable() { return AllocIfTableWith(&GetIfTable, FALSE); }
DWORD ReadIfEntry(MIB_IFROW *row) { return GetIfEntry(row); }
uint64_t SystemNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

const NETWORK_WATCHER_PLATFORM s_SystemPlatform = {&AllocIfTable, &AllocRawIfTable, &ReadIfEntry, &SystemNow};
std::atomic<const NETWORK_WATCHER_PLATFORM *> s_Platform{&s_SystemPlatform};
const NETWORK_WATCHER_PLATFORM &Platform() { return *s_Platform.load(); }

// The map, the time of the last change acted on and the interfaces held back by the 6-second
// window change together: notification threads and the polling thread both reach them.
std::mutex s_WatcherLock;
uint64_t s_LastNetworkChange = 0;
std::map<uint32_t, MIB_NOTIFICATION_TYPE> s_DroppedInterfaces;
HANDLE s_NotificationHandle = nullptr;

std::atomic<int> s_PollStopFlag{0};
HANDLE s_PollStopEvent = nullptr;  // manual-reset; made with the polling thread, kept for the process

// The watchers run until StopNetworkWatcher; a new start clears the stop it left behind.
bool ClearWatcherStop()
{
    if (s_PollStopEvent == nullptr)
        s_PollStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (s_PollStopEvent == nullptr)
        return false;
    s_PollStopFlag = 0;
    ResetEvent(s_PollStopEvent);
    return true;
}

bool WithinWindow(uint64_t now)
{
    return uint32_t((now - s_LastNetworkChange) / kFileTimeSecond) < kNetworkChangeDebounceSeconds;
}

DWORD MappedState(MIB_IFROW *row)
{
    MapIfOperStatus(row);
    return row->dwOperStatus;
}

// The NIC collector sends its own traps first; the link trap follows them, or follows the wait.
void WaitForNicTraps()
{
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, kNicSendTrapDoneEventName);
    if (done == nullptr)
        return;
    LOG_INFO(kCallbackName, L"[NetworkCallback] Wait for signal..(max wait time is upto 10 secs)");
    HANDLE waits[2] = {done, s_PollStopEvent};
    DWORD count = s_PollStopEvent != nullptr ? 2 : 1;
    DWORD wait = WaitForMultipleObjects(count, waits, FALSE, NetworkWatcherTimeouts::TrapDoneWaitMs);
    if (wait == WAIT_OBJECT_0)
        LOG_INFO(kCallbackName, L"Received event notification: hNetworkSendTrapDone");
    else if (wait == WAIT_TIMEOUT)
        LOG_INFO(kCallbackName, L"Timeout elapsed while waiting for signal.");
    CloseHandle(done);
}

void NetworkCallbackBody(PMIB_IPINTERFACE_ROW interfaceRow, MIB_NOTIFICATION_TYPE type)
{
    if (interfaceRow == nullptr)
        return;
    const uint32_t index = interfaceRow->InterfaceIndex;
    MIB_IFROW row{};
    row.dwIndex = index;
    if (Platform().GetIfEntry(&row) != NO_ERROR)
        return;
    DWORD state = MappedState(&row);
    {
        std::lock_guard<std::mutex> hold(s_WatcherLock);
        if (state == s_IfOperStatusMap[index])
            return;
        const uint64_t now = Platform().Now();
        if (WithinWindow(now)) {
            // Held back, not forgotten: examined again when the window has ended.
            auto [slot, added] = s_DroppedInterfaces.emplace(index, type);
            if (!added && type == MibParameterNotification)
                slot->second = type;
            LOG_VERBOSE(kCallbackName, L"NetworkCallback: Exit");
            return;
        }
        s_LastNetworkChange = now;
    }
    TriggerCollection(L"MIB-2", 0);
    TriggerCollectionWithEvent(L"ZDTNIC", 0, kNetworkChangeEventName);

    WaitForNicTraps();
    if (s_PollStopFlag.load() != 0)
        return;

    row = MIB_IFROW{};
    row.dwIndex = index;
    if (Platform().GetIfEntry(&row) != NO_ERROR)
        return;
    state = MappedState(&row);
    const std::string description = IfRowDescription(row);
    if (type != MibParameterNotification)
        return;
    {
        std::lock_guard<std::mutex> hold(s_WatcherLock);
        DWORD &known = s_IfOperStatusMap[index];
        if (state == known)
            return;
        known = state;
    }
    if (state == kIfOperUp) {
        SendLinkUpTrap(index);
        PostNicLinkRecord(index, kNicLinkUp, description.c_str());
    } else if (state == kIfOperDown) {
        SendLinkDownTrap(index);
        PostNicLinkRecord(index, kNicLinkDown, description.c_str());
    }
}

std::wstring Lowered(std::wstring text)
{
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

std::wstring WideDescription(const MIB_IFROW &row)
{
    std::string narrow = IfRowDescription(row, sizeof row.bDescr);
    return std::wstring(narrow.begin(), narrow.end());
}

std::wstring RowName(const MIB_IFROW &row)
{
    return std::wstring(row.wszName, wcsnlen(row.wszName, MAX_INTERFACE_NAME_LEN));
}

bool RowsDiffer(const MIB_IFROW &previous, const MIB_IFROW &current)
{
    if (_wcsicmp(WideDescription(previous).c_str(), WideDescription(current).c_str()) != 0)
        return true;
    if (_wcsicmp(RowName(previous).c_str(), RowName(current).c_str()) != 0)
        return true;
    if (memcmp(previous.bPhysAddr, current.bPhysAddr, IfRowPhysAddrLength(current)) != 0)
        return true;
    return previous.dwAdminStatus != current.dwAdminStatus || previous.dwOperStatus != current.dwOperStatus;
}

void TriggerNetworkCollections()
{
    TriggerCollection(L"MIB-2", 0);
    TriggerCollection(L"ZDTNIC", 0);
}

// One pass of the polling thread: compares the interface table with the previous pass's.
void PollInterfaces(std::vector<MIB_IFROW> *previous)
{
    MIB_IFTABLE *table = Platform().AllocRawIfTable();
    if (table == nullptr)
        return;
    std::vector<MIB_IFROW> current(table->table, table->table + table->dwNumEntries);
    free(table);
    if (current.size() != previous->size()) {
        TriggerNetworkCollections();
    } else {
        for (size_t i = 0; i < current.size(); ++i) {
            // Tunnel adapters come and go with their own state changes; they never trigger alone.
            if (Lowered(WideDescription(current[i])).find(L"tunneling") != std::wstring::npos)
                continue;
            if (RowsDiffer((*previous)[i], current[i]))
                TriggerNetworkCollections();
        }
    }
    *previous = std::move(current);
}

} // namespace

const NETWORK_WATCHER_PLATFORM &SystemNetworkWatcherPlatform() { return s_SystemPlatform; }

void SetNetworkWatcherPlatform(const NETWORK_WATCHER_PLATFORM *platform)
{
    s_Platform = platform != nullptr ? platform : &s_SystemPlatform;
}

int StartNetworkWatcher()
{
    ClearWatcherStop();
    std::unique_lock<std::mutex> hold(s_WatcherLock);
    s_LastNetworkChange = Platform().Now();
    if (s_ServiceParameters.EnableNetworkWatcher == 0)
        return 1;
    s_IfOperStatusMap.clear();
    s_DroppedInterfaces.clear();
    MIB_IFTABLE *table = Platform().AllocIfTable();
    if (table == nullptr) {
        LOG_ERROR(L"StartNetworkWatcher", L"The interface table cannot be read");
        return 0;
    }
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        s_IfOperStatusMap[table->table[i].dwIndex] = table->table[i].dwOperStatus;
    free(table);
    hold.unlock();
    DWORD result = NotifyIpInterfaceChange(AF_INET, &NetworkCallback, nullptr, FALSE, &s_NotificationHandle);
    if (result != NO_ERROR) {
        LOG_ERROR(L"StartNetworkWatcher", L"NotifyIpInterfaceChange failed (%lu)", static_cast<unsigned long>(result));
        s_NotificationHandle = nullptr;
        return 0;
    }
    return 1;
}

void StopNetworkWatcher()
{
    // The polling thread, and a callback waiting for the NIC traps, see the stop first, so that
    // cancelling the registration does not wait for them.
    s_PollStopFlag = 1;
    if (s_PollStopEvent != nullptr)
        SetEvent(s_PollStopEvent);
    if (s_ServiceParameters.EnableNetworkWatcher == 0)
        return;
    if (s_NotificationHandle != nullptr) {
        CancelMibChangeNotify2(s_NotificationHandle);
        s_NotificationHandle = nullptr;
    }
    std::lock_guard<std::mutex> hold(s_WatcherLock);
    s_IfOperStatusMap.clear();
    s_DroppedInterfaces.clear();
}

void WINAPI NetworkCallback(PVOID, PMIB_IPINTERFACE_ROW row, MIB_NOTIFICATION_TYPE type)
{
    LOG_VERBOSE(kCallbackName, L"NetworkCallback: Enter");
    NetworkCallbackBody(row, type);
    LOG_VERBOSE(kCallbackName, L"NetworkCallback: Exit");
}

void ReexamineDroppedInterfaces()
{
    std::map<uint32_t, MIB_NOTIFICATION_TYPE> dropped;
    {
        std::lock_guard<std::mutex> hold(s_WatcherLock);
        if (s_DroppedInterfaces.empty() || WithinWindow(Platform().Now()))
            return;
        dropped.swap(s_DroppedInterfaces);
    }
    for (const auto &[index, type] : dropped) {
        MIB_IPINTERFACE_ROW row{};
        row.InterfaceIndex = index;
        NetworkCallback(nullptr, &row, type);
    }
}

size_t DroppedInterfaceCount()
{
    std::lock_guard<std::mutex> hold(s_WatcherLock);
    return s_DroppedInterfaces.size();
}

DWORD WINAPI NetworkPollThread(LPVOID)
{
    std::vector<MIB_IFROW> previous;
    while (s_PollStopFlag.load() == 0) {
        PollInterfaces(&previous);
        for (int tick = 0; tick < NetworkWatcherTimeouts::PollTicks && s_PollStopFlag.load() == 0; ++tick) {
            if (WaitForSingleObject(s_PollStopEvent, NetworkWatcherTimeouts::PollTickMs) == WAIT_OBJECT_0)
                break;
            ReexamineDroppedInterfaces();
        }
    }
    return 0;
}

HANDLE StartNetworkPollThread()
{
    if (!ClearWatcherStop())
        return nullptr;
    return CreateThread(nullptr, 0, &NetworkPollThread, nullptr, 0, nullptr);
}

int StartDeviceWatcher()
{
    if (s_ServiceParameters.EnableDeviceWatcher == 0)
        return 1;
    CM_REGISTER_NOTIFICATION registerNotification = s_RegisterDeviceNotification.load();
    if (registerNotification == nullptr) {
        // Loaded for the life of the process: the registration lasts that long.
        HMODULE cfgmgr = LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (cfgmgr != nullptr)
            registerNotification = reinterpret_cast<CM_REGISTER_NOTIFICATION>(
                reinterpret_cast<void (*)()>(GetProcAddress(cfgmgr, "CM_Register_Notification")));
    }
    if (registerNotification == nullptr) {
        LOG_WARNING(L"StartDeviceWatcher", L"Device-interface notifications are not available");
        return 0;
    }
    CM_NOTIFY_FILTER filter{};
    filter.cbSize = sizeof filter;
    filter.Flags = CM_NOTIFY_FILTER_FLAG_ALL_INTERFACE_CLASSES;
    filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
    HCMNOTIFICATION notification = nullptr;
    return registerNotification(&filter, nullptr, &DeviceChangeCallback, &notification) == CR_SUCCESS ? 1 : 0;
}
static_assert(sizeof(CM_NOTIFY_FILTER) == 416);

DWORD CALLBACK DeviceChangeCallback(HCMNOTIFICATION, PVOID, CM_NOTIFY_ACTION action, PCM_NOTIFY_EVENT_DATA, DWORD)
{
    if (action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL || action == CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL)
        TriggerAllCollections(0, kDeviceChangeEventName);
    return ERROR_SUCCESS;
}

void SendLinkTrap(const uint8_t *trapOid, uint32_t interfaceIndex)
{
    TRAP_BUFFER *trap = CreateTrap(trapOid);
    if (trap == nullptr)
        return;
    const uint32_t ifIndex[] = {1, 2, 2, 1, 1, interfaceIndex};  // 1.3.6.1.2.1.2.2.1.1.n
    uint8_t name[4 + 6 * 4];
    WriteAgentXOid(name, 2, 0, ifIndex, 6);
    uint8_t varbind[64];
    AddTrapVarBind(trap, MakeIntegerVarBind(varbind, name, static_cast<int32_t>(interfaceIndex)));
    SetTrapEnterprise(trap, nullptr);
    SendTrap(trap);
}

void SendLinkUpTrap(uint32_t interfaceIndex)
{
    const uint32_t linkUp[] = {3, 1, 1, 5, 4};  // 1.3.6.1.6.3.1.1.5.4
    uint8_t oid[4 + 5 * 4];
    WriteAgentXOid(oid, 6, 0, linkUp, 5);
    SendLinkTrap(oid, interfaceIndex);
}

void SendLinkDownTrap(uint32_t interfaceIndex)
{
    const uint32_t linkDown[] = {3, 1, 1, 5, 3};  // 1.3.6.1.6.3.1.1.5.3
    uint8_t oid[4 + 5 * 4];
    WriteAgentXOid(oid, 6, 0, linkDown, 5);
    SendLinkTrap(oid, interfaceIndex);
}
