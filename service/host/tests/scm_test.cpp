// The host under Wine's real service control manager: a probe service is registered, started
// with a behaviour, controlled and stopped; what it observed of its own status and the events it
// wrote (the simulation build's event file) are checked.
#include "scm_support.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace scmtest;

namespace {

constexpr wchar_t kProbeName[] = L"tlmprobe";

class ScmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = ProgramFolder();
        events_ = folder_ + L"svchost_probe.events.txt";
        observations_ = folder_ + L"svchost_probe.observed.txt";
        DeleteFileW(events_.c_str());
        DeleteFileW(observations_.c_str());

        manager_.handle = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_.handle, nullptr);
        std::wstring binary = L"\"" + folder_ + L"svchost_probe.exe\"";
        service_.handle = CreateServiceW(manager_.handle, kProbeName, L"Tlm Probe Service", SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                         SERVICE_ERROR_NORMAL,
                                         binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        if (service_.handle == nullptr && GetLastError() == ERROR_SERVICE_EXISTS)
            service_.handle = OpenServiceW(manager_.handle, kProbeName, SERVICE_ALL_ACCESS);
        ASSERT_NE(service_.handle, nullptr);
    }

    void TearDown() override
    {
        if (service_.handle) {
            SERVICE_STATUS status{};
            ControlService(service_.handle, SERVICE_CONTROL_STOP, &status);
            WaitForState(SERVICE_STOPPED);
            DeleteService(service_.handle);
        }
    }

    bool Start(const wchar_t *mode)
    {
        const wchar_t *args[] = {observations_.c_str(), mode};
        return StartServiceW(service_.handle, 2, args) != FALSE;
    }

    DWORD WaitForState(DWORD wanted, DWORD timeoutMs = 60000)
    {
        SERVICE_STATUS status{};
        for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
            if (QueryServiceStatus(service_.handle, &status) && status.dwCurrentState == wanted)
                break;
            Sleep(50);
        }
        return status.dwCurrentState;
    }

    // The events of one run; event 101 is written just before the process ends, so wait for it.
    std::vector<eventsink::Event> Events() { return ReadEventFile(events_); }

    static std::vector<DWORD> Ids(const std::vector<eventsink::Event> &events)
    {
        std::vector<DWORD> ids;
        for (const auto &e : events)
            ids.push_back(e.id);
        return ids;
    }

    std::wstring folder_, events_, observations_;
    ServiceHandle manager_, service_;
};

TEST_F(ScmTest, RunsThroughTheStatesWithTheirHintsAndReportsStartAndStop)
{
    ASSERT_TRUE(Start(L"ok"));
    ASSERT_EQ(WaitForState(SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING));

    SERVICE_STATUS status{};
    EXPECT_TRUE(ControlService(service_.handle, SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_FALSE(ControlService(service_.handle, SERVICE_CONTROL_PAUSE, &status)) << "pause is not accepted";

    ASSERT_TRUE(ControlService(service_.handle, SERVICE_CONTROL_STOP, &status));
    ASSERT_EQ(WaitForState(SERVICE_STOPPED), static_cast<DWORD>(SERVICE_STOPPED));

    auto events = Events();
    EXPECT_EQ(Ids(events), (std::vector<DWORD>{kEventProcessStarted, kEventProcessStopped}));
    for (const auto &e : events) {
        EXPECT_EQ(e.source, L"Tlm Probe Service");
        EXPECT_EQ(e.type, EVENTLOG_INFORMATION_TYPE);
    }

    EXPECT_EQ(ReadLines(observations_),
              (std::vector<std::string>{
                  "OnStart state=2 accepted=0 checkpoint=0 waithint=30000",
                  "OnRun state=4 accepted=1 checkpoint=0 waithint=0",
                  "StopRequested state=3 accepted=0 checkpoint=0 waithint=60000",
                  "OnStop state=3 accepted=0 checkpoint=1 waithint=60000",
              }));
}

TEST_F(ScmTest, CallbackFailuresAreReportedAndOnStopStillRuns)
{
    struct Case {
        const wchar_t *mode;
        std::vector<DWORD> ids;
        std::wstring exceptionCode;
        std::vector<std::string> observed;
    } cases[] = {
        {L"fail",
         {kEventProcessStarted, kEventServiceInitFailed, kEventProcessStopped},
         L"",
         {"OnStart state=2", "OnStop state=3"}},
        {L"fault",
         {kEventProcessStarted, kEventException, kEventServiceInitFailed, kEventProcessStopped},
         L"C0000005",
         {"OnStart state=2", "OnStop state=3"}},
        {L"badalloc",
         {kEventProcessStarted, kEventException, kEventProcessStopped},
         L"C0000017",
         {"OnStart state=2", "OnRun state=4", "StopRequested state=3", "OnStop state=3"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.mode, c.mode + wcslen(c.mode)));
        DeleteFileW(events_.c_str());
        DeleteFileW(observations_.c_str());
        ASSERT_TRUE(Start(c.mode));
        if (std::wstring(c.mode) == L"badalloc") {
            ASSERT_EQ(WaitForState(SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING));
            SERVICE_STATUS status{};
            ControlService(service_.handle, SERVICE_CONTROL_STOP, &status);
        }
        ASSERT_EQ(WaitForState(SERVICE_STOPPED), static_cast<DWORD>(SERVICE_STOPPED));

        auto events = Events();
        EXPECT_EQ(Ids(events), c.ids);
        for (const auto &e : events) {
            if (e.id == kEventServiceInitFailed) {
                EXPECT_EQ(e.strings, std::vector<std::wstring>{kProbeName});
            }
            if (e.id == kEventException) {
                EXPECT_EQ(e.strings, std::vector<std::wstring>{c.exceptionCode});
            }
        }
        auto observed = ReadLines(observations_);
        ASSERT_EQ(observed.size(), c.observed.size());
        for (size_t i = 0; i < observed.size(); ++i)
            EXPECT_EQ(observed[i].substr(0, c.observed[i].size()), c.observed[i]);
    }
}

} // namespace
