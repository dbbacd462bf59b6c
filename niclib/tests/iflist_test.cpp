// The interface list on described hosts: what a generation publishes, when it marks its records
// ready, how it joins VLAN interfaces, keeps the bridge values and notices a changed table.
#include "iflist_test_support.h"
#include "port_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <set>
#include <utility>
#include <vector>

using namespace nictest;

namespace {

using ModelTest = IfListTestBase;

TEST_F(ModelTest, NoInterfaceAtAllStillPublishesTheSmallValues)
{
    fixture.Host() = NicHost();
    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(0u, list->GetCount());
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CIFList::Init"), L"NIC init failed: Return code: 8."));
    // A stale bridge value of an earlier pass: emptied even without a sharing manager.
    CreateVolatileKey(kNicBridgingInfoKey);
    SetDword(kNicBridgingInfoKey, L"BridgeAdapterOKCount", 3);
    list->Update();

    DWORD status = 0;
    EXPECT_TRUE(GetDword(kNicRootKey, kNicStatusValue, &status));
    EXPECT_EQ(1u, status);
    DWORD type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(GetValue(kNicInterfaceKey, kNicSoftwareRevisionsValue, &type, &data));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    ASSERT_EQ(3973u, data.size());
    EXPECT_EQ(1, data[0]);
    EXPECT_EQ(46, data[1]);
    EXPECT_TRUE(KeyExists(kNicBridgingInfoKey));
    EXPECT_TRUE(ValueNames(kNicBridgingInfoKey).empty());
    const MIBSTATSRECORD stats = ReadRecord<MIBSTATSRECORD>(kNicInterfaceKey, kNicMibStatsValue);
    EXPECT_EQ(18, stats.MibGroup);
    EXPECT_EQ(1, stats.Condition);
    EXPECT_EQ(g_PollTime / 1000, stats.PollSeconds);
    ASSERT_TRUE(GetValue(kNicInterfaceKey, kNicIfTableInformationValue, &type, &data));
    EXPECT_EQ((std::vector<uint8_t>{1}), data);
    EXPECT_EQ(1u, Ready());
}

TEST_F(ModelTest, OnlyTheLoopbackInterface)
{
    NicHost host;
    NicHostInterface loopback;
    loopback.index = scenario::kLoopback;
    loopback.type = 24;
    loopback.speed = 1073741824;
    loopback.description = scenario::Description(scenario::kLoopback);
    host.interfaces.push_back(loopback);
    fixture.Host() = host;
    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    list->Update();
    ASSERT_EQ(1u, list->GetCount());
    const INTERFACEMAPRECORD map = ReadRecord<INTERFACEMAPRECORD>(kNicLogInterfaceMapKey, L"InterfaceMap001");
    EXPECT_EQ(1u, map.LogicalIndex);
    EXPECT_EQ(1, map.IfIndexList[0]);
    EXPECT_EQ(1, map.Kind);
    EXPECT_EQ(0, map.MemberCount);
    EXPECT_TRUE(LogMessages(s_LogPath, L"CIFList::AllocatePhysicalAdapters").empty());
    EXPECT_FALSE(KeyExists(kNicEthernetKey));
    EXPECT_EQ(0, list->GetEthernet());
}

TEST_F(ModelTest, UpdatePassCounterSkipsZeroAndOne)
{
    fixture.Host() = NicHost();
    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    const uint32_t cases[][2] = {{0xFFFFFFFFu, 2}, {0, 1}, {1, 2}, {41, 42}};
    for (const auto &c : cases) {
        g_UpdatePass = c[0];
        list->Update();
        EXPECT_EQ(c[1], g_UpdatePass) << c[0];
    }
}

TEST_F(ModelTest, BridgeValuesAndVlanJoinOnTheScenario)
{
    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    list->Update();

    // Bridge members and the bridge, texts stored with their terminator.
    struct Text {
        const wchar_t *name;
        std::wstring text;
    };
    const Text texts[] = {
        {L"BridgeDeviceName", L"MAC Bridge Miniport"},
        {L"BridgeConnectionName", scenario::ConnectionName(scenario::kBridge)},
        {L"MemberDeviceName_1", L"QZ Ethernet 1Gb 4-port Adapter"},
        {L"MemberConnectionName_1", scenario::ConnectionName(scenario::kNicC)},
        {L"MemberDeviceName_2", L"QZ Ethernet 1Gb 4-port Adapter #2"},
        {L"MemberConnectionName_2", scenario::ConnectionName(scenario::kNicD)},
    };
    for (const Text &t : texts) {
        DWORD type = 0;
        std::vector<uint8_t> data;
        ASSERT_TRUE(GetValue(kNicBridgingInfoKey, t.name, &type, &data)) << Narrow(t.name);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        ASSERT_EQ((t.text.size() + 1) * sizeof(wchar_t), data.size()) << Narrow(t.name);
        EXPECT_EQ(t.text, std::wstring(reinterpret_cast<const wchar_t *>(data.data()), t.text.size()));
        EXPECT_EQ(0, data[data.size() - 1] | data[data.size() - 2]);
    }
    DWORD value = 0;
    EXPECT_TRUE(GetDword(kNicBridgingInfoKey, L"MemberCount", &value));
    EXPECT_EQ(2u, value);
    EXPECT_TRUE(GetDword(kNicBridgingInfoKey, L"BridgeIfTableIndex", &value));
    EXPECT_EQ(static_cast<DWORD>(scenario::kBridge), value);

    // The LBFO team interface (untagged: VLAN id 0xFFFE) holds the members and both VLAN
    // interfaces; VLAN 5 shares its members and writes only its VLAN record.
    const CLogicalAdapter *team = FindAdapter(*list, scenario::kLbfoTeam);
    const CLogicalAdapter *vlan = FindAdapter(*list, scenario::kLbfoVlan);
    ASSERT_NE(nullptr, team);
    ASSERT_NE(nullptr, vlan);
    EXPECT_EQ(0, team->GetTeamId());
    EXPECT_EQ(0, vlan->GetTeamId());
    EXPECT_EQ(0, team->GetSharesMemberList());
    EXPECT_EQ(1, vlan->GetSharesMemberList());
    EXPECT_EQ(0u, vlan->GetLogicalIndex());
    const INTERFACEMAPRECORD &map = team->GetInterfaceMap();
    EXPECT_EQ(2, map.IfIndexCount);
    EXPECT_EQ(static_cast<int32_t>(scenario::kLbfoTeam), map.IfIndexList[0]);
    EXPECT_EQ(static_cast<int32_t>(scenario::kLbfoVlan), map.IfIndexList[1]);
    EXPECT_EQ(2, map.VlanCount);
    EXPECT_EQ(team->GetVlanMap().VlanIndex, map.VlanIndexList[0]);
    EXPECT_EQ(vlan->GetVlanMap().VlanIndex, map.VlanIndexList[1]);
    EXPECT_EQ(static_cast<int32_t>(team->GetLogicalIndex()), vlan->GetVlanMap().ParentLogicalIndex);
    EXPECT_EQ(static_cast<int32_t>(team->GetLogicalIndex()), team->GetVlanMap().ParentLogicalIndex);
    const VLANMAPRECORD published =
        ReadRecord<VLANMAPRECORD>(kNicVlanInterfaceKey, FormatRecordValueNameW(kVlanMapPrefix, vlan->GetVlanMap().VlanIndex).c_str());
    EXPECT_EQ(static_cast<int32_t>(scenario::kLbfoVlanId), published.VlanId);
    EXPECT_EQ(static_cast<int32_t>(scenario::kLbfoVlan), published.IfIndex);
    // Every logical index with an interface record has one, and no other.
    size_t records = 0;
    for (LOGADAPTERNODE *node = list->GetFirst(); node != nullptr; node = node->next)
        records += node->object->GetSharesMemberList() ? 0 : 1;
    EXPECT_EQ(records, ValueNames(kNicLogInterfaceMapKey).size());
}

// The scenario end to end: which rows became which adapters, behind which miniport, with which
// indexes, and what each published record says.
TEST_F(ModelTest, ScenarioInitAndRecords)
{
    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    list->Update();
    struct Expected {
        uint32_t ifIndex;
        uint32_t logicalIndex; // 0: shares another adapter's members
        int32_t teamId;
        uint8_t memberCount;
    };
    // Table order; the LBFO and team-driver members, the Hyper-V NIC are not modelled.
    const Expected expected[] = {
        {scenario::kLoopback, 1, -1, 0}, {scenario::kNicA, 2, -1, 1},     {scenario::kNicB, 3, -1, 1},
        {scenario::kNicC, 4, -1, 1},     {scenario::kNicD, 5, -1, 1},     {scenario::kLbfoTeam, 6, 0, 2},
        {scenario::kLbfoVlan, 0, 0, 2},  {scenario::kNtidTeam, 7, 1, 2}, {scenario::kBridge, 8, -1, 1},
    };
    ASSERT_EQ(sizeof(expected) / sizeof(expected[0]), list->GetCount());
    LOGADAPTERNODE *node = list->GetFirst();
    uint32_t physical = 0;
    for (const Expected &e : expected) {
        ASSERT_NE(nullptr, node);
        const CLogicalAdapter *adapter = node->object;
        node = node->next;
        const std::string what = "ifIndex " + std::to_string(e.ifIndex);
        EXPECT_EQ(static_cast<int32_t>(e.ifIndex), adapter->GetIfIndex()) << what;
        EXPECT_EQ(e.logicalIndex, adapter->GetLogicalIndex()) << what;
        EXPECT_EQ(e.teamId, adapter->GetTeamId()) << what;
        if (e.ifIndex != scenario::kLoopback) {
            // The row's own miniport: the one whose GUID names the row.
            ASSERT_NE(nullptr, adapter->GetMiniport()) << what;
            EXPECT_EQ(0, _wcsicmp(scenario::Guid(e.ifIndex).c_str(), adapter->GetMiniport()->GetGuid())) << what;
        }
        if (e.logicalIndex == 0)
            continue;
        const INTERFACEMAPRECORD map = ReadRecord<INTERFACEMAPRECORD>(
            kNicLogInterfaceMapKey, FormatRecordValueNameW(kInterfaceMapPrefix, e.logicalIndex).c_str());
        EXPECT_EQ(e.logicalIndex, map.LogicalIndex) << what;
        EXPECT_EQ(static_cast<int32_t>(e.ifIndex), map.IfIndexList[0]) << what;
        EXPECT_EQ(e.memberCount, map.MemberCount) << what;
        EXPECT_EQ(0, map.ReservedText[0]) << what;
        for (uint8_t m = 0; m < e.memberCount; ++m) {
            ++physical;
            EXPECT_EQ(physical, map.MemberIndexes[m]) << what;
            const PHYSADAPTERRECORD member = ReadRecord<PHYSADAPTERRECORD>(
                kNicPhysInterfaceKey, FormatRecordValueNameW(kPhysAdapterPrefix, physical).c_str());
            EXPECT_EQ(physical, member.PhysicalIndex) << what;
            EXPECT_EQ(e.ifIndex, member.IfIndex) << what;
        }
        if (e.ifIndex == scenario::kNicA || e.ifIndex == scenario::kNicB) {
            EXPECT_EQ(2, map.Kind) << what;
            EXPECT_EQ(0, std::memcmp(scenario::Mac(e.ifIndex).data(), map.MacAddress, 6)) << what;
            EXPECT_EQ(scenario::Description(e.ifIndex), RecordText(map.Description)) << what;
        }
        if (e.ifIndex != scenario::kLoopback) {
            const ETHERNETSTATSRECORD stats = ReadRecord<ETHERNETSTATSRECORD>(
                kNicEthernetStatisticsKey, FormatRecordValueNameW(kStatisticsPrefix, e.ifIndex).c_str());
            EXPECT_EQ(e.ifIndex, stats.IfIndex) << what;
        }
    }
    EXPECT_EQ(physical, ValueNames(kNicPhysInterfaceKey).size());
    EXPECT_EQ(1, list->GetEthernet());
}

// A plain NIC has team id -1 like every other plain NIC: VLAN ids on plain NICs never join.
TEST_F(ModelTest, VlansOfPlainNicsAreNotJoined)
{
    NicHost host;
    for (uint32_t index : {scenario::kNicA, scenario::kNicB}) {
        scenario::AddDevice(&host, index, L"PCI\\VEN_8086&DEV_1521\\3&" + std::to_wstring(index),
                            L"pci#ven_8086&dev_1521#3&" + std::to_wstring(index));
        scenario::AddMiniport(&host, index, index, "Intel(R) Ethernet", 10000000);
        scenario::SetAnswer(&host, index, kOidTeamVlanId, {0xFF, 0xFF, 0xFF, 0xFF}); // -1
        host.interfaces.push_back(scenario::Row(index, index, scenario::Description(index), scenario::kGigabit));
    }
    fixture.Host() = host;
    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(2u, list->GetCount());
    for (LOGADAPTERNODE *node = list->GetFirst(); node != nullptr; node = node->next) {
        const CLogicalAdapter *adapter = node->object;
        EXPECT_EQ(-1, adapter->GetTeamId());
        EXPECT_EQ(0, adapter->GetSharesMemberList());
        EXPECT_NE(0u, adapter->GetLogicalIndex());
        EXPECT_EQ(1, adapter->GetInterfaceMap().IfIndexCount);
        EXPECT_EQ(1, adapter->GetInterfaceMap().VlanCount);
    }
}

TEST_F(ModelTest, SeventyVlansOnOneTeam)
{
    constexpr uint32_t kMember1 = 901;
    constexpr uint32_t kMember2 = 902;
    constexpr uint32_t kFirstVlan = 1000;
    constexpr uint32_t kVlans = 70;
    NicHost host;
    for (uint32_t member : {kMember1, kMember2}) {
        scenario::AddDevice(&host, member, L"PCI\\M\\" + std::to_wstring(member), L"pci#ven_8086&dev_1533#" + std::to_wstring(member));
        scenario::AddMiniport(&host, member, member, "Intel(R) Ethernet", 10000000);
    }
    for (uint32_t i = 0; i < kVlans; ++i) {
        const uint32_t index = kFirstVlan + i;
        scenario::AddDevice(&host, index, L"ROOT\\NET\\" + std::to_wstring(index), L"root#net#" + std::to_wstring(index));
        scenario::AddMiniport(&host, index, kMember1, "Network Teaming Intermediate Driver (NTID)", 20000000);
        const uint32_t vlanId = 100 + i;
        scenario::SetAnswer(&host, index, kOidTeamVlanId,
                            {static_cast<uint8_t>(vlanId), static_cast<uint8_t>(vlanId >> 8), 0, 0});
        scenario::AddTeamRecord(&host, index, {kMember1, kMember2});
        host.interfaces.push_back(scenario::Row(index, kMember1, "QZ VLAN " + std::to_string(vlanId), 2 * scenario::kGigabit));
        host.addresses.push_back({index, 0x0100000A + (i << 24), 0x00FFFFFF});
    }
    fixture.Host() = host;
    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    list->Update();
    ASSERT_EQ(kVlans, list->GetCount());
    const CLogicalAdapter *owner = list->GetFirst()->object;
    const INTERFACEMAPRECORD &map = owner->GetInterfaceMap();
    EXPECT_EQ(1u, map.LogicalIndex);
    EXPECT_EQ(64, map.IfIndexCount);
    EXPECT_EQ(64, map.VlanCount);
    EXPECT_EQ(static_cast<int32_t>(kFirstVlan + 63), map.IfIndexList[63]);
    // VLAN indexes count from 1: the 64th is 64, never a free-looking 0.
    EXPECT_EQ(64, map.VlanIndexList[63]);
    EXPECT_EQ(2, map.MemberCount);
    size_t vlanRecords = 0;
    for (LOGADAPTERNODE *node = list->GetFirst(); node != nullptr; node = node->next) {
        const CLogicalAdapter *adapter = node->object;
        if (adapter == owner)
            continue;
        EXPECT_EQ(1, adapter->GetSharesMemberList());
        EXPECT_EQ(1, adapter->GetVlanMap().ParentLogicalIndex);
        ++vlanRecords;
    }
    EXPECT_EQ(kVlans - 1, vlanRecords);
    EXPECT_EQ(static_cast<size_t>(kVlans), ValueNames(kNicVlanInterfaceKey).size());
    EXPECT_EQ(1u, ValueNames(kNicLogInterfaceMapKey).size());
}

// While the adapters rewrite their records, every driver query of the pass sees "not ready".
BOOL(WINAPI *s_InnerIoctl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) = nullptr;
std::vector<DWORD> s_ReadyAtQuery;

BOOL WINAPI ObservingIoctl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                           LPDWORD returned, LPOVERLAPPED overlapped)
{
    DWORD ready = 99;
    GetDword(kNicInterfaceKey, kNicInterfaceDataReadyValue, &ready);
    s_ReadyAtQuery.push_back(ready);
    return s_InnerIoctl(device, code, in, inSize, out, outSize, returned, overlapped);
}

TEST_F(ModelTest, ReadyIsZeroWhileTheAdaptersUpdateAndWhenRecordsGo)
{
    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(0u, Ready()); // a fresh generation has written no record yet
    list->Update();
    EXPECT_EQ(1u, Ready());
    {
        NicPlatform platform = fixture.Platform();
        s_InnerIoctl = platform.DeviceIoControl;
        platform.DeviceIoControl = ObservingIoctl;
        ScopedNicPlatform scope(platform);
        s_ReadyAtQuery.clear();
        list->Update();
    }
    ASSERT_FALSE(s_ReadyAtQuery.empty());
    EXPECT_EQ(s_ReadyAtQuery.size(), static_cast<size_t>(std::count(s_ReadyAtQuery.begin(), s_ReadyAtQuery.end(), 0u)));
    EXPECT_EQ(1u, Ready());
    list.reset();
    EXPECT_EQ(0u, Ready()); // the Interface key stays (it holds BridgingInfo), not ready
}

TEST_F(ModelTest, RebuildRemovesOnlyTheRecordKeysAndNumbersFromOne)
{
    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    list->Update();
    ASSERT_FALSE(ValueNames(kNicPhysInterfaceKey).empty());
    ASSERT_TRUE(KeyExists(kNicEthernetStatisticsKey));
    CreateVolatileKey(kNicTrapConnectivityLostKey);
    SetDword(kNicTrapConnectivityLostKey, L"TrapData0000000100000002", 7);
    list.reset();

    for (const wchar_t *gone : {kNicLogInterfaceMapKey, kNicPhysInterfaceKey, kNicVlanInterfaceKey,
                                kNicEthernetStatisticsKey, kNicEthernetKey})
        EXPECT_FALSE(KeyExists(gone)) << Narrow(gone);
    for (const wchar_t *kept : {kNicRootKey, kNicInterfaceKey, kNicBridgingInfoKey, kNicTrapConnectivityLostKey,
                                kNicMibStoreEthernetKey, kNicMibStoreStatisticsKey})
        EXPECT_TRUE(KeyExists(kept)) << Narrow(kept);
    EXPECT_EQ(1u, ValueNames(kNicTrapConnectivityLostKey).size());

    auto next = BuildList();
    ASSERT_NE(nullptr, next);
    next->Update();
    EXPECT_EQ(1u, next->GetFirst()->object->GetLogicalIndex());
    const std::vector<std::wstring> physical = ValueNames(kNicPhysInterfaceKey);
    ASSERT_FALSE(physical.empty());
    EXPECT_EQ(L"PhysAdapter001", physical.front());
}

TEST_F(ModelTest, PublishedTreeIsVolatile)
{
    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    list->Update();
    for (const wchar_t *parent : {kNicRootKey, kNicInterfaceKey, kNicLogInterfaceMapKey, kNicEthernetKey}) {
        HKEY child = nullptr;
        LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(parent) + L"\\Lasting").c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &child, nullptr);
        EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE, result) << Narrow(parent);
        if (child != nullptr)
            RegCloseKey(child);
    }
}

// NeedReInit checks the rows that are real in the new table against the generation's rows, one
// new row per match: a NIC that loses its link stays in the generation (its adapters report the
// loss), a NIC that was not modelled and gains its link brings a rebuild.
TEST_F(ModelTest, NeedReInitChecksTheRowsRealInTheNewTable)
{
    struct Case {
        const char *what;
        void (*change)(NicHost *);
        int expected;
        const wchar_t *line; // the log line, or null
    };
    const Case cases[] = {
        // The LBFO team interface carries its first member's address: each old row takes its own
        // new row.
        {"unchanged", [](NicHost *) {}, 0, nullptr},
        {"an interface added",
         [](NicHost *h) { h->interfaces.push_back(scenario::Row(60, 60, "QZ Ethernet added", scenario::kGigabit)); }, 1,
         L"Different table size - OLD: 14 NEW: 15"},
        {"a NIC replaced by one with another address",
         [](NicHost *h) {
             for (NicHostInterface &row : h->interfaces)
                 if (row.index == scenario::kNicA)
                     row.mac = scenario::Mac(77);
         },
         1, L"Same table size but contents are different - OLD: 14 NEW: 14"},
        {"a NIC without link gains it",
         [](NicHost *h) {
             for (NicHostInterface &row : h->interfaces)
                 if (row.index == scenario::kNicB)
                     row.speed = scenario::kGigabit;
         },
         1, L"Same table size but contents are different - OLD: 14 NEW: 14"},
        {"a NIC loses its link", [](NicHost *h) { scenario::SetLink(h, scenario::kNicA, false); }, 0, nullptr},
        {"a NIC loses its link and another its address",
         [](NicHost *h) {
             scenario::SetLink(h, scenario::kNicA, false);
             for (NicHostInterface &row : h->interfaces)
                 if (row.index == scenario::kNicC)
                     row.mac = scenario::Mac(78);
         },
         1, L"Same table size but contents are different - OLD: 14 NEW: 14"},
        {"a row that is not modelled changes",
         [](NicHost *h) {
             for (NicHostInterface &row : h->interfaces)
                 if (row.index == scenario::kHyperV)
                     row.mac = scenario::Mac(99);
         },
         0, nullptr},
    };
    for (const Case &c : cases) {
        NicHost host = scenario::BuildHost();
        for (NicHostInterface &row : host.interfaces)
            if (row.index == scenario::kNicB)
                row.speed = 0; // NIC B starts without link: not modelled
        fixture.Host() = host;
        auto list = BuildList();
        ASSERT_NE(nullptr, list) << c.what;
        ASSERT_EQ(14u, list->GetIfTable()->GetEntryCount()) << c.what;
        ConfigureVerboseLog(L"nic-model-log");
        c.change(&fixture.Host());
        EXPECT_EQ(c.expected, list->NeedReInit()) << c.what;
        const auto lines = LogMessages(s_LogPath, L"CIFList::NeedReInit");
        if (c.line != nullptr) {
            EXPECT_EQ(1u, CountOf(lines, c.line)) << c.what;
        } else {
            EXPECT_TRUE(lines.empty()) << c.what;
        }
    }
}

// The published record of the member with the scenario address of index (a zero record, and a
// failure, when there is none).
PHYSADAPTERRECORD PublishedMember(uint32_t index)
{
    for (const std::wstring &name : ValueNames(kNicPhysInterfaceKey)) {
        const PHYSADAPTERRECORD record = ReadRecord<PHYSADAPTERRECORD>(kNicPhysInterfaceKey, name.c_str());
        if (std::memcmp(scenario::Mac(index).data(), record.MacAddress, 6) == 0)
            return record;
    }
    ADD_FAILURE() << "no member record with the address of " << index;
    return PHYSADAPTERRECORD{};
}

// The members' identity and place as the generation assigns them (resources from the Windows
// adapter list, port from the PCI function with the port map missing), then the trap records of
// two plain NICs (B with DHCP) and a team member that lose their link, field by field against the
// scenario: its places keep these members' numbers apart, so that a field taken from its
// neighbour, or never filled, shows.
TEST_F(ModelTest, MembersPublishTheirPlaceAndTheirTrapRecordsEveryField)
{
    static const PARTNUMBERROW kIntelRows[] = {
        {0x00018086, 0x1521, L"PN-1521-Q21"},
        {0x00018086, 0x1533, L"PN-1533-Q21"},
    };
    PARTNUMBERTABLES tables = {};
    tables.family[kPartIntel] = {kIntelRows, sizeof(kIntelRows) / sizeof(kIntelRows[0])};
    ScopedPartNumberTables scopedTables(tables);

    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    list->Update();
    struct Member {
        uint32_t index;
        uint32_t pciId;
    };
    const Member members[] = {{scenario::kNicA, 0x80861521},       {scenario::kNicB, 0x80861521},
                              {scenario::kNicC, 0x80861521},       {scenario::kLbfoMember2, 0x80861572},
                              {scenario::kNtidMember1, 0x80861533}, {scenario::kNtidMember2, 0x80861533}};
    for (const Member &m : members) {
        const std::string what = "member " + std::to_string(m.index);
        const scenario::PciPlace place = scenario::Place(m.index);
        const PHYSADAPTERRECORD record = PublishedMember(m.index);
        EXPECT_EQ(place.slot, record.Slot) << what;
        EXPECT_EQ(place.function + 1, record.Port) << what;
        char location[32];
        std::snprintf(location, sizeof location, "0000:%.2X:%.2X.%.1X", place.bus, place.device, place.function);
        EXPECT_EQ(location, RecordText(record.PciLocation)) << what;
        EXPECT_EQ(m.pciId, record.PciId) << what;
        EXPECT_EQ(0x00018086u, record.SubsystemId) << what;
        char hw[64];
        std::snprintf(hw, sizeof hw, "PCIID0x%.8X,SUBSYSID0x%.8X", m.pciId, 0x00018086u);
        EXPECT_EQ(hw, RecordText(record.HwLocation)) << what;
        EXPECT_EQ(scenario::Description(m.index), RecordText(record.Name)) << what;
        EXPECT_EQ(-1, record.ServerBay) << what;
        EXPECT_EQ(-1, record.VirtualPort) << what;
    }

    // NICs A and B and the team driver's second member lose their link; the team driver still
    // counts 2 working members, so the team's record is a reduced redundancy.
    struct Expected {
        const wchar_t *key;
        uint32_t member;
        int32_t kind;
        uint32_t logical;      // the interface of the logical adapter
        int32_t logicalIndex;  // the team's logical index (kinds 13 and 14 only)
        uint8_t teamOkCount;   // kinds 13 and 14 only
        int32_t okMemberCount; // the logical adapter's, every kind
        int32_t physicalIndex; // members are numbered from 1 in the device tree's order
        const char *partNumber;
        uint8_t ipv4[4]; // 192.168.10.N, or with DHCP 192.168.11.N (N the logical interface)
        int32_t dhcp;
        uint32_t macOf; // teams carry their first member's address
    };
    const Expected expected[] = {
        {L"Trap_ConnectivityLost", scenario::kNicA, kNicTrapConnectivityLost, scenario::kNicA, 0, 0, 0, 1,
         "PN-1521-Q21", {192, 168, 10, 10}, 0, scenario::kNicA},
        {L"Trap_ConnectivityLost", scenario::kNicB, kNicTrapConnectivityLost, scenario::kNicB, 0, 0, 0, 2,
         "PN-1521-Q21", {192, 168, 11, 11}, 1, scenario::kNicB},
        {L"Trap_RedundancyReduced", scenario::kNtidMember2, kNicTrapRedundancyReduced, scenario::kNtidTeam, 7, 2, 2, 8,
         "PN-1533-Q21", {192, 168, 10, 30}, 0, scenario::kNtidMember1},
    };
    for (const Expected &e : expected) {
        // The scenario keeps each member's numbers apart: a field swapped with another shows.
        const scenario::PciPlace place = scenario::Place(e.member);
        const std::set<int64_t> numbers = {e.physicalIndex, place.slot, place.function + 1, place.bus, place.device};
        ASSERT_EQ(5u, numbers.size()) << "member " << e.member << ": the scenario's numbers coincide";
        ASSERT_NE(static_cast<int64_t>(place.function + 1), static_cast<int64_t>(e.teamOkCount)) << e.member;
        scenario::SetLink(&fixture.Host(), e.member, false);
    }
    ASSERT_EQ(0, list->NeedReInit());
    const uint64_t before = fixture.Host().fileTime;
    list->Update();
    const uint64_t after = fixture.Host().fileTime;

    // The records by member name, their value names' time stamps, and no record of another kind.
    struct Written {
        TRAPRECORD record;
        uint64_t stamp;
    };
    std::map<std::string, Written> written;
    for (const wchar_t *key : {L"Trap_ConnectivityLost", L"Trap_ConnectivityRegained", L"Trap_RedundancyIncreased",
                               L"Trap_RedundancyReduced"}) {
        const std::wstring path = std::wstring(kNicRootKey) + L"\\" + key;
        const size_t count = std::count_if(std::begin(expected), std::end(expected),
                                           [&](const Expected &e) { return std::wcscmp(e.key, key) == 0; });
        const std::vector<std::wstring> names = ValueNames(path.c_str());
        ASSERT_EQ(count, names.size()) << Narrow(key);
        for (const std::wstring &name : names) {
            const TRAPRECORD record = ReadRecord<TRAPRECORD>(path.c_str(), name.c_str());
            wchar_t *end = nullptr;
            const uint64_t stamp = name.size() > 8 ? std::wcstoull(name.c_str() + 8, &end, 16) : 0;
            wchar_t formatted[40];
            std::swprintf(formatted, 40, L"TrapData%.8X%.8X", static_cast<unsigned>(stamp >> 32),
                          static_cast<unsigned>(stamp));
            EXPECT_EQ(formatted, name) << Narrow(key) << ": not \"TrapData\" and 16 upper-case hex digits";
            EXPECT_TRUE(written.insert({RecordText(record.MemberName), {record, stamp}}).second)
                << Narrow(key) << ": a second record of " << RecordText(record.MemberName);
        }
    }
    // The clock read after the 10 ms pause of every write: within the pass, the writes 10 ms apart.
    std::vector<uint64_t> stamps;
    for (const auto &w : written) {
        EXPECT_LE(before + 100000, w.second.stamp) << w.first;
        EXPECT_GE(after, w.second.stamp) << w.first;
        stamps.push_back(w.second.stamp);
    }
    std::sort(stamps.begin(), stamps.end());
    for (size_t i = 1; i < stamps.size(); ++i)
        EXPECT_LE(stamps[i - 1] + 100000, stamps[i]) << i;

    for (const Expected &e : expected) {
        const std::string what = Narrow(e.key) + ", member " + std::to_string(e.member);
        const auto found = written.find(scenario::Description(e.member));
        ASSERT_NE(written.end(), found) << what << ": no record under the member's name";
        const TRAPRECORD &trap = found->second.record;
        const scenario::PciPlace place = scenario::Place(e.member);
        const CLogicalAdapter *owner = FindAdapter(*list, e.logical);
        ASSERT_NE(nullptr, owner) << what;
        EXPECT_EQ(e.kind, trap.Kind) << what;
        EXPECT_EQ(4, trap.Format) << what;
        EXPECT_EQ(e.logicalIndex, trap.LogicalIndex) << what;
        if (e.logicalIndex != 0) {
            EXPECT_EQ(static_cast<uint32_t>(e.logicalIndex), owner->GetLogicalIndex()) << what;
        }
        EXPECT_EQ(e.physicalIndex, trap.PhysicalIndex) << what;
        EXPECT_EQ(static_cast<uint32_t>(e.physicalIndex), PublishedMember(e.member).PhysicalIndex) << what;
        EXPECT_EQ(place.slot, trap.Slot) << what;
        EXPECT_EQ(place.function + 1, trap.Port) << what;
        EXPECT_EQ(e.teamOkCount, trap.TeamOkCount) << what;
        EXPECT_EQ(0, trap.Reserved) << what;
        EXPECT_EQ(std::string(9, '\0'), std::string(trap.ReservedText, 9)) << what;
        EXPECT_EQ(4, trap.MemberStatus) << what;
        EXPECT_EQ(scenario::Description(e.member), RecordText(trap.MemberName)) << what;
        EXPECT_EQ(e.partNumber, RecordText(trap.PartNumber)) << what;
        EXPECT_EQ(0, std::memcmp(e.ipv4, &trap.IPv4Address, 4)) << what << ": IPv4 " << std::hex << trap.IPv4Address;
        EXPECT_EQ(scenario::IPv6(e.logical), RecordText(trap.IPv6Address)) << what;
        EXPECT_EQ(static_cast<int32_t>(place.bus), trap.PciBus) << what;
        EXPECT_EQ(static_cast<int32_t>(place.device), trap.PciDevice) << what;
        EXPECT_EQ(e.okMemberCount, trap.OkMemberCount) << what;
        EXPECT_EQ(0, std::memcmp(scenario::Mac(e.macOf).data(), trap.MacAddress, 6)) << what;
        EXPECT_EQ(e.dhcp, trap.DhcpEnabled) << what;
        // The address found for the trap record is also the logical adapter's own.
        const INTERFACEMAPRECORD map = ReadRecord<INTERFACEMAPRECORD>(
            kNicLogInterfaceMapKey, FormatRecordValueNameW(kInterfaceMapPrefix, owner->GetLogicalIndex()).c_str());
        EXPECT_EQ(0, std::memcmp(e.ipv4, &map.IPv4Address, 4)) << what << ": its interface record's IPv4 address";
    }
}

// The generation's member with the scenario address of index, or none.
const CPhysicalAdapter *FindMember(const CIFList &list, uint32_t index)
{
    for (LOGADAPTERNODE *node = list.GetFirst(); node != nullptr; node = node->next)
        for (PHYSADAPTERNODE *member = node->object->GetMemberList(); member != nullptr; member = member->next)
            if (std::memcmp(scenario::Mac(index).data(), member->object->GetRecord().MacAddress, 6) == 0)
                return member->object;
    return nullptr;
}

// The port map's entries for one test; the library's empty preset again afterwards.
class ScopedPortMapPreset {
public:
    explicit ScopedPortMapPreset(PortMapPreset preset) { g_PortMapPreset = std::move(preset); }
    ~ScopedPortMapPreset() { g_PortMapPreset = PortMapPreset(); }
    ScopedPortMapPreset(const ScopedPortMapPreset &) = delete;
    ScopedPortMapPreset &operator=(const ScopedPortMapPreset &) = delete;
};

// The port-map key of a scenario member, with the segment the lookup is to be asked for.
PORTMAPLOCATION PortMapKey(uint32_t index, int32_t segment)
{
    const scenario::PciPlace place = scenario::Place(index);
    // The scenario's NICs have no location number: the Windows adapter list leaves it -1.
    return {segment, static_cast<int32_t>(place.bus), static_cast<int32_t>(place.device),
            static_cast<int32_t>(place.function), -1};
}

PORTMAPENTRY PortMapEntry(int32_t slot, int32_t bay, int32_t port, int32_t virtualPort)
{
    PORTMAPENTRY entry = {};
    entry.slotOrMezzanine = slot;
    entry.serverBay = bay;
    entry.port = port;
    entry.virtualPort = virtualPort;
    return entry;
}

// The port map's answers as the generation publishes them: a hit gives the slot, and with the
// bay-info flag also the server bay and the virtual port; the port is the PCI function + 1 (never
// the map's port number), and a hit whose port is -1 leaves it unset. A member of PCI segment 0 is
// looked up as segment -1, so an entry keyed by segment 0 is a miss.
TEST_F(ModelTest, PortMapHitsPublishTheMapsSlotBayAndVirtualPort)
{
    struct Expected {
        uint32_t member;
        int32_t slot;
        uint8_t port;
        int32_t bay;
        int32_t virtualPort;
    };
    struct Case {
        const char *what;
        uint32_t bayInfo;
        std::vector<Expected> expected;
    };
    // Scenario places: A 3/12/1 slot 6, B 3/12/0 slot 6, C 4/2/0 slot 2, LBFO member 2 7/4/1 slot 4,
    // team driver's member 1 9/6/1 slot 5 (no entry).
    const Case cases[] = {
        {"with bay information",
         1,
         {{scenario::kNicA, 9, 2, 3, 5},
          {scenario::kLbfoMember2, 12, 2, 4, 6},
          {scenario::kNicB, 10, 0, 3, 8},
          {scenario::kNicC, 2, 1, -1, -1},
          {scenario::kNtidMember1, 5, 2, -1, -1}}},
        {"without bay information",
         0,
         {{scenario::kNicA, 9, 2, -1, -1},
          {scenario::kLbfoMember2, 12, 2, -1, -1},
          {scenario::kNicB, 10, 0, -1, -1},
          {scenario::kNicC, 2, 1, -1, -1},
          {scenario::kNtidMember1, 5, 2, -1, -1}}},
    };
    for (const Case &c : cases) {
        PortMapPreset preset;
        preset.entries = {
            {PortMapKey(scenario::kNicA, -1), PortMapEntry(9, 3, 7, 5)},
            {PortMapKey(scenario::kLbfoMember2, -1), PortMapEntry(12, 4, 7, 6)},
            {PortMapKey(scenario::kNicB, -1), PortMapEntry(10, 3, -1, 8)},
            {PortMapKey(scenario::kNicC, 0), PortMapEntry(11, 3, 7, 9)},
        };
        preset.bayInfo = c.bayInfo;
        ScopedPortMapPreset scoped(preset);
        ConfigureVerboseLog(L"nic-model-log"); // a fresh log for each case
        auto list = BuildList();
        ASSERT_NE(nullptr, list) << c.what;
        list->Update();
        for (const Expected &e : c.expected) {
            const std::string what = std::string(c.what) + ", member " + std::to_string(e.member);
            const PHYSADAPTERRECORD record = PublishedMember(e.member);
            EXPECT_EQ(e.slot, record.Slot) << what;
            EXPECT_EQ(e.port, record.Port) << what;
            EXPECT_EQ(e.bay, record.ServerBay) << what;
            EXPECT_EQ(e.virtualPort, record.VirtualPort) << what;
        }
        const auto lines = LogMessages(s_LogPath, L"CPortMap::GetPortInfo");
        EXPECT_EQ(1u, CountOf(lines, L"SlotOrMEZZNumber: 9 SWBayNumber: 3 PortNumber: 7 VirtualPortNumber: 5"))
            << c.what;
        EXPECT_EQ(1u, CountOf(lines, L"Segment Num: -1 Bus: 3 Device: 12 Function: 1")) << c.what;
        list.reset();
    }
}

// What each member takes from its own miniport copy once its IDs are known: the part number of
// the family's table row for its subsystem and device ID (ANSI), and the driver's firmware
// version, both in the record before the first pass and as published.
TEST_F(ModelTest, MembersPublishTheirPartNumberAndFirmware)
{
    static const PARTNUMBERROW kIntelRows[] = {
        {0x00028086, 0x1521, L"OTHER-SUBSYSTEM"}, // another subsystem ID: never these NICs'
        {0x00018086, 0x1521, L"PN-1521-Q21"},
        {0x00018086, 0x1572, L"PN-1572-Q21"},
        {0x00018086, 0x1533, L"PN-1533-Q21"},
    };
    PARTNUMBERTABLES tables = {};
    tables.family[kPartIntel] = {kIntelRows, sizeof(kIntelRows) / sizeof(kIntelRows[0])};
    ScopedPartNumberTables scopedTables(tables);

    struct Case {
        uint32_t member;
        uint32_t firmwareWord; // 0: the driver does not answer
        const char *partNumber;
        const char *firmware;
    };
    const Case cases[] = {
        {scenario::kNicA, 0x01020304, "PN-1521-Q21", "1.515.4"},
        {scenario::kNicB, 0x00001234, "PN-1521-Q21", "1.2.52"},
        {scenario::kNicC, 0x02000A07, "PN-1521-Q21", "2.10.7"},
        {scenario::kLbfoMember2, 0x03010005, "PN-1572-Q21", "3.256.5"},
        {scenario::kNtidMember1, 0x04000101, "PN-1533-Q21", "4.1.1"},
        {scenario::kNtidMember2, 0, "PN-1533-Q21", "n/a"},
    };
    constexpr uint32_t kOidIntelFirmware = 0xFF0201D3;
    for (const Case &c : cases) {
        if (c.firmwareWord == 0)
            continue;
        std::vector<uint8_t> answer(72, 0); // the version word is the answer's last
        std::memcpy(answer.data() + 68, &c.firmwareWord, 4);
        scenario::SetAnswer(&fixture.Host(), c.member, kOidIntelFirmware, answer);
    }

    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    for (const Case &c : cases) {
        const std::string what = "member " + std::to_string(c.member);
        const CPhysicalAdapter *member = FindMember(*list, c.member);
        ASSERT_NE(nullptr, member) << what;
        EXPECT_EQ(c.partNumber, RecordText(member->GetRecord().PartNumber)) << what;
        EXPECT_EQ(c.firmware, RecordText(member->GetRecord().Firmware)) << what;
    }
    list->Update();
    const auto lines = LogMessages(s_LogPath, L"CPhysicalAdapter::AssignPhysicalResources");
    for (const Case &c : cases) {
        const std::string what = "member " + std::to_string(c.member);
        const PHYSADAPTERRECORD record = PublishedMember(c.member);
        EXPECT_EQ(c.partNumber, RecordText(record.PartNumber)) << what;
        EXPECT_EQ(c.firmware, RecordText(record.Firmware)) << what;
        EXPECT_LE(
            1u, CountOf(lines, L"Firmware version: " + std::wstring(c.firmware, c.firmware + std::strlen(c.firmware))))
            << what;
    }
}

// Each member registers the position of its resources in the condition table while the generation
// is built (not the slot the port map gives it later), and starts from the condition that the
// previous generation left there: a team member that was down stays down without a second trap.
TEST_F(ModelTest, MembersRegisterTheirPlaceAndStartFromTheLastGenerationsCondition)
{
    PortMapPreset preset;
    preset.entries = {{PortMapKey(scenario::kNicA, -1), PortMapEntry(9, 3, 7, 5)}};
    ScopedPortMapPreset scoped(preset);
    const uint32_t members[] = {scenario::kNicA,        scenario::kNicB,        scenario::kNicC,
                                scenario::kLbfoMember2, scenario::kNtidMember1, scenario::kNtidMember2};
    auto node = [&](uint32_t index) {
        const scenario::PciPlace place = scenario::Place(index);
        return CTrap::FindConditionNode(trap.GetCurrentHead(), static_cast<unsigned>(place.slot), 0u,
                                        static_cast<int>(place.bus), static_cast<int>(place.device),
                                        static_cast<int>(place.function));
    };

    auto first = BuildList();
    ASSERT_NE(nullptr, first);
    for (uint32_t index : members) {
        const std::string what = "member " + std::to_string(index);
        ADAPTERCONDITIONNODE *registered = node(index);
        ASSERT_NE(nullptr, registered) << what;
        EXPECT_EQ(1, registered->object->condition) << what << ": a new NIC starts as other";
        const CPhysicalAdapter *member = FindMember(*first, index);
        ASSERT_NE(nullptr, member) << what;
        EXPECT_EQ(1, member->GetRecord().Condition) << what;
    }
    EXPECT_EQ(nullptr, CTrap::FindConditionNode(trap.GetCurrentHead(), 9u, 0u, 3, 12, 1)) << "the map's slot";

    first->Update();
    // The team driver's second member loses its link (it stays a member of the next generation).
    scenario::SetLink(&fixture.Host(), scenario::kNtidMember2, false);
    ASSERT_EQ(0, first->NeedReInit());
    first->Update();
    EXPECT_EQ(1, FindMember(*first, scenario::kNtidMember2)->GetTrapNeeded());
    std::map<uint32_t, uint8_t> last;
    for (uint32_t index : members) {
        const std::string what = "member " + std::to_string(index);
        const PHYSADAPTERRECORD record = PublishedMember(index);
        EXPECT_EQ(index == scenario::kNicA ? 9 : scenario::Place(index).slot, record.Slot) << what;
        EXPECT_EQ(index == scenario::kNtidMember2 ? 4 : 2, record.Condition) << what;
        ASSERT_NE(nullptr, node(index)) << what;
        EXPECT_EQ(record.Condition, node(index)->object->condition) << what;
        last[index] = record.Condition;
    }

    // A new generation of the same host, as the collection thread builds it.
    first.reset();
    trap.ReInit();
    auto second = BuildList();
    ASSERT_NE(nullptr, second);
    for (uint32_t index : members) {
        const std::string what = "member " + std::to_string(index);
        ASSERT_NE(nullptr, node(index)) << what;
        EXPECT_EQ(last[index], node(index)->object->condition) << what;
        const CPhysicalAdapter *member = FindMember(*second, index);
        ASSERT_NE(nullptr, member) << what;
        EXPECT_EQ(last[index], member->GetRecord().Condition) << what;
    }
    second->Update();
    EXPECT_EQ(0, FindMember(*second, scenario::kNtidMember2)->GetTrapNeeded()) << "the member was down already";
    for (uint32_t index : members) {
        const std::string what = "member " + std::to_string(index);
        const PHYSADAPTERRECORD record = PublishedMember(index);
        EXPECT_EQ(last[index], record.Condition) << what;
        EXPECT_EQ(record.Condition, node(index)->object->condition) << what;
    }
}

// The driver work of one pass of the scenario, and the time of 100 passes.
TEST_F(ModelTest, ScenarioPassCosts)
{
    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    list->Update();
    const unsigned queries = fixture.TotalNdisQueries();
    const unsigned opens = fixture.TotalDeviceOpens();
    list->Update();
    const unsigned passQueries = fixture.TotalNdisQueries() - queries;
    const unsigned passOpens = fixture.TotalDeviceOpens() - opens;
    EXPECT_LT(0u, passQueries);
    EXPECT_LT(0u, passOpens);
    const uint64_t start = GetTickCount64();
    for (int pass = 0; pass < 100; ++pass) {
        EXPECT_EQ(0, list->NeedReInit());
        list->Update();
    }
    const uint64_t ms = GetTickCount64() - start;
    RecordProperty("ndis_queries_per_pass", static_cast<int>(passQueries));
    RecordProperty("device_opens_per_pass", static_cast<int>(passOpens));
    RecordProperty("hundred_passes_ms", static_cast<int>(ms));
    std::printf("scenario pass: %u NDIS queries, %u device opens; 100 passes with NeedReInit: %u ms\n", passQueries,
                passOpens, static_cast<unsigned>(ms));
}

DWORD WINAPI FailingIfTable(PMIB_IFTABLE, PULONG, BOOL)
{
    return ERROR_NOT_SUPPORTED;
}

TEST_F(ModelTest, AFailingSnapshotKeepsTheGeneration)
{
    auto list = BuildList();
    ASSERT_NE(nullptr, list);
    NicPlatform platform = fixture.Platform();
    platform.GetIfTable = FailingIfTable;
    ScopedNicPlatform scope(platform);
    EXPECT_EQ(0, list->NeedReInit());
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CIFList::NeedReInit"), L"Failed to init new IFTable"));
}

} // namespace
