#pragma once
// What the miniport tests share: a described host installed for each test, scripted vendor
// entry points, the test's own verbose log, and vendor slots reset between tests.
#include "nic_test_support.h"

#include "common_log.h"
#include "miniport.h"
#include "nic_fixture.h"
#include "vendor_libs.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace nictest {

// One vendor library's script: initialise answers in order, then repeat.
struct VendorScript {
    std::vector<uint32_t> results;
    uint32_t repeat = 0;
    unsigned initCalls = 0;
    unsigned uninitCalls = 0;
    unsigned otherCalls = 0;

    uint32_t Next()
    {
        const unsigned call = initCalls++;
        return call < results.size() ? results[call] : repeat;
    }
};

inline VendorScript s_Qlmapi;
inline VendorScript s_Bmapi;

inline uint32_t __cdecl QlmapiInit(uint32_t)
{
    return s_Qlmapi.Next();
}
inline uint32_t __cdecl BmapiInit(uint32_t)
{
    return s_Bmapi.Next();
}
template <int N> uint32_t __cdecl ScriptedUninit()
{
    ++(N == 0 ? s_Qlmapi : s_Bmapi).uninitCalls;
    return 0;
}

template <class F> FARPROC AsProc(F function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(function));
}

class MiniportTestBase : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_LogPath = ConfigureVerboseLog(L"nic-miniport-log");
        s_CommonLog.LogInit(L"TLM", L"NETVARDL");
    }
    void SetUp() override
    {
        ResetVendorLibrarySlots();
        s_Qlmapi = VendorScript();
        s_Bmapi = VendorScript();
        fixture.Install();
        ConfigureVerboseLog(L"nic-miniport-log"); // a fresh log file for each test
    }
    void TearDown() override { ResetVendorLibrarySlots(); }

    // A described vendor module whose initialise and uninitialise entry points run the script.
    void AddVendorModule(const std::wstring &name, VendorScript &script)
    {
        fixture.Host().modules.push_back({name, {}});
        const bool q = &script == &s_Qlmapi;
        fixture.SetModuleExport(name, q ? "QLmapiInitializeEx" : "BmapiInitializeEx",
                                AsProc(q ? QlmapiInit : BmapiInit));
        fixture.SetModuleExport(name, q ? "QLmapiUninitialize" : "BmapiUninitialize",
                                AsProc(q ? ScriptedUninit<0> : ScriptedUninit<1>));
    }

    NicFixture fixture;
    static inline std::wstring s_LogPath;
};

} // namespace nictest
