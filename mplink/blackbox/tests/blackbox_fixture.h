#pragma once
// What the black box's tests share: the simulated processor behind the pipe channel, short
// time-outs, the registry the black box keeps wiped before each test, nothing remembered of an
// earlier test's descriptor upload, and a recording trigger.

#include "blackbox.h"
#include "blackbox_protocol.h"
#include "channel_test_util.h"
#include "chan.h"
#include "oxbsim_process.h"
#include "pipe_backend.h"
#include "registry.h"
#include "service_parameters.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The collection triggers WriteReLogRegistry asked for.
struct RecordedTriggers {
    static inline std::mutex Lock;
    static inline std::vector<std::pair<std::wstring, int>> Calls;
    static void Trigger(const wchar_t *group, int seconds)
    {
        std::lock_guard<std::mutex> lock(Lock);
        Calls.emplace_back(group, seconds);
    }
    static std::vector<std::pair<std::wstring, int>> Take()
    {
        std::lock_guard<std::mutex> lock(Lock);
        return std::exchange(Calls, {});
    }
};

class BlackboxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The service's key exists on an installed machine; made here first, it is not made
        // volatile as the parent of VolatileData (a volatile key holds no lasting subkeys).
        CRegistry(kBlackBoxParametersKey).Create();
        CRegistry::DeleteTree(HKEY_LOCAL_MACHINE, kBlackBoxVolatileKey);
        CRegistry host(kBlackBoxHostKey);
        for (const wchar_t *name : {L"KWBCleared", L"KWBDisabledThenEnabled", L"LastSoftwareCollectionTime"})
            host.DeleteValue(name);
        CRegistry(kBlackBoxParametersKey).DeleteValue(L"PollInterval_CPUUtilizationInMinutes");
        // The upload is remembered for the whole process: each test starts as the service's
        // first start does, with nothing uploaded to a processor this process has not met yet.
        ForgetBlackboxDescriptorsForTest();
        s_ServiceParameters.EnableBlackbox = 1;
        s_BlackBoxTrigger = &RecordedTriggers::Trigger;
        RecordedTriggers::Take();
    }

    bool StartSim(const std::vector<std::string> &directives = {})
    {
        PipeBackendSetName(sim.Name().c_str());
        return sim.Start(directives);
    }

    std::vector<SimRecord> Records(const char *verb) const { return sim.Records(verb); }
    size_t Count(const char *verb) const { return sim.Records(verb).size(); }

    static bool VolatileValue(const wchar_t *name) { return CRegistry(kBlackBoxVolatileKey).ValueExists(name) != 0; }
    static DWORD HostDword(const wchar_t *name)
    {
        DWORD value = 0;
        CRegistry(kBlackBoxHostKey).GetDword(name, &value);
        return value;
    }

    OxbSim sim{OxbSim::UniqueName("bb")};
    // Short enough for tests, long enough for Wine.
    ScopedValue<DWORD> m_ReplyWait{ChanTimeouts::DefaultReplyWaitMs, 2000};
    ScopedValue<DWORD> m_ReopenPause{ChanTimeouts::ReopenPauseMs, 20};
    ScopedValue<DWORD> m_Wake{BlackBoxTimeouts::WakeMs, 300};
    ScopedValue<DWORD> m_StopWait{CWorkerThread::StopWaitMs, 20000};
};
