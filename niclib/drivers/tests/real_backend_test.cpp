// The miniport layer on the real platform under Wine: the test vendor libraries loaded by bare
// file name from a folder the test puts on the search path, an empty device tree, devices that do
// not open, and WMI without the LBFO namespace.
#include "nic_test_support.h"

#include "common_log.h"
#include "lbfo.h"
#include "miniport.h"
#include "vendor_libs.h"

#include <gtest/gtest.h>

#include <string>

using namespace nictest;

namespace {

using ScriptFn = void (*)(const uint32_t *, unsigned, uint32_t);
using CallsFn = void (*)(unsigned *, unsigned *);

std::wstring VendorFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.erase(folder.rfind(L'\\'));
    return folder + L"\\vendor";
}

class RealBackendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ConfigureVerboseLog(L"nic-real-log");
        s_CommonLog.LogInit(L"TLM", L"NETVARDL");
    }
    void SetUp() override { ResetVendorLibrarySlots(); }
    void TearDown() override
    {
        SetDllDirectoryW(nullptr);
        ResetVendorLibrarySlots();
    }
};

template <class F> F Export(HMODULE module, const char *name)
{
    return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

TEST_F(RealBackendTest, TestVendorLibrariesFoundOnlyOnTheSearchPath)
{
    EXPECT_EQ(0, InitializeQMAPI());
    EXPECT_EQ(0, InitializeBMAPI());
    EXPECT_EQ(nullptr, GetModuleHandleW(L"qlmapia.dll"));

    ASSERT_TRUE(SetDllDirectoryW(VendorFolder().c_str()));
    // The test's own reference keeps the script alive across the library's loads and unloads.
    HMODULE q = LoadLibraryW(L"qlmapia.dll");
    HMODULE b = LoadLibraryW(L"bmapia.dll");
    ASSERT_NE(nullptr, q);
    ASSERT_NE(nullptr, b);
    const uint32_t qAnswers[] = {7, 0};
    Export<ScriptFn>(q, "VendorTestScript")(qAnswers, 2, 0);
    Export<ScriptFn>(b, "VendorTestScript")(nullptr, 0, 51);
    {
        CMiniport miniport;
        EXPECT_EQ(1, IsQMAPIInitialized());
        EXPECT_EQ(0, IsBMAPIInitialized());
        for (int i = 0; i < kQlmapiEntryCount; ++i)
            EXPECT_NE(nullptr, QlmapiEntryPoint(static_cast<QlmapiEntry>(i))) << i;
        CMiniport copy;
        copy = miniport;
    }
    unsigned init = 0, uninit = 0;
    Export<CallsFn>(q, "VendorTestCalls")(&init, &uninit);
    EXPECT_EQ(2u, init);
    EXPECT_EQ(1u, uninit);
    Export<CallsFn>(b, "VendorTestCalls")(&init, &uninit);
    EXPECT_EQ(1u, init); // 51: never asked again
    { CMiniport again; }
    Export<CallsFn>(b, "VendorTestCalls")(&init, &uninit);
    EXPECT_EQ(1u, init);
    FreeLibrary(q);
    FreeLibrary(b);
}

TEST_F(RealBackendTest, EmptyDeviceTreeClosedDevicesAndNoLbfo)
{
    CMiniportList list;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), list.Init());
    CMiniport miniport;
    uint8_t buffer[8];
    DWORD returned = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), miniport.NdisIoctl(kOidGenMediaInUse, buffer, 8, &returned));
    const HRESULT wmi = g_NetWMIClass.WBEMInit();
    EXPECT_EQ(static_cast<HRESULT>(0x8004100E), wmi);
    TEAMDATA team;
    EXPECT_EQ(kTeamNotFound,
              getTeamData("{00000000-0000-0000-0000-000000000000}", &team, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr));
    EXPECT_EQ(-1, getTeamVlanId("{00000000-0000-0000-0000-000000000000}"));
    g_NetWMIClass.WBEMUninit();
}

} // namespace
