#pragma once
// The base of every MIB-group collector.
//
// The "Data Collection" thread drives each enabled collector that is due through one collection:
// StartCollection, PreCollect, Collect, PostCollect and EndCollection, each given the cycle's
// first-run flag and its staging store. The base keeps what the scheduler and the status objects
// need to know of a collector: its group and revision, its status and condition, its poll
// interval, and the trigger that other threads (watchers, the sub-agent, the black-box feeder)
// set to make it due earlier.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class AXSESSION;
class DATASTORE;

// A poll interval of -1: the collector collects once after start and then only when triggered.
constexpr uint32_t POLL_INTERVAL_TRIGGER_ONLY = 0xFFFFFFFF;

// Results of DATACOLLECTOR::WaitOrStop besides WAIT_TIMEOUT and WAIT_FAILED.
constexpr DWORD COLLECTOR_WAIT_OBJECT = WAIT_OBJECT_0;
constexpr DWORD COLLECTOR_WAIT_STOP = WAIT_OBJECT_0 + 1;

class DATACOLLECTOR {
public:
    // name: the group name the triggers and the interval table use (kept, not copied).
    // enableFlag: one of the service's Enable switches; null means always enabled.
    DATACOLLECTOR(const wchar_t *name, uint32_t mibGroup, uint8_t revisionMajor, uint8_t revisionMinor,
                  const int *enableFlag);
    virtual ~DATACOLLECTOR();
    DATACOLLECTOR(const DATACOLLECTOR &) = delete;
    DATACOLLECTOR &operator=(const DATACOLLECTOR &) = delete;

    // Once before the first cycle: status 0, condition 1, no collection yet.
    virtual void Initialize();
    // Once when the thread ends.
    virtual void Terminate();
    // Registers the collector's MIB regions with the session; 0 when every registration worked.
    virtual int Register(AXSESSION *session);
    // status 0, condition 0, collecting.
    virtual void StartCollection(int firstRun, DATASTORE *staging);
    // The group counts as collected (status bit 0); condition 0.
    virtual void PreCollect(int firstRun, DATASTORE *staging);
    // The collector's own work: writes into the staging store only.
    virtual void Collect(int firstRun, DATASTORE *staging);
    virtual void PostCollect(int firstRun, DATASTORE *staging);
    // No longer collecting; for a collector with a group: on the first run the service-wide poll
    // interval and the revision, in every run the condition.
    virtual void EndCollection(int firstRun, DATASTORE *staging);

    // The enable switch's value, 1 without a switch.
    int IsEnabled() const;
    int IsCollecting() const { return m_Collecting.load(); }
    // Raises the condition to the low byte of value when that is greater; never lowers it.
    void SetCondition(int value);

    const wchar_t *Name() const { return m_Name; }
    uint32_t MibGroup() const { return m_MibGroup; }
    uint8_t Status() const { return m_Status; }
    uint8_t Condition() const { return m_Condition.load(); }
    uint8_t RevisionMajor() const { return m_RevisionMajor; }
    uint8_t RevisionMinor() const { return m_RevisionMinor; }
    const int *EnableFlag() const { return m_EnableFlag; }
    // Whether the collector reads the health-log re-log flags that the scheduler resets.
    bool ReadsRelogFlags() const { return m_ReadsRelogFlags; }

    // ---- Scheduling state. Triggers come from any thread; the rest belongs to the scheduler.

    // FILETIME (UTC, 100-ns units) of the last EndCollection; 0 before the first.
    uint64_t LastCollection() const { return m_LastCollection.load(); }
    void SetLastCollection(uint64_t fileTime) { m_LastCollection = fileTime; }
    uint32_t PollInterval() const;
    int IsTriggered() const;
    std::wstring EventName() const;
    // Makes the collector due once its data is older than seconds; the trigger stays pending until
    // the collector has collected. A non-null eventName is signalled after that collection.
    void Trigger(uint32_t seconds, const wchar_t *eventName);
    // The end of a collection consumes the pending trigger.
    void ClearTrigger();
    // The interval pass: while a trigger is pending nothing changes and the result is false.
    // Otherwise the pending event name moves to *eventName (empty when none) and, when hasInterval
    // is set, the interval becomes the poll interval.
    bool SettleInterval(bool hasInterval, uint32_t interval, std::wstring *eventName);

    // ---- Waits of collectors.

    // Waits for object (or, when it is null, only sleeps) and, while the "Data Collection" thread
    // runs, also for its stop event, so that a stop never has to terminate a collector that is
    // waiting. COLLECTOR_WAIT_OBJECT, COLLECTOR_WAIT_STOP, WAIT_TIMEOUT or WAIT_FAILED. Terminate
    // runs after the stop, when this returns at once: a bounded wait there waits on its own.
    static DWORD WaitOrStop(HANDLE object, DWORD milliseconds);
    // True once the running "Data Collection" thread was asked to stop.
    static bool StopRequested();
    // The scheduler names its stop event while its thread runs, and null when it ends.
    static void SetStopEvent(HANDLE stopEvent);

protected:
    // For collectors that read KWBCleared and KWBDisabledThenEnabled (see the scheduler).
    void SetReadsRelogFlags() { m_ReadsRelogFlags = true; }

private:
    const wchar_t *m_Name;
    uint32_t m_MibGroup;
    uint8_t m_Status = 0;
    std::atomic<uint8_t> m_Condition{1};
    uint8_t m_RevisionMajor;
    uint8_t m_RevisionMinor;
    const int *m_EnableFlag;
    std::atomic<int> m_Collecting{0};
    std::atomic<uint64_t> m_LastCollection{0};
    bool m_ReadsRelogFlags = false;

    // Interval, trigger and event name change together, under this lock.
    mutable std::mutex m_TriggerLock;
    uint32_t m_PollInterval = 0;
    int m_Triggered = 0;
    std::wstring m_EventName;

    static inline std::atomic<HANDLE> s_StopEvent{nullptr};
};
