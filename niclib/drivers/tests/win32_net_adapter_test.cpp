// Network-class devices as the configuration manager describes them: identity, bus position,
// slot, names and the lookup by the miniport's GUID text.
#include "miniport_test_support.h"

#include "win32_net_adapter.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace nictest;

namespace {

constexpr wchar_t kNetClass[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr ULONG kService = CM_DRP_SERVICE;

std::wstring Guid(int n)
{
    wchar_t text[40];
    swprintf(text, 40, L"{%08X-AAAA-BBBB-CCCC-DDDDDDDDDDDD}", n);
    return text;
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

struct Expected {
    uint32_t pciId, subsystemId, segment, bus, device, function;
    int32_t uiNumber, port;
    const wchar_t *name;
};

class Win32NetAdapterTest : public MiniportTestBase {
protected:
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, NicFixture::kDeviceKeyRoot);
        for (const std::wstring &key : m_EnumKeys)
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
        MiniportTestBase::TearDown();
    }
    // A present network-class device with its driver key's NetCfgInstanceId (GUID n).
    NicHostDevice &Device(const std::wstring &id, int n, std::map<uint32_t, std::wstring> properties,
                          const wchar_t *klass = kNetClass)
    {
        NicHostDevice device;
        device.id = id;
        device.classGuid = klass;
        device.properties = std::move(properties);
        if (device.properties.count(kService) == 0)
            device.properties[kService] = L"testnic";
        if (n != 0)
            device.softwareValues.push_back({L"NetCfgInstanceId", Guid(n)});
        fixture.Host().devices.push_back(device);
        return fixture.Host().devices.back();
    }
    // A bus device's instance under an Enum root of the registry.
    void EnumInstance(const std::wstring &root, const std::wstring &instance, const wchar_t *prefix, DWORD slot)
    {
        const std::wstring deviceKey = L"SYSTEM\\CurrentControlSet\\Enum\\" + root + L"\\VEN_TEST&DEV_S20A";
        m_EnumKeys.push_back(deviceKey);
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (deviceKey + L"\\" + instance).c_str(), 0, nullptr,
                                                 0, KEY_WRITE, nullptr, &key, nullptr));
        if (prefix != nullptr)
            RegSetValueExW(key, L"ParentIdPrefix", 0, REG_SZ, reinterpret_cast<const BYTE *>(prefix),
                           static_cast<DWORD>((wcslen(prefix) + 1) * sizeof(wchar_t)));
        RegSetValueExW(key, L"UINumber", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&slot), sizeof(slot));
        RegCloseKey(key);
    }
    // The list's adapter for GUID n.
    static ADAPTERRESOURCES Resources(const CWin32NetAdapterList &list, int n, bool *found)
    {
        ADAPTERRESOURCES resources = {};
        *found = false;
        for (WIN32NETADAPTERNODE *node = list.GetFirst(); node != nullptr; node = node->next) {
            const wchar_t *id = node->adapter->GetNetCfgInstanceId();
            if (id != nullptr && Guid(n) == id) {
                *found = node->adapter->GetResources(&resources) == 1;
                break;
            }
        }
        return resources;
    }
    std::vector<std::wstring> m_EnumKeys;
};

TEST_F(Win32NetAdapterTest, IdentityPositionSlotAndName)
{
    // 1: a plain PCI function with slot and friendly name.
    Device(L"PCI\\VEN_8086&DEV_1572&SUBSYS_00088086&REV_01\\4&2a5b&0&0008", 1,
           {{CM_DRP_LOCATION_INFORMATION, L"PCI bus 4, device 0, function 1"}, {CM_DRP_UI_NUMBER, L"3"},
            {CM_DRP_FRIENDLYNAME, L"Port 1"}});
    // 2: a virtual-bus function; four location numbers; no friendly name: the service names it.
    Device(L"B06BDRV\\L2ND&PCI_164E14E4&SUBSYS_1917103C&REV_10\\5&1&0&0", 2,
           {{CM_DRP_LOCATION_INFORMATION, L"PCI segment 1 bus 4, device 0, function 1"}, {CM_DRP_UI_NUMBER, L"2"},
            {kService, L"l2nd"}});
    // 3: a Mellanox Ethernet function under its PCI parent.
    Device(L"PCI\\VEN_15B3&DEV_1007&SUBSYS_22F3103C&REV_00\\6&9", 0,
           {{CM_DRP_UI_NUMBER, L"7"}, {CM_DRP_HARDWAREID, L"PCI\\VEN_15B3&DEV_1007&SUBSYS_22F3103C&REV_00"}},
           L"{4d36e97d-e325-11ce-bfc1-08002be10318}");
    Device(L"MLX4\\CONNECTX-3_ETH\\7&1&0", 3,
           {{CM_DRP_LOCATION_INFORMATION, L"MLX4 bus 5, device 0, function 0, port 2"}, {CM_DRP_UI_NUMBER, L"2"},
            {CM_DRP_FRIENDLYNAME, L"Mellanox 2"}})
        .parent = L"PCI\\VEN_15B3&DEV_1007&SUBSYS_22F3103C&REV_00\\6&9";
    // 4: an IPoIB function without its own UI number: the hardware key's InstanceIndex.
    NicHostDevice &ipoib = Device(L"IBA\\IPOIB\\7&2", 4, {{CM_DRP_LOCATION_INFORMATION, L"MLX4 bus 5, device 0, function 0, port 1"}});
    ipoib.parent = L"PCI\\VEN_15B3&DEV_1007&SUBSYS_22F3103C&REV_00\\6&9";
    ipoib.hardwareValues.push_back({L"InstanceIndex", 3});
    // 5: a Solarflare function under its PCI parent, named by its description.
    Device(L"PCI\\VEN_1924&DEV_0A03&SUBSYS_1A021924&REV_02\\8&1", 0,
           {{CM_DRP_LOCATION_INFORMATION, L"PCI bus 3, device 0, function 1"}, {CM_DRP_UI_NUMBER, L"5"},
            {CM_DRP_HARDWAREID, L"PCI\\VEN_1924&DEV_0A03&SUBSYS_1A021924&REV_02"}},
           L"{4d36e97d-e325-11ce-bfc1-08002be10318}");
    Device(L"SFVMK\\VEN_1924&DEV_0A03\\9&1", 5, {{CM_DRP_DEVICEDESC, L"SF port"}}).parent =
        L"PCI\\VEN_1924&DEV_0A03&SUBSYS_1A021924&REV_02\\8&1";
    // 6: the management processor's USB NIC.
    Device(L"USB\\VID_1B1F&PID_0E21\\0123", 6, {{CM_DRP_UI_NUMBER, L"9"}});
    // Dropped: an unknown bus, an accepted family that fits no rule, a device without service.
    Device(L"ROOT\\NET\\0000", 7, {});
    Device(L"PCI\\VEN_8086&DEV_1572\\3&1", 8, {});
    NicHostDevice &noService = Device(L"PCI\\VEN_8086&DEV_1521&SUBSYS_00018086&REV_01\\3&2", 9, {});
    noService.properties.erase(kService);

    CWin32NetAdapterList list;
    ASSERT_EQ(1, list.Init());
    EXPECT_EQ(6u, list.GetCount());

    const Expected expected[] = {
        {0x80861572, 0x00088086, 0, 4, 0, 1, 3, -1, L"Port 1"},
        {0x164E14E4, 0x1917103C, 1, 4, 0, 1, 2, -1, L"l2nd"},
        {0x15B31007, 0x22F3103C, 0, 5, 0, 1, 7, 2, L"Mellanox 2"},
        {0x15B31007, 0x22F3103C, 0, 5, 0, 2, 7, 1, L"testnic"},
        {0x19240A03, 0x1A021924, 0, 3, 0, 1, 5, -1, L"SF port"},
        {0x1B1F0E21, 0, 0, 0, 0, 0, 0, 0, L"Generic USB-EEM Network Adapter"},
    };
    for (int n = 1; n <= 6; ++n) {
        const Expected &e = expected[n - 1];
        bool found = false;
        const ADAPTERRESOURCES r = Resources(list, n, &found);
        ASSERT_TRUE(found) << n;
        EXPECT_EQ(e.pciId, r.pciId) << n;
        EXPECT_EQ(e.subsystemId, r.subsystemId) << n;
        EXPECT_EQ(e.segment, r.segment) << n;
        EXPECT_EQ(e.bus, r.bus) << n;
        EXPECT_EQ(e.device, r.device) << n;
        EXPECT_EQ(e.function, r.function) << n;
        EXPECT_EQ(e.uiNumber, r.uiNumber) << n;
        EXPECT_EQ(e.port, r.port) << n;
        EXPECT_STREQ(e.name, r.friendlyName) << n;
        EXPECT_EQ(-1, r.resourceWord) << n;
        EXPECT_EQ(0u, r.ioBase) << n;
    }
}

TEST_F(Win32NetAdapterTest, SlotFromTheBusDeviceThatEnumeratedIt)
{
    // An empty prefix comes first in the walk and must match nothing.
    EnumInstance(L"PCI", L"0-empty", L"", 4);
    EnumInstance(L"PCI", L"1-other", L"5&FFFF&0", 6);
    EnumInstance(L"PCI", L"2-parent", L"5&1f2e3d&0", 9);
    Device(L"B06BDRV\\L2ND&PCI_164E14E4&SUBSYS_1917103C&REV_10\\5&1f2e3d&0&0", 1,
           {{CM_DRP_LOCATION_INFORMATION, L"PCI bus 2, device 0, function 0"}});
    Device(L"B06BDRV\\L2ND&PCI_164E14E4&SUBSYS_1917103C&REV_10\\5&777777&0&0", 2, {});

    CWin32NetAdapterList list;
    ASSERT_EQ(1, list.Init());
    bool found = false;
    EXPECT_EQ(9, Resources(list, 1, &found).uiNumber);
    EXPECT_TRUE(found);
    EXPECT_EQ(0, Resources(list, 2, &found).uiNumber); // none found
    EXPECT_TRUE(found);
}

TEST_F(Win32NetAdapterTest, MiniportFindsItsAdapterWithoutRegardToCase)
{
    Device(L"PCI\\VEN_8086&DEV_1572&SUBSYS_00088086&REV_01\\4&1", 1, {{kService, L"i40ea"}});
    const std::wstring device = L"\\\\.\\" + Lower(Guid(1));
    fixture.Host().ndis.push_back({device, kIoctlNdisQueryGlobalStats, kOidGenMediaInUse, 0, std::vector<uint8_t>(8, 0)});
    CMiniport miniport;
    ASSERT_EQ(0u, miniport.Init(nullptr, device.c_str(), (device.size() + 1) * sizeof(wchar_t), nullptr));
    CMiniport other;

    CWin32NetAdapterList list;
    ASSERT_EQ(1, list.Init());
    ADAPTERRESOURCES resources = {};
    EXPECT_EQ(1, list.GetResources(miniport, &resources));
    EXPECT_EQ(0x80861572u, resources.pciId);
    wchar_t *service = nullptr;
    ASSERT_EQ(1, list.GetServiceName(miniport, &service));
    EXPECT_STREQ(L"i40ea", service);
    delete[] service;
    EXPECT_EQ(0, list.GetResources(other, &resources));
    EXPECT_EQ(0, list.GetServiceName(other, &service));
}

CONFIGRET WINAPI SizeFails(PULONG, PCWSTR, ULONG)
{
    return CR_FAILURE;
}
CONFIGRET WINAPI SizeZero(PULONG length, PCWSTR, ULONG)
{
    *length = 0;
    return CR_SUCCESS;
}
CONFIGRET WINAPI SizeTen(PULONG length, PCWSTR, ULONG)
{
    *length = 10;
    return CR_SUCCESS;
}
CONFIGRET WINAPI ListFails(PCWSTR, PZZWSTR, ULONG, ULONG)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return CR_FAILURE;
}

TEST_F(Win32NetAdapterTest, DeviceListAnswers)
{
    struct Case {
        decltype(&::CM_Get_Device_ID_List_SizeW) size;
        decltype(&::CM_Get_Device_ID_ListW) list;
        int result;
    };
    const Case cases[] = {
        {SizeFails, nullptr, 1}, // logged; no adapters rather than no model
        {SizeZero, ListFails, 1}, // an empty list, as some systems answer it
        {SizeTen, ListFails, 0},
    };
    for (const Case &c : cases) {
        NicPlatform platform = fixture.Platform();
        platform.CM_Get_Device_ID_List_SizeW = c.size;
        if (c.list != nullptr)
            platform.CM_Get_Device_ID_ListW = c.list;
        ScopedNicPlatform scoped(platform);
        CWin32NetAdapterList list;
        EXPECT_EQ(c.result, list.Init());
        EXPECT_EQ(0u, list.GetCount());
    }
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CWin32NetAdapterList::Init"),
                          L"CM_Get_Device_ID_List_SizeW returned: 19"));
}

} // namespace
