// The in-process NIC service and its collection thread, linked into the test with the scripted
// generation, against the handshake the service plays.
#include "nic_service_side.h"
#include "nic_test_support.h"

#include "collection_thread.h"
#include "common_log.h"
#include "nic_fixture.h"
#include "nic_records.h"
#include "nic_service.h"
#include "scripted_generation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace nictest;

namespace {

constexpr wchar_t kTimeoutKey[] = L"SYSTEM\\CurrentControlSet\\Services\\ZDTNicMgmt\\ZDTNICS";
// Short enough for a test, long enough that a missing Done is a failure and not a slow machine.
constexpr NicHandshakeTimeouts kShort = {30000, 30000, 30000};

bool WaitUntil(const std::function<bool()> &condition, DWORD milliseconds = 30000)
{
    for (DWORD waited = 0; waited < milliseconds; waited += 10) {
        if (condition())
            return true;
        Sleep(10);
    }
    return condition();
}

class NicThreadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_LogPath = ConfigureVerboseLog(L"nic-thread-log"); }

    void SetUp() override
    {
        s_CommonLog.LogInit(L"TLM", L"NETVARDL");
        DeleteTree(kTimeoutKey);
        DeleteTree(kNicParametersKey);
        DeleteTree(kNicRootKey);
        g_NicThreadTimings = NicThreadTimings();
        ResetScriptedGeneration();
        fixture.Install();
        m_LogLinesBefore = LogLines(s_LogPath).size();
    }
    void TearDown() override
    {
        DeleteTree(kTimeoutKey);
        DeleteTree(kNicParametersKey);
        DeleteTree(kNicRootKey);
    }

    // The messages written under a function since the test began.
    std::vector<std::wstring> Messages(const std::wstring &function)
    {
        std::vector<std::wstring> lines = LogLines(s_LogPath);
        std::vector<std::wstring> messages;
        const std::wstring marker = L"|" + function + L"|, ";
        for (size_t i = m_LogLinesBefore; i < lines.size(); ++i)
            if (const size_t at = lines[i].find(marker); at != std::wstring::npos)
                messages.push_back(lines[i].substr(at + marker.size()));
        return messages;
    }

    NicFixture fixture;
    static std::wstring s_LogPath;
    size_t m_LogLinesBefore = 0;
};
std::wstring NicThreadTest::s_LogPath;

TEST_F(NicThreadTest, TimeoutGivesThePeriod)
{
    const uint8_t two[2] = {0x10, 0x27};
    struct Case {
        const char *what;
        std::function<void()> set;
        DWORD period;
    };
    const Case cases[] = {
        {"no key", [] {}, 120000},
        {"key without value", [] { SetValue(kTimeoutKey, L"Other", REG_DWORD, "\0\0\0\0", 4); }, 120000},
        {"0", [] { SetDword(kTimeoutKey, L"Timeout", 0); }, 30000},
        {"29999", [] { SetDword(kTimeoutKey, L"Timeout", 29999); }, 30000},
        {"30000", [] { SetDword(kTimeoutKey, L"Timeout", 30000); }, 30000},
        {"600000", [] { SetDword(kTimeoutKey, L"Timeout", 600000); }, 600000},
        {"paused", [] { SetDword(kTimeoutKey, L"Timeout", 0xFFFFFFFF); }, 0xFFFFFFFF},
        {"REG_SZ", [] { SetValue(kTimeoutKey, L"Timeout", REG_SZ, L"60000", 12); }, 30000},
        {"2 bytes", [&] { SetValue(kTimeoutKey, L"Timeout", REG_DWORD, two, sizeof(two)); }, 30000},
    };
    for (const Case &c : cases) {
        DeleteTree(kTimeoutKey);
        c.set();
        CMNicService service;
        DCSTRUCT *dc = nullptr;
        ASSERT_EQ(1, service.CreateDCStruct(&dc)) << c.what;
        EXPECT_EQ(c.period, dc->period) << c.what;
        EXPECT_NE(nullptr, dc->initEvent);
        EXPECT_NE(nullptr, dc->stopEvent);
        std::free(dc);
    }
}

TEST_F(NicThreadTest, PollIntervalGivesTheWait)
{
    struct Case {
        const char *what;
        DWORD type;
        std::vector<uint8_t> data; // empty: no value
        DWORD wait;
    };
    auto dword = [](DWORD v) { return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; };
    const Case cases[] = {
        {"absent", REG_DWORD, {}, 3600000},        {"0", REG_DWORD, dword(0), 3600000},
        {"9", REG_DWORD, dword(9), 3600000},       {"10", REG_DWORD, dword(10), 10000},
        {"3600", REG_DWORD, dword(3600), 3600000}, {"3601", REG_DWORD, dword(3601), 3600000},
        {"60", REG_DWORD, dword(60), 60000},       {"REG_SZ", REG_SZ, {'6', 0, '0', 0, 0, 0}, 3600000},
        {"REG_BINARY", REG_BINARY, dword(60), 3600000}, {"2 bytes", REG_DWORD, {60, 0}, 3600000},
    };
    for (const Case &c : cases) {
        DeleteTree(kNicParametersKey);
        if (!c.data.empty())
            SetValue(kNicParametersKey, kNicPollIntervalValue, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        EXPECT_EQ(c.wait, ReadPollTime()) << c.what;
    }
}

TEST_F(NicThreadTest, FirstPassSignalsNoDoneAndEachRequestRunsOnePass)
{
    fixture.Host().generation.initMs = 300;
    fixture.Host().ticks = 4321005; // ms since the system started
    NicServiceSide service(kShort);
    // Held from the start: the first pass's end would be seen if it were signalled.
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, kNicInitDoneEvent);
    ASSERT_TRUE(service.StartEntry(Win2KMain));
    // Two requests while the first generation is built make one pass (the event is auto-reset).
    ASSERT_TRUE(WaitUntil([] { return g_ScriptedCounts.inits.load() == 1; }));
    // The base of every LastChange, in the 10 ms ticks of the interface table.
    EXPECT_EQ(432100u, g_StartStamp);
    {
        HANDLE init = CreateEventW(nullptr, FALSE, FALSE, kNicInitEvent);
        SetEvent(init);
        SetEvent(init);
        CloseHandle(init);
    }
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(done, 30000));
    EXPECT_EQ(2, g_ScriptedCounts.updates.load()); // the first publication and one pass
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(done, 300));
    EXPECT_EQ(2, g_ScriptedCounts.updates.load());
    CloseHandle(done);

    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
    EXPECT_EQ(3, g_ScriptedCounts.updates.load());
    NicServiceSide::StopResult stop = service.Stop();
    EXPECT_TRUE(stop.acknowledged);
    EXPECT_TRUE(stop.returned);
    EXPECT_EQ(0, service.EntryResult());
    // The last generation is left with its records, not deleted.
    EXPECT_EQ(1, g_ScriptedCounts.released.load());
    EXPECT_EQ(0, g_ScriptedCounts.deleted.load());
    DWORD status = 0;
    EXPECT_TRUE(GetDword(kNicInterfaceKey, kNicStatusValue, &status));

    std::vector<std::wstring> main = Messages(L"Win2KMain");
    ASSERT_FALSE(main.empty());
    EXPECT_EQ(L"NIC service started!", main.back());
    EXPECT_EQ(1u, CountOf(Messages(L"CMNicService::RunAsExe"), L"Receive Terminate_Thread_Event"));
}

TEST_F(NicThreadTest, StopDuringTheFirstBuild)
{
    fixture.Host().generation.initMs = 500;
    NicServiceSide service(kShort);
    ASSERT_TRUE(service.StartEntry(Win2KMain));
    ASSERT_TRUE(WaitUntil([] { return g_ScriptedCounts.running.load() == 1; }));
    NicServiceSide::StopResult stop = service.Stop();
    EXPECT_TRUE(stop.acknowledged);
    EXPECT_TRUE(stop.returned);
    EXPECT_EQ(1, g_ScriptedCounts.inits.load());
    EXPECT_EQ(1, g_ScriptedCounts.updates.load()); // the build finished and published, then the stop
    EXPECT_EQ(1u, CountOf(Messages(L"DataCollectionThread"), L"Received event notification: TLM_STOP_EVENT"));
}

TEST_F(NicThreadTest, StopDuringAPassWaitsForItsEnd)
{
    fixture.Host().generation.passMs = 400;
    NicServiceSide service(kShort);
    ASSERT_TRUE(service.StartEntry(Win2KMain));
    ASSERT_TRUE(WaitUntil([] { return g_ScriptedCounts.updates.load() == 1 && g_ScriptedCounts.running.load() == 0; }));
    {
        HANDLE init = CreateEventW(nullptr, FALSE, FALSE, kNicInitEvent);
        SetEvent(init);
        CloseHandle(init);
    }
    ASSERT_TRUE(WaitUntil([] { return g_ScriptedCounts.running.load() == 1; }));
    NicServiceSide::StopResult stop = service.Stop();
    EXPECT_TRUE(stop.acknowledged);
    EXPECT_TRUE(stop.returned);
    EXPECT_EQ(2, g_ScriptedCounts.updates.load());
    DWORD ready = 0;
    EXPECT_TRUE(GetDword(kNicInterfaceKey, kNicInterfaceDataReadyName, &ready));
    EXPECT_EQ(1u, ready);
}

TEST_F(NicThreadTest, FailingInitStaysPendingAndStillAnswers)
{
    fixture.Host().generation.repeatResult = ERROR_NOT_READY;
    NicServiceSide service(kShort);
    ASSERT_TRUE(service.StartEntry(Win2KMain));
    // The attempt at start, then one per turn; well past the retries, every turn ends with a Done.
    for (int turn = 1; turn <= 8; ++turn) {
        ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect()) << turn;
        EXPECT_EQ(turn + 1, g_ScriptedCounts.inits.load());
    }
    EXPECT_EQ(0, g_ScriptedCounts.updates.load());
    NicServiceSide::StopResult stop = service.Stop();
    EXPECT_TRUE(stop.acknowledged);
    EXPECT_TRUE(stop.returned);
    EXPECT_EQ(1u, CountOf(Messages(L"DataCollectionThread"), L"Init failed after 5 retries"));
    EXPECT_EQ(9, g_ScriptedCounts.deleted.load()); // each failed generation went with its keys
}

TEST_F(NicThreadTest, PendingThenSuccessAfterRetries)
{
    fixture.Host().generation.initResults = {ERROR_NOT_READY, ERROR_NOT_READY, ERROR_NOT_READY};
    NicServiceSide service(kShort);
    ASSERT_TRUE(service.StartEntry(Win2KMain));
    for (int turn = 1; turn <= 4; ++turn)
        ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
    EXPECT_EQ(4, g_ScriptedCounts.inits.load());
    EXPECT_EQ(2, g_ScriptedCounts.updates.load()); // the successful build's publication and a pass
    EXPECT_EQ(1u, CountOf(Messages(L"DataCollectionThread"), L"Init data collection completed."));
    EXPECT_TRUE(service.Stop().returned);
}

TEST_F(NicThreadTest, PausedKeepsTheGenerationAndMarksItReady)
{
    SetDword(kTimeoutKey, L"Timeout", 0xFFFFFFFF);
    NicServiceSide service(kShort);
    ASSERT_TRUE(service.StartEntry(Win2KMain));
    ASSERT_TRUE(WaitUntil([] { return g_ScriptedCounts.updates.load() == 1; }));
    for (int turn = 0; turn < 5; ++turn) {
        ASSERT_TRUE(service.MarkNotReady());
        ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
        DWORD ready = 0;
        EXPECT_TRUE(GetDword(kNicInterfaceKey, kNicInterfaceDataReadyName, &ready));
        EXPECT_EQ(1u, ready) << turn;
    }
    EXPECT_EQ(1, g_ScriptedCounts.updates.load());
    EXPECT_EQ(0, g_ScriptedCounts.reinitChecks.load());
    EXPECT_EQ(5u, CountOf(Messages(L"DataCollectionThread"), L"Received timeout when service is paused so we do nothing!"));
    EXPECT_TRUE(service.Stop().returned);
}

TEST_F(NicThreadTest, PollIntervalRunsPassesAndAChangedTableRebuilds)
{
    g_NicThreadTimings.pollSecondMs = 5; // PollInterval 10: a wait of 50 ms
    SetDword(kNicParametersKey, kNicPollIntervalValue, 10);
    fixture.Host().generation.reinit = {0, 1};
    NicServiceSide service(kShort);
    ASSERT_TRUE(service.StartEntry(Win2KMain));
    ASSERT_TRUE(WaitUntil([] { return g_ScriptedCounts.reinitChecks.load() >= 4; }));
    NicServiceSide::StopResult stop = service.Stop();
    EXPECT_TRUE(stop.returned);
    EXPECT_EQ(2, g_ScriptedCounts.created.load()); // the second check saw a change
    EXPECT_EQ(1, g_ScriptedCounts.deleted.load());
    EXPECT_EQ(1u, CountOf(Messages(L"DataCollectionThread"),
                          L"Detected a change in interface table. Re-initializing data collection!"));
    EXPECT_GE(CountOf(Messages(L"DataCollectionThread"), L"WaitStatus: 258 CurrentPollTime: 10 sec"), 4u);
}

TEST_F(NicThreadTest, ServiceOptionsAgainstTheServiceManager)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring outputPath = std::wstring(temp) + L"nic-options.txt";
    auto run = [&](const char *option) {
        std::FILE *out = _wfopen(outputPath.c_str(), L"w+");
        CNtService::s_Output = out;
        char program[] = "netvarix";
        std::string text = option;
        char *argv[] = {program, text.data(), nullptr};
        EXPECT_EQ(0, Win2KMain(2, argv));
        CNtService::s_Output = nullptr;
        std::rewind(out);
        char buffer[512] = {};
        size_t read = std::fread(buffer, 1, sizeof(buffer) - 1, out);
        std::fclose(out);
        return std::string(buffer, read);
    };
    auto installed = [] {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceW(manager, L"ZDTNicMgmt", SERVICE_QUERY_CONFIG);
        bool found = service != nullptr;
        if (service != nullptr)
            CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return found;
    };
    run("/uninstall");
    ASSERT_FALSE(installed());

    struct Step {
        const char *option;
        const char *output;
        bool installedAfter;
    };
    const Step steps[] = {
        {"/install", "ZDTNicMgmt installed.\n", true},
        {"-INSTALL", "ZDTNicMgmt is already installed.\n", true},
        {"/reinstall", "ZDTNicMgmt reinstalled.\n", true}, // removed and made again
        {"/uninstall", "ZDTNicMgmt uninstalled.\n", false},
        {"-Uninstall", "ZDTNicMgmt is not installed.\n", false},
        {"/reinstall", "ZDTNicMgmt reinstalled.\n", true},
        {"/uninstall", "ZDTNicMgmt uninstalled.\n", false},
        {"/bogus", "", false},
    };
    for (const Step &step : steps) {
        EXPECT_EQ(step.output, run(step.option)) << step.option;
        EXPECT_EQ(step.installedAfter, installed()) << step.option;
    }
    // No option started the service object.
    EXPECT_EQ(0, g_ScriptedCounts.inits.load());
    EXPECT_EQ(0u, CountOf(Messages(L"CNtService::Start"), L"Starting service.."));

    // "runasexe" and a word without '/' or '-' start it like no argument at all.
    for (const char *option : {"/RunAsExe", "install"}) {
        ResetScriptedGeneration();
        char program[] = "netvarix";
        std::string text = option;
        char *argv[] = {program, text.data(), nullptr};
        NicServiceSide service(kShort);
        ASSERT_TRUE(service.StartEntry(Win2KMain, 2, argv));
        ASSERT_TRUE(WaitUntil([] { return g_ScriptedCounts.updates.load() == 1; })) << option;
        EXPECT_TRUE(service.Stop().returned) << option;
        EXPECT_FALSE(installed());
    }
}

} // namespace
