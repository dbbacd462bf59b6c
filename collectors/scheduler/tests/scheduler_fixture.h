#pragma once
// What the scheduler tests share: a fake clock, collectors that record their calls, a run of
// DataCollectionThread on the test's own thread, and the served store and registry around it.

#include "datastore.h"
#include "enterprise_arc.h"
#include "registry.h"
#include "scheduler.h"
#include "service_parameters.h"
#include "store_writers.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace schedtest {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kSecond = 10000000;           // FILETIME units
constexpr uint64_t kStart = 133000000000000000;  // a day in 2022

// Time stands still except where the test moves it and at each pause, which lasts its length.
// Every pause first runs the test's hook; it ends early when the stop event is set.
class FakeClock : public SCHEDULER_CLOCK {
public:
    uint64_t now = kStart;
    std::vector<int> pauses;  // every pause, in order
    std::function<void(int pause)> onPause;

    uint64_t Now() override { return now; }
    DWORD Pause(int pause, HANDLE stopEvent, DWORD milliseconds) override
    {
        pauses.push_back(pause);
        if (onPause)
            onPause(pause);
        if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0)
            return WAIT_OBJECT_0;
        now += uint64_t(milliseconds) * 10000;
        return WAIT_TIMEOUT;
    }
};

// A collector that records each call as "Name:firstRun" (Initialize and Terminate without the
// flag) and runs the base behaviour; onCollect runs inside Collect.
class TestCollector : public DATACOLLECTOR {
public:
    TestCollector(const wchar_t *name, uint32_t group, const int *enableFlag = nullptr, uint8_t major = 1,
                  uint8_t minor = 2)
        : DATACOLLECTOR(name, group, major, minor, enableFlag)
    {
    }
    using DATACOLLECTOR::SetReadsRelogFlags;

    std::vector<std::string> calls;
    std::function<void(TestCollector &self, int firstRun, DATASTORE *staging)> onCollect;
    std::function<void(TestCollector &self, int firstRun, DATASTORE *staging)> afterEnd;

    int Collections() const
    {
        int count = 0;
        for (const std::string &call : calls)
            count += call.rfind("Collect:", 0) == 0;
        return count;
    }

    void Initialize() override
    {
        calls.push_back("Initialize");
        DATACOLLECTOR::Initialize();
    }
    void Terminate() override
    {
        calls.push_back("Terminate");
        DATACOLLECTOR::Terminate();
    }
    void StartCollection(int firstRun, DATASTORE *staging) override
    {
        calls.push_back("Start:" + std::to_string(firstRun));
        DATACOLLECTOR::StartCollection(firstRun, staging);
    }
    void PreCollect(int firstRun, DATASTORE *staging) override
    {
        calls.push_back("Pre:" + std::to_string(firstRun));
        DATACOLLECTOR::PreCollect(firstRun, staging);
    }
    void Collect(int firstRun, DATASTORE *staging) override
    {
        calls.push_back("Collect:" + std::to_string(firstRun));
        if (onCollect)
            onCollect(*this, firstRun, staging);
    }
    void PostCollect(int firstRun, DATASTORE *staging) override
    {
        calls.push_back("Post:" + std::to_string(firstRun));
        DATACOLLECTOR::PostCollect(firstRun, staging);
    }
    void EndCollection(int firstRun, DATASTORE *staging) override
    {
        calls.push_back("End:" + std::to_string(firstRun));
        DATACOLLECTOR::EndCollection(firstRun, staging);
        if (afterEnd)
            afterEnd(*this, firstRun, staging);
    }
};

// Integer or octet-string value of a store at exactly oid.
inline std::optional<Bytes> ValueAt(DATASTORE *store, const MIBOID &oid)
{
    std::optional<Bytes> found;
    store->Walk(oid, s_NoEndOid, false, [&](const MIBOID &at, const MIBVALUE_REF &value) {
        if (at == oid)
            found = Bytes(value.data, value.data + value.length);
        return false;
    });
    return found;
}

inline std::optional<int32_t> IntegerAt(DATASTORE *store, const MIBOID &oid)
{
    const std::optional<Bytes> bytes = ValueAt(store, oid);
    if (!bytes || bytes->size() != 4)
        return std::nullopt;
    return static_cast<int32_t>(uint32_t((*bytes)[0]) | uint32_t((*bytes)[1]) << 8 | uint32_t((*bytes)[2]) << 16 |
                                uint32_t((*bytes)[3]) << 24);
}

inline std::optional<DWORD> ReadDword(const wchar_t *key, const wchar_t *name)
{
    DWORD value = 0;
    CRegistry registry(HKEY_LOCAL_MACHINE, key, KEY_READ);
    if (!registry.GetDword(name, &value))
        return std::nullopt;
    return value;
}

inline void WriteDword(const wchar_t *key, const wchar_t *name, DWORD value)
{
    ASSERT_TRUE(CRegistry(HKEY_LOCAL_MACHINE, key).SetDword(name, value));
}

// The served store, the registry keys the scheduler uses, the fake clock and the collector list,
// fresh for every test; and DataCollectionThread run on the test's thread for a number of cycles.
class SchedulerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_SavedParameters = s_ServiceParameters;
        s_ServiceParameters = SERVICE_PARAMETERS{};
        for (const wchar_t *key : {kServiceParametersKey, kHostStateKey, kVolatileDataKey})
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
        // The service's key exists on an installed machine; made first, it never becomes volatile
        // as the parent of VolatileData (a volatile key takes no lasting subkeys).
        ASSERT_TRUE(CRegistry(HKEY_LOCAL_MACHINE, kServiceKey).Create());
        CRegistry(HKEY_LOCAL_MACHINE, kServiceKey).DeleteValue(L"FirstDataCollectionDone");
        ASSERT_TRUE(InitDataStores());
        s_DataStore = new DATASTORE(true);
        SetSchedulerClock(&clock);
        m_StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(nullptr, m_StopEvent);
    }

    void TearDown() override
    {
        SetCollectorList(nullptr);
        SetSchedulerClock(nullptr);
        TermDataStores();
        CloseHandle(m_StopEvent);
        for (const wchar_t *key : {kServiceParametersKey, kHostStateKey, kVolatileDataKey})
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
        s_ServiceParameters = m_SavedParameters;
    }

    // Installs the collectors (a null is added) as the scheduler's list.
    void UseCollectors(std::vector<DATACOLLECTOR *> collectors)
    {
        m_List = std::move(collectors);
        m_List.push_back(nullptr);
        SetCollectorList(m_List.data());
    }

    // Runs the thread until the given cycle has ended. beforeCycle(n) runs at the first pause of
    // cycle n (before its start pass); atPause(cycle, pause) at every pause.
    void RunCycles(int cycles, std::function<void(int cycle)> beforeCycle = {},
                   std::function<void(int cycle, int pause)> atPause = {})
    {
        int cycle = 1;
        clock.onPause = [&](int pause) {
            if (pause == 1 && beforeCycle)
                beforeCycle(cycle);
            if (atPause)
                atPause(cycle, pause);
            if (pause == 6 && cycle++ == cycles)
                RequestStop();
        };
        CWorkerThread worker{};
        m_Worker = &worker;
        worker.m_StopEvent = m_StopEvent;
        ResetEvent(m_StopEvent);
        EXPECT_EQ(0u, DataCollectionThread(&worker));
        m_Worker = nullptr;
        clock.onPause = nullptr;
    }

    // From a hook: the thread stops at this pause.
    void RequestStop()
    {
        m_Worker->m_StopFlag = 1;
        SetEvent(m_StopEvent);
    }

    std::optional<int32_t> Served(std::initializer_list<uint32_t> belowArc)
    {
        return IntegerAt(s_DataStore, EnterpriseOid(belowArc));
    }

    FakeClock clock;

private:
    SERVICE_PARAMETERS m_SavedParameters;
    std::vector<DATACOLLECTOR *> m_List;
    HANDLE m_StopEvent = nullptr;
    CWorkerThread *m_Worker = nullptr;
};

} // namespace schedtest
