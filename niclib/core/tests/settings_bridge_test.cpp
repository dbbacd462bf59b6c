// What the adapter model reads from the registry and the device tree: a member's resources and
// position, its configured speed and duplex, the connection name, and the bridge's values.
#include "model_test_support.h"

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
        // A driver family whose link reader asks the media connect status.
        adapter->GetMemberList()->object->GetMiniport()->SetAdapterType(L"E1000");
        return adapter;
    }
    std::vector<std::unique_ptr<CLogicalAdapter>> m_Adapters;
};

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
        {L"req_medium", L"3", 3},          {nullptr, nullptr, 2}, // no setting, an adapter type other than 10
        {L"*SpeedDuplex", L"-2130705662", 8},
    };
    const wchar_t *settings[] = {L"*SpeedDuplex", L"SpeedDuplex", L"RequestedMediaType", L"req_medium"};
    for (const Case &c : cases) {
        for (const wchar_t *name : settings)
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey.c_str(), name);
        SetText(kSettingsKey, L"NetCfgInstanceID", L"{22222222-0000-0000-0000-000000000001}");
        if (c.name != nullptr)
            SetText(kSettingsKey, c.name, c.text);
        EXPECT_EQ(c.result, member->GetConfSpeedDuplex(kGuid.c_str())) << (c.name ? c.name : L"none");
    }
    // The first readable setting decides.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey.c_str(), L"*SpeedDuplex");
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
