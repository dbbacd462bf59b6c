// A plain NIC through the adapter model: its records, its passes, its condition memory and its
// trap records, on described drivers and the test prefix's registry.
#include "model_test_support.h"

#include <algorithm>
#include <iterator>

using namespace modeltest;

namespace {

const std::wstring kGuid = L"{11111111-0000-0000-0000-000000000001}";
const std::wstring kNic = L"\\\\.\\" + kGuid;
const std::vector<uint8_t> kMac = {0x00, 0x1B, 0x21, 0x33, 0x44, 0x55};

class PlainAdapterTest : public ModelTest {
protected:
    // A plain NIC interface 5 with its logical adapter (logical index 1) and its one member.
    void Build(bool up = true, uint32_t counterBase = 0)
    {
        Driver(kNic, kMac, "Intel", up, counterBase);
        ASSERT_NE(nullptr, InitInto(list, kNic));
        MIB_IFROW row = Row(5, 6, kMac, "Intel(R) Ethernet");
        ASSERT_EQ(0u, adapter.Init(&row, &trap, &list, nullptr));
        ASSERT_EQ(1, adapter.SetMiniport(list.FindMiniportByName(kGuid.c_str())));
        adapter.SetLogicalIndex(1);
        ASSERT_EQ(0u, adapter.CreatePhysicalAdapterList(&list));
        ASSERT_NE(nullptr, adapter.GetMemberList());
        member = adapter.GetMemberList()->object;
    }
    void Pass(uint32_t pass)
    {
        g_UpdatePass = pass;
        adapter.Update(0);
    }
    size_t TrapValues(const wchar_t *key) { return ValueNames(TrapKey(key).c_str()).size(); }

    CMiniportList list;
    CLogicalAdapter adapter;
    CPhysicalAdapter *member = nullptr;
};

TEST_F(PlainAdapterTest, RecordsOfAWorkingNicDecodeFieldByField)
{
    Build(true, 10);
    Pass(1);

    INTERFACEMAPRECORD map;
    ASSERT_TRUE(ReadRecord(kNicLogInterfaceMapKey, L"InterfaceMap001", &map));
    EXPECT_EQ(1u, map.LogicalIndex);
    EXPECT_EQ(1, map.IfIndexCount);
    EXPECT_EQ(5, map.IfIndexList[0]);
    EXPECT_EQ("Intel(R) Ethernet", RecordText(map.Description));
    EXPECT_EQ(2, map.Kind);
    EXPECT_EQ(1, map.MemberCount);
    EXPECT_EQ(1, map.OkMemberCount);
    EXPECT_EQ(1, map.MemberIndexes[0]);
    EXPECT_EQ(0, std::memcmp(kMac.data(), map.MacAddress, 6));
    EXPECT_EQ(1, map.TeamMode);
    EXPECT_EQ(2, map.Condition);
    EXPECT_EQ(2, map.Status);
    EXPECT_EQ(500u, map.LastChange);
    EXPECT_EQ(2, map.Dhcp); // no Tcpip key: not enabled
    EXPECT_EQ(0, map.VlanCount);

    PHYSADAPTERRECORD phys;
    ASSERT_TRUE(ReadRecord(kNicPhysInterfaceKey, L"PhysAdapter001", &phys));
    EXPECT_EQ(1u, phys.PhysicalIndex);
    EXPECT_EQ(5u, phys.IfIndex);
    EXPECT_EQ(255, phys.Role);
    EXPECT_EQ(0, std::memcmp(kMac.data(), phys.MacAddress, 6));
    EXPECT_EQ(2, phys.Condition);
    EXPECT_EQ(2, phys.Status);
    EXPECT_EQ(2, phys.Status2);
    EXPECT_EQ("PCIID0x00000000,SUBSYSID0x00000000", RecordText(phys.HwLocation));
    EXPECT_EQ("0000:00:00.0", RecordText(phys.PciLocation));
    EXPECT_EQ(10u, phys.XmitOk);
    EXPECT_EQ(11u, phys.RcvOk);
    EXPECT_EQ(12u, phys.AlignmentErrors);
    EXPECT_EQ(21u, phys.InternalMacReceiveErrors);
    EXPECT_EQ(16u + 18 + 19 + 20, phys.XmitErrors); // deferred, excessive, underrun, carrier lost
    EXPECT_EQ(13u + 17 + 21 + 12, phys.RcvErrors);  // FCS, late, overrun, alignment
    EXPECT_EQ(-1, phys.ServerBay);
    EXPECT_EQ(-1, phys.VirtualPort);

    ETHERNETSTATSRECORD stats;
    ASSERT_TRUE(ReadRecord(kNicEthernetStatisticsKey, L"Statistics005", &stats));
    EXPECT_EQ(5u, stats.IfIndex);
    EXPECT_EQ(12u, stats.AlignmentErrors);
    EXPECT_EQ(13u, stats.FcsErrors);
    EXPECT_EQ(14u, stats.SingleCollisionFrames);
    EXPECT_EQ(15u, stats.MultipleCollisionFrames);
    EXPECT_EQ(0u, stats.SQETestErrors);
    EXPECT_EQ(16u, stats.DeferredTransmissions);
    EXPECT_EQ(17u, stats.LateCollisions);
    EXPECT_EQ(18u, stats.ExcessiveCollisions);
    EXPECT_EQ(19u, stats.InternalMacTransmitErrors);
    EXPECT_EQ(20u, stats.CarrierSenseErrors);
    EXPECT_EQ(0u, stats.FrameTooLongs);
    EXPECT_EQ(21u, stats.InternalMacReceiveErrors);

    // A plain NIC has no VLAN record and its first pass raises no trap.
    EXPECT_TRUE(ValueNames(kNicVlanInterfaceKey).empty());
    EXPECT_EQ(0, member->GetTrapNeeded());
}

TEST_F(PlainAdapterTest, ErrorTotalsSumEvenWhenACounterIsZero)
{
    Build(true, 0);
    Change(kNic, 0x01020201, Word(0)); // no deferred transmissions
    Pass(1);
    const PHYSADAPTERRECORD &phys = member->GetRecord();
    EXPECT_EQ(0u + 8 + 9 + 10, phys.XmitErrors);
    EXPECT_EQ(3u + 7 + 11 + 2, phys.RcvErrors);
}

TEST_F(PlainAdapterTest, SecondUpdateInOnePassAsksTheDriverNothing)
{
    Build();
    Pass(3);
    const unsigned connect = fixture.NdisQueries(kNic, kIoctlNdisQueryGlobalStats, kOidGenMediaConnectStatus);
    const unsigned counters = fixture.NdisQueries(kNic, kIoctlNdisQueryGlobalStats, kStatOids[0]);
    EXPECT_GE(connect, 1u);
    member->GetRecord().SpeedMbps = 1234;
    uint32_t speed = 0;
    EXPECT_EQ(0u, member->Update(&speed));
    EXPECT_EQ(1234u, speed);
    EXPECT_EQ(connect, fixture.NdisQueries(kNic, kIoctlNdisQueryGlobalStats, kOidGenMediaConnectStatus));
    EXPECT_EQ(counters, fixture.NdisQueries(kNic, kIoctlNdisQueryGlobalStats, kStatOids[0]));
}

TEST_F(PlainAdapterTest, ADownLinkStaysOtherWhileStableThenTrapsLostAndRegained)
{
    Build(false);
    // Passes 1 to 3: the NIC was down when the library started; its condition is remembered and
    // stays the same, so it is published as other and raises nothing.
    for (uint32_t pass = 1; pass <= 3; ++pass) {
        Pass(pass);
        EXPECT_EQ(1, member->GetCondition()) << pass;
        EXPECT_EQ(1, member->GetRecord().Status) << pass;
        EXPECT_EQ(1, member->GetStatus()) << pass;
        EXPECT_EQ(0, member->GetTrapNeeded()) << pass;
        const INTERFACEMAPRECORD &map = adapter.GetInterfaceMap();
        EXPECT_EQ(1, map.Condition) << pass;
        EXPECT_EQ(1, map.Status) << pass;
        EXPECT_EQ(1, map.OkMemberCount) << pass;
        EXPECT_EQ(0u, map.SpeedMbps) << pass;
        EXPECT_EQ("N/A", RecordText(map.IPv6Address)) << pass;
    }
    EXPECT_GE(CountOf(LogMessages(s_LogPath, L"CPhysicalAdapter::Update"), L"GetIgnoreLink paCondition -> PA_COND_OTHER"),
              3u);
    EXPECT_EQ(0u, TrapValues(L"Trap_ConnectivityLost"));

    // The link comes up: the stable flag goes, the change is an event.
    SetLink(kNic, true);
    Pass(4);
    EXPECT_EQ(2, member->GetCondition());
    EXPECT_EQ(0, member->GetMiniport()->GetConditionStable());
    EXPECT_EQ(1u, TrapValues(L"Trap_ConnectivityRegained"));

    // Down: one value under Trap_ConnectivityLost with the logical adapter's MAC; the next pass
    // with the same condition adds none.
    SetLink(kNic, false);
    Pass(5);
    EXPECT_EQ(4, adapter.GetInterfaceMap().Condition);
    EXPECT_EQ(5, adapter.GetInterfaceMap().Status);
    EXPECT_EQ(0, adapter.GetInterfaceMap().OkMemberCount);
    const std::vector<std::wstring> lost = ValueNames(TrapKey(L"Trap_ConnectivityLost").c_str());
    ASSERT_EQ(1u, lost.size());
    TRAPRECORD record;
    ASSERT_TRUE(ReadRecord(TrapKey(L"Trap_ConnectivityLost").c_str(), lost[0], &record));
    EXPECT_EQ(kNicTrapConnectivityLost, record.Kind);
    EXPECT_EQ(4, record.Format);
    EXPECT_EQ(0, record.LogicalIndex);
    EXPECT_EQ(0, record.TeamOkCount);
    EXPECT_EQ(0, record.OkMemberCount);
    EXPECT_EQ(1, record.PhysicalIndex);
    EXPECT_EQ(4, record.MemberStatus);
    EXPECT_EQ(0, std::memcmp(kMac.data(), record.MacAddress, 6));
    EXPECT_EQ("N/A", RecordText(record.IPv6Address));
    EXPECT_EQ(0, record.DhcpEnabled);
    Pass(6);
    EXPECT_EQ(1u, TrapValues(L"Trap_ConnectivityLost"));

    SetLink(kNic, true);
    Pass(7);
    EXPECT_EQ(2u, TrapValues(L"Trap_ConnectivityRegained"));
    EXPECT_EQ(1, adapter.GetInterfaceMap().OkMemberCount);
}

TEST_F(PlainAdapterTest, OkToOtherIsNoEvent)
{
    Build(true);
    Pass(1);
    Pass(2);
    Change(kNic, kOidGenMediaConnectStatus, {}, ERROR_GEN_FAILURE); // the link can no longer be read
    Pass(3);
    EXPECT_EQ(1, member->GetCondition());
    EXPECT_EQ(1, member->GetRecord().Duplex);
    EXPECT_EQ(0u, member->GetRecord().SpeedMbps);
    EXPECT_EQ(0, member->GetTrapNeeded());
    EXPECT_GE(CountOf(LogMessages(s_LogPath, L"CPhysicalAdapter::Update"), L"Other condition -> Status unknown"), 1u);
    for (const wchar_t *key : {L"Trap_ConnectivityLost", L"Trap_ConnectivityRegained"})
        EXPECT_EQ(0u, TrapValues(key)) << key;
}

TEST_F(PlainAdapterTest, ConditionCarriedFromThePreviousGenerationIsTheFirstPrevious)
{
    // The condition table remembers "failed" for this position from the generation before.
    trap.AddAdapterToStateTable(0, 0, 0, 0, 0);
    trap.SetAdapterCondition(0, 0, 0, 0, 0, 4);
    trap.ReInit();
    Build(true);
    member->GetRecord().Condition = static_cast<uint8_t>(trap.AddAdapterToStateTable(0, 0, 0, 0, 0));
    member->GetMiniport()->SetConditionStable(0);
    Pass(2);
    EXPECT_EQ(1u, TrapValues(L"Trap_ConnectivityRegained"));
    EXPECT_EQ(2, trap.GetCurrentHead()->object->condition);
}

TEST_F(PlainAdapterTest, TrapValueNamesNeverCollideOnAFrozenClock)
{
    Build(true);
    NicPlatform frozen = fixture.Platform();
    frozen.Sleep = [](DWORD) {};
    frozen.GetSystemTimeAsFileTime = [](LPFILETIME time) {
        time->dwHighDateTime = 0x01DC0000;
        time->dwLowDateTime = 0x12345678;
    };
    ScopedNicPlatform scoped(frozen);
    member->GetRecord().Condition = 4;
    for (int i = 0; i < 3; ++i)
        adapter.BuildTrapRecord(member);
    const std::vector<std::wstring> names = ValueNames(TrapKey(L"Trap_ConnectivityLost").c_str());
    ASSERT_EQ(3u, names.size());
    for (const wchar_t *expected : {L"TrapData01DC000012345678", L"TrapData01DC000012345679",
                                    L"TrapData01DC00001234567A"})
        EXPECT_NE(names.end(), std::find(names.begin(), names.end(), expected)) << expected;
    for (const std::wstring &name : names)
        EXPECT_EQ(sizeof(TRAPRECORD), ReadValue(TrapKey(L"Trap_ConnectivityLost").c_str(), name).size());
}

TEST_F(PlainAdapterTest, TwoEventsOfOnePassAreTenMillisecondsApart)
{
    Build(true);
    member->GetRecord().Condition = 2;
    adapter.BuildTrapRecord(member);
    adapter.BuildTrapRecord(member);
    std::vector<std::wstring> names = ValueNames(TrapKey(L"Trap_ConnectivityRegained").c_str());
    ASSERT_EQ(2u, names.size());
    std::sort(names.begin(), names.end());
    const uint64_t first = std::stoull(names[0].substr(8), nullptr, 16);
    const uint64_t second = std::stoull(names[1].substr(8), nullptr, 16);
    EXPECT_GE(second - first, 100000u); // 10 ms in FILETIME units
    EXPECT_EQ(fixture.Host().fileTime, second);
}

TEST_F(PlainAdapterTest, TrapRecordFields)
{
    Build(true);
    INTERFACEMAPRECORD &map = adapter.GetInterfaceMap();
    map.IPv6Address[0] = 0; // an empty text is published as "N/A"
    map.Dhcp = 1;
    map.OkMemberCount = 1;
    PHYSADAPTERRECORD &phys = member->GetRecord();
    phys.Condition = 2;
    phys.Status2 = 2;
    phys.Slot = 3;
    phys.Port = 2;
    std::memset(phys.PartNumber, 'P', sizeof(phys.PartNumber)); // no terminator in the field
    adapter.BuildTrapRecord(member);
    const TRAPRECORD &record = adapter.GetTrapRecord();
    EXPECT_EQ(kNicTrapConnectivityRegained, record.Kind);
    EXPECT_EQ(3, record.Slot);
    EXPECT_EQ(2, record.Port);
    EXPECT_EQ(2, record.MemberStatus);
    EXPECT_EQ(1, record.OkMemberCount);
    EXPECT_EQ(1, record.DhcpEnabled);
    EXPECT_EQ("N/A", RecordText(record.IPv6Address));
    EXPECT_EQ(std::string(31, 'P'), RecordText(record.PartNumber));
    EXPECT_EQ(0, record.ReservedText[0]);
    const std::vector<std::wstring> names = ValueNames(TrapKey(L"Trap_ConnectivityRegained").c_str());
    ASSERT_EQ(1u, names.size());
    TRAPRECORD written;
    ASSERT_TRUE(ReadRecord(TrapKey(L"Trap_ConnectivityRegained").c_str(), names[0], &written));
    EXPECT_EQ(0, std::memcmp(&record, &written, sizeof(written)));
}

TEST_F(PlainAdapterTest, LoopbackAndInterfacesWithoutMiniport)
{
    CLogicalAdapter loopback;
    MIB_IFROW row = Row(1, 24, {}, "Software Loopback Interface 1");
    ASSERT_EQ(0u, loopback.Init(&row, &trap, &list, nullptr));
    EXPECT_EQ(8u, row.dwPhysAddrLen);
    EXPECT_EQ(1, loopback.GetType());
    EXPECT_EQ(8u, loopback.GetAddressLength());
    EXPECT_EQ(1, loopback.GetKind());
    EXPECT_EQ(0, loopback.GetMemberCount());
    EXPECT_EQ(2, loopback.GetInterfaceMap().Dhcp);
    EXPECT_EQ(nullptr, loopback.GetStatistics());
    const uint8_t zero[6] = {};
    EXPECT_EQ(0, std::memcmp(zero, loopback.GetInterfaceMap().MacAddress, 6));
    loopback.SetMiniport(nullptr);
    ASSERT_EQ(0u, loopback.CreatePhysicalAdapterList(&list));
    EXPECT_EQ(nullptr, loopback.GetMemberList());
    loopback.SetLogicalIndex(2);
    loopback.Update(0);
    EXPECT_EQ(0u, loopback.GetInterfaceMap().SpeedMbps);
    EXPECT_EQ("N/A", RecordText(loopback.GetInterfaceMap().IPv6Address));
    EXPECT_EQ(1, loopback.GetInterfaceMap().TeamMode);
    EXPECT_EQ(1, loopback.GetInterfaceMap().Condition);

    CLogicalAdapter orphan;
    MIB_IFROW other = Row(9, 6, {0, 9, 9, 9, 9, 9}, "Nobody's NIC");
    EXPECT_EQ(2u, orphan.Init(&other, &trap, &list, nullptr));
    EXPECT_EQ(1, orphan.GetType());
}

TEST_F(PlainAdapterTest, DescriptionBoundedByDeclaredLengthFieldAndNul)
{
    struct Case {
        std::string bytes;
        int64_t declared;
        std::string expected;
    };
    const Case cases[] = {
        {"Intel(R) Ethernet", 5, "Intel"},
        {"Intel(R) Ethernet", 0, ""},
        {std::string("Int\0el", 6), 6, "Int"},
        {std::string(256, 'D'), 4000, std::string(255, 'D')},
    };
    for (const Case &c : cases) {
        MIB_IFROW row = Row(1, 24, {}, c.bytes);
        row.dwDescrLen = static_cast<DWORD>(c.declared);
        CLogicalAdapter local;
        ASSERT_EQ(0u, local.Init(&row, &trap, &list, nullptr));
        EXPECT_EQ(c.expected, RecordText(local.GetInterfaceMap().Description)) << c.declared;
    }
}

TEST_F(PlainAdapterTest, IndexListsStopAtSixtyFourAndAddAtTheirCounts)
{
    Build();
    for (int i = 0; i < 70; ++i)
        adapter.AddIfIndex(100 + i);
    const INTERFACEMAPRECORD &map = adapter.GetInterfaceMap();
    EXPECT_EQ(64, map.IfIndexCount);
    EXPECT_EQ(5, map.IfIndexList[0]);
    EXPECT_EQ(100, map.IfIndexList[1]);
    EXPECT_EQ(162, map.IfIndexList[63]);

    INTERFACEMAPRECORD &writable = adapter.GetInterfaceMap();
    const int vlanIndexes[] = {1, 256, 2}; // 256 is stored as 0 and must not be taken for a free place
    for (int index : vlanIndexes) {
        adapter.AddVlanIndex(index);
        ++writable.VlanCount;
    }
    EXPECT_EQ(1, map.VlanIndexList[0]);
    EXPECT_EQ(0, map.VlanIndexList[1]);
    EXPECT_EQ(2, map.VlanIndexList[2]);
    while (writable.VlanCount < CLogicalAdapter::kMaxVlanIndexes) {
        adapter.AddVlanIndex(7);
        ++writable.VlanCount;
    }
    adapter.AddVlanIndex(9); // full: nothing moves
    EXPECT_EQ(7, map.VlanIndexList[63]);
    EXPECT_EQ(0, std::count(std::begin(map.VlanIndexList), std::end(map.VlanIndexList), 9));
}

TEST_F(PlainAdapterTest, ValueNamesAndWhatASharingAdapterWrites)
{
    Build();
    adapter.SetLogicalIndex(18);
    adapter.GetVlanMap().VlanId = 12;
    adapter.GetVlanMap().VlanIndex = 3;
    adapter.UpdateRegistryKeys(0);
    EXPECT_EQ(std::vector<std::wstring>{L"InterfaceMap012"}, ValueNames(kNicLogInterfaceMapKey));
    EXPECT_EQ(std::vector<std::wstring>{L"VlanMap003"}, ValueNames(kNicVlanInterfaceKey));
    EXPECT_EQ(std::vector<std::wstring>{L"Statistics005"}, ValueNames(kNicEthernetStatisticsKey));

    DeleteTree(kNicLogInterfaceMapKey);
    CreateVolatileKey(kNicLogInterfaceMapKey);
    g_UpdatePass = 2;
    member->GetRecord().Condition = 4; // would be an event for an owner
    member->GetMiniport()->SetConditionStable(0);
    adapter.Update(1);
    EXPECT_TRUE(ValueNames(kNicLogInterfaceMapKey).empty());
    EXPECT_EQ(std::vector<std::wstring>{L"VlanMap003"}, ValueNames(kNicVlanInterfaceKey));
    EXPECT_EQ(1, member->GetTrapNeeded());
    EXPECT_EQ(0u, TrapValues(L"Trap_ConnectivityRegained"));
}

TEST_F(PlainAdapterTest, StatisticsOfMembersAddUpAndWrap)
{
    CPhysicalAdapter a;
    CPhysicalAdapter b;
    a.GetRecord().AlignmentErrors = 0xFFFFFFFF;
    b.GetRecord().AlignmentErrors = 2;
    a.GetRecord().InternalMacReceiveErrors = 3;
    b.GetRecord().InternalMacReceiveErrors = 4;
    ETHERNETSTATSRECORD table = {};
    table.IfIndex = 7;
    a.AddStatistics(&table);
    b.AddStatistics(&table);
    EXPECT_EQ(7u, table.IfIndex);
    EXPECT_EQ(1u, table.AlignmentErrors);
    EXPECT_EQ(7u, table.InternalMacReceiveErrors);
    EXPECT_EQ(0u, table.SQETestErrors);
}

} // namespace
