// The "Data Collection" thread: which collectors collect in which cycle, what a cycle publishes,
// poll intervals, triggers, and stopping.
#include "scheduler_fixture.h"

#include <chrono>
#include <map>
#include <thread>

using namespace schedtest;

namespace {

using Calls = std::vector<std::string>;

const Calls kFirstCollection = {"Start:1", "Pre:1", "Collect:1", "Post:1", "End:1"};

Calls Join(std::initializer_list<Calls> parts)
{
    Calls all;
    for (const Calls &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(SchedulerTest, FirstCycleCollectsEveryEnabledCollectorAndPublishesRevisionAndIntervalOnce)
{
    int off = 0;
    TestCollector host(L"ZDTHOST", 11, nullptr, 1, 47);
    TestCollector ide(L"ZDTIDE", 14, &off);
    TestCollector nic(L"ZDTNIC", 18, nullptr, 1, 48);
    TestCollector sas(L"ZDTSAS", 0);
    UseCollectors({&host, &ide, &nic, &sas});

    // What a collection of the host group leaves in the staging store it was given.
    std::vector<std::pair<bool, bool>> revisionAndInterval;
    host.afterEnd = [&](TestCollector &, int, DATASTORE *staging) {
        revisionAndInterval.emplace_back(IntegerAt(staging, EnterpriseOid({11, 1, 1, 0})).has_value(),
                                         IntegerAt(staging, EnterpriseOid({11, 2, 1, 4, 1, 0})).has_value());
    };

    // 50 s apart: only the trigger makes a collector due again.
    RunCycles(3, [&](int cycle) {
        clock.now += 50 * kSecond;
        if (cycle == 3)
            TriggerCollection(L"ZDTHOST", 0);
    });

    EXPECT_EQ(Join({{"Initialize"}, kFirstCollection, {"Start:0", "Pre:0", "Collect:0", "Post:0", "End:0"},
                    {"Terminate"}}),
              host.calls);
    EXPECT_EQ(Join({{"Initialize"}, kFirstCollection, {"Terminate"}}), nic.calls);
    EXPECT_EQ(Join({{"Initialize"}, kFirstCollection, {"Terminate"}}), sas.calls);
    EXPECT_EQ(Calls{}, ide.calls);
    EXPECT_EQ((std::vector<std::pair<bool, bool>>{{true, true}, {false, false}}), revisionAndInterval);

    // Served: revision and interval of the first cycle, condition of the latest.
    EXPECT_EQ(1, Served({11, 1, 1, 0}));
    EXPECT_EQ(47, Served({11, 1, 2, 0}));
    EXPECT_EQ(0, Served({11, 1, 3, 0}));
    EXPECT_EQ(3600, Served({11, 2, 1, 4, 1, 0}));
    EXPECT_EQ(48, Served({18, 1, 2, 0}));
    EXPECT_EQ(std::nullopt, Served({14, 1, 1, 0}));
    EXPECT_EQ(std::nullopt, Served({0, 1, 1, 0}));
}

TEST_F(SchedulerTest, TriggerOnlyCollectorCollectsOnceThenOnlyWhenTriggered)
{
    TestCollector nic(L"ZDTNIC", 18);
    UseCollectors({&nic});
    std::vector<int> collectedIn;
    int current = 0;
    nic.onCollect = [&](TestCollector &, int, DATASTORE *) { collectedIn.push_back(current); };

    RunCycles(5, [&](int cycle) {
        current = cycle;
        clock.now += 100000 * kSecond;
        if (cycle == 4)
            TriggerCollection(L"zdtnic", 0);
    });

    EXPECT_EQ((std::vector<int>{1, 4}), collectedIn);
    EXPECT_EQ(POLL_INTERVAL_TRIGGER_ONLY, nic.PollInterval());
    EXPECT_EQ(0, nic.IsTriggered());
}

TEST_F(SchedulerTest, TriggeredCollectorWaitsUntilItsDataIsOlderThanTheTriggersSeconds)
{
    TestCollector host(L"ZDTHOST", 11);
    UseCollectors({&host});
    std::vector<int> collectedIn;
    std::vector<uint32_t> intervalSeen;
    int current = 0;
    host.onCollect = [&](TestCollector &self, int, DATASTORE *) {
        collectedIn.push_back(current);
        intervalSeen.push_back(self.PollInterval());
    };

    // Cycle 1 collects at about start. Then: a trigger of 120 s at 60 s, nothing at 100 s, the
    // collection once more than 120 whole seconds have passed; then the configured 300 s again.
    const uint64_t offsets[] = {0, 60, 100, 122, 200};
    RunCycles(5, [&](int cycle) {
        current = cycle;
        clock.now = kStart + offsets[cycle - 1] * kSecond;
        if (cycle == 2)
            TriggerCollection(L"ZDTHOST", 120);
    });

    EXPECT_EQ((std::vector<int>{1, 4}), collectedIn);
    EXPECT_EQ((std::vector<uint32_t>{0, 120}), intervalSeen);
    EXPECT_EQ(300u, host.PollInterval());
}

TEST_F(SchedulerTest, IsCollectionDueCountsWholeSecondsAsUnsigned)
{
    struct {
        const char *what;
        int64_t ago;  // FILETIME units before now
        uint32_t interval;
        int due;
    } cases[] = {
        {"exactly the interval", 300 * int64_t(kSecond), 300, 0},
        {"half a second more", 300 * int64_t(kSecond) + int64_t(kSecond) / 2, 300, 0},
        {"one second more", 301 * int64_t(kSecond), 300, 1},
        {"interval 0 within the second", int64_t(kSecond) - 1, 0, 0},
        {"interval 0 after a second", int64_t(kSecond), 0, 1},
        {"never collected, trigger only", int64_t(kStart), POLL_INTERVAL_TRIGGER_ONLY, 1},
        {"collected, trigger only", 1000000 * int64_t(kSecond), POLL_INTERVAL_TRIGGER_ONLY, 0},
        {"stamp in the future", -10 * int64_t(kSecond), 300, 1},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        EXPECT_EQ(test.due, IsCollectionDue(kStart - test.ago, test.interval));
    }
}

TEST_F(SchedulerTest, PollIntervalsAfterACycle)
{
    const std::map<std::wstring, uint32_t> groupDefaults = {
        {L"MIB-2", 300}, {L"ZDTSTDEQ", 120}, {L"ZDTSCSI", POLL_INTERVAL_TRIGGER_ONLY},
        {L"ZDTSAS", 120}, {L"ZDTHOST", 300}, {L"ZDTIDE", 60},
        {L"ZDTFCA", 120}, {L"ZDTNIC", POLL_INTERVAL_TRIGGER_ONLY}, {L"ZDTISCSI", 120},
        {L"OTHER", 0},  // a name the table does not know keeps its interval
    };
    struct Case {
        const char *what;
        std::vector<std::pair<const wchar_t *, DWORD>> values;
        int serviceWide;
        std::map<std::wstring, uint32_t> changed;  // differences from groupDefaults
        bool everyCollector;                       // the service-wide value for all
    };
    const Case cases[] = {
        {"nothing configured", {}, 3600, {}, false},
        {"service-wide 9", {{L"PollInterval", 9}}, 3600, {}, false},
        {"service-wide 3601", {{L"PollInterval", 3601}}, 3600, {}, false},
        {"service-wide 600", {{L"PollInterval", 600}, {L"PollInterval_ZDTIDE", 30}}, 600, {}, true},
        {"service-wide 10", {{L"PollInterval", 10}}, 10, {}, true},
        {"group value 5", {{L"PollInterval_ZDTIDE", 5}}, 3600, {}, false},
        {"group value 30", {{L"PollInterval_ZDTIDE", 30}}, 3600, {{L"ZDTIDE", 30}}, false},
        {"group value -1", {{L"PollInterval_ZDTHOST", 0xFFFFFFFF}}, 3600, {{L"ZDTHOST", POLL_INTERVAL_TRIGGER_ONLY}},
         false},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.what);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kServiceParametersKey);
        for (const auto &[name, value] : test.values)
            WriteDword(kServiceParametersKey, name, value);

        int off = 0;
        std::vector<std::unique_ptr<TestCollector>> owned;
        std::vector<DATACOLLECTOR *> list;
        for (const auto &entry : groupDefaults) {
            // Disabled collectors get their interval too.
            owned.push_back(std::make_unique<TestCollector>(entry.first.c_str(), 0, owned.size() % 2 ? &off : nullptr));
            list.push_back(owned.back().get());
        }
        UseCollectors(list);
        RunCycles(1);

        EXPECT_EQ(test.serviceWide, s_ServiceParameters.PollInterval);
        for (const auto &collector : owned) {
            const std::wstring name = collector->Name();
            uint32_t expected = groupDefaults.at(name);
            if (test.changed.count(name))
                expected = test.changed.at(name);
            if (test.everyCollector)
                expected = static_cast<uint32_t>(test.serviceWide);
            EXPECT_EQ(expected, collector->PollInterval()) << std::string(name.begin(), name.end());
        }
    }
}

TEST_F(SchedulerTest, TriggersSelectByNameWithoutRegardToCase)
{
    int off = 0;
    TestCollector stdeq(L"ZDTSTDEQ", 0);
    TestCollector host(L"ZDTHOST", 11);
    TestCollector nic(L"ZDTNIC", 18);
    TestCollector disabled(L"ZDTFCA", 16, &off);
    UseCollectors({&stdeq, &host, &nic, &disabled});

    struct Expectation {
        int triggered;
        uint32_t interval;
        std::wstring event;
    };
    struct Case {
        const char *what;
        std::function<void()> call;
        std::vector<Expectation> expected;  // stdeq, host, nic, disabled
    };
    const Expectation idle{0, 0, L""};
    const Case cases[] = {
        {"lower case name", [] { TriggerCollection(L"zdtnic", 0); }, {idle, idle, {1, 0, L""}, idle}},
        {"part of a name", [] { TriggerCollection(L"NIC", 0); }, {idle, idle, idle, idle}},
        {"unknown name", [] { TriggerCollection(L"ZDTLLDP", 0); }, {idle, idle, idle, idle}},
        {"null name", [] { TriggerCollection(nullptr, 0); }, {idle, idle, idle, idle}},
        {"seconds", [] { TriggerCollection(L"ZDTHOST", 120); }, {idle, {1, 120, L""}, idle, idle}},
        {"disabled collector", [] { TriggerCollection(L"ZDTFCA", 60); }, {idle, idle, idle, {1, 60, L""}}},
        {"with an event",
         [] { TriggerCollectionWithEvent(L"ZdtNic", 0, L"Evt_Test_Nic"); },
         {idle, idle, {1, 0, L"Evt_Test_Nic"}, idle}},
        {"all, with an event",
         [] { TriggerAllCollections(0, L"Evt_Test_All"); },
         {{1, 0, L"Evt_Test_All"}, {1, 0, L""}, {1, 0, L""}, {1, 0, L""}}},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.what);
        for (TestCollector *collector : {&stdeq, &host, &nic, &disabled}) {
            std::wstring drained;
            collector->ClearTrigger();
            collector->SettleInterval(true, 0, &drained);
        }
        test.call();
        const TestCollector *collectors[] = {&stdeq, &host, &nic, &disabled};
        for (size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(test.expected[i].triggered, collectors[i]->IsTriggered());
            EXPECT_EQ(test.expected[i].interval, collectors[i]->PollInterval());
            EXPECT_EQ(test.expected[i].event, collectors[i]->EventName());
        }
    }
}

TEST_F(SchedulerTest, EventOfAllCollectionsGoesToTheFirstEnabledCollector)
{
    int off = 0;
    TestCollector stdeq(L"ZDTSTDEQ", 0, &off);
    TestCollector host(L"ZDTHOST", 11);
    UseCollectors({&stdeq, &host});
    TriggerAllCollections(0, L"Evt_Test_Device");
    EXPECT_EQ(L"", stdeq.EventName());
    EXPECT_EQ(L"Evt_Test_Device", host.EventName());
    EXPECT_EQ(1, stdeq.IsTriggered());
}

// Opens (or makes) the named auto-reset event, as a waiter for it does.
class NamedEvent {
public:
    explicit NamedEvent(const wchar_t *name) : m_Event(CreateEventW(nullptr, FALSE, FALSE, name)) {}
    ~NamedEvent() { CloseHandle(m_Event); }
    NamedEvent(const NamedEvent &) = delete;
    NamedEvent &operator=(const NamedEvent &) = delete;
    bool Signalled(DWORD milliseconds = 0) const { return WaitForSingleObject(m_Event, milliseconds) == WAIT_OBJECT_0; }

private:
    HANDLE m_Event;
};

TEST_F(SchedulerTest, TriggerEventIsSignalledInTheIntervalPassBeforeTheMerge)
{
    TestCollector stdeq(L"ZDTSTDEQ", 0);
    UseCollectors({&stdeq});
    const MIBOID probe = EnterpriseOid({1, 2, 99, 1, 0});
    int current = 0;
    stdeq.onCollect = [&](TestCollector &, int, DATASTORE *staging) { staging->SetInteger(probe, current); };

    NamedEvent event(L"Evt_Test_Device_Change");
    // What a waiter woken by the event would find, looked at at each pause of the triggered cycle.
    std::map<int, std::pair<bool, std::optional<int32_t>>> atPause;
    RunCycles(
        3,
        [&](int cycle) {
            current = cycle;
            clock.now += 30 * kSecond;
            if (cycle == 2)
                TriggerAllCollections(0, L"Evt_Test_Device_Change");
        },
        [&](int cycle, int pause) {
            if (cycle == 2 && (pause == 4 || pause == 5 || pause == 6))
                atPause[pause] = {event.Signalled(), IntegerAt(s_DataStore, probe)};
        });

    // Not yet at the interval pass; set by it, while the store still serves the cycle before;
    // the new value served once the cycle merged.
    EXPECT_EQ((std::pair<bool, std::optional<int32_t>>{false, 1}), atPause[4]);
    EXPECT_EQ((std::pair<bool, std::optional<int32_t>>{true, 1}), atPause[5]);
    EXPECT_EQ((std::pair<bool, std::optional<int32_t>>{false, 2}), atPause[6]) << "set once in the cycle";
    EXPECT_EQ(2, stdeq.Collections()) << "the trigger made the second cycle collect";
}

TEST_F(SchedulerTest, TriggerOnADisabledCollectorStaysPendingAndSignalsNothing)
{
    int off = 0;
    TestCollector fca(L"ZDTFCA", 16, &off);
    TestCollector host(L"ZDTHOST", 11);
    UseCollectors({&fca, &host});
    NamedEvent event(L"Evt_Test_Disabled");
    TriggerCollectionWithEvent(L"ZDTFCA", 0, L"Evt_Test_Disabled");

    RunCycles(3, [&](int) { clock.now += 1000 * kSecond; });

    EXPECT_EQ(Calls{}, fca.calls);
    EXPECT_EQ(1, fca.IsTriggered());
    EXPECT_EQ(0u, fca.PollInterval());
    EXPECT_FALSE(event.Signalled());
    EXPECT_EQ(3, host.Collections());
}

TEST_F(SchedulerTest, EventOfACollectorThatDidNotCollectWaits)
{
    TestCollector nic(L"ZDTNIC", 18);
    UseCollectors({&nic});
    NamedEvent event(L"Evt_Test_Network_Change");
    std::vector<bool> signalledAfter;

    RunCycles(
        3,
        [&](int cycle) {
            clock.now += 70 * kSecond;
            // 120 s: due only when the data is older than that, at the third cycle.
            if (cycle == 2)
                TriggerCollectionWithEvent(L"ZDTNIC", 120, L"Evt_Test_Network_Change");
        },
        [&](int, int pause) {
            if (pause == 6)
                signalledAfter.push_back(event.Signalled());
        });

    EXPECT_EQ((std::vector<bool>{false, false, true}), signalledAfter);
    EXPECT_EQ(2, nic.Collections());
}

TEST_F(SchedulerTest, StopAtEachPause)
{
    struct Case {
        int pause;
        Calls calls;  // between Initialize and Terminate
        std::vector<int> pauses;
        bool settled;  // the interval pass ran
        bool merged;
        DWORD firstCollectionDone;
    };
    const Calls collected = {"Start:1", "Pre:1", "Collect:1", "Post:1"};
    const Case cases[] = {
        {1, {}, {1}, false, false, 0},
        {2, {"Start:1"}, {1, 2, 3}, false, false, 0},
        {3, collected, {1, 2, 3}, false, false, 0},
        {4, Join({collected, {"End:1"}}), {1, 2, 3, 4}, false, false, 0},
        {5, Join({collected, {"End:1"}}), {1, 2, 3, 4, 5}, true, false, 0},
        {6, Join({collected, {"End:1"}}), {1, 2, 3, 4, 5, 6}, true, true, 1},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.pause);
        TermDataStores();
        ASSERT_TRUE(InitDataStores());
        s_DataStore = new DATASTORE(true);
        // A value left from an earlier run of the service.
        WriteDword(kServiceKey, L"FirstDataCollectionDone", 1);
        clock.pauses.clear();

        TestCollector host(L"ZDTHOST", 11);
        UseCollectors({&host});
        RunCycles(1, {}, [&](int, int pause) {
            if (pause == test.pause)
                RequestStop();
        });

        EXPECT_EQ(Join({{"Initialize"}, test.calls, {"Terminate"}}), host.calls);
        EXPECT_EQ(test.pauses, clock.pauses);
        EXPECT_EQ(test.settled ? 300u : 0u, host.PollInterval());
        EXPECT_EQ(test.merged, Served({11, 1, 3, 0}).has_value());
        EXPECT_EQ(test.firstCollectionDone, ReadDword(kServiceKey, L"FirstDataCollectionDone"));
    }
}

TEST_F(SchedulerTest, StatusArrayOfACycle)
{
    int off = 0;
    TestCollector scsi(L"ZDTSCSI", 5, nullptr, 1, 43);
    TestCollector host(L"ZDTHOST", 11, nullptr, 1, 47);
    TestCollector ide(L"ZDTIDE", 14, &off, 1, 12);
    TestCollector nic(L"ZDTNIC", 18, nullptr, 1, 48);
    TestCollector iscsi(L"ZDTISCSI", 169, nullptr, 1, 5);
    TestCollector mib2(L"MIB-2", 0);
    UseCollectors({&scsi, &host, &ide, &nic, &iscsi, &mib2});
    // Conditions raised during the collection; a lower value after a higher one changes nothing.
    scsi.onCollect = [](TestCollector &self, int, DATASTORE *) { self.SetCondition(2); };
    nic.onCollect = [](TestCollector &self, int, DATASTORE *) {
        self.SetCondition(3);
        self.SetCondition(1);
    };
    iscsi.onCollect = [](TestCollector &self, int, DATASTORE *) { self.SetCondition(0x101); };

    RunCycles(1);

    Bytes expected(680, 0);
    const std::map<size_t, uint8_t> set = {{0, 1},   {1, 3},   {2, 10},  {20, 1},  {21, 2},  {22, 1},
                                           {23, 43}, {44, 1},  {45, 0},  {46, 1},  {47, 47}, {72, 1},
                                           {73, 3},  {74, 1},  {75, 48}, {676, 1}, {677, 1}, {678, 1},
                                           {679, 5}};
    for (const auto &[offset, value] : set)
        expected[offset] = value;
    EXPECT_EQ(expected, ValueAt(s_DataStore, EnterpriseOid({11, 2, 10, 1, 0})));
    Bytes summary(19, 0);
    summary[10] = 2;
    summary[14] = 3;
    summary[18] = 1;
    EXPECT_EQ(summary, ValueAt(s_DataStore, EnterpriseOid({11, 2, 10, 7, 0})));
    EXPECT_EQ(3, Served({18, 1, 3, 0}));
}

TEST_F(SchedulerTest, DataCollectionSwitchOffStartsNothing)
{
    TestCollector host(L"ZDTHOST", 11);
    UseCollectors({&host});
    s_ServiceParameters.EnableDataCollection = 0;
    EXPECT_EQ(1, StartDataCollection());
    EXPECT_EQ(nullptr, s_DataCollectionThread.m_ThreadHandle);
    StopDataCollection();
    EXPECT_EQ(Calls{}, host.calls);
}

// The real thread with the system clock and short pauses.
class SchedulerThreadTest : public SchedulerTest {
protected:
    void SetUp() override
    {
        SchedulerTest::SetUp();
        SetSchedulerClock(nullptr);
        m_SavedPause = DATACOLLECTION_TIMING::PauseMs.exchange(10);
        m_SavedStopWait = CWorkerThread::StopWaitMs.exchange(20000);
    }
    void TearDown() override
    {
        StopDataCollection();
        DATACOLLECTION_TIMING::PauseMs = m_SavedPause;
        CWorkerThread::StopWaitMs = m_SavedStopWait;
        SchedulerTest::TearDown();
    }

    // How long StopDataCollection takes, in milliseconds.
    static long long TimedStop()
    {
        const auto begin = std::chrono::steady_clock::now();
        StopDataCollection();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count();
    }

private:
    DWORD m_SavedPause = 0;
    DWORD m_SavedStopWait = 0;
};

// Set by a collector when it reached its Collect, for the test thread to wait on.
class Signal {
public:
    Signal() : m_Event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Signal() { CloseHandle(m_Event); }
    Signal(const Signal &) = delete;
    Signal &operator=(const Signal &) = delete;
    void Set() { SetEvent(m_Event); }
    bool Wait(DWORD milliseconds) { return WaitForSingleObject(m_Event, milliseconds) == WAIT_OBJECT_0; }
    HANDLE Get() const { return m_Event; }

private:
    HANDLE m_Event;
};

TEST_F(SchedulerThreadTest, StopEndsTheThreadPromptly)
{
    TestCollector host(L"ZDTHOST", 11);
    Signal collected;
    host.onCollect = [&](TestCollector &, int, DATASTORE *) { collected.Set(); };
    UseCollectors({&host});

    ASSERT_EQ(1, StartDataCollection());
    ASSERT_TRUE(collected.Wait(30000));
    EXPECT_LT(TimedStop(), 10000) << "half the stop wait";
    ASSERT_FALSE(host.calls.empty());
    EXPECT_EQ("Terminate", host.calls.back()) << "the thread ended by itself";
    EXPECT_EQ(nullptr, s_DataCollectionThread.m_ThreadHandle);
}

TEST_F(SchedulerThreadTest, CollectorWaitingForAnObjectEndsWithTheStop)
{
    TestCollector nic(L"ZDTNIC", 18);
    Signal reached;
    Signal neverSet;
    DWORD waitResult = 0;
    nic.onCollect = [&](TestCollector &, int, DATASTORE *) {
        reached.Set();
        waitResult = DATACOLLECTOR::WaitOrStop(neverSet.Get(), 300000);
    };
    UseCollectors({&nic});

    ASSERT_EQ(1, StartDataCollection());
    ASSERT_TRUE(reached.Wait(30000));
    EXPECT_LT(TimedStop(), 10000) << "half the stop wait";
    EXPECT_EQ(COLLECTOR_WAIT_STOP, waitResult);
    ASSERT_FALSE(nic.calls.empty());
    EXPECT_EQ("Terminate", nic.calls.back()) << "the thread ended by itself";
}

TEST_F(SchedulerThreadTest, WaitOrStopOutsideTheThreadWaitsForTheObjectAlone)
{
    Signal set;
    set.Set();
    Signal neverSet;
    EXPECT_FALSE(DATACOLLECTOR::StopRequested());
    EXPECT_EQ(COLLECTOR_WAIT_OBJECT, DATACOLLECTOR::WaitOrStop(set.Get(), 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), DATACOLLECTOR::WaitOrStop(neverSet.Get(), 20));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), DATACOLLECTOR::WaitOrStop(nullptr, 20));
}

} // namespace
