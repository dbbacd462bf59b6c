// Adapter data on the real platform under Wine: firmware through the test vendor libraries, the
// port map against Wine's WMI (its MSSmBios_RawSMBiosTables has no table data), Solarflare boot
// code without EFX_Port rows, and the partition probe loading the test "bmapi.dll" that sits
// beside this program.
#include "nic_test_support.h"

#include "common_log.h"
#include "miniport.h"
#include "partition_probe.h"
#include "port_map.h"
#include "vendor_libs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace nictest;

namespace {

using ScriptFn = void (*)(const uint32_t *, unsigned, uint32_t);
using AnswerFn = void (*)(const char *, uint32_t, unsigned, const void *, unsigned);
using CallsFn = void (*)(unsigned *, unsigned *);
using RecordFn = uint32_t(__cdecl *)(uint32_t, uint8_t *);

constexpr wchar_t kDevice[] = L"\\\\.\\{11111111-2222-3333-4444-555555555555}";

std::wstring Folder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.erase(folder.rfind(L'\\'));
}

template <class F> F Export(HMODULE module, const char *name)
{
    return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

class AdapterDataRealTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_LogPath = ConfigureVerboseLog(L"nic-adapter-real-log");
        s_CommonLog.LogInit(L"TLM", L"NETVARDL");
    }
    void SetUp() override
    {
        ResetVendorLibrarySlots();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    }
    void TearDown() override
    {
        CoUninitialize();
        SetDllDirectoryW(nullptr);
        ResetVendorLibrarySlots();
    }
    // A miniport whose device does not open: its GUID is kept all the same.
    static void Named(CMiniport &miniport, uint32_t pciId)
    {
        miniport.Init(nullptr, kDevice, sizeof(kDevice), nullptr);
        miniport.SetPCIDeviceID(pciId);
    }
    static inline std::wstring s_LogPath;
};

TEST_F(AdapterDataRealTest, FirmwareThroughTheTestVendorLibraries)
{
    ASSERT_TRUE(SetDllDirectoryW((Folder() + L"\\..\\vendor").c_str()));
    HMODULE q = LoadLibraryW(L"qlmapia.dll");
    HMODULE b = LoadLibraryW(L"bmapia.dll");
    ASSERT_NE(nullptr, q);
    ASSERT_NE(nullptr, b);
    Export<ScriptFn>(q, "VendorTestScript")(nullptr, 0, 0);
    Export<ScriptFn>(b, "VendorTestScript")(nullptr, 0, 0);
    auto qa = Export<AnswerFn>(q, "VendorTestAnswer");
    auto ba = Export<AnswerFn>(b, "VendorTestAnswer");
    const uint32_t handle = 7, one = 1, nic[2] = {1, 9}, duplex = 1;
    qa("QLmapiGetHandleByServiceName", 0, 0, &handle, 4);
    qa("QLmapiGetNumPhyNic", 0, 0, &one, 4);
    qa("QLmapiGetAllPhyNic", 0, 0, nic, 8);
    qa("QLmapiGetVbdEnumInfo", 0, 16, &handle, 4);
    qa("QLmapiGet5706FwInfo", 0, 8, "7.10.4", 7);
    qa("QLmapiRetrieveLinkStatus", 0, 20, &duplex, 4);
    ba("BmapiGetHandleByServiceName", 0, 0, &handle, 4);
    ba("BmapiGetFirmwareInfo", 0, 616, &one, 4);
    ba("BmapiReadVPDVal", 0, 0, "BC 21.6.2X", 10); // fills the buffer: no NUL
    ba("BmapiGetBRCMNicInfo", 0, 84, &duplex, 4);
    {
        CMiniport viaQlmapi;
        Named(viaQlmapi, 0x164E14E4);
        EXPECT_STREQ("7.10.4", viaQlmapi.GetFWVersion());
        CMiniport viaBmapi;
        Named(viaBmapi, 0x14E41657);
        EXPECT_STREQ("BC 21.6.2X", viaBmapi.GetFWVersion());
        // The link answers the link readers rely on.
        uint8_t link[28] = {};
        EXPECT_EQ(0u, Export<RecordFn>(q, "QLmapiRetrieveLinkStatus")(handle, link));
        EXPECT_EQ(1, link[20]);
        uint8_t info[112] = {};
        EXPECT_EQ(0u, Export<RecordFn>(b, "BmapiGetBRCMNicInfo")(handle, info));
        EXPECT_EQ(1, info[84]);
    }
    FreeLibrary(q);
    FreeLibrary(b);
}

TEST_F(AdapterDataRealTest, PortMapWithoutTableData)
{
    EXPECT_EQ(0, PortMapInit());
    int32_t slot = 0, bay = 0, port = 0, virtualPort = 0;
    EXPECT_EQ(0, PortMapGetPortInfo(-1, 3, 0, 1, 0, &slot, &bay, &port, &virtualPort));
    EXPECT_EQ(-1, slot);
    EXPECT_EQ(0u, PortMapGetBayInfoFlag());
    EXPECT_EQ("Unknown", g_PortMap.GetServerName());
    const auto lines = LogMessages(s_LogPath, L"CPortMap::GetSMBIOSProperties");
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find(L"Can't get data from SMBIOS table."));
}

TEST_F(AdapterDataRealTest, SolarflareWithoutPorts)
{
    uint8_t mac[6] = {0, 0x0F, 0x53, 1, 2, 3};
    wchar_t version[256] = L"untouched";
    const int ran = getSFBootCodeVersion(version, mac);
    EXPECT_EQ(1, ran);
    EXPECT_STREQ(L"untouched", version); // no port matched
}

TEST_F(AdapterDataRealTest, BroadcomProbeLoadsTheLibraryBesideTheProgram)
{
    // Our own reference keeps the test library's counters across the probe's load and release.
    HMODULE npar = LoadLibraryW((Folder() + L"\\bmapi.dll").c_str());
    ASSERT_NE(nullptr, npar);
    Export<ScriptFn>(npar, "VendorTestScript")(nullptr, 0, 0);
    DEVINST root = 0;
    ASSERT_EQ(static_cast<CONFIGRET>(CR_SUCCESS), CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL));
    int32_t value = -1;
    EXPECT_EQ(2u, GetBroadcomPartitionValue(root, &value)); // no tape-class device shares its location
    EXPECT_EQ(-1, value);
    unsigned init = 0, uninit = 0;
    Export<CallsFn>(npar, "VendorTestCalls")(&init, &uninit);
    EXPECT_EQ(1u, init);
    EXPECT_EQ(1u, uninit);
    FreeLibrary(npar);
}

} // namespace
