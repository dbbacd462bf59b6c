// The service programs under Wine's real service control manager: the states they report with
// their checkpoints and hints, the exit codes, the host's events (the simulation build's event
// file), a failed start, and the product running without a management processor.
#include "scm_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace scmtest;

namespace {

constexpr wchar_t kServiceName[] = L"ndxtlm";

struct Sample {
    DWORD state, checkpoint, waitHint, exitCode, specificCode;
};

class ScmLifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager_.handle = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_.handle, nullptr);
    }
    void TearDown() override { Remove(); }

    // Installs program (beside this test) with its arguments as the service "ndxtlm".
    void Install(const std::wstring &program, const std::wstring &arguments = L"")
    {
        Remove();
        program_ = program;
        DeleteFileW(EventsPath().c_str());
        std::wstring command = L"\"" + ProgramFolder() + program + L".exe\"";
        if (!arguments.empty())
            command += L" " + arguments;
        // The service removed just before is deleted only once its process has gone: until then the
        // name is marked for deletion and cannot be made again.
        const DWORD begin = GetTickCount();
        for (;;) {
            service_.handle = CreateServiceW(manager_.handle, kServiceName, L"NDX Velmarine Management Service",
                                             SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                             SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                             nullptr, nullptr);
            if (service_.handle != nullptr || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE ||
                GetTickCount() - begin > 60000)
                break;
            Sleep(100);
        }
        ASSERT_NE(service_.handle, nullptr) << GetLastError();
    }
    void Remove()
    {
        if (service_.handle == nullptr)
            return;
        SERVICE_STATUS status{};
        ControlService(service_.handle, SERVICE_CONTROL_STOP, &status);
        Watch(SERVICE_STOPPED, 60000);
        DeleteService(service_.handle);
        CloseServiceHandle(service_.handle);
        service_.handle = nullptr;
    }

    // Samples the status as fast as the manager answers until the state is reached; returns every
    // distinct sample seen.
    std::vector<Sample> Watch(DWORD wanted, DWORD timeoutMs = 60000)
    {
        std::vector<Sample> seen;
        const DWORD begin = GetTickCount();
        while (GetTickCount() - begin < timeoutMs) {
            SERVICE_STATUS status{};
            if (!QueryServiceStatus(service_.handle, &status))
                break;
            Sample sample{status.dwCurrentState, status.dwCheckPoint, status.dwWaitHint, status.dwWin32ExitCode,
                          status.dwServiceSpecificExitCode};
            if (seen.empty() || memcmp(&seen.back(), &sample, sizeof sample) != 0)
                seen.push_back(sample);
            if (status.dwCurrentState == wanted)
                break;
        }
        return seen;
    }

    std::wstring EventsPath() const { return ProgramFolder() + program_ + L".events.txt"; }

    std::vector<eventsink::Event> Events() { return ReadEventFile(EventsPath()); }

    // Start, run a moment, stop: every sample of both halves.
    void RunOnce(std::vector<Sample> *starting, std::vector<Sample> *stopping, DWORD runMs = 300)
    {
        ASSERT_TRUE(StartServiceW(service_.handle, 0, nullptr)) << GetLastError();
        *starting = Watch(SERVICE_RUNNING);
        Sleep(runMs);
        SERVICE_STATUS status{};
        ASSERT_TRUE(ControlService(service_.handle, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        *stopping = Watch(SERVICE_STOPPED);
    }

    std::wstring program_;
    ServiceHandle manager_, service_;
};

std::vector<DWORD> States(const std::vector<Sample> &samples)
{
    std::vector<DWORD> states;
    for (const Sample &s : samples)
        if (states.empty() || states.back() != s.state)
            states.push_back(s.state);
    return states;
}

TEST_F(ScmLifecycle, BothProgramsRunThroughTheStates)
{
    for (const wchar_t *program : {L"qzrtlm_sim", L"qzrtlm"}) {
        const std::string where(program, program + wcslen(program));
        Install(program);
        std::vector<Sample> starting, stopping;
        RunOnce(&starting, &stopping);
        ASSERT_FALSE(starting.empty()) << where;
        EXPECT_EQ(States(starting), (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING})) << where;
        EXPECT_EQ(starting.front().waitHint, kStartWaitHintMs) << where;
        EXPECT_EQ(starting.back().checkpoint, 0u) << where;

        ASSERT_FALSE(stopping.empty()) << where;
        EXPECT_EQ(stopping.back().state, static_cast<DWORD>(SERVICE_STOPPED)) << where;
        DWORD lastCheckpoint = 0;
        for (const Sample &s : stopping) {
            if (s.state != SERVICE_STOP_PENDING)
                continue;
            EXPECT_EQ(s.waitHint, kStopWaitHintMs) << where;
            EXPECT_GE(s.checkpoint, lastCheckpoint) << where << ": checkpoints only advance";
            lastCheckpoint = s.checkpoint;
        }
        EXPECT_EQ(stopping.back().exitCode, 0u) << where;
        EXPECT_EQ(stopping.back().specificCode, 0u) << where;
    }
    // The simulation build writes its events to a file: a clean start and stop reports only the
    // process's start and end.
    Install(L"qzrtlm_sim");
    std::vector<Sample> starting, stopping;
    RunOnce(&starting, &stopping);
    std::vector<DWORD> ids;
    for (const eventsink::Event &e : Events())
        ids.push_back(e.id);
    EXPECT_EQ(ids, (std::vector<DWORD>{kEventProcessStarted, kEventProcessStopped}));
}

TEST_F(ScmLifecycle, StopPendingCheckpointsAdvanceWhileTheStopWaits)
{
    Install(L"lifecycle_probe", L"--slow-stop");
    std::vector<Sample> starting, stopping;
    RunOnce(&starting, &stopping);
    std::vector<DWORD> checkpoints;
    for (const Sample &s : stopping)
        if (s.state == SERVICE_STOP_PENDING && (checkpoints.empty() || s.checkpoint != checkpoints.back()))
            checkpoints.push_back(s.checkpoint);
    ASSERT_GE(checkpoints.size(), 3u) << "a two-second wait shows several checkpoints";
    for (size_t i = 1; i < checkpoints.size(); ++i)
        EXPECT_GT(checkpoints[i], checkpoints[i - 1]);
    EXPECT_EQ(stopping.back().state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(stopping.back().exitCode, 0u);
}

TEST_F(ScmLifecycle, AFailedStartNamesTheComponentAndStopsCleanly)
{
    for (const wchar_t *word : {L"Data Collection", L"AX Threads"}) {
        const std::string where(word, word + wcslen(word));
        Install(L"lifecycle_probe", std::wstring(L"--fail \"") + word + L"\"");
        ASSERT_TRUE(StartServiceW(service_.handle, 0, nullptr)) << where;
        std::vector<Sample> samples = Watch(SERVICE_STOPPED);
        std::vector<DWORD> states = States(samples);
        EXPECT_EQ(std::count(states.begin(), states.end(), SERVICE_RUNNING), 0) << where;
        ASSERT_FALSE(samples.empty()) << where;
        EXPECT_EQ(samples.back().state, static_cast<DWORD>(SERVICE_STOPPED)) << where;
        EXPECT_EQ(samples.back().exitCode, 0u) << where;

        std::vector<eventsink::Event> events = Events();
        ASSERT_EQ(events.size(), 4u) << where;
        EXPECT_EQ(events[0].id, kEventProcessStarted) << where;
        EXPECT_EQ(events[1].id, kEventSubsystemFailed) << where;
        EXPECT_EQ(events[1].strings, std::vector<std::wstring>{word}) << where;
        EXPECT_EQ(events[2].id, kEventServiceInitFailed) << where;
        EXPECT_EQ(events[2].strings, std::vector<std::wstring>{kServiceName}) << where;
        EXPECT_EQ(events[3].id, kEventProcessStopped) << where;
    }
}

std::wstring ReadUtf16File(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return L"";
    std::wstring text;
    wchar_t buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read != 0)
        text.append(buffer, read / sizeof(wchar_t));
    CloseHandle(file);
    return text;
}

size_t Count(const std::wstring &text, const std::wstring &what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

TEST_F(ScmLifecycle, TheProductWithoutAProcessorRunsAndKeepsTrying)
{
    // No management-processor driver exists here: the product starts, logs that it cannot open
    // its session, tries again in the background and still stops cleanly.
    const std::wstring folder = L"C:\\tlmlog-lifecycle\\";
    const std::wstring log = folder + L"TLM.log";
    CreateDirectoryW(folder.c_str(), nullptr);
    DeleteFileW(log.c_str());
    HKEY config = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"System\\TLMLOGCFG", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &config,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(config, L"LogFolder", 0, REG_SZ, reinterpret_cast<const BYTE *>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    const DWORD level = 1, size = 0x100000;
    RegSetValueExW(config, L"LogLevel", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&level), sizeof level);
    RegSetValueExW(config, L"LogMaxSize", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&size), sizeof size);
    RegCloseKey(config);

    Install(L"qzrtlm");
    ASSERT_TRUE(StartServiceW(service_.handle, 0, nullptr));
    ASSERT_EQ(Watch(SERVICE_RUNNING).back().state, static_cast<DWORD>(SERVICE_RUNNING));
    const std::wstring failure = L"Can't open/restart AgentX session";
    // The session is tried again every 15 s.
    size_t attempts = 0;
    for (int i = 0; i < 900 && attempts < 2; ++i) {
        Sleep(100);
        attempts = Count(ReadUtf16File(log), failure);
    }
    EXPECT_GE(attempts, 2u);
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(service_.handle, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

    const DWORD begin = GetTickCount();
    ASSERT_TRUE(ControlService(service_.handle, SERVICE_CONTROL_STOP, &status));
    std::vector<Sample> stopping = Watch(SERVICE_STOPPED);
    EXPECT_EQ(stopping.back().state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(stopping.back().exitCode, 0u);
    EXPECT_LT(GetTickCount() - begin, 15000u) << "no thread had to be waited out (30 s each)";
    const std::wstring text = ReadUtf16File(log);
    EXPECT_NE(text.find(L"Service stopped"), std::wstring::npos);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"System\\TLMLOGCFG");
}

} // namespace
