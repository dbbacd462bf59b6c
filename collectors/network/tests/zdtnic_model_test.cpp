// The NIC collector's adapter list, device lookup and record readers, over interface data and
// device nodes of the test's own and records in the registry.
#include "nic_test_support.h"

#include <gtest/gtest.h>

using namespace nictest;

namespace {

class NicModelTest : public ::testing::Test {
protected:
    void SetUp() override { ResetNicTest(&devices); }
    void TearDown() override
    {
        s_NicDevNodes = nullptr;
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicRootKey);
    }
    std::vector<NET_ADAPTER> &List() { return s_ZDTNICDataCollector.Adapters(); }
    const NET_ADAPTER *Find(uint32_t index)
    {
        for (const NET_ADAPTER &a : List())
            if (a.InterfaceIndex == index)
                return &a;
        return nullptr;
    }
    FakeDevNodes devices;
};

const wchar_t kIntelId[] = L"PCI\\VEN_8086&DEV_1563&SUBSYS_0B091F7A&REV_01\\4&1A2B3C&0&0018";

TEST_F(NicModelTest, AdapterPartsOfLoopbackTeamAndPorts)
{
    devices.enumerators[L"PCI"] = {L"PCI\\VEN_1AF4&DEV_1000\\OTHER", kIntelId};
    devices.devices[L"PCI\\VEN_1AF4&DEV_1000\\OTHER"] = {L"Other", L"Other", 0, 0, 0};
    devices.devices[kIntelId] = {L"Port A", L"Intel port", 5, 0x00030001, 2};
    // Rows out of index order: the list follows the indexes.
    s_If.rows = {
        Row(5, kIfTypeEthernet, kUp, true, kDisconnected, L"Port C", L"LAN C", 5),
        Row(1, kIfTypeLoopback, kUp, false, kConnected, L"Loopback", L"lo", 0),
        Row(3, kIfTypeEthernet, kUp, true, kConnected, L"Port A", L"LAN A", 3),
        Row(2, kIfTypeEthernet, kUp, false, kConnected, L"QZ Network Team #2", L"Team", 2),
        Row(4, kIfTypeEthernet, kUp, true, kConnected, L"Port B", L"LAN B", 4, 10000000000ull),
        Row(6, kIfTypeEthernet, kNotPresent, true, kConnected, L"Port D", L"LAN D", 6),
        Row(7, kIfTypeEthernet, kUp, true, kConnected, L"Port E", L"LAN E", 7),
    };
    for (ULONG i = 1; i <= 6; ++i)
        s_If.addresses.push_back({i, "{guid-" + std::to_string(i) + "}"});
    s_ZDTNICDataCollector.UpdateAllData();

    std::vector<uint32_t> indexes;
    for (const NET_ADAPTER &a : List())
        indexes.push_back(a.InterfaceIndex);
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 3, 4, 5}), indexes) << "not of interest: 6; no address entry: 7";

    struct {
        uint32_t index;
        bool physical, logical;
        uint32_t physicalIndex, link, duplex;
        uint64_t speed;
        uint8_t kind, condition, status, members;
        const char *alias;
    } cases[] = {
        {1, false, true, 0, 0, 0, 0, 1, 1, 1, 0, ""},
        {2, false, true, 0, 0, 0, 0, 1, 2, 2, 0, "Team"},
        {3, true, true, 1, 2, 3, 1000000000ull, 2, 2, 2, 1, "LAN A"},
        {4, true, true, 2, 2, 3, 10000000000ull, 2, 2, 2, 1, "LAN B"},
        {5, true, true, 3, 4, 1, 0, 2, 4, 5, 1, "LAN C"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.index);
        const NET_ADAPTER *a = Find(c.index);
        ASSERT_NE(nullptr, a);
        EXPECT_EQ(c.physical, a->Physical.Present != 0);
        EXPECT_EQ(c.logical, a->Logical.Present != 0);
        EXPECT_EQ(c.physicalIndex, a->Physical.PhysicalIndex);
        EXPECT_EQ(c.link, a->Physical.LinkStatus);
        EXPECT_EQ(c.duplex, a->Physical.DuplexState);
        EXPECT_EQ(c.speed, a->Physical.Speed);
        EXPECT_EQ(c.kind, a->Logical.Kind);
        EXPECT_EQ(c.condition, a->Logical.Condition);
        EXPECT_EQ(c.status, a->Logical.Status);
        EXPECT_EQ(c.members, a->Logical.MemberCount);
        EXPECT_STREQ(c.alias, a->Logical.Alias);
        if (c.physical) {
            EXPECT_EQ(c.physicalIndex, a->Logical.Members[0]);
            EXPECT_EQ(c.link == 2 ? 1 : 0, a->Logical.OkMemberCount);
        }
    }
    // The port the configuration manager knows: UI number 2, function 1 + 1, the instance ID's
    // identity.
    const NET_ADAPTER *a = Find(3);
    EXPECT_EQ(2u, a->Physical.Slot);
    EXPECT_EQ(2u, a->Physical.Port);
    EXPECT_EQ(0x80861563u, a->Physical.PciId);
    EXPECT_EQ(0x0B091F7Au, a->Physical.SubsystemId);
    EXPECT_EQ(0u, Find(4)->Physical.Slot);
}

TEST_F(NicModelTest, TheListFollowsTheInterfacesAcrossCollections)
{
    s_If.rows = {Row(3, kIfTypeEthernet, kUp, true, kConnected, L"Port A", L"LAN A", 3),
                 Row(4, kIfTypeEthernet, kUp, true, kConnected, L"Port B", L"LAN B", 4),
                 Row(5, kIfTypeEthernet, kUp, true, kConnected, L"Port C", L"LAN C", 5)};
    s_If.addresses = {{3, "{a}"}, {4, "{b}"}, {5, "{c}"}};
    s_ZDTNICDataCollector.UpdateAllData();
    ASSERT_EQ(3u, List().size());

    // No snapshot: the list stays as it was.
    s_If.fail = true;
    s_ZDTNICDataCollector.UpdateAllData();
    EXPECT_EQ(3u, List().size());
    s_If.fail = false;

    // 3 has a new adapter name (a new adapter), 4 is no longer present, 5 vanished, 9 is new.
    s_If.rows = {Row(3, kIfTypeEthernet, kUp, true, kConnected, L"Port A2", L"LAN A2", 3),
                 Row(4, kIfTypeEthernet, kNotPresent, true, kConnected, L"Port B", L"LAN B", 4),
                 Row(9, kIfTypeEthernet, kUp, true, kConnected, L"Port F", L"LAN F", 9)};
    s_If.addresses = {{3, "{a2}"}, {4, "{b}"}, {9, "{f}"}};
    s_ZDTNICDataCollector.UpdateAllData();
    ASSERT_EQ(2u, List().size());
    EXPECT_STREQ("{a2}", List()[0].AdapterName);
    EXPECT_STREQ("Port A2", List()[0].Physical.Description);
    EXPECT_EQ(9u, List()[1].InterfaceIndex);
    EXPECT_EQ(2u, List()[1].Physical.PhysicalIndex);

    // A table without rows empties the list.
    s_If.rows.clear();
    s_ZDTNICDataCollector.UpdateAllData();
    EXPECT_TRUE(List().empty());
}

TEST_F(NicModelTest, LibraryRecordsTakePartsAway)
{
    s_If.rows = {Row(3, kIfTypeEthernet, kUp, true, kConnected, L"Port A", L"LAN A", 3),
                 Row(4, kIfTypeEthernet, kUp, true, kConnected, L"Port B", L"LAN B", 4)};
    s_If.addresses = {{3, "{a}"}, {4, "{b}"}};
    NIC_COLLECTION_RECORDS &records = s_ZDTNICDataCollector.Records();
    records.logResult = records.physResult = 0;
    // A team (kind 3) that names LAN A's connection: LAN A is no physical interface of its own.
    records.logical = {Logical(1, "QZ Network Team #1", "lan a", 3, 2)};
    // Port B is the library's physical adapter in a role: it is no logical interface of its own.
    PHYSADAPTERRECORD b = Phys(1, "PORT B", 2);
    b.Role = 1;
    records.phys = {b};
    s_ZDTNICDataCollector.UpdateAllData();
    ASSERT_EQ(2u, List().size());
    EXPECT_FALSE(List()[0].Physical.Present);
    EXPECT_TRUE(List()[0].Logical.Present);
    EXPECT_TRUE(List()[1].Physical.Present);
    EXPECT_FALSE(List()[1].Logical.Present);
}

TEST_F(NicModelTest, DeviceLookup)
{
    struct {
        const char *what;
        std::map<std::wstring, std::vector<std::wstring>> enumerators;
        std::map<std::wstring, FAKE_DEVICE> devices;
        bool found;
        const wchar_t *id;
        uint8_t bus, device, function;
        uint32_t ui;
    } cases[] = {
        {"first PCI device",
         {{L"PCI", {L"PCI\\A", L"PCI\\B"}}},
         {{L"PCI\\A", {L"NIC", L"x", 1, 0x00030001, 4}}, {L"PCI\\B", {L"NIC", L"x", 2, 0, 5}}},
         true, L"PCI\\A", 1, 3, 1, 4},
        {"matched by description when the friendly name cannot be read",
         {{L"PCI", {L"PCI\\A", L"PCI\\B"}}},
         {{L"PCI\\A", {L"Other", L"Other", 1, 0, 0}}, {L"PCI\\B", {std::nullopt, L"NIC", 7, 0x00010000, std::nullopt}}},
         true, L"PCI\\B", 7, 1, 0, 0},
        {"PCI bus unreadable: EBDRV is tried",
         {{L"PCI", {L"PCI\\A"}}, {L"EBDRV", {L"EBDRV\\C"}}},
         {{L"PCI\\A", {L"NIC", L"NIC", std::nullopt, 0, 0}}, {L"EBDRV\\C", {L"NIC", L"NIC", 9, 0x00020003, 1}}},
         true, L"EBDRV\\C", 9, 2, 3, 1},
        {"friendly name differs in case only",
         {{L"PCI", {L"PCI\\A"}}},
         {{L"PCI\\A", {L"nic", L"NIC", 1, 0, 0}}},
         false, L"", 255, 255, 255, 0},
        {"another form of ID", {{L"PCI", {L"USB\\A"}}}, {{L"USB\\A", {L"NIC", L"NIC", 1, 0, 0}}}, false, L"", 255, 255, 255, 0},
        {"prefix compared with case", {{L"PCI", {L"pci\\A"}}}, {{L"pci\\A", {L"NIC", L"NIC", 1, 0, 0}}}, false, L"", 255, 255, 255, 0},
        {"ID no longer than a prefix", {{L"PCI", {L"PCI"}}}, {{L"PCI", {L"NIC", L"NIC", 1, 0, 0}}}, false, L"", 255, 255, 255, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        devices.enumerators = c.enumerators;
        devices.devices = c.devices;
        NET_DEVICE_INFO info;
        EXPECT_EQ(c.found, FindNetDeviceByName(&info, L"NIC"));
        if (c.found) {
            EXPECT_EQ(c.id, info.InstanceId);
            EXPECT_EQ(c.bus, info.Bus);
            EXPECT_EQ(c.device, info.Device);
            EXPECT_EQ(c.function, info.Function);
            EXPECT_EQ(c.ui, info.UiNumber);
        }
    }
}

TEST_F(NicModelTest, ReadersTakeWholeRecordsInIndexOrderOnlyWhileReady)
{
    SetReady(1);
    std::vector<PHYSADAPTERRECORD> phys;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, s_ZDTNICDataCollector.Get_zdtNicIfPhysAdapterTable_Data(&phys));
    EXPECT_TRUE(phys.empty());

    WriteRecords(kNicPhysInterfaceKey, kPhysAdapterPrefix, std::vector<PHYSADAPTERRECORD>{Phys(2, "B", 2), Phys(1, "A", 2)});
    // A value of another size sits among them: it is no record and damages none.
    const uint8_t shortValue[100] = {};
    WriteValue(kNicPhysInterfaceKey, L"PhysAdapter005", shortValue, sizeof shortValue);
    PHYSADAPTERRECORD third = Phys(3, "C", 4);
    WriteValue(kNicPhysInterfaceKey, L"PhysAdapter006", &third, sizeof third);
    ASSERT_EQ(0, s_ZDTNICDataCollector.Get_zdtNicIfPhysAdapterTable_Data(&phys));
    ASSERT_EQ(3u, phys.size());
    EXPECT_STREQ("A", phys[0].Name);
    EXPECT_STREQ("B", phys[1].Name);
    EXPECT_STREQ("C", phys[2].Name);

    std::vector<INTERFACEMAPRECORD> logical;
    WriteRecords(kNicLogInterfaceMapKey, kInterfaceMapPrefix,
                 std::vector<INTERFACEMAPRECORD>{Logical(4, "D", "d", 2, 2), Logical(2, "B", "b", 2, 2)});
    ASSERT_EQ(0, s_ZDTNICDataCollector.Get_zdtNicIfLogMapTable_Data(&logical));
    ASSERT_EQ(2u, logical.size());
    EXPECT_EQ(2u, logical[0].LogicalIndex);

    // The library rewrites its records: nothing is taken.
    SetReady(0);
    EXPECT_EQ(3, s_ZDTNICDataCollector.Get_zdtNicIfLogMapTable_Data(&logical));
    EXPECT_TRUE(logical.empty());
    std::vector<VLANMAPRECORD> vlans(1);
    EXPECT_EQ(3, s_ZDTNICDataCollector.Get_zdtNicIfVlanMapTable_Data(&vlans));
    EXPECT_TRUE(vlans.empty());
}

TEST_F(NicModelTest, BridgeDescription)
{
    SetReady(1);
    WriteBridge({{"NIC A", "LAN A"}, {"NIC B", "LAN B"}}, "Network Bridge", "Bridge");
    std::vector<BRIDGE_ENTRY> entries;
    GetBridgingInfo(&entries);
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ("NIC A", entries[0].DeviceName);
    EXPECT_EQ("LAN B", entries[1].ConnectionName);
    EXPECT_EQ(1, entries[1].Member);
    EXPECT_EQ(1, entries[2].Bridge);
    EXPECT_EQ("Network Bridge", entries[2].DeviceName);
    EXPECT_EQ("Bridge", entries[2].ConnectionName);

    // A member count beyond what a member list holds.
    HKEY key = CreateKey(kNicBridgingInfoKey);
    const DWORD many = 5000;
    RegSetValueExW(key, L"MemberCount", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&many), 4);
    RegCloseKey(key);
    GetBridgingInfo(&entries);
    EXPECT_EQ(17u, entries.size());

    SetReady(0);
    GetBridgingInfo(&entries);
    EXPECT_TRUE(entries.empty());
}

} // namespace
