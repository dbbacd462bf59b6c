// What the adapter model reads from the registry and the device tree: a member's resources and
// position, its configured speed and duplex, the connection name, and the bridge's values.
#include "model_test_support.h"

#include "win32_net_adapter.h"

using namespace modeltest;

namespace {

const std::wstring kGuid = L"{22222222-0000-0000-0000-000000000001}";
const std::wstring kNic = L"\\\\.\\" + kGuid;
const std::wstring kBridgeGuid = L"{22222222-0000-0000-0000-0000000000B0}";
const std::wstring kBridge = L"\\\\.\\" + kBridgeGuid;
const std::vector<uint8_t> kMac = {0x00, 0x1B, 0x21, 0x55, 0x66, 0x77};
const std::vector<uint8_t> kBridgeMac = {0x02, 0x1B, 0x21, 0x55, 0x66, 0x77};
const std::wstring kClassKey = L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
const std::wstring kSettingsKey = kClassKey + L"\\9721";
const std::wstring kConnectionKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\" + kGuid;
const std::wstring kTcpipKey = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\" + kBridgeGuid;

void SetText(const std::wstring &key, const wchar_t *name, const std::wstring &text)
{
    SetValue(key.c_str(), name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

class SettingsBridgeTest : public ModelTest {
protected:
    void TearDown() override
    {
        DeleteTree(kSettingsKey.c_str());
        DeleteTree(kConnectionKey.c_str());
        DeleteTree(kTcpipKey.c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, NicFixture::kDeviceKeyRoot);
        ModelTest::TearDown();
    }
    // A plain NIC interface with its logical adapter and member.
    CLogicalAdapter *Plain(CMiniportList &list, const std::wstring &device, const std::wstring &guid,
                           const std::vector<uint8_t> &mac, uint32_t index, const std::string &description,
                           uint32_t speed = 1000000000)
    {
        Driver(device, mac, "Intel");
        if (InitInto(list, device) == nullptr)
            return nullptr;
        auto *adapter = new CLogicalAdapter();
        m_Adapters.emplace_back(adapter);
        MIB_IFROW row = Row(index, 6, mac, description, speed);
        if (adapter->Init(&row, &trap, &list, nullptr) != 0 ||
            adapter->SetMiniport(list.FindMiniportByName(guid.c_str())) != 1)
            return nullptr;
        adapter->SetLogicalIndex(index);
        if (adapter->CreatePhysicalAdapterList(&list) != 0 || adapter->GetMemberList() == nullptr)
            return nullptr;
        return adapter;
    }
    std::vector<std::unique_ptr<CLogicalAdapter>> m_Adapters;
};

TEST_F(SettingsBridgeTest, ResourcesGiveThePositionNameAndPermanentAddress)
{
    NicHostDevice device;
    device.id = L"PCI\\VEN_8086&DEV_1572&SUBSYS_00088086&REV_01\\4&2a5b&0&0008";
    device.classGuid = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
    device.properties = {{CM_DRP_LOCATION_INFORMATION, L"PCI bus 3, device 0, function 1"},
                         {CM_DRP_UI_NUMBER, L"4"},
                         {CM_DRP_FRIENDLYNAME, L"Port 1"},
                         {CM_DRP_SERVICE, L"testnic"}};
    device.softwareValues.push_back({L"NetCfgInstanceId", kGuid});
    fixture.Host().devices.push_back(device);
    CMiniportList list;
    CLogicalAdapter *adapter = Plain(list, kNic, kGuid, kMac, 5, "Intel(R) Ethernet");
    ASSERT_NE(nullptr, adapter);
    Change(kNic, kOid8023PermanentAddress, {0x00, 0x1B, 0x21, 0x55, 0x66, 0x00});

    CWin32NetAdapterList adapters;
    ASSERT_EQ(1, adapters.Init());
    CPhysicalAdapter *member = adapter->GetMemberList()->object;
    EXPECT_EQ(1, member->AssignPhysicalResources(&adapters, list.FindMiniportByName(kGuid.c_str())));
    EXPECT_EQ(4, member->GetSlot());
    EXPECT_EQ(3, member->GetBus());
    EXPECT_EQ(0, member->GetDevice());
    EXPECT_EQ(1, member->GetFunction());
    EXPECT_STREQ(L"Port 1", member->GetDeviceName());
    EXPECT_EQ(0x80861572u, member->GetRecord().PciId);
    EXPECT_EQ(0x00088086u, member->GetRecord().SubsystemId);
    EXPECT_EQ("Port 1", RecordText(member->GetRecord().Name));
    const uint8_t permanent[6] = {0x00, 0x1B, 0x21, 0x55, 0x66, 0x00};
    EXPECT_EQ(0, std::memcmp(permanent, member->GetRecord().MacAddress, 6));
    ASSERT_NE(nullptr, trap.GetCurrentHead());
    EXPECT_EQ(4, trap.GetCurrentHead()->object->slot);
    EXPECT_EQ(3, trap.GetCurrentHead()->object->bus);

    // The port map may renumber the slot; the condition still goes where the adapter registered.
    member->SetSlot(9);
    adapter->Update(0);
    EXPECT_EQ("0000:03:00.1", RecordText(member->GetRecord().PciLocation));
    EXPECT_EQ("PCIID0x80861572,SUBSYSID0x00088086", RecordText(member->GetRecord().HwLocation));
    member->GetMiniport()->SetConditionStable(0);
    SetLink(kNic, false);
    g_UpdatePass = 2;
    adapter->Update(0);
    EXPECT_EQ(4, trap.GetCurrentHead()->object->condition);
    EXPECT_EQ(0u, CountOf(LogMessages(s_LogPath, L"CTrap::SetAdapterCondition"),
                          L"Failed to find adapter Slot: 9 Segment: 0 Bus: 3 Device: 0 Function: 1"));
    const std::vector<std::wstring> lost = ValueNames(TrapKey(L"Trap_ConnectivityLost").c_str());
    ASSERT_EQ(1u, lost.size());
    TRAPRECORD record;
    ASSERT_TRUE(ReadRecord(TrapKey(L"Trap_ConnectivityLost").c_str(), lost[0], &record));
    EXPECT_EQ("Port 1", RecordText(record.MemberName));
    EXPECT_EQ(9, record.Slot);
    EXPECT_EQ(3, record.PciBus);
}

TEST_F(SettingsBridgeTest, ConfiguredSpeedAndDuplexFromTheDriverKey)
{
    CMiniportList list;
    CLogicalAdapter *adapter = Plain(list, kNic, kGuid, kMac, 5, "Intel(R) Ethernet");
    ASSERT_NE(nullptr, adapter);
    CPhysicalAdapter *member = adapter->GetMemberList()->object;
    struct Case {
        const wchar_t *name;
        const wchar_t *text;
        int result;
    };
    const Case cases[] = {
        {L"*SpeedDuplex", L"6", 8},        {L"SpeedDuplex", L"5", 1}, {L"RequestedMediaType", L"4102", 6},
        {L"req_medium", L"3", 3},          {nullptr, nullptr, 2}, // no setting, adapter type 0
        {L"*SpeedDuplex", L"-2130705662", 8},
    };
    for (const Case &c : cases) {
        DeleteTree(kSettingsKey.c_str());
        SetText(kSettingsKey, L"NetCfgInstanceID", L"{22222222-0000-0000-0000-000000000001}");
        if (c.name != nullptr)
            SetText(kSettingsKey, c.name, c.text);
        EXPECT_EQ(c.result, member->GetConfSpeedDuplex(kGuid.c_str())) << (c.name ? c.name : L"none");
    }
    // The first readable setting decides.
    SetText(kSettingsKey, L"SpeedDuplex", L"1");
    SetText(kSettingsKey, L"RequestedMediaType", L"0");
    EXPECT_EQ(3, member->GetConfSpeedDuplex(kGuid.c_str()));
    // Another adapter's key is not this one's.
    EXPECT_EQ(1, member->GetConfSpeedDuplex(L"{99999999-0000-0000-0000-000000000000}"));

    adapter->Update(0);
    EXPECT_EQ(3, member->GetRecord().ConfSpeedDuplex);
}

TEST_F(SettingsBridgeTest, ConnectionNameFromTheNetworkKeyEvenWhenDown)
{
    SetText(kConnectionKey + L"\\Connection", L"Name", L"Ethernet 3");
    CMiniportList list;
    CLogicalAdapter *adapter = Plain(list, kNic, kGuid, kMac, 5, "Intel(R) Ethernet");
    ASSERT_NE(nullptr, adapter);
    SetLink(kNic, false);
    adapter->GetMemberList()->object->GetMiniport()->SetConditionStable(0);
    adapter->Update(0);
    EXPECT_EQ(4, adapter->GetCondition());
    EXPECT_EQ("Ethernet 3", RecordText(adapter->GetInterfaceMap().ConnectionName));
    EXPECT_EQ("N/A", RecordText(adapter->GetInterfaceMap().IPv6Address));
}

TEST_F(SettingsBridgeTest, BridgeNamesAreComparedAsTextAndOversizedValuesSkipped)
{
    EXPECT_EQ(0, CLogicalAdapter::IsBridgeAdapter("Network Bridge")); // no BridgeDeviceName
    EXPECT_EQ(0, CLogicalAdapter::IsBridgeAdapter(""));
    SetText(kNicBridgingInfoKey, L"BridgeDeviceName", L"Network Bridge");
    SetText(kNicBridgingInfoKey, L"BridgeConnectionName", L"Bridge 1");
    EXPECT_EQ(1, CLogicalAdapter::IsBridgeAdapter("network BRIDGE"));
    EXPECT_EQ(0, CLogicalAdapter::IsBridgeAdapter("Network Bridge #2"));
    EXPECT_EQ(0, CLogicalAdapter::IsBridgeAdapter(""));
    EXPECT_EQ("Bridge 1", CLogicalAdapter::GetBridgeConnectionName());

    // A member value too long for a device name comes first; the search goes on past it.
    SetText(kNicBridgingInfoKey, L"MemberDeviceName0", std::wstring(600, L'x'));
    SetText(kNicBridgingInfoKey, L"MemberDeviceName1", L"Intel(R) Ethernet");
    SetText(kNicBridgingInfoKey, L"OtherName", L"Realtek");
    EXPECT_EQ(1, CPhysicalAdapter::IsBridgeMember("intel(r) ethernet"));
    EXPECT_EQ(0, CPhysicalAdapter::IsBridgeMember("Realtek"));
    EXPECT_EQ(0, CPhysicalAdapter::IsBridgeMember(""));
}

TEST_F(SettingsBridgeTest, OnlyTheBridgeWritesItsAddressesAndMembersCountOk)
{
    SetText(kNicBridgingInfoKey, L"BridgeDeviceName", L"Network Bridge");
    SetText(kNicBridgingInfoKey, L"BridgeConnectionName", L"Bridge 1");
    SetText(kNicBridgingInfoKey, L"MemberDeviceName0", L"Intel(R) Ethernet");
    SetText(kTcpipKey, L"IPAddress", L"192.168.1.7");
    CMiniportList list;
    CLogicalAdapter *bridge = Plain(list, kBridge, kBridgeGuid, kBridgeMac, 9, "Network Bridge", 2500000000u);
    CLogicalAdapter *member = Plain(list, kNic, kGuid, kMac, 5, "Intel(R) Ethernet");
    ASSERT_NE(nullptr, bridge);
    ASSERT_NE(nullptr, member);
    std::strcpy(bridge->GetInterfaceMap().IPv6Address, "fe80::1");

    for (uint32_t pass = 1; pass <= 2; ++pass) {
        g_UpdatePass = pass;
        DWORD zero = 0;
        SetValue(kNicBridgingInfoKey, L"BridgeAdapterOKCount", REG_DWORD, &zero, 4);
        bridge->Update(0);
        member->Update(0); // after the bridge: the bridge's values stay
        DWORD address = 0;
        ASSERT_TRUE(GetDword(kNicBridgingInfoKey, L"BridgeIPV4Address", &address)) << pass;
        EXPECT_EQ(0x0701A8C0u, address) << pass;
        const std::vector<uint8_t> ipv6 = ReadValue(kNicBridgingInfoKey, L"BridgeIPV6Address");
        ASSERT_EQ(256u, ipv6.size()) << pass;
        EXPECT_STREQ("fe80::1", reinterpret_cast<const char *>(ipv6.data())) << pass;
        DWORD ok = 0;
        ASSERT_TRUE(GetDword(kNicBridgingInfoKey, L"BridgeAdapterOKCount", &ok)) << pass;
        EXPECT_EQ(1u, ok) << pass;
        EXPECT_EQ(2500u, bridge->GetInterfaceMap().SpeedMbps) << pass;
        EXPECT_EQ("Bridge 1", RecordText(bridge->GetInterfaceMap().ConnectionName)) << pass;
    }

    // Without a bridge nothing is written into BridgingInfo by the adapters.
    DeleteTree(kNicBridgingInfoKey);
    CreateVolatileKey(kNicBridgingInfoKey);
    g_UpdatePass = 3;
    member->Update(0);
    EXPECT_TRUE(ValueNames(kNicBridgingInfoKey).empty());
}

} // namespace
