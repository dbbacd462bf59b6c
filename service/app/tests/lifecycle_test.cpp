// The service's start and stop sequence in one process: every component up in order, the one that
// fails named by exactly one event 105, and OnStop taking down whatever was made, whichever step
// failed. The host's state reports are checked under the real service control manager elsewhere.
#include "blackbox.h"
#include "oxbsim_process.h"
#include "pipe_backend.h"
#include "datastore.h"
#include "event_sink_recorder.h"
#include "iphelper.h"
#include "registry.h"
#include "scheduler.h"
#include "service_parameters.h"
#include "service_start.h"
#include "subagent.h"
#include "trap_capture.h"
#include "traps.h"
#include "watchers.h"
#include "wmi.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace apptest;

namespace {

std::vector<std::wstring> FailedSubsystems()
{
    std::vector<std::wstring> words;
    for (const eventsink::Event &event : eventsink::RecordedEvents())
        if (event.id == kEventSubsystemFailed)
            words.push_back(event.strings.empty() ? L"" : event.strings[0]);
    return words;
}

// What must be gone after OnStop, whatever OnStart got to.
void ExpectEverythingStopped(const std::string &where)
{
    EXPECT_EQ(s_DataStore, nullptr) << where;
    EXPECT_FALSE(s_SMBIOSTable) << where;
    EXPECT_FALSE(s_WMIRootWmi) << where;
    EXPECT_FALSE(s_WMICimV2) << where;
    EXPECT_EQ(s_DataCollectionThread.m_ThreadHandle, nullptr) << where;
    EXPECT_EQ(s_BlackBoxThread.m_ThreadHandle, nullptr) << where;
    EXPECT_EQ(NetworkPollThreadHandle(), nullptr) << where;
    EXPECT_EQ(s_AgentXSession, nullptr) << where;
    EXPECT_EQ(s_AgentXTransport, nullptr) << where;
    EXPECT_EQ(QueuedTrapCount(), 0u) << where;
    EXPECT_TRUE(s_IfOperStatusMap.empty()) << where;
}

std::unique_ptr<CSMBIOSTable> NoSMBIOSTable() { return std::make_unique<CSMBIOSTable>(std::vector<uint8_t>{}); }

MIB_IFTABLE *NoInterfaceTable() { return nullptr; }
std::atomic<int> s_SlowReadsBegun{0};
MIB_IFTABLE *RawTableSlowly()
{
    ++s_SlowReadsBegun;
    Sleep(1200);
    return nullptr;
}
// A table read that never comes back while the test holds it.
HANDLE s_ReadEntered = nullptr;
HANDLE s_ReadRelease = nullptr;
std::atomic<DWORD> s_ReadingThread{0};
MIB_IFTABLE *RawTableHeld()
{
    s_ReadingThread = GetCurrentThreadId();
    SetEvent(s_ReadEntered);
    WaitForSingleObject(s_ReadRelease, INFINITE);
    return nullptr;
}
NETWORK_WATCHER_PLATFORM s_Platform;

class Lifecycle : public ::testing::Test {
protected:
    // The host's events need the host: a run without services (outside the service control
    // manager the dispatcher gives up at once) leaves it in place for the events of these tests.
    static void SetUpTestSuite()
    {
        static wchar_t program[] = L"lifecycle";
        static wchar_t *argv[] = {program, nullptr};
        static SERVICEHOST host = {L"NDX Velmarine Management Service", nullptr, nullptr, {nullptr}, 1, argv};
        RunServiceHost(&host);
        // The service's key exists on an installed machine. Made here first, it cannot become
        // volatile as the parent of VolatileData, which a start may create before anything else
        // (a volatile key takes no lasting subkeys, so Parameters could then not be written).
        ASSERT_TRUE(CRegistry(HKEY_LOCAL_MACHINE, kServiceKey).Create());
    }

    void SetUp() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kServiceParametersKey);
        eventsink::ClearRecordedEvents();
        AgentXThreadTimeouts::OpenRetryMs = 100;
        entry.Name = L"ndxtlm";
        entry.StopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        s_Platform = SystemNetworkWatcherPlatform();
    }
    void TearDown() override
    {
        s_FailingStartStep = nullptr;
        s_SMBIOSTableSource = SMBIOS_TABLE_SOURCE(nullptr);
        SetNetworkWatcherPlatform(nullptr);
        CloseHandle(entry.StopEvent);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kServiceParametersKey);
    }
    void SetParameter(const wchar_t *name, DWORD value)
    {
        ASSERT_TRUE(CRegistry(HKEY_LOCAL_MACHINE, kServiceParametersKey).SetDword(name, value));
    }
    // OnStart and OnStop on a thread of their own, as the host runs them; before OnStart the thread
    // joins the apartment given (or none).
    int StartAndStop(DWORD apartment = 0, std::function<void()> whileRunning = {})
    {
        int started = -1;
        std::thread service([&] {
            if (apartment != 0)
                CoInitializeEx(nullptr, apartment);
            started = OnStart(&entry, 0, nullptr);
            if (whileRunning)
                whileRunning();
            entry.Status.dwCurrentState = SERVICE_STOP_PENDING;
            entry.Status.dwCheckPoint = 1;
            OnStop(&entry);
            if (apartment != 0)
                CoUninitialize();
        });
        service.join();
        return started;
    }

    SERVICEENTRY entry{};
};

TEST_F(Lifecycle, StartsEveryComponentAndStopsThemAll)
{
    std::vector<CapturedTrap> traps;
    const int started = StartAndStop(0, [&] {
        EXPECT_NE(s_DataStore, nullptr);
        ASSERT_TRUE(s_SMBIOSTable);
        EXPECT_TRUE(s_SMBIOSTable->IsValid());
        EXPECT_TRUE(s_WMIRootWmi && s_WMICimV2);
        EXPECT_NE(s_DataCollectionThread.m_ThreadHandle, nullptr);
        EXPECT_NE(s_BlackBoxThread.m_ThreadHandle, nullptr);
        EXPECT_NE(NetworkPollThreadHandle(), nullptr);
        EXPECT_NE(s_AgentXSession, nullptr);
        EXPECT_FALSE(s_IfOperStatusMap.empty()) << "the interfaces as the watcher started";
        // The collectors the program composed are the scheduler's.
        EXPECT_NE(GetCollectorList()[0], nullptr);
        TrapCapture capture;
        traps = capture.Drain();
    });
    EXPECT_EQ(started, 1);
    EXPECT_TRUE(FailedSubsystems().empty());
    ASSERT_EQ(traps.size(), 1u) << "the coldStart trap waits for the session";
    EXPECT_EQ(traps[0].trapOid, ".1.3.6.1.6.3.1.1.5.1");
    EXPECT_EQ(traps[0].varbinds.size(), 1u) << "snmpTrapEnterprise.0 and nothing else";
    EXPECT_EQ(traps[0].varbinds[".1.3.6.1.6.3.1.1.4.3.0"], ".1.3.6.1.4.1.32473.9.4.10");
    ExpectEverythingStopped("after a full start");
    EXPECT_GE(entry.Status.dwCheckPoint, 10u) << "the checkpoint advances with every step";
}

TEST_F(Lifecycle, EachFailingStepIsNamedOnceAndOnStopCleansUp)
{
    struct Case {
        const wchar_t *word;
        std::function<void()> arrange;
        DWORD apartment;
    } cases[] = {
        // Real failures where the platform offers one.
        {L"COM", {}, COINIT_APARTMENTTHREADED},  // the thread is in another apartment already
        {L"SMBIOS", [] { s_SMBIOSTableSource = &NoSMBIOSTable; }, 0},
        {L"Network Monitor",
         [] {
             s_Platform.AllocIfTable = &NoInterfaceTable;
             SetNetworkWatcherPlatform(&s_Platform);
         },
         0},
        // The others cannot be made to fail from outside: the step is made to fail.
        {L"BB", [] { s_FailingStartStep = L"BB"; }, 0},
        {L"DS", [] { s_FailingStartStep = L"DS"; }, 0},
        {L"Data Collection", [] { s_FailingStartStep = L"Data Collection"; }, 0},
        {L"AX Threads", [] { s_FailingStartStep = L"AX Threads"; }, 0},
    };
    for (const Case &c : cases) {
        const std::string where(c.word, c.word + wcslen(c.word));
        eventsink::ClearRecordedEvents();
        if (c.arrange)
            c.arrange();
        EXPECT_EQ(StartAndStop(c.apartment), 0) << where;
        EXPECT_EQ(FailedSubsystems(), std::vector<std::wstring>{c.word}) << where;
        ExpectEverythingStopped(where);
        s_FailingStartStep = nullptr;
        s_SMBIOSTableSource = SMBIOS_TABLE_SOURCE(nullptr);
        SetNetworkWatcherPlatform(nullptr);
        s_Platform = SystemNetworkWatcherPlatform();
    }
    // Every word a step can fail with was exercised.
    EXPECT_EQ(std::size(cases), std::size(kStartStepWords));
}

TEST_F(Lifecycle, SwitchedOffComponentsDoNotStopTheStart)
{
    struct Case {
        const wchar_t *name;
        std::function<void()> check;
    } cases[] = {
        {L"EnableDataCollection", [] { EXPECT_EQ(s_DataCollectionThread.m_ThreadHandle, nullptr); }},
        {L"EnableNetworkWatcher",
         [] {
             EXPECT_TRUE(s_IfOperStatusMap.empty());
             EXPECT_NE(NetworkPollThreadHandle(), nullptr) << "the polling thread runs regardless";
         }},
        {L"EnableAgentX", [] { EXPECT_EQ(s_AgentXSession, nullptr); }},
        {L"EnableTraps", [] { EXPECT_EQ(QueuedTrapCount(), 0u) << "no coldStart trap"; }},
        {L"EnableDeviceWatcher", [] {}},
        {L"EnableBlackbox", [] { EXPECT_EQ(s_BlackBoxThread.m_ThreadHandle, nullptr) << "no feeder thread"; }},
    };
    for (const Case &c : cases) {
        const std::string where(c.name, c.name + wcslen(c.name));
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kServiceParametersKey);
        SetParameter(c.name, 0);
        eventsink::ClearRecordedEvents();
        EXPECT_EQ(StartAndStop(0, c.check), 1) << where;
        EXPECT_TRUE(FailedSubsystems().empty()) << where;
        ExpectEverythingStopped(where);
    }
}

// The codes of the "OS Boot" (1) and "OS Shutdown" (2) records in the simulator's log, in order.
std::vector<uint64_t> BootAndShutdownCodes(const OxbSim &sim)
{
    std::vector<uint64_t> codes;
    for (const SimRecord &record : sim.Records("bbdata"))
        if (record.Number("code") == 1 || record.Number("code") == 2)
            codes.push_back(record.Number("code"));
    return codes;
}

bool WaitUntil(const std::function<bool()> &done)
{
    for (int i = 0; i < 1500 && !done(); ++i)
        Sleep(20);
    return done();
}

TEST_F(Lifecycle, BootAndShutdownRecordsReachTheBlackBoxLog)
{
    // The whole service against the simulated processor, which keeps the black-box log.
    OxbSim sim{OxbSim::UniqueName("life")};
    PipeBackendSetName(sim.Name().c_str());
    ASSERT_TRUE(sim.Start());
    BlackBoxTimeouts::WakeMs = 300;
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kBlackBoxVolatileKey);  // a fresh boot of the system
    ServiceStartup();
    const int started = StartAndStop(0, [&] {
        // OnRun posts the boot record once per boot of the system, then waits for the stop.
        for (int run = 0; run < 2; ++run) {
            std::thread onRun([&] { OnRun(&entry); });
            Sleep(200);
            SetEvent(entry.StopEvent);
            onRun.join();
        }
        // A system shutdown: the console event posts the shutdown record; the handler never
        // claims the event, and other console events post nothing.
        for (DWORD control : {CTRL_C_EVENT, CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT})
            EXPECT_FALSE(ConsoleShutdownHandler(control)) << control;
        // The collectors post records of their own (the OS information); only boot and shutdown
        // are this test's.
        EXPECT_TRUE(WaitUntil([&] { return BootAndShutdownCodes(sim).size() >= 2; }));
        Sleep(500);  // nothing else follows
    });
    ServiceCleanup();
    BlackBoxTimeouts::WakeMs = 30000;
    EXPECT_EQ(started, 1);
    EXPECT_EQ(BootAndShutdownCodes(sim), (std::vector<uint64_t>{1, 2})) << "OS Boot once, then OS Shutdown";
    ExpectEverythingStopped("with the simulated processor");
}

TEST_F(Lifecycle, StopKeepsTheCheckpointMovingWhileAStepWaits)
{
    // The polling thread is inside a table read that takes 1.2 s when the stop comes; ticks of 50 ms
    // leave room for a busy machine that runs the ticker late.
    s_Platform.AllocRawIfTable = &RawTableSlowly;
    SetNetworkWatcherPlatform(&s_Platform);
    ServiceStopTimeouts::CheckpointMs = 50;
    s_SlowReadsBegun = 0;
    EXPECT_EQ(StartAndStop(0, [] { EXPECT_TRUE(WaitUntil([] { return s_SlowReadsBegun.load() > 0; })); }), 1);
    ServiceStopTimeouts::CheckpointMs = 5000;
    EXPECT_GE(entry.Status.dwCheckPoint, 1u + 9u + 5u);
    ExpectEverythingStopped("slow stop");
}

TEST_F(Lifecycle, APollingThreadThatDoesNotEndIsTerminatedWhenTheWaitRunsOut)
{
    s_ReadEntered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s_ReadRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s_Platform.AllocRawIfTable = &RawTableHeld;
    SetNetworkWatcherPlatform(&s_Platform);
    ServiceStopTimeouts::PollThreadWaitMs = 800;
    HANDLE reader = nullptr;
    ULONGLONG stopFrom = 0;
    EXPECT_EQ(StartAndStop(0,
                           [&] {
                               // The polling thread is inside its table read, which ignores the stop.
                               ASSERT_EQ(WaitForSingleObject(s_ReadEntered, 20000), WAIT_OBJECT_0);
                               reader = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE,
                                                   s_ReadingThread.load());
                               stopFrom = GetTickCount64();
                           }),
              1);
    const ULONGLONG stopTook = GetTickCount64() - stopFrom;
    ServiceStopTimeouts::PollThreadWaitMs = 120000;
    ASSERT_NE(reader, nullptr);
    // The stop waited its whole time for the thread, then ended it rather than wait longer.
    EXPECT_GE(stopTook + 20, 800u);
    EXPECT_LT(stopTook, 60000u);
    EXPECT_EQ(WaitForSingleObject(reader, 5000), WAIT_OBJECT_0) << "the thread is gone, still inside its read";
    DWORD exitCode = STILL_ACTIVE;
    EXPECT_TRUE(GetExitCodeThread(reader, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(reader);
    SetEvent(s_ReadRelease);
    CloseHandle(s_ReadEntered);
    CloseHandle(s_ReadRelease);
    ExpectEverythingStopped("terminated polling thread");
}

TEST_F(Lifecycle, RepeatedStartsAndStopsInOneProcess)
{
    for (int cycle = 0; cycle < 3; ++cycle) {
        EXPECT_EQ(StartAndStop(), 1) << cycle;
        ExpectEverythingStopped("cycle " + std::to_string(cycle));
    }
    EXPECT_TRUE(FailedSubsystems().empty());
}

} // namespace
