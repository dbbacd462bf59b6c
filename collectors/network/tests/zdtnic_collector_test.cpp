// The NIC collector's binding: registrations and the readiness mark, the collection's handshake
// and the stop, without a library beside the test executable.
#include "host_test_support.h"
#include "zdtnic_collector.h"

#include "nic_records.h"
#include "scheduler.h"

#include <gtest/gtest.h>

using namespace hosttest;

namespace {

class NicBindingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static DATACOLLECTOR *list[] = {&s_ZDTNICDataCollector, nullptr};
        SetCollectorList(list);
        s_ZDTNICDataCollector.ClearTrigger();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicInterfaceKey);
        NIC_COLLECTOR_TIMING::ReadyPolls = 3;
        NIC_COLLECTOR_TIMING::ReadyPollMs = 10;
        NIC_COLLECTOR_TIMING::ReadyPauseMs = 10;
        NIC_COLLECTOR_TIMING::InitDoneMs = 200;
        NIC_COLLECTOR_TIMING::StopAckMs = 200;
        NIC_COLLECTOR_TIMING::LoaderExitMs = 1000;
        // No library writes records here: the readers give up soon.
        NIC_COLLECTOR_TIMING::ReadyTries = 2;
        NIC_COLLECTOR_TIMING::ReadyRetryMs = 10;
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicInterfaceKey); }
};

TEST_F(NicBindingTest, RegisterTriesAllFourRegionsAndCreatesNoInterfaceKey)
{
    const std::vector<std::string> regions = {".18.1", ".18.2.2", ".18.2.3.1", ".18.2.4.1"};
    struct {
        const char *what;
        int refusal;  // every transaction's answer
        int result;
    } cases[] = {{"session open", 0, 0}, {"session closed", 257, 257}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RecordingSession session;
        session.answer = [&](const RECORDED_PDU &) { return c.refusal; };
        EXPECT_EQ(c.result, s_ZDTNICDataCollector.Register(&session));
        ASSERT_EQ(regions.size(), session.pdus.size());
        const std::string arc = OidText(EnterpriseOid({}));
        for (size_t i = 0; i < regions.size(); ++i) {
            EXPECT_EQ(arc + regions[i], OidText(session.pdus[i].subtree));
            EXPECT_EQ(127, session.pdus[i].priority);
        }
        // Ready never came: the collector is due at once.
        EXPECT_TRUE(s_ZDTNICDataCollector.IsTriggered());
        s_ZDTNICDataCollector.ClearTrigger();
        HKEY key = nullptr;
        EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNicInterfaceKey, 0, KEY_READ, &key));
    }
}

TEST_F(NicBindingTest, RegisterMarksAnExistingKeyAndStopsPollingWhenReady)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kNicInterfaceKey, 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    DWORD one = 1;
    RegSetValueExW(key, kNicInterfaceDataReadyName, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&one), 4);
    NIC_COLLECTOR_TIMING::ReadyPolls = 2000;  // 20 s of polls: the mark's return ends them long before
    // The library's pass ends later and sets the mark back.
    HANDLE library = CreateThread(
        nullptr, 0,
        [](void *k) -> DWORD {
            Sleep(100);
            DWORD ready = 1;
            RegSetValueExW(static_cast<HKEY>(k), kNicInterfaceDataReadyName, 0, REG_DWORD,
                           reinterpret_cast<const BYTE *>(&ready), 4);
            return 0;
        },
        key, 0, nullptr);
    RecordingSession session;
    const DWORD start = GetTickCount();
    EXPECT_EQ(0, s_ZDTNICDataCollector.Register(&session));
    const DWORD took = GetTickCount() - start;
    WaitForSingleObject(library, INFINITE);
    CloseHandle(library);
    RegCloseKey(key);
    EXPECT_GE(took, 80u) << "the mark was not reset to 0 before polling";
    EXPECT_LT(took, 10000u);
    EXPECT_FALSE(s_ZDTNICDataCollector.IsTriggered());
}

TEST_F(NicBindingTest, MissingLibraryStillSignalsTrapsDoneEveryCollection)
{
    s_ZDTNICDataCollector.Initialize();
    HANDLE trapsDone = CreateEventW(nullptr, FALSE, FALSE, L"ZdtNICSendTrapDone");
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, kNicInitDoneEvent);
    for (int round = 0; round < 2; ++round) {
        // Whether the wait runs out or a library of a test running beside this one answers (the
        // events are named per wine server), the traps' end is signalled every time.
        s_ZDTNICDataCollector.Collect(0, nullptr);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(trapsDone, 0));
    }
    // A Done that a pass sets while the collection waits ends the wait early.
    HANDLE init = CreateEventW(nullptr, FALSE, FALSE, kNicInitEvent);
    NIC_COLLECTOR_TIMING::InitDoneMs = 60000;
    HANDLE answerer = CreateThread(
        nullptr, 0,
        [](void *pair) -> DWORD {
            HANDLE *events = static_cast<HANDLE *>(pair);
            if (WaitForSingleObject(events[0], 60000) == WAIT_OBJECT_0)
                SetEvent(events[1]);
            return 0;
        },
        new HANDLE[2]{init, done}, 0, nullptr);
    const DWORD start = GetTickCount();
    s_ZDTNICDataCollector.Collect(0, nullptr);
    EXPECT_LT(GetTickCount() - start, 30000u) << "the wait ran out";
    WaitForSingleObject(answerer, INFINITE);
    CloseHandle(answerer);
    // Without a library no loader thread is waited for.
    NIC_COLLECTOR_TIMING::LoaderExitMs = 30000;
    const DWORD stopStart = GetTickCount();
    s_ZDTNICDataCollector.Terminate();
    EXPECT_LT(GetTickCount() - stopStart, 15000u);
    CloseHandle(init);
    CloseHandle(done);
    CloseHandle(trapsDone);
}

// Without the library the loader thread ends at once; the stop then makes no handshake, so it
// does not wait out the acknowledgement time, here the service's own.
TEST_F(NicBindingTest, StopWithoutALibraryThreadSkipsTheHandshake)
{
    NIC_COLLECTOR_TIMING::StopAckMs = kNicStopAckWaitMs;
    NIC_COLLECTOR_TIMING::LoaderExitMs = kNicLoaderExitWaitMs;
    s_ZDTNICDataCollector.Initialize();
    const DWORD deadline = GetTickCount() + 30000;
    while (s_ZDTNICDataCollector.IsLibraryThreadRunning() && GetTickCount() < deadline)
        Sleep(10);
    ASSERT_FALSE(s_ZDTNICDataCollector.IsLibraryThreadRunning()) << "the loader thread did not end without a library";
    const DWORD start = GetTickCount();
    s_ZDTNICDataCollector.Terminate();
    EXPECT_LT(GetTickCount() - start, kNicStopAckWaitMs / 4);
    EXPECT_FALSE(s_ZDTNICDataCollector.IsLibraryThreadRunning());
}

} // namespace
