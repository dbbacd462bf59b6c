#pragma once
// The data-collection scheduler: the "Data Collection" thread that drives the collectors of the
// list the program installs, the triggers that make a collector due earlier, and the due tests and time
// stamps of the two slow inventories (software and hot fixes).
//
// One cycle of the thread:
//   1. make a staging store;
//   2. start every enabled collector that is due, collect them one after another, end them;
//   3. give every collector without a pending trigger its configured poll interval again;
//   4. write the MIB status objects into the staging store and merge it into s_DataStore;
//   5. signal the events that triggers attached to the collections of the cycle, so that a waiter
//      that wakes reads the new values;
//   6. reset the health-log re-log flags that every reader has seen, and mark the first
//      collection as done.
// Between these steps the thread pauses on its stop event, and a stop ends it at the next pause.

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "datacollector.h"
#include "worker_thread.h"

class DATASTORE;

// Keys of HKEY_LOCAL_MACHINE the scheduler reads and writes.
constexpr wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\ndxtlm";
constexpr wchar_t kVolatileDataKey[] = L"SYSTEM\\CurrentControlSet\\services\\ndxtlm\\VolatileData";
constexpr wchar_t kHostStateKey[] = L"System\\ZORUROVID";

// ---- Time -----------------------------------------------------------------------------------------

// Time as the scheduler sees it: the system clock in the product, a fake one in tests.
class SCHEDULER_CLOCK {
public:
    virtual ~SCHEDULER_CLOCK() = default;
    // The system time (UTC) as a FILETIME: 100-ns units since 1601.
    virtual uint64_t Now() = 0;
    // Pause number `pause` (1 to 6) of the thread: waits up to milliseconds for the stop event
    // and returns what WaitForSingleObject returns.
    virtual DWORD Pause(int pause, HANDLE stopEvent, DWORD milliseconds) = 0;
};

SCHEDULER_CLOCK *GetSchedulerClock();
// Installs another clock; null brings back the system clock. Not while the thread runs.
void SetSchedulerClock(SCHEDULER_CLOCK *clock);

struct DATACOLLECTION_TIMING {
    // The length of every pause of the thread. Tests shorten it.
    static inline std::atomic<DWORD> PauseMs{50};
};

// ---- Collectors -----------------------------------------------------------------------------------

// The list that the thread, the triggers and PublishMibStatusArray work on: the null-terminated
// list the program installed (its s_CollectorList), or an empty list while none is installed. The
// scheduler knows no collector by itself: the program composes the list. Not while the thread runs.
DATACOLLECTOR *const *GetCollectorList();
void SetCollectorList(DATACOLLECTOR *const *list);

// ---- The thread -----------------------------------------------------------------------------------

extern CWorkerThread s_DataCollectionThread;

// 1 without starting anything when EnableDataCollection is off; otherwise whether the "Data
// Collection" thread runs.
int StartDataCollection();
// Stops the thread (CWorkerThread::StopWaitMs, then termination) when EnableDataCollection is on.
void StopDataCollection();
// The procedure of the "Data Collection" worker; receives the CWorkerThread and returns 0.
unsigned __stdcall DataCollectionThread(void *worker);

// 1 when more whole seconds than pollInterval (unsigned) have passed since lastCollection.
int IsCollectionDue(uint64_t lastCollection, uint32_t pollInterval);

// ---- Triggers (any thread) ------------------------------------------------------------------------

// Every collector of the list, enabled or not, becomes due once its data is older than seconds.
// The event, when given, is signalled after the collection of the first enabled collector of the
// list.
void TriggerAllCollections(int seconds, const wchar_t *eventName);
// The first collector with that name (without regard to case) becomes due once its data is older
// than seconds; an unknown name changes nothing.
void TriggerCollection(const wchar_t *groupName, int seconds);
// As TriggerCollection; the event is signalled after that collector's collection.
void TriggerCollectionWithEvent(const wchar_t *groupName, int seconds, const wchar_t *eventName);

// ---- Slow inventories -----------------------------------------------------------------------------

// Due when the last inventory's stamp is missing or malformed, older than the configured minutes
// (PollInterval_Software_InMinutes, default 2; PollInterval_HotFix_InMinutes, default 1440; 0 counts
// as 1, the most is 43200), or when the health log asks for its records again.
bool IsSoftwareCollectionDue();
bool IsHotFixCollectionDue();
// Writes the stamp: the current time, or zero (the next due test then answers due). True on success.
bool StampSoftwareCollection(bool now);
bool StampHotFixCollection(bool now);

// ---- Status objects -------------------------------------------------------------------------------

// Writes the status array and the condition summary of every enabled collector with a group into
// the staging store.
void PublishMibStatusArray(DATASTORE *staging);
