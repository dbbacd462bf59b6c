#include "scheduler.h"

#include "common_log.h"
#include "datastore.h"
#include "mib_status.h"
#include "registry.h"
#include "service_parameters.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kThreadFunction[] = L"DataCollectionThread";
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000;

// Per-group poll intervals, used while the service-wide PollInterval is not valid. A configured
// value counts from kMinimumGroupInterval seconds on.
struct GROUP_POLL_INTERVAL {
    const wchar_t *group;
    const wchar_t *valueName;
    uint32_t defaultSeconds;
};
constexpr DWORD kMinimumGroupInterval = 10;
constexpr GROUP_POLL_INTERVAL kGroupPollIntervals[] = {
    {L"MIB-2", L"PollInterval_MIB-2", 300},
    {L"ZDTSTDEQ", L"PollInterval_ZDTSTDEQ", 120},
    {L"ZDTSCSI", L"PollInterval_ZDTSCSI", POLL_INTERVAL_TRIGGER_ONLY},
    {L"ZDTSAS", L"PollInterval_ZDTSAS", 120},
    {L"ZDTHOST", L"PollInterval_ZDTHOST", 300},
    {L"ZDTIDE", L"PollInterval_ZDTIDE", 60},
    {L"ZDTFCA", L"PollInterval_ZDTFCA", 120},
    {L"ZDTNIC", L"PollInterval_ZDTNIC", POLL_INTERVAL_TRIGGER_ONLY},
    {L"ZDTISCSI", L"PollInterval_ZDTISCSI", 120},
    {L"ZDTWINOSMGMT", L"PollInterval_ZDTWINOSMGMT", POLL_INTERVAL_TRIGGER_ONLY},
    {L"LLDP", L"PollInterval_LLDP", 120},
};

// The slow inventories.
struct INVENTORY {
    const wchar_t *stampName;
    const wchar_t *minutesName;
    DWORD defaultMinutes;
    bool relogValuesCount;  // whether the black-box re-log requests under VolatileData make it due
};
constexpr DWORD kMaximumInventoryMinutes = 43200;
constexpr INVENTORY kSoftwareInventory = {L"LastSoftwareCollectionTime", L"PollInterval_Software_InMinutes", 2, true};
constexpr INVENTORY kHotFixInventory = {L"LastHotFixCollectionTime", L"PollInterval_HotFix_InMinutes", 1440, false};

constexpr const wchar_t *kRelogFlagNames[] = {L"KWBCleared", L"KWBDisabledThenEnabled"};
constexpr const wchar_t *kInventoryRelogValues[] = {L"RelogBBForServiceDriver", L"RelogBBForSwOs"};

class SYSTEM_CLOCK final : public SCHEDULER_CLOCK {
public:
    uint64_t Now() override
    {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        return uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    }
    DWORD Pause(int, HANDLE stopEvent, DWORD milliseconds) override
    {
        return WaitForSingleObject(stopEvent, milliseconds);
    }
};

SYSTEM_CLOCK s_SystemClock;
std::atomic<SCHEDULER_CLOCK *> s_Clock{&s_SystemClock};
std::atomic<DATACOLLECTOR *const *> s_InstalledList{nullptr};

// 1 when the thread starts; the first cycle takes it.
std::atomic<int> s_FirstRunFlag{0};

class EVENT_HOLDER {
public:
    explicit EVENT_HOLDER(HANDLE event) : m_Event(event) {}
    ~EVENT_HOLDER()
    {
        if (m_Event != nullptr)
            CloseHandle(m_Event);
    }
    EVENT_HOLDER(const EVENT_HOLDER &) = delete;
    EVENT_HOLDER &operator=(const EVENT_HOLDER &) = delete;
    HANDLE Get() const { return m_Event; }

private:
    HANDLE m_Event;
};

uint64_t ElapsedSeconds(uint64_t now, uint64_t then)
{
    // Unsigned: a stamp from the future counts as very old.
    return (now - then) / kFileTimeUnitsPerSecond;
}

bool HostFlagSet(CRegistry &key, const wchar_t *name)
{
    DWORD value = 0;
    return key.GetDword(name, &value) && value != 0;
}

void SetFirstDataCollectionDone(DWORD value)
{
    CRegistry(HKEY_LOCAL_MACHINE, kServiceKey).SetDword(L"FirstDataCollectionDone", value);
}

void SignalCollectionEvent(const std::wstring &name)
{
    EVENT_HOLDER event(CreateEventW(nullptr, FALSE, FALSE, name.c_str()));
    if (event.Get() == nullptr) {
        LOG_ERROR(kThreadFunction, L"DataCollectionThread: Error to send event to oxb, (error %d)",
                  static_cast<int>(GetLastError()));
        return;
    }
    SetEvent(event.Get());
}

// The configured interval of a group, when the table knows the group.
bool GroupPollInterval(CRegistry &parameters, const wchar_t *group, uint32_t *interval)
{
    if (group == nullptr)
        return false;
    for (const GROUP_POLL_INTERVAL &row : kGroupPollIntervals) {
        if (_wcsicmp(row.group, group) != 0)
            continue;
        DWORD value = 0;
        *interval = parameters.GetDword(row.valueName, &value) && value >= kMinimumGroupInterval ? value
                                                                                                 : row.defaultSeconds;
        return true;
    }
    return false;
}

DATACOLLECTOR *FindCollector(const wchar_t *groupName)
{
    if (groupName == nullptr)
        return nullptr;
    for (DATACOLLECTOR *const *entry = GetCollectorList(); *entry != nullptr; ++entry)
        if ((*entry)->Name() != nullptr && _wcsicmp((*entry)->Name(), groupName) == 0)
            return *entry;
    return nullptr;
}

bool IsInventoryDue(const INVENTORY &inventory)
{
    CRegistry host(HKEY_LOCAL_MACHINE, kHostStateKey);
    if (!host.Create())
        return true;
    // Anything but eight bytes of REG_BINARY is no stamp.
    uint64_t stamp = 0;
    DWORD size = sizeof(stamp);
    if (!host.GetBinary(inventory.stampName, &stamp, &size) || size != sizeof(stamp))
        return true;

    DWORD minutes = inventory.defaultMinutes;
    CRegistry parameters(HKEY_LOCAL_MACHINE, kServiceParametersKey, KEY_READ);
    DWORD configured = 0;
    if (parameters.GetDword(inventory.minutesName, &configured))
        minutes = configured == 0 ? 1 : (configured > kMaximumInventoryMinutes ? kMaximumInventoryMinutes : configured);

    bool due = ElapsedSeconds(GetSchedulerClock()->Now(), stamp) > uint64_t(minutes) * 60;
    for (const wchar_t *flag : kRelogFlagNames)
        due = due || HostFlagSet(host, flag);
    if (inventory.relogValuesCount) {
        CRegistry volatileData(HKEY_LOCAL_MACHINE, kVolatileDataKey, KEY_READ);
        for (const wchar_t *value : kInventoryRelogValues)
            due = due || volatileData.ValueExists(value);
    }
    return due;
}

bool StampInventory(const INVENTORY &inventory, bool now)
{
    CRegistry host(HKEY_LOCAL_MACHINE, kHostStateKey);
    if (!host.Create())
        return false;
    const uint64_t stamp = now ? GetSchedulerClock()->Now() : 0;
    return host.SetBinary(inventory.stampName, &stamp, sizeof(stamp)) != 0;
}

// The health-log re-log flags KWBCleared and KWBDisabledThenEnabled under System\ZORUROVID. The
// black-box thread sets them when the management processor's health log was cleared, or disabled
// and enabled again; the collectors that read them post their records again. A flag is reset only
// once every enabled reader has collected after the flag was seen set: a flag that arrives while
// no reader collects, or during a cycle, waits for the readers' next collection.
class RELOG_FLAGS {
public:
    // Before the collect pass: a flag that is newly seen set waits for every enabled reader.
    void BeforeCollect(DATACOLLECTOR *const *list)
    {
        CRegistry host(HKEY_LOCAL_MACHINE, kHostStateKey, KEY_READ);
        for (FLAG &flag : m_Flags) {
            if (!HostFlagSet(host, flag.name)) {
                flag.followed = false;
                flag.waiting.clear();
                continue;
            }
            if (flag.followed)
                continue;
            flag.followed = true;
            flag.waiting.clear();
            for (DATACOLLECTOR *const *entry = list; *entry != nullptr; ++entry)
                if ((*entry)->IsEnabled() && (*entry)->ReadsRelogFlags())
                    flag.waiting.push_back(*entry);
        }
    }

    // A collector ended a collection that started after the flags were looked at.
    void Collected(DATACOLLECTOR *collector)
    {
        for (FLAG &flag : m_Flags)
            std::erase(flag.waiting, collector);
    }

    // The end of a cycle: a flag that no reader waits for any more is reset.
    void Settle()
    {
        CRegistry host(HKEY_LOCAL_MACHINE, kHostStateKey);
        if (!host.Create())
            return;
        for (FLAG &flag : m_Flags) {
            if (!flag.followed || !flag.waiting.empty())
                continue;
            if (HostFlagSet(host, flag.name))
                host.SetDword(flag.name, 0);
            flag.followed = false;
        }
    }

private:
    struct FLAG {
        explicit FLAG(const wchar_t *flagName) : name(flagName) {}
        const wchar_t *name;
        bool followed = false;
        std::vector<DATACOLLECTOR *> waiting;
    };
    FLAG m_Flags[2] = {FLAG(kRelogFlagNames[0]), FLAG(kRelogFlagNames[1])};
};

// One run of the "Data Collection" thread, from the collectors' Initialize to their Terminate.
class COLLECTION_RUN {
public:
    explicit COLLECTION_RUN(CWorkerThread *worker)
        : m_Worker(worker), m_Clock(GetSchedulerClock()), m_List(GetCollectorList())
    {
    }

    void Run()
    {
        ForEachEnabled([](int, DATACOLLECTOR *collector) { collector->Initialize(); });
        s_FirstRunFlag = 1;
        SetFirstDataCollectionDone(0);
        while (!m_Worker->StopRequested() && Cycle()) {
        }
        ForEachEnabled([](int, DATACOLLECTOR *collector) { collector->Terminate(); });
    }

private:
    template <class Visit>
    void ForEachEnabled(Visit &&visit)
    {
        for (int index = 0; m_List[index] != nullptr; ++index)
            if (m_List[index]->IsEnabled())
                visit(index, m_List[index]);
    }

    // A pause of the thread; true when it must stop.
    bool Stopped(int pause, int index = -1)
    {
        const DWORD reason = m_Clock->Pause(pause, m_Worker->m_StopEvent, DATACOLLECTION_TIMING::PauseMs.load());
        const int stop = m_Worker->StopRequested() ? 1 : 0;
        if (reason != WAIT_OBJECT_0 && !stop)
            return false;
        if (pause == 2)
            LOG_VERBOSE(kThreadFunction, L"Receive stop #2 (idx=%d, dwReason=%d, bStop=%d)", index,
                        static_cast<int>(reason), stop);
        else
            LOG_VERBOSE(kThreadFunction, L"Receive stop #%d (dwReason=%d, bStop=%d)", pause, static_cast<int>(reason),
                        stop);
        return true;
    }

    // One cycle; false when the thread stops.
    bool Cycle()
    {
        std::unique_ptr<DATASTORE> staging(new (std::nothrow) DATASTORE(false));
        if (staging != nullptr && !Collect(staging))
            return false;
        LOG_VERBOSE(kThreadFunction, L"DataCollectionThread: Poll cycle complete");
        m_Relog.Settle();
        SetFirstDataCollectionDone(1);
        return !Stopped(6);
    }

    // The passes of a cycle with a staging store; false when the thread stops.
    bool Collect(std::unique_ptr<DATASTORE> &staging)
    {
        const int firstRun = s_FirstRunFlag.exchange(0);
        DATASTORE *store = staging.get();

        if (Stopped(1))
            return false;
        ForEachEnabled([&](int, DATACOLLECTOR *collector) {
            if (IsCollectionDue(collector->LastCollection(), collector->PollInterval()))
                collector->StartCollection(firstRun, store);
        });
        m_Relog.BeforeCollect(m_List);

        for (int index = 0; m_List[index] != nullptr; ++index) {
            DATACOLLECTOR *collector = m_List[index];
            if (!collector->IsEnabled() || !collector->IsCollecting())
                continue;
            // A stop here ends the pass; the next pause ends the thread.
            if (Stopped(2, index))
                break;
            collector->PreCollect(firstRun, store);
            collector->Collect(firstRun, store);
            collector->PostCollect(firstRun, store);
        }

        if (Stopped(3))
            return false;
        ForEachEnabled([&](int index, DATACOLLECTOR *collector) {
            if (!collector->IsCollecting())
                return;
            collector->ClearTrigger();
            collector->EndCollection(firstRun, store);
            collector->SetLastCollection(m_Clock->Now());
            m_Relog.Collected(collector);
            LOG_VERBOSE(kThreadFunction, L"Collection end %d", index);
        });

        if (Stopped(4))
            return false;
        CRegistry parameters(HKEY_LOCAL_MACHINE, kServiceParametersKey, KEY_READ);
        std::vector<std::wstring> events;
        SettleIntervals(parameters, &events);
        // The events go out with the interval pass, before the merge: a waiter that reads the
        // store at once may still see the values of the cycle before.
        for (const std::wstring &event : events)
            SignalCollectionEvent(event);

        if (Stopped(5))
            return false;
        PublishMibStatusArray(store);
        if (s_DataStore != nullptr)
            s_DataStore->Merge(store);
        staging.reset();
        parameters.Close();
        return true;
    }

    // Every collector without a pending trigger gets its configured interval back and gives up
    // the event of its last trigger.
    void SettleIntervals(CRegistry &parameters, std::vector<std::wstring> *events)
    {
        DWORD serviceWide = 0;
        const bool valid = parameters.GetDword(L"PollInterval", &serviceWide) &&
                           serviceWide >= kMinimumPollInterval && serviceWide <= kMaximumPollInterval;
        s_ServiceParameters.PollInterval = valid ? static_cast<int>(serviceWide) : kDefaultPollInterval;

        for (DATACOLLECTOR *const *entry = m_List; *entry != nullptr; ++entry) {
            uint32_t interval = serviceWide;
            const bool hasInterval = valid || GroupPollInterval(parameters, (*entry)->Name(), &interval);
            std::wstring event;
            if ((*entry)->SettleInterval(hasInterval, interval, &event) && !event.empty())
                events->push_back(std::move(event));
        }
    }

    CWorkerThread *m_Worker;
    SCHEDULER_CLOCK *m_Clock;
    DATACOLLECTOR *const *m_List;
    RELOG_FLAGS m_Relog;
};

} // namespace

CWorkerThread s_DataCollectionThread{L"Data Collection", &DataCollectionThread};

SCHEDULER_CLOCK *GetSchedulerClock()
{
    return s_Clock.load();
}

void SetSchedulerClock(SCHEDULER_CLOCK *clock)
{
    s_Clock = clock != nullptr ? clock : &s_SystemClock;
}

DATACOLLECTOR *const *GetCollectorList()
{
    static DATACOLLECTOR *const s_EmptyList[] = {nullptr};
    DATACOLLECTOR *const *list = s_InstalledList.load();
    return list != nullptr ? list : s_EmptyList;
}

void SetCollectorList(DATACOLLECTOR *const *list)
{
    s_InstalledList = list;
}

int StartDataCollection()
{
    if (!s_ServiceParameters.EnableDataCollection)
        return 1;
    return s_DataCollectionThread.Start();
}

void StopDataCollection()
{
    if (!s_ServiceParameters.EnableDataCollection)
        return;
    s_DataCollectionThread.Stop();
    // A thread that had to be terminated could not take its stop event back from the collectors.
    DATACOLLECTOR::SetStopEvent(nullptr);
}

unsigned __stdcall DataCollectionThread(void *record)
{
    auto *worker = static_cast<CWorkerThread *>(record);
    DATACOLLECTOR::SetStopEvent(worker->m_StopEvent);
    InitCom();
    {
        COLLECTION_RUN run(worker);
        run.Run();
    }
    UninitCom();
    DATACOLLECTOR::SetStopEvent(nullptr);
    return 0;
}

int IsCollectionDue(uint64_t lastCollection, uint32_t pollInterval)
{
    return ElapsedSeconds(GetSchedulerClock()->Now(), lastCollection) > pollInterval ? 1 : 0;
}

void TriggerAllCollections(int seconds, const wchar_t *eventName)
{
    DATACOLLECTOR *const *list = GetCollectorList();
    // The event goes with a collection that will happen: a disabled collector never collects.
    DATACOLLECTOR *receiver = list[0];
    for (DATACOLLECTOR *const *entry = list; *entry != nullptr; ++entry) {
        if ((*entry)->IsEnabled()) {
            receiver = *entry;
            break;
        }
    }
    for (DATACOLLECTOR *const *entry = list; *entry != nullptr; ++entry)
        (*entry)->Trigger(static_cast<uint32_t>(seconds), *entry == receiver ? eventName : nullptr);
}

void TriggerCollection(const wchar_t *groupName, int seconds)
{
    if (DATACOLLECTOR *collector = FindCollector(groupName))
        collector->Trigger(static_cast<uint32_t>(seconds), nullptr);
}

void TriggerCollectionWithEvent(const wchar_t *groupName, int seconds, const wchar_t *eventName)
{
    if (DATACOLLECTOR *collector = FindCollector(groupName))
        collector->Trigger(static_cast<uint32_t>(seconds), eventName);
}

bool IsSoftwareCollectionDue()
{
    return IsInventoryDue(kSoftwareInventory);
}

bool IsHotFixCollectionDue()
{
    return IsInventoryDue(kHotFixInventory);
}

bool StampSoftwareCollection(bool now)
{
    return StampInventory(kSoftwareInventory, now);
}

bool StampHotFixCollection(bool now)
{
    return StampInventory(kHotFixInventory, now);
}

void PublishMibStatusArray(DATASTORE *staging)
{
    MIB_STATUS_OBJECTS objects;
    for (DATACOLLECTOR *const *entry = GetCollectorList(); *entry != nullptr; ++entry) {
        const DATACOLLECTOR &collector = **entry;
        if (!collector.IsEnabled() || collector.MibGroup() == 0)
            continue;
        objects.Add(MIB_GROUP_STATUS{collector.MibGroup(), collector.Status(), collector.Condition(),
                                     collector.RevisionMajor(), collector.RevisionMinor()});
    }
    WriteMibStatusObjects(staging, objects);
}
